#include "animations.h"

#include <brevlo.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "child_process.h"
#include "peak_memory.h"

namespace brevlo::bench {

namespace {

namespace fs = std::filesystem;

constexpr int kSide = 1000;
constexpr int kFrames = 50;
constexpr int kPanStep = 12;     // pixels the view moves right from frame to frame
constexpr int kPatchSide = 200;  // the part that moves over a still background
constexpr int kPatchStep = 16;

enum class Motion {
  kPan,    // the whole view moves: every frame is new everywhere
  kPatch,  // a square moves over a still background: frames after the first are
           // stored, optimised, as the rectangles that changed
};

struct Recipe {
  const char* name;
  const char* file;
  Motion motion;
  bool own_tables;  // a table of each frame's own, not one global table
};

constexpr Recipe kRecipes[] = {
    {"pan, one global table", "pan-global.gif", Motion::kPan, false},
    {"pan, a table each", "pan-local.gif", Motion::kPan, true},
    {"moving square, optimised, one global table", "patch-global.gif", Motion::kPatch, false},
    {"moving square, optimised, a table each", "patch-local.gif", Motion::kPatch, true},
};

bool run_shell(const std::string& command) {
  std::fprintf(stderr, "%s\n", command.c_str());
  return std::system(command.c_str()) == 0;
}

std::string crop(int width, int height, int left, int top) {
  return " -crop " + std::to_string(width) + "x" + std::to_string(height) + "+" +
         std::to_string(left) + "+" + std::to_string(top) + " +repage";
}

// ImageMagick's arguments for the 50 frames, each kSide square, from the
// photograph scaled so that the views fit.
std::string frames_of(Motion motion, const std::string& photo_gif) {
  const int height = kSide + kPanStep * kFrames / 4;
  std::string arguments =
      "'" + photo_gif + "' -resize x" + std::to_string(height) + " -write mpr:photo +delete";
  if (motion == Motion::kPatch)
    arguments += " \\( mpr:photo" + crop(kSide, kSide, 0, 0) + " -write mpr:still +delete \\)" +
                 " \\( mpr:photo" +
                 crop(kPatchSide, kPatchSide, 2 * kSide / 3 + kSide / 2, height / 2) +
                 " -write mpr:patch +delete \\)";
  for (int k = 0; k < kFrames; ++k) {
    if (motion == Motion::kPan) {
      arguments += " \\( mpr:photo" + crop(kSide, kSide, k * kPanStep, k * kPanStep / 4) + " \\)";
    } else {
      arguments += " \\( mpr:still mpr:patch -geometry +" + std::to_string(k * kPatchStep) + "+" +
                   std::to_string(k * kPatchStep * 3 / 4) + " -composite \\)";
    }
  }
  return arguments;
}

// The patch's frames are optimised before their colours are reduced, so that
// with a table each, the moving rectangles get tables of their own beside the
// first frame's, and composed frames hold the colours of both.
bool make_animation(const Recipe& recipe, const std::string& photo_gif, const std::string& path) {
  const std::string colours =
      recipe.own_tables ? " -dither FloydSteinberg -colors 256" : " -dither FloydSteinberg +map";
  const std::string optimised = recipe.motion == Motion::kPatch ? " -layers OptimizeFrame" : "";
  return run_shell("convert " + frames_of(recipe.motion, photo_gif) + optimised + colours +
                   " -delay 4 -loop 0 '" + path + "'");
}

double seconds_of(bool (*step)(const std::string&, const std::string&), const std::string& in,
                  const std::string& out) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = step(in, out);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return ok ? took.count() : -1;
}

std::uint32_t last_frame_count = 0;

bool convert_frames(const std::string& gif, const std::string& prefix) {
  return brevlo_convert_frames(gif.c_str(), prefix.c_str(), 0, &last_frame_count) == 0;
}

bool convert_still(const std::string& gif, const std::string& bmp) {
  return brevlo_convert(gif.c_str(), bmp.c_str(), 0) == 0;
}

// The frame files written of 8 and of 24 bits.
void count_kinds(const std::string& prefix, std::uint32_t frames, int& eight, int& twenty_four) {
  eight = twenty_four = 0;
  for (std::uint32_t k = 1; k <= frames; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "-%03u.bmp", k);
    std::ifstream bmp(prefix + name, std::ios::binary);
    char header[30] = {};
    bmp.read(header, sizeof header);
    (header[28] == 24 ? twenty_four : eight) += 1;
  }
}

}  // namespace

std::vector<BenchAnimation> prepare_animations(const std::string& cache_dir,
                                               const std::string& photo_gif) {
  std::vector<BenchAnimation> animations;
  for (const Recipe& recipe : kRecipes) {
    BenchAnimation animation{recipe.name, (fs::path(cache_dir) / recipe.file).string(), ""};
    animation.still_path = animation.gif_path + ".first.gif";
    if (!fs::exists(animation.gif_path) && !make_animation(recipe, photo_gif, animation.gif_path)) {
      std::fprintf(stderr, "cannot make %s\n", animation.gif_path.c_str());
      fs::remove(animation.gif_path);
      return {};
    }
    if (!fs::exists(animation.still_path) &&
        !run_shell("gifsicle '" + animation.gif_path + "' '#0' -o '" + animation.still_path +
                   "'")) {
      std::fprintf(stderr, "cannot make %s\n", animation.still_path.c_str());
      return {};
    }
    animations.push_back(animation);
  }
  return animations;
}

int report_animations(const std::vector<BenchAnimation>& animations, const std::string& program,
                      const std::string& out_dir, int rounds) {
  std::printf(
      "\nevery frame of %dx%d animations of %d frames, best of %d runs: ms per frame through "
      "brevlo_convert_frames, ms for the still of the first frame through brevlo_convert, and "
      "the peak memory of `brevlo --frames`\n\n",
      kSide, kSide, kFrames, rounds);
  std::printf(
      "| animation | frames | 8-bit frames | 24-bit frames | ms per frame | still | per frame / "
      "still | peak memory |\n|---|--:|--:|--:|--:|--:|--:|--:|\n");
  for (const BenchAnimation& animation : animations) {
    const std::string folder = out_dir + "/frames";
    fs::create_directories(folder);
    const std::string prefix = folder + "/f";
    double frames_best = 1e300;
    double still_best = 1e300;
    for (int round = 0; round < rounds; ++round) {
      const double frames = seconds_of(convert_frames, animation.gif_path, prefix);
      const double still = seconds_of(convert_still, animation.still_path, out_dir + "/still.bmp");
      if (frames < 0 || still < 0) {
        std::fprintf(stderr, "%s: a conversion failed\n", animation.gif_path.c_str());
        return 1;
      }
      frames_best = std::min(frames_best, frames);
      still_best = std::min(still_best, still);
    }
    int eight = 0;
    int twenty_four = 0;
    count_kinds(prefix, last_frame_count, eight, twenty_four);
    const PeakMemory peak =
        peak_memory(program, {"--frames", "-q", "-f", "-o", folder, animation.gif_path});
    if (peak.kilobytes < 0) {
      std::fprintf(stderr, "%s --frames failed on %s\n", program.c_str(),
                   animation.gif_path.c_str());
      return 1;
    }
    const double per_frame = frames_best / last_frame_count;
    std::printf("| %s | %u | %d | %d | %.2f | %.2f | %.2f | %s%.1f MB |\n", animation.name.c_str(),
                last_frame_count, eight, twenty_four, per_frame * 1e3, still_best * 1e3,
                per_frame / still_best, peak.exact ? "" : "at most ",
                static_cast<double>(peak.kilobytes) * 1024 / 1e6);
    fs::remove_all(folder);
  }
  return 0;
}

}  // namespace brevlo::bench
