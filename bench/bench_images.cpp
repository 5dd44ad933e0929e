#include "bench_images.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "lzw_codes.h"

namespace brevlo::bench {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kScreenDescriptorSize = 13;
constexpr std::size_t kPackedOffset = 10;
constexpr std::uint8_t kTableFlag = 0x80;
constexpr std::uint8_t kTableSizeBits = 0x07;
constexpr std::uint8_t kInterlaceFlag = 0x40;
constexpr std::size_t kFullTableBytes = std::size_t{3} * 256;
constexpr std::size_t kImageDescriptorSize = 10;  // separator and 9 bytes

struct Recipe {
  const char* name;
  const char* file;
  std::string arguments;  // ImageMagick arguments before the output name
  bool interlaced = false;
};

Bytes read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool write_all(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::uint32_t get16(const Bytes& bytes, std::size_t at) {
  return bytes[at] | (std::uint32_t{bytes[at + 1]} << 8);
}

// Widens a smaller global colour table to 256 entries (black past its end),
// so that the converter accepts the file; the colour indices stay as they are.
bool widen_global_table(Bytes& gif) {
  if (gif.size() < kScreenDescriptorSize) return false;
  const std::uint8_t packed = gif[kPackedOffset];
  if ((packed & kTableFlag) == 0) return false;
  const std::size_t table = std::size_t{3} << ((packed & kTableSizeBits) + 1);
  if (table < kFullTableBytes)
    gif.insert(gif.begin() + static_cast<std::ptrdiff_t>(kScreenDescriptorSize + table),
               kFullTableBytes - table, 0);
  gif[kPackedOffset] = packed | kTableSizeBits;
  return true;
}

// Finds the first image descriptor after the colour table, skipping
// extensions; returns its offset, or 0 when there is none.
std::size_t first_image(const Bytes& gif) {
  std::size_t at = kScreenDescriptorSize + kFullTableBytes;
  while (at < gif.size() && gif[at] == 0x21) {
    at += 2;
    while (at < gif.size() && gif[at] != 0) at += gif[at] + std::size_t{1};
    ++at;
  }
  return at + kImageDescriptorSize <= gif.size() && gif[at] == 0x2C ? at : 0;
}

bool make_image(const std::string& path, const std::string& arguments) {
  const std::string command = "convert " + arguments + " '" + path + "'";
  std::fprintf(stderr, "making %s\n", path.c_str());
  if (std::system(command.c_str()) != 0) return false;
  Bytes gif = read_all(path);
  return widen_global_table(gif) && write_all(path, gif);
}

bool describe(BenchImage& image) {
  const Bytes gif = read_all(image.gif_path);
  const std::size_t at = first_image(gif);
  if (at == 0 || ((gif[at + 9] & kInterlaceFlag) != 0) != image.interlaced) return false;
  image.width = get16(gif, at + 5);
  image.height = get16(gif, at + 7);
  image.codes = count_lzw_codes(gif, at);
  return image.width > 0 && image.height > 0 && image.codes > 0;
}

}  // namespace

std::string find_photo_source() {
  const char* const candidates[] = {
      "/usr/share/backgrounds/mate/nature/Elephants_3840x2160.jpg",
      "/usr/share/backgrounds/mate/abstract/Elephants_3840x2160.jpg",
  };
  for (const char* path : candidates)
    if (std::filesystem::exists(path)) return path;
  return "";
}

std::vector<BenchImage> prepare_images(const std::string& cache_dir,
                                       const std::string& photo_source) {
  const std::string photo_gif = (std::filesystem::path(cache_dir) / "photo.gif").string();
  const Recipe recipes[] = {
      {"photograph", "photo.gif",
       "'" + photo_source + "' -dither FloydSteinberg -colors 256 -interlace none"},
      // The same picture, rewritten with its colours as they are.
      {"photograph, interlaced", "photo-interlaced.gif", "'" + photo_gif + "' -interlace GIF",
       true},
      {"flat graphic", "logo.gif",
       "logo: -resize '2048x1536!' +dither -colors 256 -interlace none"},
      {"plasma", "plasma.gif",
       "-size 2000x1500 -seed 4242 plasma:fractal +dither -colors 256 -interlace none"},
  };
  std::filesystem::create_directories(cache_dir);
  if (photo_source.empty() && !std::filesystem::exists(photo_gif)) {
    std::fprintf(stderr, "no photograph found: install mate-backgrounds or pass --photo\n");
    return {};
  }
  std::vector<BenchImage> images;
  for (const Recipe& recipe : recipes) {
    BenchImage image{recipe.name, (std::filesystem::path(cache_dir) / recipe.file).string()};
    image.interlaced = recipe.interlaced;
    if (!std::filesystem::exists(image.gif_path) && !make_image(image.gif_path, recipe.arguments)) {
      std::fprintf(stderr, "cannot make %s\n", image.gif_path.c_str());
      std::filesystem::remove(image.gif_path);
      return {};
    }
    if (!describe(image)) {
      std::fprintf(stderr, "%s is not a single image%s\n", image.gif_path.c_str(),
                   image.interlaced ? ", interlaced" : ", not interlaced");
      return {};
    }
    images.push_back(image);
  }
  return images;
}

}  // namespace brevlo::bench
