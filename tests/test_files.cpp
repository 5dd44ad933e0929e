#include "test_files.h"

#include <brevlo.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

namespace brevlo::test {

ScratchDir::ScratchDir() : ScratchDir(std::filesystem::temp_directory_path()) {}

ScratchDir::ScratchDir(const std::filesystem::path& parent) {
  static std::atomic<int> counter{0};
  std::random_device random;
  root_ = parent / ("brevlo-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(root_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

namespace {
void put(Bytes& out, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i)
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}
}  // namespace

Bytes expected_bmp(int width, int height, const Bytes& pixels, const Bytes& colour_table) {
  const std::size_t stride = (static_cast<std::size_t>(width) + 3) / 4 * 4;
  Bytes out(1078 + stride * static_cast<std::size_t>(height), 0);
  out[0] = 'B';
  out[1] = 'M';
  put(out, 2, static_cast<std::uint32_t>(out.size()), 4);
  put(out, 10, 1078, 4);
  put(out, 14, 40, 4);
  put(out, 18, static_cast<std::uint32_t>(width), 4);
  put(out, 22, static_cast<std::uint32_t>(height), 4);
  put(out, 26, 1, 2);
  put(out, 28, 8, 2);
  for (std::size_t i = 0; i * 3 + 2 < colour_table.size() && i < 256; ++i) {
    out[54 + i * 4 + 0] = colour_table[i * 3 + 2];
    out[54 + i * 4 + 1] = colour_table[i * 3 + 1];
    out[54 + i * 4 + 2] = colour_table[i * 3 + 0];
  }
  for (int row = 0; row < height &&
                    static_cast<std::size_t>(row) * static_cast<std::size_t>(width) < pixels.size();
       ++row) {
    std::size_t to = 1078 + static_cast<std::size_t>(height - 1 - row) * stride;
    for (int column = 0; column < width; ++column)
      out[to + static_cast<std::size_t>(column)] =
          pixels[static_cast<std::size_t>(row * width + column)];
  }
  return out;
}

int convert_bytes(const ScratchDir& dir, const Bytes& gif) {
  return convert_bytes(dir, gif, dir.path("out.bmp"));
}

int convert_bytes(const ScratchDir& dir, const Bytes& gif, const std::string& output) {
  write_file(dir.path("in.gif"), gif);
  return BREVLO32(dir.path("in.gif").c_str(), output.c_str());
}

std::string make_device(const std::string& path, unsigned major, unsigned minor) {
  if (::geteuid() != 0) return "making a device node needs root";
  if (::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(major, minor)) != 0)
    return std::string("mknod failed: ") + std::strerror(errno);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return std::string("the device node cannot be opened: ") + std::strerror(errno);
  ::close(fd);
  return {};
}

int convert_bytes_with(const ScratchDir& dir, const Bytes& gif, const ConversionOptions& options,
                       ConversionReport& report) {
  write_file(dir.path("in.gif"), gif);
  const std::string output = dir.path("out.bmp");
  const platform::FileHandle in = platform::open_for_reading(dir.path("in.gif").c_str());
  const platform::FileHandle out = platform::open_for_writing(output.c_str());
  platform::truncate(out);
  const int result = convert_gif(in, out, options, report);
  platform::close(in);
  platform::close(out);
  if (result != 0) std::filesystem::remove(output);
  return result;
}

int convert_stream_with(const ScratchDir& dir, const Bytes& gif, const ConversionOptions& options,
                        ConversionReport& report) {
  // A refused GIF's writer finds the pipe closed: an error, not a signal.
  std::signal(SIGPIPE, SIG_IGN);
  int ends[2];
  if (::pipe(ends) != 0) return -1;
  // A writer of its own, so that a GIF larger than the pipe holds still flows.
  std::thread writer([&gif, end = ends[1]] {
    for (std::size_t done = 0; done < gif.size();) {
      const ssize_t put = ::write(end, gif.data() + done, gif.size() - done);
      if (put <= 0) break;
      done += static_cast<std::size_t>(put);
    }
    ::close(end);
  });
  const std::string output = dir.path("out.bmp");
  const platform::FileHandle out = platform::open_for_writing(output.c_str());
  platform::truncate(out);
  const int result = convert_gif(ends[0], out, options, report);
  platform::close(out);
  ::close(ends[0]);  // the writer of a refused GIF then stops at once
  writer.join();
  if (result != 0) std::filesystem::remove(output);
  return result;
}

int run_in_child(const std::function<int()>& step, std::uint64_t file_size_limit) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(kChildTimeLimitSeconds);
    const rlim_t limit = file_size_limit == ~std::uint64_t{0} ? RLIM_INFINITY : file_size_limit;
    const rlimit cap{limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &cap) != 0) ::_exit(255);
    ::_exit(step() & 0xFF);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return -SIGABRT;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

std::filesystem::path fast_scratch_parent() {
  std::error_code ignored;
  return std::filesystem::is_directory("/dev/shm", ignored)
             ? std::filesystem::path("/dev/shm")
             : std::filesystem::temp_directory_path();
}

}  // namespace brevlo::test
