// libFuzzer target over the whole conversion: the input bytes become a GIF file,
// BREVLO32 converts it, and what must hold after every call is checked. Any
// violation aborts, so the fuzzer reports it like a crash.
//
// After every call: the result is one of the documented codes, every block of
// working memory obtained was released, and a failure leaves no output. After a
// success: the output has exactly the size its header announces, the header
// agrees with the first image descriptor of the input, the palette is the
// image's colour table, and every row's padding is zero. Each input is then
// converted again with one of the decoder's blocks of working memory refused: a conversion
// that reached the decoder must now give 30003, any other the same result as
// before, and again nothing may be left behind.
//
// The same bytes also go through the engine with the broader options the
// brevlo command uses. There a success must give an output of exactly its
// announced size with zero row padding, and whatever the fixed contract
// converts must convert to the very same bytes. An interlaced first image,
// which the fixed contract refuses, is converted again with its interlace flag
// cleared, through BREVLO32 where it accepts the file and broadly where not:
// the same codes then fill the rows in the order they are stored, and every
// row must hold the same bytes in both outputs, rows never reached (zero)
// included.
//
// The same bytes go through the frames' walk too, for a screen of a modest
// size and up to kMostFrames frames: each frame file must have exactly the
// size its header announces, the screen's size, 8 or 24 bits and zero row
// padding; no frame must be composed where the broad conversion fails, for
// the same reason, and one must be where it succeeds; and a first image that
// covers the screen with global indices alone, over a background of index 0,
// must give the broad conversion's very bytes as its frame.
#include <brevlo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/conversion.h"
#include "engine/frames.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kScreenSize = 13;
constexpr std::size_t kGlobalTableSize = 768;
constexpr std::size_t kFirstBlock = kScreenSize + kGlobalTableSize;
constexpr std::size_t kDescriptorSize = 9;
constexpr std::uint32_t kPixelOffset = 1078;
constexpr std::uint8_t kTableFlag = 0x80;
constexpr std::uint8_t kInterlaceFlag = 0x40;

struct Paths {
  std::string gif;
  std::string bmp;
  std::string broad_bmp;  // the engine's output under the broad options
  std::string twin_gif;   // an interlaced input with its interlace flag cleared
  std::string twin_bmp;
  std::string frame_bmp;  // each frame of the frames' walk in turn
};

// One pair of files per fuzzing process, in memory-backed storage when there is
// some, so that parallel fuzzing jobs never share a file.
const Paths& scratch_paths() {
  static const Paths paths = [] {
    std::string folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string stem = folder + "/brevlo-fuzz-" + std::to_string(::getpid());
    return Paths{stem + ".gif",      stem + ".bmp",      stem + "-broad.bmp",
                 stem + "-twin.gif", stem + "-twin.bmp", stem + "-frame.bmp"};
  }();
  return paths;
}

void remove_scratch_files() {
  ::unlink(scratch_paths().gif.c_str());
  ::unlink(scratch_paths().bmp.c_str());
  ::unlink(scratch_paths().broad_bmp.c_str());
  ::unlink(scratch_paths().twin_gif.c_str());
  ::unlink(scratch_paths().twin_bmp.c_str());
  ::unlink(scratch_paths().frame_bmp.c_str());
}

[[noreturn]] void violated(const char* what) {
  std::fprintf(stderr, "brevlo fuzz invariant violated: %s\n", what);
  std::abort();
}

void require(bool holds, const char* what) {
  if (!holds) violated(what);
}

std::uint32_t get16(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0] | (at[1] << 8));
}

std::uint32_t get32(const std::uint8_t* at) {
  return get16(at) | (get16(at + 2) << 16);
}

bool has_signature(const std::uint8_t* data, std::size_t size) {
  return size >= 6 && std::memcmp(data, "GIF8", 4) == 0 && data[5] == 'a';
}

// Where the blocks start: after the header and the global colour table, of
// whatever size the header gives.
std::size_t first_block(const std::uint8_t* data, std::size_t size) {
  if (size < kScreenSize || (data[10] & kTableFlag) == 0) return kScreenSize;
  return kScreenSize + (std::size_t{3} << ((data[10] & 7) + 1));
}

// Where the first image descriptor starts, found by walking the blocks after
// the global colour table: extensions are skipped by their sub-block lengths,
// any other byte but "," and ";" is passed over. 0 when there is none.
std::size_t first_descriptor(const std::uint8_t* data, std::size_t size) {
  std::size_t at = first_block(data, size);
  while (at < size && data[at] != 0 && data[at] != ';') {
    if (data[at] == ',') return at + 1;
    if (data[at] == '!') {
      at += 2;  // introducer and label
      while (at < size && data[at] != 0) at += 1 + data[at];
    }
    ++at;
  }
  return 0;
}

// Outputs up to this size are read whole and their row padding checked; of
// larger ones (a sparse 65535 x 65535 image is 4 GiB) only the headers are read.
constexpr std::uint64_t kWholeReadLimit = std::uint64_t{16} << 20;

// The output's size on disk and its first bytes: all of them when they are at
// most kWholeReadLimit, otherwise the headers and palette.
Bytes read_output(const std::string& path, std::uint64_t& size) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) violated("a successful conversion left no output");
  size = static_cast<std::uint64_t>(info.st_size);
  Bytes bytes(size <= kWholeReadLimit ? size : std::min<std::uint64_t>(size, kPixelOffset));
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) violated("a successful conversion left no readable output");
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  if (got != bytes.size()) violated("the output could not be read back");
  return bytes;
}

// The palette the output must carry: the first image's local table when it has
// one (entries past its size black), otherwise the global table.
void check_palette(const Bytes& bmp, const std::uint8_t* table, std::size_t entries) {
  for (std::size_t i = 0; i < 256; ++i) {
    const std::uint8_t* entry = bmp.data() + 54 + i * 4;
    std::array<std::uint8_t, 4> want{};
    if (i < entries) want = {table[i * 3 + 2], table[i * 3 + 1], table[i * 3], 0};
    require(std::memcmp(entry, want.data(), 4) == 0, "palette differs from the colour table");
  }
}

// Every row's bytes past the width are zero; checked when the whole output
// was read.
void check_padding(const Bytes& bmp, std::uint64_t size_on_disk, std::uint32_t width,
                   std::uint32_t height) {
  if (bmp.size() != size_on_disk) return;
  const std::uint64_t stride = (std::uint64_t{width} + 3) / 4 * 4;
  for (std::uint64_t row = 0; row < height; ++row)
    for (std::uint64_t column = width; column < stride; ++column)
      require(bmp[kPixelOffset + row * stride + column] == 0, "row padding is not zero");
}

// The documented nonzero result codes.
bool is_failure_code(int result) {
  switch (result) {
    case ERR_OPEN_FAILED:
    case ERR_NO_MEMORY:
    case ERR_BAD_GIF:
    case ERR_UNSUPPORTED:
    case ERR_EARLY_END:
      return true;
    default:
      return false;
  }
}

void check_success(const std::uint8_t* data, std::size_t size) {
  require(size >= kFirstBlock, "success for a file shorter than its colour table");
  require((data[10] & 0x87) == 0x87, "success without a 256-entry global colour table");
  std::size_t at = first_descriptor(data, size);
  require(at != 0 && at + kDescriptorSize <= size, "success without a complete image descriptor");
  const std::uint32_t width = get16(data + at + 4);
  const std::uint32_t height = get16(data + at + 6);
  const std::uint8_t packed = data[at + 8];
  require(width != 0 && height != 0, "success for an empty image");
  require((packed & kInterlaceFlag) == 0, "success for an interlaced image");

  std::uint64_t size_on_disk = 0;
  const Bytes bmp = read_output(scratch_paths().bmp, size_on_disk);
  require(size_on_disk >= kPixelOffset, "output shorter than its headers");
  const std::uint64_t stride = (std::uint64_t{width} + 3) / 4 * 4;
  require(size_on_disk == get32(bmp.data() + 2), "output size differs from bfSize");
  require(size_on_disk == kPixelOffset + stride * height, "bfSize is not stride * height + 1078");
  require(bmp[0] == 'B' && bmp[1] == 'M', "no BM signature");
  require(get32(bmp.data() + 10) == kPixelOffset && get32(bmp.data() + 14) == 40,
          "pixel offset or info header size wrong");
  require(get32(bmp.data() + 18) == width && get32(bmp.data() + 22) == height,
          "BMP size differs from the image descriptor");
  require(get16(bmp.data() + 26) == 1 && get16(bmp.data() + 28) == 8, "planes or depth wrong");
  for (std::size_t field = 30; field < 54; ++field)
    require(bmp[field] == 0, "a header field that must be zero is not");

  if ((packed & kTableFlag) != 0) {
    const std::size_t entries = std::size_t{2} << (packed & 7);
    require(at + kDescriptorSize + entries * 3 <= size, "success with a cut local colour table");
    check_palette(bmp, data + at + kDescriptorSize, entries);
  } else {
    check_palette(bmp, data + kScreenSize, 256);
  }
  check_padding(bmp, size_on_disk, width, height);
}

void check_refusal(int result, const std::uint8_t* data, std::size_t size) {
  struct stat info {};
  require(::stat(scratch_paths().bmp.c_str(), &info) != 0, "a failed conversion left its output");
  if (!has_signature(data, size)) require(result == ERR_BAD_GIF, "a bad signature is not 30004");
  if (has_signature(data, size) && size >= kScreenSize && (data[10] & 0x87) != 0x87)
    require(result == ERR_UNSUPPORTED, "a global table of other than 256 entries is not 30008");
}

namespace fault_injection = brevlo::platform::fault_injection;

// Converts the scratch input with the nth obtain refused (0: none); checks
// that memory was balanced and says how many blocks were obtained.
int convert_scratch(std::uint64_t refused_obtain, std::uint64_t& obtained) {
  ::unlink(scratch_paths().bmp.c_str());
  fault_injection::fail_obtain_number(refused_obtain);
  const int result = BREVLO32(scratch_paths().gif.c_str(), scratch_paths().bmp.c_str());
  const fault_injection::MemoryCounts memory = fault_injection::memory_counts();
  fault_injection::fail_obtain_number(0);
  require(memory.obtained == memory.released, "working memory not released");
  obtained = memory.obtained + memory.refused;
  return result;
}

// Refuses one of the blocks the first conversion obtained (chosen by the
// input's size), or the first obtain when the decoder was never reached.
void check_refused_memory(int first_result, std::uint64_t blocks, std::size_t size) {
  std::uint64_t obtained = 0;
  const int result = convert_scratch(1 + (blocks > 0 ? size % blocks : 0), obtained);
  require(result == (blocks > 0 ? ERR_NO_MEMORY : first_result),
          "refused working memory does not give 30003");
  struct stat info {};
  require(result == BREVLO_SUCCESS || ::stat(scratch_paths().bmp.c_str(), &info) != 0,
          "a conversion without memory left its output");
}

// Converts gif_path through the engine with the broad options into bmp_path,
// as the command does.
int convert_through_engine(const std::string& gif_path, const std::string& bmp_path,
                           brevlo::ConversionReport& report) {
  namespace platform = brevlo::platform;
  const platform::FileHandle gif = platform::open_for_reading(gif_path.c_str());
  const platform::FileHandle bmp = platform::open_for_writing(bmp_path.c_str());
  if (gif == platform::kNoFile || bmp == platform::kNoFile || !platform::truncate(bmp))
    violated("cannot open the scratch files");
  const int result = brevlo::convert_gif(gif, bmp, brevlo::kBroadOptions, report);
  platform::close(gif);
  platform::close(bmp);
  return result;
}

// Converts the scratch input through the engine with the broad options into
// its own output, removed again after a failure as the command removes it.
int convert_broadly() {
  const std::string& out = scratch_paths().broad_bmp;
  fault_injection::fail_obtain_number(0);
  brevlo::ConversionReport report;
  const int result = convert_through_engine(scratch_paths().gif, out, report);
  if (result != BREVLO_SUCCESS) ::unlink(out.c_str());
  const fault_injection::MemoryCounts memory = fault_injection::memory_counts();
  require(memory.obtained == memory.released, "working memory not released (broad)");
  require(result == BREVLO_SUCCESS || report.reason != brevlo::Reason::kNone,
          "a broad refusal without a reason");
  return result;
}

// A broad success: the output has the size its header announces, from the
// image's own size, and zero row padding. What the fixed contract converted
// converts to the same bytes.
void check_broad_success(int strict_result) {
  std::uint64_t size_on_disk = 0;
  const Bytes bmp = read_output(scratch_paths().broad_bmp, size_on_disk);
  require(size_on_disk >= kPixelOffset && bmp[0] == 'B' && bmp[1] == 'M', "broad: no BMP headers");
  const std::uint32_t width = get32(bmp.data() + 18);
  const std::uint32_t height = get32(bmp.data() + 22);
  require(width != 0 && height != 0, "broad: success for an empty image");
  const std::uint64_t stride = (std::uint64_t{width} + 3) / 4 * 4;
  require(size_on_disk == get32(bmp.data() + 2) && size_on_disk == kPixelOffset + stride * height,
          "broad: output size differs from bfSize or stride * height + 1078");
  check_padding(bmp, size_on_disk, width, height);
  if (strict_result != BREVLO_SUCCESS) return;
  std::uint64_t strict_size = 0;
  const Bytes strict_bmp = read_output(scratch_paths().bmp, strict_size);
  require(strict_size == size_on_disk && strict_bmp == bmp,
          "broad and strict conversions of a strict file differ");
}

// The GIF row stored k-th in an interlaced image of the given height.
std::uint32_t interlaced_row(std::uint32_t k, std::uint32_t height) {
  constexpr std::uint32_t kStarts[] = {0, 4, 2, 1};
  constexpr std::uint32_t kSteps[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    const std::uint32_t rows =
        height > kStarts[pass] ? (height - kStarts[pass] + kSteps[pass] - 1) / kSteps[pass] : 0;
    if (k < rows) return kStarts[pass] + k * kSteps[pass];
    k -= rows;
  }
  violated("a stored row past the image's height");
}

// Converts the twin, strictly where the fixed contract takes it, and returns
// the result.
int convert_twin(const Bytes& twin) {
  const Paths& paths = scratch_paths();
  FILE* file = std::fopen(paths.twin_gif.c_str(), "wb");
  if (file == nullptr || std::fwrite(twin.data(), 1, twin.size(), file) != twin.size())
    violated("cannot write the twin input");
  std::fclose(file);
  ::unlink(paths.twin_bmp.c_str());
  if (BREVLO32(paths.twin_gif.c_str(), paths.twin_bmp.c_str()) == BREVLO_SUCCESS)
    return BREVLO_SUCCESS;
  brevlo::ConversionReport report;
  return convert_through_engine(paths.twin_gif, paths.twin_bmp, report);
}

// A broad success whose first image is interlaced: its twin without the flag
// converts too, and holds the k-th stored row where the interlaced output
// holds it at its place in the picture.
void check_interlaced_twin(const std::uint8_t* data, std::size_t size) {
  const std::size_t at = first_descriptor(data, size);
  if (at == 0 || at + kDescriptorSize > size || (data[at + 8] & kInterlaceFlag) == 0) return;
  Bytes twin(data, data + size);
  twin[at + 8] &= static_cast<std::uint8_t>(~kInterlaceFlag);
  require(convert_twin(twin) == BREVLO_SUCCESS,
          "an interlaced image converts but the same codes without interlace do not");
  std::uint64_t size_on_disk = 0;
  std::uint64_t twin_size = 0;
  const Bytes interlaced = read_output(scratch_paths().broad_bmp, size_on_disk);
  const Bytes plain = read_output(scratch_paths().twin_bmp, twin_size);
  // Gone at once: a run that libFuzzer ends leaves only the files every input
  // writes anew.
  ::unlink(scratch_paths().twin_gif.c_str());
  ::unlink(scratch_paths().twin_bmp.c_str());
  require(twin_size == size_on_disk, "an interlaced image and its twin differ in size");
  if (interlaced.size() != size_on_disk || plain.size() != twin_size) return;  // too large to read
  require(std::memcmp(interlaced.data(), plain.data(), kPixelOffset) == 0,
          "an interlaced image and its twin differ in their headers");
  const std::uint32_t width = get32(plain.data() + 18);
  const std::uint32_t height = get32(plain.data() + 22);
  const std::uint64_t stride = (std::uint64_t{width} + 3) / 4 * 4;
  const auto place = [&](std::uint32_t row) { return kPixelOffset + (height - 1 - row) * stride; };
  for (std::uint32_t k = 0; k < height; ++k)
    require(std::memcmp(interlaced.data() + place(interlaced_row(k, height)),
                        plain.data() + place(k), stride) == 0,
            "a row of an interlaced image differs from the same row stored in order");
}

// Broad results are the documented codes too, and the broad options only
// ever add successes: a strict success is a broad success. Returns the broad
// result.
int check_broad(int strict_result, const std::uint8_t* data, std::size_t size) {
  const int result = convert_broadly();
  if (result == BREVLO_SUCCESS) {
    check_broad_success(strict_result);
    check_interlaced_twin(data, size);
    return result;
  }
  require(is_failure_code(result), "a broad result code outside the documented set");
  require(strict_result != BREVLO_SUCCESS, "the broad options refused a strict file");
  return result;
}

// Screens walked for frames: up to this many pixels, and this many frames.
constexpr std::uint64_t kLargestFramesScreen = std::uint64_t{1} << 20;
constexpr std::uint32_t kMostFrames = 64;

// A frame file: the size its header announces, the screen's size, 8 bits
// with the palette or 24 without, and zero row padding.
void check_frame_file(const brevlo::ConversionReport& report) {
  std::uint64_t size_on_disk = 0;
  const Bytes bmp = read_output(scratch_paths().frame_bmp, size_on_disk);
  require(size_on_disk >= 54 && bmp[0] == 'B' && bmp[1] == 'M', "frame: no BMP headers");
  const std::uint32_t width = get32(bmp.data() + 18);
  const std::uint32_t height = get32(bmp.data() + 22);
  const std::uint32_t bits = get16(bmp.data() + 28);
  require(width == report.screen_width && height == report.screen_height,
          "frame: its size is not the screen's");
  require(bits == 8 || bits == 24, "frame: neither 8 nor 24 bits");
  const std::uint64_t offset = bits == 8 ? kPixelOffset : 54;
  const std::uint64_t used = std::uint64_t{width} * bits / 8;
  const std::uint64_t stride = (used + 3) / 4 * 4;
  require(get32(bmp.data() + 10) == offset && size_on_disk == get32(bmp.data() + 2) &&
              size_on_disk == offset + stride * height,
          "frame: its size differs from its headers");
  if (bmp.size() != size_on_disk) return;
  for (std::uint64_t row = 0; row < height; ++row)
    for (std::uint64_t column = used; column < stride; ++column)
      require(bmp[offset + row * stride + column] == 0, "frame: row padding is not zero");
}

// True when the first frame must be the broad conversion's file itself: the
// first image covers the screen (or sizes it), with global indices alone (no
// table of its own, no transparent index before it), over a background of
// index 0, which stands where the broad conversion leaves rows it never
// reached as zero.
bool first_frame_is_the_still(const std::uint8_t* data, std::size_t size) {
  const std::size_t at = first_descriptor(data, size);
  if (at == 0 || at + kDescriptorSize > size || data[11] != 0) return false;
  for (std::size_t k = first_block(data, size); k + 3 < at; ++k)
    if (data[k] == '!' && data[k + 1] == 0xF9 && (data[k + 3] & 1) != 0) return false;
  const std::uint32_t screen_width = get16(data + 6);
  const std::uint32_t screen_height = get16(data + 8);
  const bool sized_by_image = screen_width == 0 || screen_height == 0;
  return get16(data + at) == 0 && get16(data + at + 2) == 0 && (data[at + 8] & kTableFlag) == 0 &&
         (data[10] & kTableFlag) != 0 &&
         (sized_by_image ||
          (get16(data + at + 4) == screen_width && get16(data + at + 6) == screen_height));
}

// Walks the frames of the input, writing each into the frame file, and holds
// them to the broad conversion's result (see the top of this file).
void check_frames(int broad_result, const std::uint8_t* data, std::size_t size) {
  namespace platform = brevlo::platform;
  if (size < kScreenSize || std::uint64_t{get16(data + 6)} * get16(data + 8) > kLargestFramesScreen)
    return;
  fault_injection::fail_obtain_number(0);
  const platform::FileHandle gif = platform::open_for_reading(scratch_paths().gif.c_str());
  if (gif == platform::kNoFile) violated("cannot open the scratch input");
  brevlo::FrameSequence frames;
  brevlo::open_frames(frames, gif, brevlo::kBroadOptions);
  while (frames.report.frames < kMostFrames && brevlo::next_frame(frames)) {
    if (std::uint64_t{frames.report.screen_width} * frames.report.screen_height >
        kLargestFramesScreen)
      break;  // sized by a large first image
    const platform::FileHandle bmp = platform::open_for_writing(scratch_paths().frame_bmp.c_str());
    if (bmp == platform::kNoFile || !platform::truncate(bmp)) violated("cannot open a frame file");
    require(brevlo::write_current_frame(frames, bmp) == BREVLO_SUCCESS, "a frame not written");
    platform::close(bmp);
    check_frame_file(frames.report);
    if (frames.report.frames == 1 && broad_result == BREVLO_SUCCESS &&
        first_frame_is_the_still(data, size)) {
      std::uint64_t frame_size = 0;
      std::uint64_t still_size = 0;
      require(read_output(scratch_paths().frame_bmp, frame_size) ==
                      read_output(scratch_paths().broad_bmp, still_size) &&
                  frame_size == still_size,
              "a first frame of global indices over the screen differs from the still's file");
    }
  }
  const brevlo::ConversionReport report = frames.report;
  brevlo::close_frames(frames);
  platform::close(gif);
  const fault_injection::MemoryCounts memory = fault_injection::memory_counts();
  require(memory.obtained == memory.released, "working memory not released (frames)");
  if (report.frames > 0) {
    require(broad_result == BREVLO_SUCCESS, "frames composed where the broad conversion fails");
  } else if (!report.screen_too_large) {
    require(broad_result == brevlo::code_for(report.reason),
            "no frame composed, for another reason than the broad conversion's failure");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  std::atexit(remove_scratch_files);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FILE* gif = std::fopen(scratch_paths().gif.c_str(), "wb");
  if (gif == nullptr) violated("cannot write the input file");
  if (size > 0 && std::fwrite(data, 1, size, gif) != size) violated("cannot write the input file");
  std::fclose(gif);

  std::uint64_t obtained = 0;
  const int result = convert_scratch(0, obtained);
  if (result == BREVLO_SUCCESS) {
    check_success(data, size);
  } else {
    require(is_failure_code(result), "a result code outside the documented set");
    check_refusal(result, data, size);
  }
  const int broad_result = check_broad(result, data, size);
  check_frames(broad_result, data, size);
  check_refused_memory(result, obtained, size);
  return 0;
}
