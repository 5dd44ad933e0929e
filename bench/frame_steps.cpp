// brevlo_frame_steps: what composing and writing the frames of an animation
// cost per pixel on a 1000 x 1000 screen, beside what the still image's writer
// costs for the same pixel area: drawing rows (opaque and with a transparent
// index, on a canvas of one byte and of four bytes a pixel), classifying a
// frame, and writing frames of each kind. Best of several rounds, in ns per
// pixel; run it under callgrind for instruction counts.
//
//   brevlo_frame_steps [--rounds N] [--dir DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/bmp_writer.h"
#include "engine/compositor.h"
#include "engine/frame_writer.h"

namespace brevlo::bench {

namespace {

constexpr std::uint16_t kSide = 1000;
constexpr double kPixels = double{kSide} * kSide;

std::vector<std::uint8_t> noise(std::size_t count, std::uint32_t mask, std::uint32_t seed) {
  std::vector<std::uint8_t> out(count);
  for (auto& value : out) {
    seed = seed * 1664525U + 1013904223U;
    value = static_cast<std::uint8_t>((seed >> 24) & mask);
  }
  return out;
}

struct Scene {
  std::vector<std::uint8_t> global = noise(768, 0xFF, 1);
  std::vector<std::uint8_t> local = noise(768, 0xFF, 2);
  std::vector<std::uint8_t> pixels = noise(std::size_t{kSide} * kSide, 0xFF, 3);
  std::vector<std::uint8_t> few_colours = noise(std::size_t{kSide} * kSide, 0x0F, 4);
};

ImagePlacement whole_screen(const Scene& scene, bool local, bool transparent) {
  ImagePlacement image;
  image.width = image.height = kSide;
  if (local) image.local = {scene.local.data(), 256};
  image.has_transparency = transparent;
  image.transparent_index = 7;
  return image;
}

// A canvas holding one image drawn over the screen.
Reason compose(Canvas& canvas, const Scene& scene, const std::vector<std::uint8_t>& pixels,
               bool local, bool transparent) {
  const ImagePlacement image = whole_screen(scene, local, transparent);
  Reason reason = open_canvas(canvas, {kSide, kSide, 0, {scene.global.data(), 256}}, image);
  if (reason == Reason::kNone) reason = start_image(canvas, image);
  for (std::uint32_t row = 0; row < kSide && reason == Reason::kNone; ++row)
    draw_row(canvas, row, pixels.data() + std::size_t{row} * kSide);
  finish_image(canvas);
  return reason;
}

// Draws a second image over the whole screen, with the local table or the
// global one, as far as its first `rows` rows.
Reason draw_over(Canvas& canvas, const Scene& scene, std::uint32_t rows, bool local) {
  const Reason reason = start_image(canvas, whole_screen(scene, local, false));
  for (std::uint32_t row = 0; row < rows && reason == Reason::kNone; ++row)
    draw_row(canvas, row, scene.pixels.data() + std::size_t{row} * kSide);
  finish_image(canvas);
  return reason;
}

// The still image's writer on the same pixel area: headers, then each row
// handed over as the decoder hands it.
bool write_still(const Scene& scene, platform::FileHandle file) {
  RowBatch batch = plan_rows(file, kSide, kSide, false);
  Palette palette{};
  if (write_headers(batch, palette) != Reason::kNone || !obtain_slots(batch)) return false;
  bool ok = true;
  for (std::uint32_t row = 0; row < kSide && ok; ++row) {
    std::memcpy(next_row_slot(batch), scene.pixels.data() + std::size_t{row} * kSide, kSide);
    ok = hand_over_rows(batch, 1) == Reason::kNone;
  }
  release_slots(batch);
  return ok;
}

double seconds(const std::function<bool()>& step) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = step();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (!ok) {
    std::fprintf(stderr, "a step failed\n");
    std::exit(1);
  }
  return took.count();
}

struct Step {
  const char* name;
  std::function<bool()> run;
};

}  // namespace

int run(int argc, char** argv) {
  int rounds = 7;
  std::string dir = "/dev/shm";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
  }
  const std::string path = dir + "/brevlo-frame-steps.bmp";
  const Scene scene;
  Canvas canvas;
  FrameWriter writer;
  auto to_file = [&](const std::function<bool(platform::FileHandle)>& write) {
    const platform::FileHandle file = platform::open_for_writing(path.c_str());
    const bool ok = file != platform::kNoFile && platform::truncate(file) && write(file);
    return platform::close(file) && ok;
  };
  auto composed = [&](const std::vector<std::uint8_t>& pixels, bool local, bool transparent) {
    return [&, local, transparent] {
      const bool ok = compose(canvas, scene, pixels, local, transparent) == Reason::kNone;
      close_canvas(canvas);
      return ok;
    };
  };
  const Step draws[] = {
      {"draw, 1 byte a pixel, opaque", composed(scene.pixels, false, false)},
      {"draw, 1 byte a pixel, transparent index", composed(scene.pixels, false, true)},
      {"draw, 4 bytes a pixel, opaque", composed(scene.pixels, true, false)},
      {"draw, 4 bytes a pixel, transparent index", composed(scene.pixels, true, true)},
      {"still image's writer (headers and rows)",
       [&] {
         return to_file([&](platform::FileHandle file) { return write_still(scene, file); });
       }},
  };
  std::printf("| step | ns per pixel |\n|---|--:|\n");
  for (const Step& step : draws) {
    double best = 1e300;
    for (int round = 0; round < rounds; ++round) best = std::min(best, seconds(step.run));
    std::printf("| %s | %.2f |\n", step.name, best * 1e9 / kPixels);
  }
  // Each frame is composed once, untimed, then written round after round.
  struct Frame {
    const char* name;
    std::function<Reason()> compose;
  };
  const Frame frames[] = {
      {"write frame: global indices, 1 byte a pixel",
       [&] { return compose(canvas, scene, scene.pixels, false, false); }},
      {"write frame: global indices, 4 bytes a pixel",  // widened, then nothing local drawn
       [&] {
         const Reason reason = compose(canvas, scene, scene.pixels, false, false);
         return reason != Reason::kNone ? reason : draw_over(canvas, scene, 0, true);
       }},
      {"write frame: own palette (16 colours)",
       [&] { return compose(canvas, scene, scene.few_colours, true, false); }},
      {"write frame: 24-bit (local and global colours)",
       [&] {
         const Reason reason = compose(canvas, scene, scene.pixels, true, false);
         return reason != Reason::kNone ? reason : draw_over(canvas, scene, kSide / 2, false);
       }},
  };
  for (const Frame& frame : frames) {
    if (frame.compose() != Reason::kNone) return 1;
    double best = 1e300;
    for (int round = 0; round < rounds; ++round)
      best = std::min(best, seconds([&] {
                        return to_file([&](platform::FileHandle file) {
                          return write_frame(writer, canvas, file) == Reason::kNone;
                        });
                      }));
    std::printf("| %s | %.2f |\n", frame.name, best * 1e9 / kPixels);
    close_canvas(canvas);
  }
  close_frame_writer(writer);
  std::remove(path.c_str());
  return 0;
}

}  // namespace brevlo::bench

int main(int argc, char** argv) {
  return brevlo::bench::run(argc, argv);
}
