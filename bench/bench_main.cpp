// brevlo_bench: converts three kinds of image with BREVLO32 and with a
// giflib-based converter, alternately, and prints the best time of each per
// pixel, brevlo's per LZW code, their ratio, the time of bare file input and
// output for the same files, and the peak memory of the brevlo command. The
// photograph stored interlaced, which BREVLO32 refuses, is converted as the
// command converts it. Then 2000 small GIFs go through the brevlo command,
// one at a time (-j 1) and as many at a time as it chooses, timed per file.
// Last, every frame of four animations made from the photograph, per frame
// beside a still of the same size, with the command's peak memory.
// With --names N,M... batches of N names go through the command as a list
// and as a walked tree (in --names-dir, on a memory file system), for their
// peak memory and time per name; --names-only runs just that.
// With --check-only it converts each image once, checks the two files are
// identical and prints no times: for a build that runs only under an
// emulator, whose times mean nothing. With --list-images it prints, a line
// each, the name and GIF of every image BREVLO32 converts, for timing the
// same files elsewhere (the Windows DLL under Wine).
//
//   brevlo_bench [--cache DIR] [--photo JPEG] [--rounds N] [--brevlo PROGRAM]
//                [--names N,M...] [--names-dir DIR] [--names-only]
//                [--check-only | --list-images]
#include <brevlo.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "animations.h"
#include "bench_images.h"
#include "engine/bmp_layout.h"
#include "engine/conversion.h"
#include "engine/input_reader.h"
#include "giflib_converter.h"
#include "io_floor.h"
#include "many_names.h"
#include "peak_memory.h"
#include "small_files.h"

namespace brevlo::bench {

namespace {

struct Options {
  std::string cache_dir = BREVLO_BENCH_CACHE;
  std::string photo_source = find_photo_source();
  int rounds = 7;
  std::string brevlo_program = BREVLO_COMMAND;
  bool check_only = false;
  bool list_images = false;
  std::vector<NamesBatch> names;  // --names
  std::string names_dir = "/dev/shm/brevlo-bench-names";
  bool names_only = false;
};

// Batches up to this many names are of small GIFs; larger ones of empty
// files, whose files the run never writes.
constexpr std::size_t kMostGifNames = 100000;

// "100000,1000000" into batches; false for anything else.
bool parse_names(const char* text, std::vector<NamesBatch>& batches) {
  for (const char* at = text; *at != '\0';) {
    char* end = nullptr;
    const unsigned long long count = std::strtoull(at, &end, 10);
    if (end == at || count == 0 || (*end != ',' && *end != '\0')) return false;
    batches.push_back({static_cast<std::size_t>(count),
                       count <= kMostGifNames ? NameContent::kGif : NameContent::kEmpty});
    at = *end == ',' ? end + 1 : end;
  }
  return !batches.empty();
}

struct Timing {
  double brevlo = 1e300;
  double giflib = 1e300;
  double floor = 1e300;
};

bool parse_options(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--cache") == 0 && has_value) {
      options.cache_dir = argv[++i];
    } else if (std::strcmp(argv[i], "--photo") == 0 && has_value) {
      options.photo_source = argv[++i];
    } else if (std::strcmp(argv[i], "--rounds") == 0 && has_value) {
      options.rounds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--brevlo") == 0 && has_value) {
      options.brevlo_program = argv[++i];
    } else if (std::strcmp(argv[i], "--names") == 0 && has_value) {
      if (!parse_names(argv[++i], options.names)) return false;
    } else if (std::strcmp(argv[i], "--names-dir") == 0 && has_value) {
      options.names_dir = argv[++i];
    } else if (std::strcmp(argv[i], "--names-only") == 0) {
      options.names_only = true;
    } else if (std::strcmp(argv[i], "--check-only") == 0) {
      options.check_only = true;
    } else if (std::strcmp(argv[i], "--list-images") == 0) {
      options.list_images = true;
    } else {
      return false;
    }
  }
  return options.rounds > 0 && (!options.names_only || !options.names.empty());
}

// Seconds taken by one call of run; negative when it failed.
double time_once(const std::function<bool()>& run) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = run();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return ok ? took.count() : -1;
}

bool same_file(const std::string& first, const std::string& second) {
  std::ifstream a(first, std::ios::binary);
  std::ifstream b(second, std::ios::binary);
  return std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {});
}

// The command's way: the engine with the broad options.
bool convert_broadly(const char* gif_path, const char* bmp_path) {
  const platform::FileHandle gif = platform::open_for_reading(gif_path);
  const platform::FileHandle bmp = platform::open_for_writing(bmp_path);
  ConversionReport report;
  const bool ok = gif != platform::kNoFile && bmp != platform::kNoFile && platform::truncate(bmp) &&
                  convert_gif(gif, bmp, kBroadOptions, report) == kSuccess;
  if (gif != platform::kNoFile) platform::close(gif);
  if (bmp != platform::kNoFile) platform::close(bmp);
  return ok;
}

// The library's own pattern: reads of a whole reader buffer, one seek and write
// per batch of rows.
IoPattern library_pattern(const BenchImage& image) {
  return {kReaderBufferSize, rows_per_batch(stride_for(image.width), image.height)};
}

bool measure(const BenchImage& image, const std::string& out_dir, int rounds, Timing& best) {
  const std::string ours = out_dir + "/brevlo.bmp";
  const std::string theirs = out_dir + "/giflib.bmp";
  const std::string floor = out_dir + "/floor.bmp";
  const char* gif = image.gif_path.c_str();
  for (int round = 0; round < rounds; ++round) {
    const double io = time_once([&] {
      return copy_floor(gif, floor.c_str(), image.width, image.height, library_pattern(image));
    });
    const double brevlo = time_once([&] {
      return image.interlaced ? convert_broadly(gif, ours.c_str())
                              : BREVLO32(gif, ours.c_str()) == 0;
    });
    const double giflib = time_once([&] { return giflib_convert(gif, theirs.c_str()); });
    if (brevlo < 0 || giflib < 0 || io < 0) {
      std::fprintf(stderr, "%s: a conversion failed\n", image.gif_path.c_str());
      return false;
    }
    if (round == 0 && !same_file(ours, theirs)) {
      std::fprintf(stderr, "%s: the two BMP files differ\n", image.gif_path.c_str());
      return false;
    }
    best.brevlo = std::min(best.brevlo, brevlo);
    best.giflib = std::min(best.giflib, giflib);
    best.floor = std::min(best.floor, io);
  }
  return true;
}

// Converts each image once with both converters and checks the files match.
int check_only(const std::vector<BenchImage>& images, const std::string& out_dir) {
  for (const BenchImage& image : images) {
    Timing unused;
    if (!measure(image, out_dir, 1, unused)) return 1;
    std::printf("%s: brevlo and giflib wrote identical BMP files\n", image.name.c_str());
  }
  std::filesystem::remove_all(out_dir);
  return 0;
}

// Times the small GIFs through the command and prints the time per file.
int report_small_files(const Options& options, const std::string& photo_gif,
                       const std::string& out_dir) {
  const std::vector<std::string> files = prepare_small_files(options.cache_dir, photo_gif);
  if (files.empty()) return 1;
  const std::vector<double> best =
      time_small_files(options.brevlo_program, files, out_dir, {{"-j", "1"}, {}}, options.rounds);
  if (best.empty()) {
    std::fprintf(stderr, "%s failed on the small GIFs\n", options.brevlo_program.c_str());
    return 1;
  }
  const double per_file = 1e6 / double(files.size());
  std::printf(
      "%zu GIFs of %dx%d through `brevlo -q -o DIR`, best of %d runs: %.0f us per file with "
      "-j 1, %.0f us with its default (%ld processors)\n",
      files.size(), kSmallFileSide, kSmallFileSide, options.rounds, best[0] * per_file,
      best[1] * per_file, ::sysconf(_SC_NPROCESSORS_ONLN));
  return 0;
}

int run(const Options& options) {
  if (options.names_only)
    return report_many_names(options.brevlo_program, options.names_dir, options.names);
  const std::vector<BenchImage> images = prepare_images(options.cache_dir, options.photo_source);
  if (images.empty()) return 1;
  if (options.list_images) {
    for (const BenchImage& image : images)
      if (!image.interlaced) std::printf("%s\t%s\n", image.name.c_str(), image.gif_path.c_str());
    return 0;
  }
  const std::string out_dir = options.cache_dir + "/out";
  std::filesystem::create_directories(out_dir);
  if (options.check_only) return check_only(images, out_dir);

  std::printf("best of %d runs, converters alternating; ns per pixel, or per LZW code\n\n",
              options.rounds);
  std::printf(
      "| image | size | LZW codes | brevlo | brevlo per code | giflib + stdio | ratio | "
      "I/O floor |\n");
  std::printf("|---|---|--:|--:|--:|--:|--:|--:|\n");
  double log_sum = 0;
  int library_images = 0;
  double plain_photo = 0;  // brevlo's seconds for the photograph, stored plainly and interlaced
  double interlaced_photo = 0;
  for (const BenchImage& image : images) {
    Timing best;
    if (!measure(image, out_dir, options.rounds, best)) return 1;
    const double pixels = double(image.width) * image.height;
    const double ratio = best.brevlo / best.giflib;
    // The geometric mean covers the images the library converts.
    if (image.interlaced) {
      interlaced_photo = best.brevlo;
    } else {
      log_sum += std::log(ratio);
      ++library_images;
      if (&image == images.data()) plain_photo = best.brevlo;
    }
    std::printf("| %s | %ux%u | %llu | %.2f | %.2f | %.2f | %.2f | %.2f |\n", image.name.c_str(),
                image.width, image.height, static_cast<unsigned long long>(image.codes),
                best.brevlo * 1e9 / pixels, best.brevlo * 1e9 / double(image.codes),
                best.giflib * 1e9 / pixels, ratio, best.floor * 1e9 / pixels);
  }
  std::printf("\ngeometric mean of the ratios (without the interlaced photograph): %.2f\n",
              std::exp(log_sum / library_images));
  std::printf("the photograph interlaced takes %.2f times as long as stored plainly\n",
              interlaced_photo / plain_photo);

  const PeakMemory peak =
      peak_memory(options.brevlo_program, {images[0].gif_path, out_dir + "/cli.bmp"});
  if (peak.kilobytes < 0) {
    std::fprintf(stderr, "cannot run %s\n", options.brevlo_program.c_str());
    return 1;
  }
  std::printf("peak memory of `brevlo` converting the %s: %s%.2f MB (%ld KiB)\n",
              images[0].name.c_str(), peak.exact ? "" : "at most ",
              static_cast<double>(peak.kilobytes) * 1024 / 1e6, peak.kilobytes);
  int status = report_small_files(options, images[0].gif_path, out_dir + "/icons");
  const std::vector<BenchAnimation> animations =
      prepare_animations(options.cache_dir, images[0].gif_path);
  if (status == 0)
    status = animations.empty()
                 ? 1
                 : report_animations(animations, options.brevlo_program, out_dir, options.rounds);
  std::filesystem::remove_all(out_dir);
  if (status == 0 && !options.names.empty())
    status = report_many_names(options.brevlo_program, options.names_dir, options.names);
  return status;
}

}  // namespace

}  // namespace brevlo::bench

int main(int argc, char** argv) {
  brevlo::bench::Options options;
  if (!brevlo::bench::parse_options(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: brevlo_bench [--cache DIR] [--photo JPEG] [--rounds N] "
                 "[--brevlo PROGRAM] [--names N,M...] [--names-dir DIR] [--names-only] "
                 "[--check-only | --list-images]\n");
    return 2;
  }
  return brevlo::bench::run(options);
}
