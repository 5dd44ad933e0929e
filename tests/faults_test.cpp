// Failures the operating system can cause around a conversion: files that
// cannot be positioned, writes that stop at a file-size limit or on a full
// device, closes and seeks that fail, and working memory that cannot be had.
// Each must give its result code, leave no output and hold on to no memory,
// and none may make the call wait.
#include <brevlo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "gif_writer.h"
#include "platform/fault_injection.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

namespace fault_injection = platform::fault_injection;

constexpr int kWidth = 203;  // stride 204
constexpr int kHeight = 150;
constexpr std::uint64_t kStride = 204;
constexpr std::uint64_t kBmpSize = 1078 + kStride * kHeight;

Bytes picture() {
  return make_gif(kWidth, kHeight, noise_pixels(kWidth * kHeight, 8, 4242));
}

// A clear code at once followed by the end code: no row is decoded, and the
// full size comes from one byte written at the very end.
Bytes picture_without_rows() {
  GifParts parts;
  parts.width = kWidth;
  parts.height = kHeight;
  parts.data = sub_blocks(pack_codes(with_widths({256, 257}, 8)), 255);
  return assemble(parts);
}

constexpr int kMemoryHeld = 254;  // the child's exit status when memory was not released

// Converts in a child process (see run_in_child) whose files may not grow past
// limit bytes. Returns the result code; -1 when the child broke down, ran out
// of time or was killed (by SIGXFSZ, say), -2 when it still held working
// memory.
int convert_in_child(const std::string& in, const std::string& out,
                     std::uint64_t limit = ~std::uint64_t{0}) {
  const int status = run_in_child(
      [&] {
        fault_injection::fail_obtain_number(0);
        const int result = BREVLO32(in.c_str(), out.c_str());
        const fault_injection::MemoryCounts counts = fault_injection::memory_counts();
        if (counts.obtained != counts.released) return kMemoryHeld;
        return result == 0 ? 0 : result - 30000;  // fits an exit status
      },
      limit);
  if (status == kMemoryHeld) return -2;
  if (status < 0 || status == 255) return -1;
  return status == 0 ? 0 : 30000 + status;
}

// A FIFO at either end, with or without a process at its other end, can never
// be converted (reading and writing need positions); the call must not wait
// for a partner, must leave no output and must keep the FIFO.
TEST(Unpositionable, FifoAtEitherEndGives30001AtOnce) {
  struct Case {
    const char* what;
    bool fifo_is_input;
    bool partner;
  };
  const Case cases[] = {
      {"input, no writer", true, false},
      {"input, a writer with a whole GIF", true, true},
      {"output, no reader", false, false},
      {"output, a reader", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string fifo = dir.path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string in = c.fifo_is_input ? fifo : dir.path("in.gif");
    const std::string out = c.fifo_is_input ? dir.path("out.bmp") : fifo;
    const Bytes gif = make_gif(8, 8, noise_pixels(64, 8, 5));
    if (!c.fifo_is_input) write_file(in, gif);
    // Opening both ends at once never waits; the partner is then whichever
    // end the call does not open.
    const int partner = c.partner ? ::open(fifo.c_str(), O_RDWR | O_CLOEXEC) : -1;
    if (c.partner && c.fifo_is_input) {
      ASSERT_EQ(::write(partner, gif.data(), gif.size()), static_cast<ssize_t>(gif.size()));
    }
    EXPECT_EQ(convert_in_child(in, out), ERR_OPEN_FAILED);
    if (partner >= 0) ::close(partner);
    struct stat info {};
    ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_FALSE(c.fifo_is_input && exists(out));
  }
}

// A file-size limit the BMP would pass is met before anything is written: the
// host is not stopped by SIGXFSZ (the child keeps its default action) and no
// output is left.
TEST(WriteFailure, FileSizeLimitAnywhereInTheOutputGives30001) {
  ScratchDir dir;
  struct Case {
    const char* what;
    Bytes gif;
    std::uint64_t limit;
    int result;
  };
  const Case cases[] = {
      {"no byte may be written", picture(), 0, ERR_OPEN_FAILED},
      {"inside the headers", picture(), 60, ERR_OPEN_FAILED},
      {"inside the palette", picture(), 1077, ERR_OPEN_FAILED},
      {"the headers fit, no row", picture(), 1078, ERR_OPEN_FAILED},
      {"the last row in the file does not fit", picture(), kBmpSize - 1, ERR_OPEN_FAILED},
      {"the full size fits", picture(), kBmpSize, BREVLO_SUCCESS},
      {"no rows: the closing byte does not fit", picture_without_rows(), kBmpSize - 1,
       ERR_OPEN_FAILED},
      {"no rows: the closing byte fits", picture_without_rows(), kBmpSize, BREVLO_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(dir.path("in.gif"), c.gif);
    const std::string out = dir.path("out.bmp");
    EXPECT_EQ(convert_in_child(dir.path("in.gif"), out, c.limit), c.result);
    EXPECT_EQ(exists(out), c.result == BREVLO_SUCCESS);
    if (c.result == BREVLO_SUCCESS) {
      EXPECT_EQ(std::filesystem::file_size(out), kBmpSize);
    }
    std::filesystem::remove(out);
  }
}

TEST(WriteFailure, DeviceThatIsAlwaysFullGives30001AndStays) {
  ScratchDir dir;
  const std::string full_device = dir.path("full");
  if (std::string why = make_device(full_device, 1, 7); !why.empty()) GTEST_SKIP() << why;
  write_file(dir.path("in.gif"), picture());
  EXPECT_EQ(BREVLO32(dir.path("in.gif").c_str(), full_device.c_str()), ERR_OPEN_FAILED);
  struct stat info {};
  ASSERT_EQ(::stat(full_device.c_str(), &info), 0) << "the device itself must never be deleted";
  EXPECT_TRUE(S_ISCHR(info.st_mode));
}

// A write error that surfaces only when the BMP is closed (network, FUSE and
// quota-limited file systems) is a failed write: 30001, and nothing holding
// the bytes is left, through links neither. The GIF's close is not examined.
TEST(CloseFailure, FailedCloseOfTheOutputGives30001AndLeavesNoBytes) {
  enum class Output { kPlain, kSecondHardLink, kSymbolicLink };
  struct Case {
    const char* what;
    std::uint64_t failing_close;  // 1: the GIF's, 2: the BMP's
    Output output;
    int result;
  };
  const Case cases[] = {
      {"the GIF's close", 1, Output::kPlain, BREVLO_SUCCESS},
      {"the BMP's close", 2, Output::kPlain, ERR_OPEN_FAILED},
      {"the BMP's close, another hard link", 2, Output::kSecondHardLink, ERR_OPEN_FAILED},
      {"the BMP's close, through a symbolic link", 2, Output::kSymbolicLink, ERR_OPEN_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    write_file(dir.path("in.gif"), picture());
    const std::string out = dir.path("out.bmp");
    const std::string other = dir.path("other.bmp");
    if (c.output != Output::kPlain) write_file(other, {1, 2, 3});
    if (c.output == Output::kSecondHardLink) {
      ASSERT_EQ(::link(other.c_str(), out.c_str()), 0);
    }
    if (c.output == Output::kSymbolicLink) {
      ASSERT_EQ(::symlink("other.bmp", out.c_str()), 0);
    }
    fault_injection::fail_close_number(c.failing_close);
    EXPECT_EQ(BREVLO32(dir.path("in.gif").c_str(), out.c_str()), c.result);
    fault_injection::fail_close_number(0);
    // Only a name that is the file itself goes; a link stays, and what any
    // name still leads to is empty.
    EXPECT_EQ(exists(out), c.result == BREVLO_SUCCESS || c.output == Output::kSymbolicLink);
    EXPECT_EQ(exists(other), c.output != Output::kPlain);
    if (c.output != Output::kPlain) {
      EXPECT_EQ(read_file(other), Bytes{});
    }
  }
}

// Every positioned write refused in turn: the first (the headers) gives
// 30001, a later one a nonzero code, and none may leave an output. Once the
// refusal comes after the last write the conversion succeeds.
TEST(SeekFailure, EachRefusedSeekFailsTheConversionAndLeavesNoOutput) {
  ScratchDir dir;
  write_file(dir.path("in.gif"), picture());
  const std::string in = dir.path("in.gif");
  const std::string out = dir.path("out.bmp");
  constexpr std::uint64_t kMostSeeks = 64;
  std::uint64_t failing = 1;
  for (; failing <= kMostSeeks; ++failing) {
    SCOPED_TRACE(failing);
    fault_injection::fail_seek_number(failing);
    const int result = BREVLO32(in.c_str(), out.c_str());
    fault_injection::fail_seek_number(0);
    if (result == BREVLO_SUCCESS) break;
    if (failing == 1) {
      EXPECT_EQ(result, ERR_OPEN_FAILED);
    }
    EXPECT_FALSE(exists(out));
  }
  EXPECT_GT(failing, 2U) << "the conversion writes headers and rows";
  EXPECT_LE(failing, kMostSeeks) << "a conversion that never succeeds";
  EXPECT_EQ(std::filesystem::file_size(out), kBmpSize);
}

// A small memory-backed file system mounted for the test; needs root.
class SmallDevice {
 public:
  explicit SmallDevice(const std::string& where) : where_(where) {
    std::filesystem::create_directory(where_);
    if (::geteuid() != 0) {
      why_not_ = "mounting a small tmpfs needs root";
    } else if (::mount("tmpfs", where_.c_str(), "tmpfs", 0, "size=64k") != 0) {
      why_not_ = std::string("mounting a small tmpfs failed: ") + std::strerror(errno);
    }
  }
  ~SmallDevice() {
    if (why_not_.empty()) ::umount2(where_.c_str(), MNT_DETACH);
  }
  SmallDevice(const SmallDevice&) = delete;
  SmallDevice& operator=(const SmallDevice&) = delete;
  const std::string& why_not() const { return why_not_; }

 private:
  std::string where_;
  std::string why_not_;
};

TEST(WriteFailure, FullDeviceGives30001AndLeavesNoOutput) {
  ScratchDir dir;
  SmallDevice device(dir.path("small"));
  if (!device.why_not().empty()) GTEST_SKIP() << device.why_not();
  write_file(dir.path("in.gif"), picture());  // a BMP of 31 KB
  const std::string out = dir.path("small/out.bmp");
  // Filling the device leaves less and less room: from none at all to room
  // for the headers but not every row.
  for (std::size_t filler_size : {std::size_t{65536}, std::size_t{64000}, std::size_t{40000}}) {
    SCOPED_TRACE(filler_size);
    write_file(dir.path("small/filler"), Bytes(filler_size, 0x55));
    EXPECT_EQ(BREVLO32(dir.path("in.gif").c_str(), out.c_str()), ERR_OPEN_FAILED);
    EXPECT_FALSE(exists(out));
  }
  std::filesystem::remove(dir.path("small/filler"));
  EXPECT_EQ(BREVLO32(dir.path("in.gif").c_str(), out.c_str()), BREVLO_SUCCESS);
  EXPECT_EQ(std::filesystem::file_size(out), kBmpSize);
}

// Each block of working memory refused in turn, until a conversion needs no
// more: each refusal gives 30003, with every block already held released and
// no further block asked for, and the report names the obtain's own error.
TEST(MemoryFailure, EachBlockThatCannotBeHadGives30003AndReleasesTheRest) {
  ScratchDir dir;
  write_file(dir.path("in.gif"), picture());
  const std::string in = dir.path("in.gif");
  const std::string out = dir.path("out.bmp");
  constexpr std::uint64_t kMostBlocks = 16;
  std::uint64_t failing = 1;
  for (; failing <= kMostBlocks; ++failing) {
    SCOPED_TRACE(failing);
    fault_injection::fail_obtain_number(failing);
    const int result = BREVLO32(in.c_str(), out.c_str());
    const fault_injection::MemoryCounts counts = fault_injection::memory_counts();
    fault_injection::fail_obtain_number(0);
    EXPECT_EQ(counts.obtained, counts.released);
    if (result == BREVLO_SUCCESS) {
      EXPECT_EQ(counts.refused, 0U);
      break;
    }
    EXPECT_EQ(result, ERR_NO_MEMORY);
    EXPECT_EQ(counts.obtained, failing - 1);
    EXPECT_EQ(counts.refused, 1U);
    EXPECT_FALSE(exists(out));
    ConversionReport report;
    fault_injection::fail_obtain_number(failing);
    EXPECT_EQ(convert_bytes_with(dir, picture(), kStrictOptions, report), ERR_NO_MEMORY);
    fault_injection::fail_obtain_number(0);
    EXPECT_EQ(report.system_error, ENOMEM);
  }
  EXPECT_GT(failing, 1U) << "a conversion obtains working memory";
  EXPECT_LE(failing, kMostBlocks) << "a conversion that never succeeds";
}

// Every way out of an image releases what it obtained: corrupt data and a
// bad code size (checked after the memory is obtained) as a success does.
TEST(MemoryFailure, EveryExitOfTheDecoderReleasesItsBlocks) {
  Bytes corrupt = picture();
  corrupt[corrupt.size() - 40] ^= 0xFF;
  GifParts bad_code_size;
  bad_code_size.code_size = 12;
  bad_code_size.data = sub_blocks(pack_codes(with_widths({256, 0, 257}, 8)), 255);
  ScratchDir dir;
  std::uint64_t blocks_of_a_success = 0;
  for (const Bytes& gif : {picture(), corrupt, assemble(bad_code_size)}) {
    write_file(dir.path("in.gif"), gif);
    fault_injection::fail_obtain_number(0);
    const int result = BREVLO32(dir.path("in.gif").c_str(), dir.path("out.bmp").c_str());
    const fault_injection::MemoryCounts counts = fault_injection::memory_counts();
    SCOPED_TRACE(result);
    if (result == BREVLO_SUCCESS) blocks_of_a_success = counts.obtained;
    EXPECT_GT(counts.obtained, 0U);
    EXPECT_EQ(counts.obtained, blocks_of_a_success);
    EXPECT_EQ(counts.released, counts.obtained);
  }
}

// The frames of an animation, each written into its own file: a block of
// memory, a positioned write or a close refused at any point fails the
// frame it falls in with its code, keeps the files of the frames before it
// whole, leaves no file for that frame, and releases every block. Memory
// comes once per file: the frames after the first ask for none but the
// canvas's widening (a local table) and the rectangle disposal 3 saves.
TEST(FramesFailure, EachRefusalFailsItsFrameAndKeepsTheFramesBefore) {
  std::vector<FrameParts> frames;
  for (int k = 0; k < 6; ++k) {
    FrameParts frame = frame_at(k, k, kWidth - 2 * k, kHeight - 2 * k,
                                noise_pixels((kWidth - 2 * k) * (kHeight - 2 * k), 8, 90 + k));
    frame.disposal = k % 4;
    if (k == 3) frame.local_table = test_colour_table();
    frames.push_back(frame);
  }
  ScratchDir dir;
  const std::string in = dir.path("in.gif");
  write_file(in, animation_gif(kWidth, kHeight, frames));
  const std::string prefix = dir.path("a");
  std::uint32_t written = 0;
  ASSERT_EQ(brevlo_convert_frames(in.c_str(), prefix.c_str(), 0, &written), 0);
  ASSERT_EQ(written, frames.size());
  std::vector<Bytes> whole;
  for (std::size_t k = 1; k <= frames.size(); ++k)
    whole.push_back(read_file(prefix + "-00" + std::to_string(k) + ".bmp"));

  // The last frame a refusal can fall in: every frame writes and closes its
  // file; the last block is obtained for frame 4, which widens the canvas for
  // its local table and saves its rectangle at the new width.
  struct Seam {
    const char* what;
    void (*fail)(std::uint64_t);
    int result;
    std::uint32_t last_frame;
  };
  const Seam seams[] = {
      {"obtain", fault_injection::fail_obtain_number, ERR_NO_MEMORY, 4},
      {"positioned write", fault_injection::fail_seek_number, ERR_OPEN_FAILED, 6},
      {"close", fault_injection::fail_close_number, ERR_OPEN_FAILED, 6},
  };
  for (const Seam& seam : seams) {
    std::uint32_t most_written = 0;
    std::uint64_t failing = 1;
    for (; failing <= 64; ++failing) {
      SCOPED_TRACE(testing::Message() << seam.what << " " << failing);
      std::filesystem::remove_all(dir.path(""));
      std::filesystem::create_directory(dir.path(""));
      write_file(in, animation_gif(kWidth, kHeight, frames));
      seam.fail(failing);
      const int result = brevlo_convert_frames(in.c_str(), prefix.c_str(), 0, &written);
      const fault_injection::MemoryCounts counts = fault_injection::memory_counts();
      seam.fail(0);
      EXPECT_EQ(counts.obtained, counts.released);
      for (std::size_t k = 1; k <= frames.size(); ++k) {
        const std::string name = prefix + "-00" + std::to_string(k) + ".bmp";
        ASSERT_EQ(exists(name), k <= written) << k;
        if (k <= written) {
          EXPECT_EQ(read_file(name), whole[k - 1]) << k;
        }
      }
      if (result == 0) break;
      EXPECT_EQ(result, seam.result);
      most_written = std::max(most_written, written);
    }
    EXPECT_LE(failing, 64U) << seam.what << ": a conversion that never succeeds";
    EXPECT_EQ(most_written, seam.last_frame - 1) << seam.what;
  }
}

}  // namespace
}  // namespace brevlo::test
