#include "io_floor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "bmp_headers.h"

namespace brevlo::bench {

namespace {

bool read_through(const char* gif_path, std::uint32_t chunk) {
  const int fd = ::open(gif_path, O_RDONLY);
  if (fd < 0) return false;
  std::vector<std::uint8_t> buffer(chunk);
  ssize_t got = 0;
  while ((got = ::read(fd, buffer.data(), chunk)) > 0) {
  }
  ::close(fd);
  return got == 0;
}

bool write_rows(const char* bmp_path, std::uint32_t width, std::uint32_t height,
                std::uint32_t rows_per_write) {
  const int fd = ::open(bmp_path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return false;
  const std::uint64_t stride = stride_of(width);
  const std::uint8_t no_colours[3] = {};
  const BmpHeaders headers = bmp_headers(width, height, no_colours, 0);
  std::vector<std::uint8_t> rows(stride * rows_per_write);
  bool ok = ::write(fd, headers.data(), headers.size()) == static_cast<ssize_t>(headers.size());
  // Top rows first, each group of rows at its bottom-up place.
  for (std::uint32_t top = 0; ok && top < height; top += rows_per_write) {
    const std::uint32_t count = std::min(rows_per_write, height - top);
    const std::uint64_t offset = kPixelOffset + (height - top - count) * stride;
    const auto bytes = static_cast<ssize_t>(count * stride);
    ok = ::pwrite(fd, rows.data(), static_cast<std::size_t>(bytes), static_cast<off_t>(offset)) ==
         bytes;
  }
  return ::close(fd) == 0 && ok;
}

}  // namespace

bool copy_floor(const char* gif_path, const char* bmp_path, std::uint32_t width,
                std::uint32_t height, IoPattern pattern) {
  return read_through(gif_path, pattern.read_chunk) &&
         write_rows(bmp_path, width, height, pattern.rows_per_write);
}

}  // namespace brevlo::bench
