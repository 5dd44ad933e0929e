// BREVLO32 as a host sees it: names, opening, and what exists on
// disk after each kind of outcome.
#include <brevlo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "gif_writer.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

const Bytes kPixels = noise_pixels(10 * 3, 8, 31);
const Bytes kOldBmpBytes = {'o', 'l', 'd'};
Bytes valid_gif() {
  return make_gif(10, 3, kPixels);
}
Bytes expected() {
  return expected_bmp(10, 3, kPixels, test_colour_table());
}

TEST(Names, EmptyOrNullPathCreatesNothing) {
  ScratchDir dir;
  write_file(dir.path("in.gif"), valid_gif());
  const std::string gif = dir.path("in.gif");
  const std::string bmp = dir.path("out.bmp");
  EXPECT_EQ(BREVLO32("", bmp.c_str()), 30010);
  EXPECT_EQ(BREVLO32(gif.c_str(), ""), 30010);
  EXPECT_EQ(BREVLO32(nullptr, bmp.c_str()), 30010);
  EXPECT_EQ(BREVLO32(gif.c_str(), nullptr), 30010);
  EXPECT_EQ(BREVLO32(nullptr, nullptr), 30010);
  EXPECT_FALSE(exists(bmp));
}

TEST(Names, EmptyNameLeavesAnExistingOutputAlone) {
  ScratchDir dir;
  write_file(dir.path("out.bmp"), {1, 2, 3});
  EXPECT_EQ(BREVLO32("", dir.path("out.bmp").c_str()), 30010);
  EXPECT_EQ(read_file(dir.path("out.bmp")), (Bytes{1, 2, 3}));
}

TEST(Opening, MissingInputRemovesEvenAnExistingOutput) {
  ScratchDir dir;
  write_file(dir.path("out.bmp"), {1, 2, 3});
  EXPECT_EQ(BREVLO32(dir.path("missing.gif").c_str(), dir.path("out.bmp").c_str()), 30001);
  EXPECT_FALSE(exists(dir.path("out.bmp")));
}

TEST(Opening, OutputInMissingFolderOrADirectoryFails) {
  ScratchDir dir;
  write_file(dir.path("in.gif"), valid_gif());
  EXPECT_EQ(BREVLO32(dir.path("in.gif").c_str(), dir.path("no/such/out.bmp").c_str()), 30001);
  std::filesystem::create_directory(dir.path("folder"));
  EXPECT_EQ(BREVLO32(dir.path("in.gif").c_str(), dir.path("folder").c_str()), 30001);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path("folder")));
  EXPECT_EQ(read_file(dir.path("in.gif")), valid_gif());
}

TEST(Opening, DirectoryAsInputCannotBeOpened) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.path("folder.gif"));
  EXPECT_EQ(BREVLO32(dir.path("folder.gif").c_str(), dir.path("out.bmp").c_str()), 30001);
  EXPECT_FALSE(exists(dir.path("out.bmp")));
}

TEST(Opening, ExistingOutputIsReplaced) {
  ScratchDir dir;
  write_file(dir.path("out.bmp"), Bytes(50000, 0xFF));
  ASSERT_EQ(convert_bytes(dir, valid_gif()), 0);
  EXPECT_EQ(read_file(dir.path("out.bmp")), expected());
}

TEST(Opening, ConvertsAFileOpenForReadingElsewhere) {
  ScratchDir dir;
  write_file(dir.path("in.gif"), valid_gif());
  FILE* held = std::fopen(dir.path("in.gif").c_str(), "rb");
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(BREVLO32(dir.path("in.gif").c_str(), dir.path("out.bmp").c_str()), 0);
  std::fclose(held);
}

TEST(SameFile, OutputNamingTheInputIsRefusedAndTheInputKept) {
  ScratchDir dir;
  const std::string gif = dir.path("in.gif");
  write_file(gif, valid_gif());
  ASSERT_EQ(::link(gif.c_str(), dir.path("hard.gif").c_str()), 0);
  ASSERT_EQ(::symlink(gif.c_str(), dir.path("soft.gif").c_str()), 0);
  for (const std::string& output :
       {gif, dir.path("./in.gif"), dir.path("hard.gif"), dir.path("soft.gif")}) {
    EXPECT_EQ(BREVLO32(gif.c_str(), output.c_str()), 30001) << output;
    EXPECT_EQ(read_file(gif), valid_gif()) << output;
    EXPECT_TRUE(exists(output)) << output;
  }
  // The other way round: the input named through a link.
  EXPECT_EQ(BREVLO32(dir.path("soft.gif").c_str(), gif.c_str()), 30001);
  EXPECT_EQ(read_file(gif), valid_gif());
}

// The output path turned into a link to the input at the worst moment: after
// the input was opened, just before the output is. The open output is then
// the input itself and is refused before a byte of it changes.
std::string swap_target;  // the input, which the swapped-in link leads to

void swap_in_link_to_input(const char* output) {
  ::unlink(output);
  if (::symlink(swap_target.c_str(), output) != 0) std::abort();
}

TEST(SameFile, LinkSwappedInJustBeforeTheOutputOpensIsRefused) {
  ScratchDir dir;
  swap_target = dir.path("in.gif");
  write_file(swap_target, valid_gif());
  write_file(dir.path("out.bmp"), {1, 2, 3});
  platform::fault_injection::before_next_output_open(swap_in_link_to_input);
  EXPECT_EQ(BREVLO32(swap_target.c_str(), dir.path("out.bmp").c_str()), 30001);
  platform::fault_injection::before_next_output_open(nullptr);
  EXPECT_EQ(read_file(swap_target), valid_gif());
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path("out.bmp")));
}

// A GIF the caller may write but not read, named as its own output: it cannot
// be opened, so the refusal goes by its path, and it is never truncated. Root
// reads any file, so as root the call runs as an unprivileged user.
TEST(SameFile, UnreadableInputNamedAsTheOutputIsKept) {
  ScratchDir dir;
  const std::string gif = dir.path("in.gif");
  write_file(gif, valid_gif());
  ASSERT_EQ(::chmod(gif.c_str(), 0222), 0);
  ASSERT_EQ(::chmod(dir.path("").c_str(), 0777), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(2);
    ::_exit(BREVLO32(gif.c_str(), gif.c_str()) == 30001 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_EQ(::chmod(gif.c_str(), 0644), 0);
  EXPECT_EQ(read_file(gif), valid_gif());
}

// Refused (30011) only after the whole BMP was written.
Bytes gif_without_trailer() {
  Bytes cut = valid_gif();
  cut.pop_back();
  return cut;
}

TEST(Cleanup, DeviceIsWrittenButNeverDeleted) {
  ScratchDir dir;
  const std::string null_device = dir.path("null");
  if (std::string why = make_device(null_device, 1, 3); !why.empty()) GTEST_SKIP() << why;
  for (const Bytes& gif : {valid_gif(), gif_without_trailer()}) {
    const int result = convert_bytes(dir, gif, null_device);
    EXPECT_EQ(result, gif == valid_gif() ? 0 : 30011);
    struct stat info {};
    ASSERT_EQ(::stat(null_device.c_str(), &info), 0) << result;
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << result;
  }
}

// The output named through links. A success writes the file the name leads
// to; a failure leaves no file holding the bytes written. A file with another
// hard link keeps that name, emptied; a symbolic link is never removed, nor
// any file or link it leads to, which is left empty. The chain and the
// process's own descriptor link stand for /dev/stdout redirected to a log.
TEST(Cleanup, LinksKeepNoBytesOfAFailure) {
  enum class Link { kSymbolic, kDangling, kHard, kChain, kDescriptor };
  struct Case {
    const char* what;
    Link link;
    bool succeeds;
  };
  const Case cases[] = {
      {"symbolic link to a file, success", Link::kSymbolic, true},
      {"symbolic link to a file, failure", Link::kSymbolic, false},
      {"dangling symbolic link, success", Link::kDangling, true},
      {"dangling symbolic link, failure", Link::kDangling, false},
      {"second hard link, success", Link::kHard, true},
      {"second hard link, failure", Link::kHard, false},
      {"chain of links to a log, failure", Link::kChain, false},
      {"the descriptor link of an open log, failure", Link::kDescriptor, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    std::string out = dir.path("out.bmp");
    const std::string other = dir.path("other.bmp");  // the target or the other link
    if (c.link != Link::kDangling) write_file(other, {1, 2, 3});
    int log = -1;
    switch (c.link) {
      case Link::kHard:
        ASSERT_EQ(::link(other.c_str(), out.c_str()), 0);
        break;
      case Link::kChain:
        ASSERT_EQ(::symlink("other.bmp", dir.path("middle").c_str()), 0);
        ASSERT_EQ(::symlink("middle", out.c_str()), 0);
        break;
      case Link::kDescriptor:
        log = ::open(other.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        ASSERT_GE(log, 0);
        out = "/proc/self/fd/" + std::to_string(log);
        break;
      default:
        ASSERT_EQ(::symlink("other.bmp", out.c_str()), 0);
    }
    EXPECT_EQ(convert_bytes(dir, c.succeeds ? valid_gif() : gif_without_trailer(), out),
              c.succeeds ? 0 : 30011);
    if (c.succeeds) {
      EXPECT_EQ(std::filesystem::is_symlink(out), c.link != Link::kHard);
      EXPECT_EQ(read_file(out), expected());
      EXPECT_EQ(read_file(other), expected());
      continue;
    }
    EXPECT_EQ(exists(out), c.link != Link::kHard) << "only a name that is the file goes";
    if (log >= 0) ::close(log);
    EXPECT_TRUE(exists(other));
    EXPECT_EQ(read_file(other), Bytes{});
    if (c.link == Link::kChain) {
      EXPECT_TRUE(std::filesystem::is_symlink(dir.path("middle")));
    }
  }
}

// A file put at the output path by someone else while the call ran is not the
// file it wrote, and is left alone; so is a link turned to another file.
TEST(Cleanup, OnlyTheFileWrittenIsRemoved) {
  for (bool through_link : {false, true}) {
    SCOPED_TRACE(through_link ? "symbolic link" : "plain name");
    ScratchDir dir;
    const std::string out = dir.path("out.bmp");
    if (through_link) {
      ASSERT_EQ(::symlink("written.bmp", out.c_str()), 0);
    }
    const platform::FileHandle file = platform::open_for_writing(out.c_str());
    ASSERT_NE(file, platform::kNoFile);
    const platform::FileIdentity written = platform::identify(file);
    ASSERT_TRUE(platform::close(file));
    write_file(dir.path("newcomer.bmp"), {7, 7});
    if (through_link) {
      ASSERT_EQ(::symlink("newcomer.bmp", dir.path("new-link").c_str()), 0);
      std::filesystem::rename(dir.path("new-link"), out);
    } else {
      std::filesystem::rename(dir.path("newcomer.bmp"), out);
    }
    platform::remove_written(written, out.c_str());
    EXPECT_EQ(read_file(out), (Bytes{7, 7}));
  }
}

// brevlo_convert_frames: a screen of three frames, the first all global
// indices over the whole screen, the last with a local table.
constexpr std::uint16_t kScreenWidth = 10;
constexpr std::uint16_t kScreenHeight = 8;
const Bytes kFirstFrame = noise_pixels(kScreenWidth * kScreenHeight, 8, 61);

std::vector<FrameParts> three_frames() {
  const FrameParts first = frame_at(0, 0, kScreenWidth, kScreenHeight, kFirstFrame);
  FrameParts second = frame_at(2, 2, 4, 4, noise_pixels(16, 8, 62));
  second.disposal = 2;
  second.transparent = 7;
  FrameParts third = frame_at(4, 4, 5, 3, noise_pixels(15, 2, 63));
  third.disposal = 3;
  third.local_table = Bytes(12, 0x40);
  return {first, second, third};
}

// The animation's bytes, with the header and blocks as one.
Bytes animation(const std::vector<FrameParts>& frames, bool trailer = true) {
  return animation_gif(kScreenWidth, kScreenHeight, frames, trailer);
}

// The animation cut `into` bytes into the block of frame k (1 = the first).
Bytes cut_inside_frame(std::size_t k, std::size_t into) {
  const std::vector<FrameParts> frames = three_frames();
  const std::vector<FrameParts> before(frames.begin(), frames.begin() + static_cast<long>(k - 1));
  Bytes gif = animation(frames);
  gif.resize(animation(before, false).size() + into);
  return gif;
}

// Frame 2's first code made one past the table: its data is corrupt.
Bytes corrupt_frame_2() {
  const std::vector<FrameParts> frames = three_frames();
  Bytes gif = animation(frames);
  // Its extension, descriptor, code size and first sub-block's length come first.
  const std::size_t data = animation({frames[0]}, false).size() + 8 + 10 + 1 + 1;
  gif[data] = gif[data + 1] = 0xFF;
  return gif;
}

Bytes interlaced_frame_2() {
  std::vector<FrameParts> frames = three_frames();
  frames[1].interlaced = true;
  return animation(frames);
}

Bytes corrupt_frame_1() {
  std::vector<FrameParts> frames = three_frames();
  frames.resize(1);
  Bytes gif = animation(frames);
  gif[13 + 768 + 8 + 10 + 1 + 1] = 0xFF;
  gif[13 + 768 + 8 + 10 + 1 + 2] = 0xFF;
  return gif;
}

// The frames before a failure keep their files, whole; no file is made for
// the frame that failed or any after it, and files of frames never reached
// are not touched. Each frame file is opened, compared with the input,
// emptied and, after a failure, removed as BREVLO32's output is.
TEST(Frames, EachFrameFileAsBrevlo32WritesItsOutput) {
  enum class Setup { kNone, kOldFiles, kInputIsFrame2, kFolderAtFrame2, kLinkAtFrame1 };
  struct Case {
    const char* what;
    Bytes gif;
    std::uint32_t flags;
    Setup setup;
    int result;
    std::uint32_t written;
  };
  const Case cases[] = {
      {"three frames", animation(three_frames()), 0, Setup::kNone, 0, 3},
      {"strict: three frames", animation(three_frames()), BREVLO_STRICT, Setup::kNone, 0, 3},
      {"no trailer", animation(three_frames(), false), 0, Setup::kNone, 0, 3},
      {"strict: no trailer, after every frame", animation(three_frames(), false), BREVLO_STRICT,
       Setup::kNone, ERR_EARLY_END, 3},
      {"cut short inside frame 3's data", cut_inside_frame(3, 36), 0, Setup::kNone, ERR_BAD_GIF, 2},
      {"cut short inside frame 2's descriptor", cut_inside_frame(2, 13), 0, Setup::kNone,
       ERR_EARLY_END, 1},
      {"corrupt data in frame 2", corrupt_frame_2(), 0, Setup::kNone, ERR_BAD_GIF, 1},
      {"interlaced frame 2", interlaced_frame_2(), 0, Setup::kNone, 0, 3},
      {"strict: interlaced frame 2", interlaced_frame_2(), BREVLO_STRICT, Setup::kNone,
       ERR_UNSUPPORTED, 1},
      {"corrupt data in frame 1, old frame files", corrupt_frame_1(), 0, Setup::kOldFiles,
       ERR_BAD_GIF, 0},
      {"a screen past the canvas limit", animation_gif(65535, 65535, {three_frames()[1]}), 0,
       Setup::kNone, ERR_NO_MEMORY, 0},
      {"old frame files: replaced, those past the last frame kept", animation(three_frames()), 0,
       Setup::kOldFiles, 0, 3},
      {"frame 2's name is the input", animation(three_frames()), 0, Setup::kInputIsFrame2,
       ERR_OPEN_FAILED, 1},
      {"frame 2's name is a folder", animation(three_frames()), 0, Setup::kFolderAtFrame2,
       ERR_OPEN_FAILED, 1},
      {"frame 1's name is a link to another file", animation(three_frames()), 0,
       Setup::kLinkAtFrame1, 0, 3},
  };
  const Bytes first_frame =
      expected_bmp(kScreenWidth, kScreenHeight, kFirstFrame, test_colour_table());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string prefix = dir.path("a");
    auto frame = [&](int k) { return prefix + "-00" + std::to_string(k) + ".bmp"; };
    const std::string gif = c.setup == Setup::kInputIsFrame2 ? frame(2) : dir.path("in.gif");
    write_file(gif, c.gif);
    if (c.setup == Setup::kOldFiles)
      for (int k = 1; k <= 5; ++k) write_file(frame(k), kOldBmpBytes);
    if (c.setup == Setup::kFolderAtFrame2) std::filesystem::create_directory(frame(2));
    if (c.setup == Setup::kLinkAtFrame1) {
      ASSERT_EQ(::symlink("other.bmp", frame(1).c_str()), 0);
    }
    std::uint32_t written = 99;
    EXPECT_EQ(brevlo_convert_frames(gif.c_str(), prefix.c_str(), c.flags, &written), c.result);
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(read_file(gif), c.gif);
    if (c.written > 0) {
      EXPECT_EQ(read_file(frame(1)), first_frame);
    }
    for (int k = 1; k <= 5; ++k) {
      SCOPED_TRACE(k);
      const bool written_now = k <= static_cast<int>(c.written);
      const bool old = c.setup == Setup::kOldFiles && !written_now;
      const bool other =
          (c.setup == Setup::kInputIsFrame2 || c.setup == Setup::kFolderAtFrame2) && k == 2;
      EXPECT_EQ(exists(frame(k)), written_now || old || other);
      if (old) {
        EXPECT_EQ(read_file(frame(k)), kOldBmpBytes);
      }
    }
    if (c.setup == Setup::kLinkAtFrame1) {
      EXPECT_TRUE(std::filesystem::is_symlink(frame(1)));
      EXPECT_EQ(read_file(dir.path("other.bmp")), first_frame);
    }
  }
}

TEST(Frames, NamesAndInputsRefusedBeforeAnyFrame) {
  ScratchDir dir;
  const std::string gif = dir.path("in.gif");
  write_file(gif, animation(three_frames()));
  const std::string prefix = dir.path("a");
  std::uint32_t written = 99;
  EXPECT_EQ(brevlo_convert_frames(gif.c_str(), "", 0, &written), ERR_EMPTY_NAME);
  EXPECT_EQ(written, 0U);
  EXPECT_EQ(brevlo_convert_frames(nullptr, prefix.c_str(), 0, &written), ERR_EMPTY_NAME);
  EXPECT_EQ(brevlo_convert_frames(dir.path("missing.gif").c_str(), prefix.c_str(), 0, &written),
            ERR_OPEN_FAILED);
  EXPECT_EQ(brevlo_convert_frames(gif.c_str(), prefix.c_str(), 0, nullptr), 0);
  EXPECT_TRUE(exists(prefix + "-003.bmp"));
}

TEST(Info, LengthThenCopyProtocol) {
  const int32_t length = BREVLOInfo(nullptr, 0);
  ASSERT_GT(length, 40);
  EXPECT_EQ(BREVLOInfo(nullptr, length + 100), length);
  for (int32_t size : {0, -1, INT32_MIN, length - 1}) {
    std::string buffer(static_cast<std::size_t>(length + 4), '#');
    EXPECT_EQ(BREVLOInfo(buffer.data(), size), length) << size;
    EXPECT_EQ(buffer, std::string(static_cast<std::size_t>(length + 4), '#')) << size;
  }
  std::string exact(static_cast<std::size_t>(length) + 1, '#');
  ASSERT_EQ(BREVLOInfo(exact.data(), length), 0);
  EXPECT_EQ(exact.back(), '#');  // no terminator written past the text
  std::string padded(static_cast<std::size_t>(length) + 11, '#');
  ASSERT_EQ(BREVLOInfo(padded.data(), length + 10), 0);
  EXPECT_EQ(padded.substr(0, static_cast<std::size_t>(length)),
            exact.substr(0, static_cast<std::size_t>(length)));
  EXPECT_EQ(padded.substr(static_cast<std::size_t>(length)), std::string(10, ' ') + "#");
}

TEST(Info, TextIsOneLineOfSentencesSeparatedByTwoSpaces) {
  std::string text(static_cast<std::size_t>(BREVLOInfo(nullptr, 0)), ' ');
  ASSERT_EQ(BREVLOInfo(text.data(), static_cast<int32_t>(text.size())), 0);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_NE(text.find(".  "), std::string::npos);
  EXPECT_EQ(text.find(".   "), std::string::npos);
  EXPECT_EQ(text.back(), '.');
  for (char c : text) EXPECT_TRUE(c >= 0x20 && c < 0x7F);
}

}  // namespace
}  // namespace brevlo::test
