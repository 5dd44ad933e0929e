// Failures the operating system can cause in the middle of a conversion: writes
// that stop at a file-size limit or on a full device, and working memory that
// cannot be had. Each must give its result code, leave no output and hold on to
// no memory.
#include <brevlo.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

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

// Converts in a child process whose files may not grow past limit bytes (the
// signal that would end it is ignored, so the write fails with EFBIG).
// Returns the result code; -1 when the child broke down, -2 when it still held
// working memory.
int convert_with_size_limit(const std::string& in, const std::string& out, rlim_t limit) {
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit cap{limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &cap) != 0) ::_exit(255);
    fault_injection::fail_obtain_number(0);
    const int result = BREVLO32(in.c_str(), out.c_str());
    const fault_injection::MemoryCounts counts = fault_injection::memory_counts();
    if (counts.obtained != counts.released) ::_exit(kMemoryHeld);
    ::_exit(result == 0 ? 0 : result - 30000);  // fits an exit status
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  const int code = WEXITSTATUS(status);
  if (code == kMemoryHeld) return -2;
  return code == 0 ? 0 : code == 255 ? -1 : 30000 + code;
}

TEST(WriteFailure, FileSizeLimitAnywhereInTheOutputGives30001) {
  ScratchDir dir;
  struct Case {
    const char* what;
    Bytes gif;
    rlim_t limit;
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
    EXPECT_EQ(convert_with_size_limit(dir.path("in.gif"), out, c.limit), c.result);
    EXPECT_EQ(exists(out), c.result == BREVLO_SUCCESS);
    if (c.result == BREVLO_SUCCESS) {
      EXPECT_EQ(std::filesystem::file_size(out), kBmpSize);
    }
    std::filesystem::remove(out);
  }
}

TEST(WriteFailure, DeviceThatIsAlwaysFullGives30001AndStays) {
  ScratchDir dir;
  write_file(dir.path("in.gif"), picture());
  EXPECT_EQ(BREVLO32(dir.path("in.gif").c_str(), "/dev/full"), ERR_OPEN_FAILED);
  struct stat info {};
  ASSERT_EQ(::stat("/dev/full", &info), 0) << "the device itself must never be deleted";
  EXPECT_TRUE(S_ISCHR(info.st_mode));
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

// The decoder obtains its working memory as two blocks per image: the code
// table and the row batch. Failing each in turn must give 30003 with every
// block already held released; a third obtain never comes.
constexpr std::uint64_t kBlocksPerImage = 2;

TEST(MemoryFailure, EachBlockThatCannotBeHadGives30003AndReleasesTheRest) {
  ScratchDir dir;
  write_file(dir.path("in.gif"), picture());
  const std::string in = dir.path("in.gif");
  const std::string out = dir.path("out.bmp");
  for (std::uint64_t failing = 1; failing <= kBlocksPerImage + 1; ++failing) {
    SCOPED_TRACE(failing);
    fault_injection::fail_obtain_number(failing);
    const int result = BREVLO32(in.c_str(), out.c_str());
    const fault_injection::MemoryCounts counts = fault_injection::memory_counts();
    fault_injection::fail_obtain_number(0);
    EXPECT_EQ(counts.obtained, counts.released);
    if (failing <= kBlocksPerImage) {
      EXPECT_EQ(result, ERR_NO_MEMORY);
      EXPECT_EQ(counts.obtained, failing - 1);
      EXPECT_EQ(counts.refused, 1U);
      EXPECT_FALSE(exists(out));
    } else {
      EXPECT_EQ(result, BREVLO_SUCCESS);
      EXPECT_EQ(counts.obtained, kBlocksPerImage);
      EXPECT_EQ(counts.refused, 0U);
    }
  }
}

TEST(MemoryFailure, EveryExitOfTheDecoderReleasesItsBlocks) {
  // Success, corrupt data and a bad code size (write failures: see above).
  Bytes corrupt = picture();
  corrupt[corrupt.size() - 40] ^= 0xFF;
  GifParts bad_code_size;
  bad_code_size.code_size = 12;
  bad_code_size.data = sub_blocks(pack_codes(with_widths({256, 0, 257}, 8)), 255);
  ScratchDir dir;
  for (const Bytes& gif : {picture(), corrupt, assemble(bad_code_size)}) {
    write_file(dir.path("in.gif"), gif);
    fault_injection::fail_obtain_number(0);
    const int result = BREVLO32(dir.path("in.gif").c_str(), dir.path("out.bmp").c_str());
    const fault_injection::MemoryCounts counts = fault_injection::memory_counts();
    SCOPED_TRACE(result);
    EXPECT_EQ(counts.obtained, kBlocksPerImage);
    EXPECT_EQ(counts.released, kBlocksPerImage);
  }
}

}  // namespace
}  // namespace brevlo::test
