// brevlo_dll_bench: times a brevlo DLL as a Windows host calls it. It loads the
// DLL, finds BREVLO32 by name, converts each GIF `rounds` times into OUT_DIR
// and prints, a line per GIF, the image's size (read from the BMP written) and
// the best time in nanoseconds per pixel. Run under Wine by scripts/bench.sh.
//
//   brevlo_dll_bench DLL ROUNDS OUT_DIR GIF...
//
// Each GIF's BMP stays in OUT_DIR as 1.bmp, 2.bmp, ... in the order given, for
// the caller to compare. Exits 1 when the DLL cannot be loaded or a conversion
// fails, 2 on wrong arguments.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using ConvertFunction = std::int32_t(WINAPI*)(const char*, const char*);

// The BMP file header (14 bytes) is followed by the information header, whose
// width and height are 32-bit little-endian values at these offsets.
constexpr std::streamoff kBmpWidthOffset = 18;
constexpr std::streamoff kBmpHeightOffset = 22;

std::int32_t read_int32(std::ifstream& in, std::streamoff offset) {
  unsigned char bytes[4] = {};
  in.seekg(offset);
  in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
  return static_cast<std::int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                                   static_cast<std::uint32_t>(bytes[3]) << 24);
}

// Pixels of the BMP at path (width times height), or 0 when it cannot be read.
double pixels_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const double width = read_int32(in, kBmpWidthOffset);
  const double height = std::abs(read_int32(in, kBmpHeightOffset));
  return in ? width * height : 0;
}

double seconds_now() {
  static const double ticks_per_second = [] {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart);
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticks_per_second;
}

// The best of `rounds` conversions of gif into bmp, in seconds; negative when
// one fails.
double best_time(ConvertFunction convert, const std::string& gif, const std::string& bmp,
                 int rounds) {
  double best = 1e300;
  for (int round = 0; round < rounds; ++round) {
    const double start = seconds_now();
    const std::int32_t result = convert(gif.c_str(), bmp.c_str());
    const double took = seconds_now() - start;
    if (result != 0) {
      std::fprintf(stderr, "%s: BREVLO32 gave %ld\n", gif.c_str(), static_cast<long>(result));
      return -1;
    }
    best = std::min(best, took);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 0;
  if (argc < 5 || rounds < 1) {
    std::fprintf(stderr, "usage: brevlo_dll_bench DLL ROUNDS OUT_DIR GIF...\n");
    return 2;
  }
  const HMODULE dll = ::LoadLibraryA(argv[1]);
  const FARPROC found = dll != nullptr ? ::GetProcAddress(dll, "BREVLO32") : nullptr;
  auto* const convert = reinterpret_cast<ConvertFunction>(reinterpret_cast<void*>(found));
  if (convert == nullptr) {
    std::fprintf(stderr, "%s: cannot load it or find BREVLO32 in it\n", argv[1]);
    return 1;
  }
  for (int i = 4; i < argc; ++i) {
    const std::string bmp = std::string(argv[3]) + "\\" + std::to_string(i - 3) + ".bmp";
    const double seconds = best_time(convert, argv[i], bmp, rounds);
    const double pixels = pixels_of(bmp);
    if (seconds < 0 || pixels <= 0) return 1;
    std::printf("%s: %.2f ns per pixel\n", argv[i], seconds * 1e9 / pixels);
  }
  return 0;
}
