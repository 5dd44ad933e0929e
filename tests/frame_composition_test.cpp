// The frames of an animation: what each image leaves on the canvas for the
// next, and the BMP file each frame becomes. Composed frames are compared, as
// colours and as the palette kind the rules ask for, with a plain per-pixel
// composition written here; frame files are read back independently.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "engine/compositor.h"
#include "engine/frame_writer.h"
#include "engine/interlace.h"
#include "gif_writer.h"
#include "platform/fault_injection.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

namespace fault_injection = platform::fault_injection;

struct Image {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int local_entries = 0;  // 0: the global table
  int transparent = -1;   // the transparent index, or -1 for none
  int disposal = 0;
  int rows = -1;  // rows the data reaches, in the order stored; -1: all
  bool interlaced = false;
  int bits = 2;       // noise pixels below 2^bits
  bool ramp = false;  // pixels 0, 1, 2, ... instead
};

struct Screen {
  int width;
  int height;
  int global_entries;  // 0: no global table
  int background;
};

struct Animation {
  const char* name;
  Screen screen;
  std::vector<Image> images;
};

// Table `seed` (0 = the global one): entries distinct from one another and
// from every other table's, but for the global table's entry 1, which repeats
// entry 0 so that an all-global frame must keep indices, not colours.
Bytes table_of(int entries, int seed) {
  Bytes table;
  for (int i = 0; i < entries; ++i) {
    const int entry = seed == 0 && i == 1 ? 0 : i;
    for (int value : {entry * 7 + seed, 255 - entry, (seed * 40) ^ entry})
      table.push_back(static_cast<std::uint8_t>(value));
  }
  return table;
}

Bytes pixels_of(const Image& image, int ordinal) {
  const int count = image.width * image.height;
  if (!image.ramp) return noise_pixels(count, image.bits, static_cast<std::uint32_t>(ordinal + 7));
  Bytes ramp(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) ramp[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  return ramp;
}

// The image rows the data reaches, in the order they arrive.
std::vector<int> rows_drawn(const Image& image) {
  Bytes numbers;
  for (int row = 0; row < image.height; ++row) numbers.push_back(static_cast<std::uint8_t>(row));
  if (image.interlaced) numbers = interlaced_order(numbers, 1, image.height);
  const int reached = image.rows < 0 ? image.height : image.rows;
  return {numbers.begin(), numbers.begin() + reached};
}

// ------------------------------------------------------------- the plain model

// Where pixel (x, y) of a picture of the given width lies, top row first.
std::size_t at(int x, int y, int width) {
  return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
         static_cast<std::size_t>(x);
}

struct Pixel {
  bool global;
  int index;
  std::uint32_t rgb;  // 0xRRGGBB
  bool operator==(const Pixel&) const = default;
};

std::uint32_t rgb_at(const Bytes& table, int index) {
  const auto at = static_cast<std::size_t>(index) * 3;
  if (at + 2 >= table.size()) return 0;  // black past the table
  return (std::uint32_t{table[at]} << 16) | (std::uint32_t{table[at + 1]} << 8) | table[at + 2];
}

struct Frames {
  int width = 0;
  int height = 0;
  std::vector<std::vector<Pixel>> frames;
};

Frames compose_plainly(const Animation& a) {
  const bool from_screen = a.screen.width != 0 && a.screen.height != 0;
  const int width = from_screen ? a.screen.width : a.images[0].width;
  const int height = from_screen ? a.screen.height : a.images[0].height;
  const Bytes global = table_of(a.screen.global_entries, 0);
  const Pixel background = a.screen.global_entries != 0 ? Pixel{true, a.screen.background,
                                                                rgb_at(global, a.screen.background)}
                                                        : Pixel{false, 0, 0};
  Frames out{width, height, {}};
  std::vector<Pixel> canvas(static_cast<std::size_t>(width * height), background);
  for (std::size_t k = 0; k < a.images.size(); ++k) {
    const Image& image = a.images[k];
    const Bytes local = table_of(image.local_entries, static_cast<int>(k) + 1);
    const Bytes pixels = pixels_of(image, static_cast<int>(k));
    const std::vector<Pixel> before = canvas;
    auto on_screen = [&](int row, int column) -> Pixel* {
      const int x = image.left + column;
      const int y = image.top + row;
      return x < width && y < height ? &canvas[at(x, y, width)] : nullptr;
    };
    for (int row : rows_drawn(image))
      for (int column = 0; column < image.width; ++column) {
        const int p = pixels[at(column, row, image.width)];
        Pixel* at = on_screen(row, column);
        if (at == nullptr || p == image.transparent) continue;
        if (image.local_entries != 0)
          *at = {false, 0, rgb_at(local, p)};
        else
          *at =
              a.screen.global_entries != 0 ? Pixel{true, p, rgb_at(global, p)} : Pixel{false, 0, 0};
      }
    out.frames.push_back(canvas);
    for (int row = 0; row < image.height; ++row)
      for (int column = 0; column < image.width; ++column) {
        Pixel* at = on_screen(row, column);
        if (at == nullptr) continue;
        if (image.disposal == 2) *at = background;
        if (image.disposal == 3) *at = before[static_cast<std::size_t>(at - canvas.data())];
      }
  }
  return out;
}

// ------------------------------------------------------------ the engine's way

std::uint32_t field(const Bytes& bmp, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | bmp[at + static_cast<std::size_t>(i)];
  return value;
}

// Writes the canvas's frame to a fresh file and reads it back.
Bytes frame_file(FrameWriter& writer, const Canvas& canvas, const ScratchDir& dir, Reason& reason) {
  const std::string path = dir.path("frame.bmp");
  const platform::FileHandle file = platform::open_for_writing(path.c_str());
  platform::truncate(file);
  reason = write_frame(writer, canvas, file);
  platform::close(file);
  return read_file(path);
}

ImagePlacement placement_of(const Image& image, const Bytes& local) {
  ImagePlacement placement;
  placement.left = static_cast<std::uint16_t>(image.left);
  placement.top = static_cast<std::uint16_t>(image.top);
  placement.width = static_cast<std::uint16_t>(image.width);
  placement.height = static_cast<std::uint16_t>(image.height);
  placement.local = {local.data(), static_cast<std::uint16_t>(image.local_entries)};
  placement.has_transparency = image.transparent >= 0;
  placement.transparent_index = static_cast<std::uint8_t>(std::max(image.transparent, 0));
  placement.disposal_method = static_cast<std::uint8_t>(image.disposal);
  return placement;
}

// Composes every frame through the engine; each frame's file, or the first
// reason that is not kNone and the frames before it.
std::vector<Bytes> compose_with_engine(const Animation& a, Reason& reason) {
  ScratchDir dir(fast_scratch_parent());
  const Bytes global = table_of(a.screen.global_entries, 0);
  ScreenSetup screen{static_cast<std::uint16_t>(a.screen.width),
                     static_cast<std::uint16_t>(a.screen.height),
                     static_cast<std::uint8_t>(a.screen.background),
                     {global.data(), static_cast<std::uint16_t>(a.screen.global_entries)}};
  Canvas canvas;
  FrameWriter writer;
  std::vector<Bytes> files;
  const Bytes first_local = table_of(a.images[0].local_entries, 1);
  reason = open_canvas(canvas, screen, placement_of(a.images[0], first_local));
  for (std::size_t k = 0; k < a.images.size() && reason == Reason::kNone; ++k) {
    const Image& image = a.images[k];
    const Bytes local = table_of(image.local_entries, static_cast<int>(k) + 1);
    reason = start_image(canvas, placement_of(image, local));
    if (reason != Reason::kNone) break;
    const Bytes pixels = pixels_of(image, static_cast<int>(k));
    const std::vector<int> rows = rows_drawn(image);
    for (std::size_t stored = 0; stored < rows.size(); ++stored) {
      const auto s = static_cast<std::uint32_t>(stored);
      const auto h = static_cast<std::uint32_t>(image.height);
      const std::uint32_t row = image.interlaced ? interlaced_row(s, h) : s;
      draw_row(canvas, row, pixels.data() + row * static_cast<std::size_t>(image.width));
    }
    finish_image(canvas);
    Bytes file = frame_file(writer, canvas, dir, reason);
    if (reason == Reason::kNone) files.push_back(std::move(file));
  }
  close_canvas(canvas);
  close_frame_writer(writer);
  return files;
}

// The frame file against the model's frame: its colours, and its kind: the
// global table and indices when every pixel is global, else the frame's own
// colours ascending when they fit a palette, else 24 bits.
void expect_frame(const Bytes& bmp, const Frames& want, std::size_t k, const Animation& a) {
  SCOPED_TRACE(testing::Message() << a.name << ", frame " << k + 1);
  const std::vector<Pixel>& pixels = want.frames[k];
  ASSERT_GE(bmp.size(), 54U);
  const auto width = static_cast<std::size_t>(want.width);
  const auto height = static_cast<std::size_t>(want.height);
  ASSERT_EQ(field(bmp, 18, 4), width);
  ASSERT_EQ(field(bmp, 22, 4), height);
  const std::uint32_t bits = field(bmp, 28, 2);
  const std::size_t stride = (width * bits / 8 + 3) / 4 * 4;
  const std::uint32_t offset = field(bmp, 10, 4);
  ASSERT_EQ(bmp.size(), offset + stride * height);
  ASSERT_EQ(field(bmp, 2, 4), bmp.size());
  EXPECT_EQ(field(bmp, 0, 2), 0x4D42U);  // "BM"
  EXPECT_EQ(field(bmp, 14, 4), 40U);
  EXPECT_EQ(field(bmp, 26, 2), 1U);
  for (std::size_t at : {6, 30, 34, 38, 42, 46, 50}) EXPECT_EQ(field(bmp, at, 4), 0U) << at;

  std::set<std::uint32_t> colours;
  for (const Pixel& p : pixels) colours.insert(p.rgb);
  const bool all_global =
      std::all_of(pixels.begin(), pixels.end(), [](const Pixel& p) { return p.global; });
  const std::uint32_t want_bits = all_global || colours.size() <= 256 ? 8 : 24;
  ASSERT_EQ(bits, want_bits);
  ASSERT_EQ(offset, bits == 8 ? 1078U : 54U);
  std::vector<std::uint32_t> palette;
  for (std::size_t i = 0; bits == 8 && i < 256; ++i) palette.push_back(field(bmp, 54 + 4 * i, 4));
  if (bits == 8 && all_global) {
    const Bytes global = table_of(a.screen.global_entries, 0);
    for (std::size_t i = 0; i < 256; ++i)
      EXPECT_EQ(palette[i], rgb_at(global, static_cast<int>(i))) << i;
  } else if (bits == 8) {
    std::vector<std::uint32_t> sorted(colours.begin(), colours.end());
    sorted.resize(256, 0);
    EXPECT_EQ(palette, sorted);
  }
  for (std::size_t y = 0; y < height; ++y) {
    const std::size_t row = offset + (height - 1 - y) * stride;
    for (std::size_t x = 0; x < width; ++x) {
      const Pixel& p = pixels[y * width + x];
      const std::uint32_t got = bits == 24 ? field(bmp, row + 3 * x, 3) : palette[bmp[row + x]];
      ASSERT_EQ(got, p.rgb) << "x " << x << " y " << y;
      if (all_global) {
        ASSERT_EQ(bmp[row + x], p.index) << "x " << x << " y " << y;
      }
    }
    for (std::size_t pad = width * bits / 8; pad < stride; ++pad) ASSERT_EQ(bmp[row + pad], 0);
  }
}

// Each image: left, top, width, height, local table entries, transparent
// index, disposal, rows reached, interlaced, bits of noise, ramp (see Image).
const Animation kAnimations[] = {
    {"keep_and_transparency",
     {12, 10, 256, 3},
     {{0, 0, 12, 10}, {3, 2, 5, 4, 0, -1, 1}, {6, 5, 4, 4, 0, 1, 0}, {0, 0, 12, 10, 0, 2, 0}}},
    {"restore_background",
     {12, 10, 256, 5},
     {{0, 0, 12, 10}, {2, 2, 6, 5, 0, -1, 2}, {4, 3, 5, 5, 0, 0, 2}, {1, 1, 9, 6, 0, 3}}},
    {"restore_previous",
     {12, 10, 256, 5},
     {{0, 0, 12, 10},
      {1, 1, 6, 6, 0, -1, 3},
      {3, 3, 6, 6, 0, 1, 3},
      {0, 0, 8, 8, 0, 2, 3},
      {0, 0, 12, 10, 0, 0}}},
    {"restore_previous_first_frame",
     {12, 10, 256, 9},
     {{2, 2, 5, 5, 0, -1, 3}, {4, 4, 5, 5, 0, 2, 3}, {0, 0, 12, 10, 0, 1}}},
    {"undefined_disposals_keep",
     {12, 10, 256, 1},
     {{1, 1, 5, 5, 0, -1, 4},
      {3, 3, 5, 5, 0, -1, 5},
      {5, 2, 5, 5, 0, 0, 6},
      {0, 0, 12, 10, 0, 1, 7}}},
    {"clipped_and_outside",
     {12, 10, 256, 2},
     {{0, 0, 12, 10},
      {8, 7, 8, 6, 0, -1, 2},
      {12, 0, 3, 3, 0, -1, 3},
      {0, 10, 4, 4, 0, -1, 2},
      {60000, 60000, 5, 5, 0, -1, 3},
      {11, 9, 60, 40, 0, 0, 3},
      {0, 0, 12, 10, 0, 1}}},
    {"local_tables_then_global_again",
     {12, 10, 256, 1},
     {{0, 0, 12, 10},
      {2, 2, 6, 5, 16, 3, 0, -1, false, 4},
      {1, 1, 4, 4, 0, -1, 0},
      {0, 0, 12, 10, 0, -1, 0},
      {5, 5, 3, 3, 4, 0, 2, -1, false, 3},
      {0, 0, 12, 10, 0, 3, 0}}},
    {"restore_previous_across_widening",
     {12, 10, 256, 1},
     {{0, 0, 6, 6, 0, -1, 3},
      {2, 2, 6, 6, 8, 1, 3, -1, false, 3},
      {0, 0, 12, 10, 0, 0, 2},
      {4, 1, 6, 6, 2, -1, 3},
      {0, 0, 12, 10, 0, 2}}},
    {"no_global_table",
     {12, 10, 0, 0},
     {{2, 2, 6, 5, 8, -1, 0, -1, false, 3},
      {0, 0, 4, 4, 0, -1, 2},
      {3, 1, 7, 7, 4, 2, 3},
      {0, 0, 12, 10, 4, 0, 0}}},
    {"background_past_small_table",
     {12, 10, 4, 200},
     {{2, 2, 5, 5, 0, -1, 2, -1, false, 3},
      {6, 4, 5, 5, 0, 0, 3, -1, false, 3},
      {0, 0, 12, 10, 0, 1}}},
    {"indices_past_local_table",
     {8, 6, 256, 0},
     {{0, 0, 8, 6, 2, -1, 0, -1, false, 3}, {1, 1, 6, 4, 4, 7, 0, -1, false, 4}}},
    {"screen_of_width_0_takes_first_image_size",
     {0, 10, 256, 0},
     {{3, 3, 8, 6}, {2, 2, 8, 6, 0, 0, 0}}},
    {"rows_never_reached",
     {12, 10, 256, 4},
     {{0, 0, 12, 10},
      {1, 1, 8, 8, 0, -1, 2, 3},
      {2, 1, 8, 8, 0, -1, 3, 5, true},
      {0, 0, 12, 10, 0, 0, 0, 0}}},
    {"interlaced",
     {12, 17, 256, 4},
     {{0, 0, 12, 17, 0, -1, 0, -1, true},
      {2, 1, 9, 13, 0, 1, 2, -1, true},
      {0, 5, 12, 9, 6, 0, 0, -1, true, 3}}},
    {"256_colours", {16, 16, 256, 0}, {{0, 0, 16, 16, 256, -1, 0, -1, false, 8, true}}},
    {"257_colours_then_global",
     {17, 16, 256, 0},
     {{0, 0, 16, 16, 256, -1, 0, -1, false, 8, true},
      {0, 0, 17, 16, 0, -1, 0},
      {1, 0, 16, 16, 256, 0, 2, -1, false, 8, true},
      {0, 0, 17, 16, 0, 3, 0}}},
};

TEST(FrameComposition, EveryFrameAsThePlainModelComposesIt) {
  for (const Animation& a : kAnimations) {
    const Frames want = compose_plainly(a);
    Reason reason = Reason::kNone;
    const std::vector<Bytes> files = compose_with_engine(a, reason);
    ASSERT_EQ(reason, Reason::kNone) << a.name;
    ASSERT_EQ(files.size(), a.images.size()) << a.name;
    for (std::size_t k = 0; k < files.size(); ++k) expect_frame(files[k], want, k, a);
  }
}

// A frame whose every pixel is a global index is the still image's file: the
// first frame of a one-image animation, and a frame after the canvas widened.
TEST(FrameComposition, AllGlobalFrameIsTheStillImagesFile) {
  const Image whole{0, 0, 7, 5, 0, -1, 0, -1, false, 8};
  for (const Animation& a :
       {Animation{"still", {7, 5, 256, 0}, {whole}},
        Animation{"after_widening", {7, 5, 256, 0}, {{0, 0, 2, 2, 4}, whole}}}) {
    Reason reason = Reason::kNone;
    const std::vector<Bytes> files = compose_with_engine(a, reason);
    ASSERT_EQ(reason, Reason::kNone) << a.name;
    const int last = static_cast<int>(a.images.size()) - 1;
    GifParts still;
    still.width = 7;
    still.height = 5;
    still.global_table = table_of(256, 0);
    still.data = sub_blocks(pack_codes(lzw_encode(pixels_of(whole, last), 8)), 255);
    ScratchDir dir;
    ASSERT_EQ(convert_bytes(dir, assemble(still)), 0);
    EXPECT_EQ(files.back(), read_file(dir.path("out.bmp"))) << a.name;
  }
}

// Memory comes once per file, not per frame: a canvas, a saved rectangle and
// the row batch, and the canvas and rectangle again when the canvas widens.
// Each of those failing in turn stops the work with kNoMemory, and the frames
// before it are whole; nothing is held afterwards.
TEST(FrameComposition, MemoryObtainedOncePerFileAndReleasedOnEveryPath) {
  Animation a{"many_frames", {40, 30, 256, 0}, {}};
  for (int k = 0; k < 60; ++k)
    a.images.push_back({k % 7, k % 5, 20, 15, k % 3 == 2 ? 16 : 0, k % 4 == 0 ? -1 : 1,
                        k % 2 == 0 ? 3 : 2, -1, false, 4});
  constexpr std::uint64_t kBlocks = 5;
  for (std::uint64_t failing = 1; failing <= kBlocks + 1; ++failing) {
    fault_injection::fail_obtain_number(failing);
    Reason reason = Reason::kNone;
    const std::vector<Bytes> files = compose_with_engine(a, reason);
    const fault_injection::MemoryCounts counts = fault_injection::memory_counts();
    fault_injection::fail_obtain_number(0);
    EXPECT_EQ(counts.obtained, counts.released) << failing;
    EXPECT_EQ(reason, failing <= kBlocks ? Reason::kNoMemory : Reason::kNone) << failing;
    EXPECT_EQ(counts.obtained, failing - 1) << failing;
    const Frames want = compose_plainly(a);
    for (std::size_t k = 0; k < files.size(); ++k) expect_frame(files[k], want, k, a);
  }
}

// A screen past the canvas limit is refused before anything is obtained: by
// its own size or, with a width or height of 0, by its first image's.
TEST(FrameComposition, ScreenPastTheLimitIsRefusedBeforeObtainingMemory) {
  struct Case {
    std::uint16_t screen_width, screen_height, image_width, image_height;
  };
  for (const Case& c : {Case{16385, 16384, 1, 1}, Case{65535, 65535, 1, 1},
                        Case{0, 5, 65535, 65535}, Case{20000, 0, 16385, 16385}}) {
    fault_injection::fail_obtain_number(0);
    Canvas canvas;
    ImagePlacement first;
    first.width = c.image_width;
    first.height = c.image_height;
    EXPECT_EQ(open_canvas(canvas, ScreenSetup{c.screen_width, c.screen_height, 0, {}}, first),
              Reason::kNoMemory);
    close_canvas(canvas);
    EXPECT_EQ(fault_injection::memory_counts().obtained, 0U);
  }
}

// A frame's writes: the headers, then batches of rows. Any of them failing,
// or a file-size limit the frame would pass, is kWriteFailed; the limit is met
// before a byte is written, never by a signal.
TEST(FrameComposition, WriteFailuresAndTheFileSizeLimit) {
  // 600 pixels wide: 8-bit frames take two batches, 24-bit ones four.
  const Animation a{"two_batches",
                    {600, 500, 256, 0},
                    {{0, 0, 600, 500}, {0, 0, 600, 499, 256, -1, 0, -1, false, 8, true}}};
  for (std::uint64_t failing : {1, 2, 3, 4, 7}) {
    fault_injection::fail_seek_number(failing);
    Reason reason = Reason::kNone;
    const std::vector<Bytes> files = compose_with_engine(a, reason);
    fault_injection::fail_seek_number(0);
    EXPECT_EQ(reason, Reason::kWriteFailed) << failing;
    EXPECT_EQ(files.size(), failing <= 3 ? 0U : 1U) << failing;
  }
  for (const std::uint64_t limit : {std::uint64_t{0}, std::uint64_t{1078 + 600 * 500 - 1}}) {
    ScratchDir dir;
    const std::string path = dir.path("frame.bmp");
    const int status = run_in_child(
        [&] {
          Canvas canvas;
          FrameWriter writer;
          const Bytes global = table_of(256, 0);
          ImagePlacement first;
          Reason reason = open_canvas(canvas, {600, 500, 0, {global.data(), 256}}, first);
          const platform::FileHandle file = platform::open_for_writing(path.c_str());
          if (reason == Reason::kNone) reason = write_frame(writer, canvas, file);
          platform::close(file);
          close_canvas(canvas);
          close_frame_writer(writer);
          return static_cast<int>(reason);
        },
        limit);
    EXPECT_EQ(status, static_cast<int>(Reason::kWriteFailed)) << limit;
    EXPECT_TRUE(read_file(path).empty()) << limit;
  }
}

TEST(FrameComposition, InterlacedRowOrder) {
  for (std::uint32_t height = 1; height <= 17; ++height) {
    Bytes numbers;
    for (std::uint32_t row = 0; row < height; ++row)
      numbers.push_back(static_cast<std::uint8_t>(row));
    const Bytes stored = interlaced_order(numbers, 1, static_cast<int>(height));
    for (std::uint32_t s = 0; s < height; ++s)
      EXPECT_EQ(interlaced_row(s, height), stored[s]) << height;
    EXPECT_EQ(interlaced_row(height, height), height);
  }
}

}  // namespace
}  // namespace brevlo::test
