// The installed brevlo command as people use it: its options, what it writes,
// what it refuses to touch, what it says, and how it exits.
#include <brevlo.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "gif_writer.h"
#include "run_command.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

struct Picture {
  Bytes gif;
  Bytes bmp;
};

Picture picture(int width, int height, std::uint32_t seed) {
  Bytes pixels = noise_pixels(width * height, 8, seed);
  return {make_gif(width, height, pixels),
          expected_bmp(width, height, pixels, test_colour_table())};
}

const Picture kPicture = picture(13, 7, 5);
const Bytes kOldBmp = {'o', 'l', 'd'};

Bytes bytes_of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

std::string root(const ScratchDir& dir) {
  return dir.path("");
}

std::size_t entries(const std::string& folder) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

TEST(Informational, HelpVersionAndInfoPrintOnStandardOutput) {
  ScratchDir dir;
  for (const char* help : {"--help", "-h"}) {
    CommandRun run = run_brevlo({help, "missing.gif"}, root(dir));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind("usage: brevlo [OPTIONS] FILE.gif...\n", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\nExamples:\n"), std::string::npos);
  }
  CommandRun version = run_brevlo({"--version"}, root(dir));
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "brevlo " BREVLO_PROJECT_VERSION "\n");

  std::string info(static_cast<std::size_t>(BREVLOInfo(nullptr, 0)), ' ');
  ASSERT_EQ(BREVLOInfo(info.data(), static_cast<int32_t>(info.size())), 0);
  CommandRun shown = run_brevlo({"--info"}, root(dir));
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(shown.out, info + "\n");
  EXPECT_EQ(entries(root(dir)), 0u);
}

TEST(UsageErrors, ExitTwoWithAHintAndTouchNothing) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{}, "no GIF file given"},
      {{"--bogus", "in.gif"}, "unknown option '--bogus'"},
      {{"-qx", "in.gif"}, "unknown option '-x'"},
      {{"in.gif", "-j"}, "option '-j' needs a value"},
      {{"-j", "0", "in.gif"}, "-j needs a number of jobs from 1 to 1024, not '0'"},
      {{"-jmany", "in.gif"}, "-j needs a number of jobs from 1 to 1024, not 'many'"},
      {{"--jobs=1025", "in.gif"}, "-j needs a number of jobs from 1 to 1024, not '1025'"},
      {{"in.gif", "--output-dir"}, "option '--output-dir' needs a value"},
      {{"-o", "in.gif", "in.gif", "b.gif"}, "'in.gif' is not a folder"},
      {{"-r", "-o", "in.gif", "in.gif"}, "'in.gif' is not a folder"},
      {{"-o", "", "in.gif"}, "the output name given with -o is empty"},
      {{"--output=", "in.gif"}, "the output name given with -o is empty"},
      {{"-"}, "standard input (-) needs an output file: -o FILE, or -o - for standard output"},
      {{"-o", "dir/", "-"},
       "standard input (-) needs an output file: -o FILE, or -o - for standard output"},
      {{"-o", "x.bmp", "-", "-"}, "standard input (-) can be read only once"},
      {{"-o", "-", "in.gif", "in.gif"},
       "-o - writes one BMP to standard output: give one input and no -r"},
      {{"-r", "-o", "-", "in.gif"},
       "-o - writes one BMP to standard output: give one input and no -r"},
      {{"-j\x1b[2J", "in.gif"}, "-j needs a number of jobs from 1 to 1024, not '\\x1b[2J'"},
      {{"--force=yes", "in.gif"}, "option '--force' takes no value"},
      {{"--verb", "in.gif"}, "unknown option '--verb'"},
      {{"in.gif", "--out"}, "unknown option '--out'"},
      {{"-vj", "in.gif"}, "-j needs a number of jobs from 1 to 1024, not 'in.gif'"},
      {{"--files-from", "-", "-", "-o", "x.bmp"},
       "standard input (-) cannot be both the list of names (--files-from -) and an input"},
      {{"--files-from", "names", "-"},
       "standard input (-) needs an output file: -o FILE, or -o - for standard output"},
      {{"-0", "in.gif"}, "--null (-0) separates the names of a list: give one with --files-from"},
      {{"--files-from=names", "--files-from", "more"}, "--files-from can be given once"},
      {{"--files-from="}, "the list name given with --files-from is empty"},
      {{"-o", "-", "--files-from", "names"},
       "-o - writes one BMP to standard output, and a list may hold many: name a folder with -o"},
      {{"--files-from", "names", "-o", "in.gif"}, "'in.gif' is not a folder"},
      {{"--frames", "-o", "-", "in.gif"},
       "--frames writes a file for each frame: it cannot write to standard output (-o -)"},
      {{"--frames", "--strict", "in.gif"},
       "--frames and --strict do not go together: --strict checks the first image as the "
       "library's BREVLO32 converts it"},
      {{"--frames", "-"},
       "--frames reads standard input (-) only as the one input, with -o NAME naming its frames "
       "NAME-001.bmp, NAME-002.bmp, ..."},
      {{"--frames", "-o", "dir/", "-"},
       "--frames reads standard input (-) only as the one input, with -o NAME naming its frames "
       "NAME-001.bmp, NAME-002.bmp, ..."},
      {{"--frames=all", "in.gif"}, "option '--frames' takes no value"},
      {{"--frames", "--files-from", "names", "-", "-o", "x"},
       "--frames reads standard input (-) only as the one input, with -o NAME naming its frames "
       "NAME-001.bmp, NAME-002.bmp, ..."},
      {{"--frames", "--files-from", "-", "-o", "x", "-"},
       "standard input (-) cannot be both the list of names (--files-from -) and an input"},
  };
  for (const auto& [args, error] : cases) {
    SCOPED_TRACE(error);
    ScratchDir dir;
    write_file(dir.path("in.gif"), kPicture.gif);
    CommandRun run = run_brevlo(args, root(dir));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "brevlo: " + error + "\nTry 'brevlo --help' for more information.\n");
    EXPECT_EQ(entries(root(dir)), 1u);
  }
  ScratchDir dir;
  write_file(dir.path("in.gif"), kPicture.gif);
  CommandRun run = run_brevlo_on_terminal({"-o", "-", "in.gif"}, root(dir));
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err.rfind("brevlo: standard output is a terminal: redirect it, or name a file with "
                          "-o\r\n",
                          0),
            0u)
      << run.err;
}

TEST(Naming, OneFileGoesBesideItsInputOrWhereTheSecondNameSays) {
  struct Case {
    Args args;
    std::string input;
    std::string output;
  };
  const std::vector<Case> cases = {
      {{"photo.gif"}, "photo.gif", "photo.bmp"},
      {{"PHOTO.GIF"}, "PHOTO.GIF", "PHOTO.bmp"},
      {{"photo"}, "photo", "photo.bmp"},
      {{"photo.png"}, "photo.png", "photo.png.bmp"},
      {{"photo.gif.bak"}, "photo.gif.bak", "photo.gif.bak.bmp"},
      {{"--", "-dash.gif"}, "-dash.gif", "-dash.bmp"},
      {{"sub/photo.gif"}, "sub/photo.gif", "sub/photo.bmp"},
      {{"in.gif", "OUT.BMP"}, "in.gif", "OUT.BMP"},
      {{"in.gif", "sub/out.bmp"}, "in.gif", "sub/out.bmp"},
      {{"-o", "sub", "in.gif"}, "in.gif", "sub/in.bmp"},
      {{"-o", "picture", "in.gif"}, "in.gif", "picture"},
      {{"in.gif", "--output=sub/x.png"}, "in.gif", "sub/x.png"},
      {{"-o", "sub/", "in.gif"}, "in.gif", "sub/in.bmp"},
      {{"-o", "new/deeper/", "in.gif"}, "in.gif", "new/deeper/in.bmp"},
      {{"-o", "sub/x.gif", "photo.gif"}, "photo.gif", "sub/x.gif"},
      {{"-o", "sub", "-r", "photo.gif"}, "photo.gif", "sub/photo.bmp"},
      {{"-qosub", "in.gif"}, "in.gif", "sub/in.bmp"},
      {{"--output", "sub/x.png", "in.gif"}, "in.gif", "sub/x.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    ScratchDir dir;
    fs::create_directory(dir.path("sub"));
    write_file(dir.path(c.input), kPicture.gif);
    CommandRun run = run_brevlo(c.args, root(dir));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(read_file(dir.path(c.output)), kPicture.bmp);
    // The input, the output and sub/: nothing else was written.
    EXPECT_EQ(entries(root(dir)) + entries(dir.path("sub")), 3u);
  }
}

TEST(Naming, TwoBmpNamesAreTwoInputs) {
  ScratchDir dir;
  write_file(dir.path("a.bmp"), kPicture.gif);
  write_file(dir.path("b.bmp"), kPicture.gif);
  CommandRun run = run_brevlo({"a.bmp", "b.bmp"}, root(dir));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "2 converted, 0 failed\n");
  EXPECT_EQ(read_file(dir.path("a.bmp.bmp")), kPicture.bmp);
  EXPECT_EQ(read_file(dir.path("b.bmp.bmp")), kPicture.bmp);
}

// Without --force an existing output stays as it was, whether it was there
// when the run started or appeared just before the BMP would take its name.
TEST(Overwriting, AnExistingOutputIsKeptWithoutForce) {
  struct Case {
    Args args;
    std::string output;
    bool appears_meanwhile;
  };
  const std::vector<Case> cases = {
      {{"in.gif", "out.bmp"}, "out.bmp", false},
      {{"in.gif"}, "in.bmp", false},
      {{"in.gif", "out.bmp"}, "out.bmp", true},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    write_file(dir.path("in.gif"), kPicture.gif);
    if (!c.appears_meanwhile) write_file(dir.path(c.output), kOldBmp);
    CommandRun run = run_brevlo_stopping(c.args, root(dir), [&](int) {
      if (c.appears_meanwhile) write_file(dir.path(c.output), kOldBmp);
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "in.gif: not converted: " + c.output +
                           " already exists (use --force to replace it, or -n to skip it)\n");
    EXPECT_EQ(read_file(dir.path(c.output)), kOldBmp);
    EXPECT_EQ(entries(root(dir)), 2u);
  }
}

TEST(Overwriting, SkipExistingLeavesOutputsAloneAndCountsThem) {
  ScratchDir dir;
  for (const char* name : {"a.gif", "b.gif", "c.gif"}) write_file(dir.path(name), kPicture.gif);
  fs::create_directory(dir.path("out"));
  write_file(dir.path("out/b.bmp"), kOldBmp);
  struct Case {
    Args args;
    int status;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"-n", "-o", "out", "a.gif", "b.gif"}, 0, "", "1 converted, 1 skipped, 0 failed\n"},
      {{"--skip-existing", "-v", "-o", "out", "a.gif", "b.gif", "c.gif", "bad.gif"},
       1,
       "a.gif: skipped: out/a.bmp already exists\n"
       "b.gif: skipped: out/b.bmp already exists\n"
       "c.gif -> out/c.bmp (13 \u00d7 7)\n",
       "bad.gif: cannot open it: No such file or directory (30001)\n"
       "1 converted, 2 skipped, 1 failed\n"},
      {{"-n", "-o", "out/b.bmp", "a.gif"}, 0, "", ""},
      {{"-n", "-q", "-o", "out", "a.gif", "b.gif", "c.gif"}, 0, "", ""},
  };
  for (const Case& c : cases) {
    CommandRun run = run_brevlo(c.args, root(dir));
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(read_file(dir.path("out/b.bmp")), kOldBmp);
  }
  EXPECT_EQ(read_file(dir.path("out/c.bmp")), kPicture.bmp);
  EXPECT_EQ(entries(dir.path("out")), 3u);
}

TEST(Overwriting, ForceReplacesKeepingModeAndLinksAndLeavesNothingElse) {
  struct Case {
    const char* force;
    fs::perms mode;
    std::string link_to;  // out.bmp is a link to this name in the folder; "": a file
  };
  const std::vector<Case> cases = {
      {"--force", fs::perms::owner_read | fs::perms::owner_write, ""},
      {"-f", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read, ""},
      {"-f", fs::perms::owner_read | fs::perms::owner_write, "real.bmp"},
      {"-f", fs::perms::owner_read | fs::perms::owner_write, "step.bmp"},  // a link to a link
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    write_file(dir.path("in.gif"), kPicture.gif);
    const std::string target = dir.path(c.link_to.empty() ? "out.bmp" : "real.bmp");
    write_file(target, Bytes(5000, 0xEE));
    fs::permissions(target, c.mode);
    if (c.link_to == "step.bmp") fs::create_symlink("real.bmp", dir.path("step.bmp"));
    if (!c.link_to.empty()) fs::create_symlink(c.link_to, dir.path("out.bmp"));
    // The new file takes a hidden name only once complete and checked: none
    // is there yet when the command stops just before the check.
    const std::size_t before = entries(root(dir));
    CommandRun run = run_brevlo_stopping({c.force, "in.gif", "out.bmp"}, root(dir),
                                         [&](int) { EXPECT_EQ(entries(root(dir)), before); });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(read_file(target), kPicture.bmp);
    EXPECT_EQ(fs::status(target).permissions(), c.mode);
    EXPECT_EQ(fs::is_symlink(dir.path("out.bmp")), !c.link_to.empty());
    EXPECT_EQ(entries(root(dir)), c.link_to.empty() ? 2u : c.link_to == "step.bmp" ? 4u : 3u);
  }
  // A link to a name not there yet leads the new file to that name.
  ScratchDir dir;
  write_file(dir.path("in.gif"), kPicture.gif);
  fs::create_directory(dir.path("keep"));
  fs::create_symlink("keep/new.bmp", dir.path("out.bmp"));
  CommandRun run = run_brevlo({"in.gif", "out.bmp"}, root(dir));
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(fs::is_symlink(dir.path("out.bmp")));
  EXPECT_EQ(read_file(dir.path("keep/new.bmp")), kPicture.bmp);
  // A file put at the output after the run was planned is replaced too (kept
  // without --force: see AnExistingOutputIsKeptWithoutForce).
  ScratchDir later;
  write_file(later.path("in.gif"), kPicture.gif);
  run = run_brevlo_stopping({"-f", "in.gif", "out.bmp"}, root(later),
                            [&](int) { write_file(later.path("out.bmp"), kOldBmp); });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read_file(later.path("out.bmp")), kPicture.bmp);
  EXPECT_EQ(entries(root(later)), 2u);
}

TEST(Overwriting, ForceKeepsTheOldFileWhenTheConversionFails) {
  Bytes cut = kPicture.gif;
  cut.resize(cut.size() - 4);
  for (const Bytes& input : {Bytes{}, bytes_of("not a picture"), cut}) {
    ScratchDir dir;
    if (!input.empty()) write_file(dir.path("in.gif"), input);
    write_file(dir.path("out.bmp"), kOldBmp);
    CommandRun run = run_brevlo({"--force", "in.gif", "out.bmp"}, root(dir));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(dir.path("out.bmp")), kOldBmp);
    EXPECT_EQ(entries(root(dir)), input.empty() ? 1u : 2u);
  }
}

// Character devices like the system's null and full devices, made in dir;
// false when this process may not make device nodes.
bool make_devices(const ScratchDir& dir) {
  constexpr unsigned kMemoryMajor = 1;
  constexpr unsigned kNullMinor = 3;
  constexpr unsigned kFullMinor = 7;
  return ::mknod(dir.path("null").c_str(), S_IFCHR | 0666, makedev(kMemoryMajor, kNullMinor)) ==
             0 &&
         ::mknod(dir.path("full").c_str(), S_IFCHR | 0666, makedev(kMemoryMajor, kFullMinor)) == 0;
}

TEST(Devices, AreWrittenInPlaceAndNeverReplacedOrRemoved) {
  const std::string no_space = "in.gif: cannot write out.bmp: No space left on device (30001)\n";
  const std::vector<std::tuple<Args, std::string, std::string>> cases = {
      {{"in.gif", "out.bmp"}, "null", ""},
      {{"-f", "in.gif", "out.bmp"}, "null", ""},
      {{"-n", "in.gif", "out.bmp"}, "null", ""},
      {{"in.gif", "out.bmp"}, "full", no_space},
      {{"-f", "in.gif", "out.bmp"}, "full", no_space},
      {{"-o", "full", "in.gif"},
       "",
       "in.gif: cannot write full: No space left on device (30001)\n"},
  };
  for (const auto& [args, device, error] : cases) {
    SCOPED_TRACE(device + " " + error);
    ScratchDir dir;
    if (!make_devices(dir)) GTEST_SKIP() << "making device nodes needs root";
    write_file(dir.path("in.gif"), kPicture.gif);
    if (!device.empty()) fs::create_symlink(device, dir.path("out.bmp"));
    CommandRun run = run_brevlo(args, root(dir));
    EXPECT_EQ(run.status, error.empty() ? 0 : 1);
    EXPECT_EQ(run.err, error);
    EXPECT_EQ(fs::is_symlink(dir.path("out.bmp")), !device.empty());
    EXPECT_TRUE(fs::is_character_file(dir.path("null")));
    EXPECT_TRUE(fs::is_character_file(dir.path("full")));
    EXPECT_EQ(entries(root(dir)), device.empty() ? 3u : 4u);  // no temporary file left
  }
}

// Whether an output is written in place is decided by what is opened, not by
// what the name was when the run planned it: a file put where a pipe was is an
// existing output, kept or replaced whole, never written over in place.
TEST(Devices, AFileFoundWhereAPipeWasIsAnExistingOutput) {
  const Bytes longer_than_the_bmp(kPicture.bmp.size() + 100, 'x');
  struct Case {
    Args args;
    int status;
    std::string err;
    Bytes kept;
  };
  const std::vector<Case> cases = {
      {{"-j1", "a.gif", "b.gif"},
       1,
       "b.gif: not converted: b.bmp already exists (use --force to replace it, or -n to skip "
       "it)\n1 converted, 1 failed\n",
       longer_than_the_bmp},
      {{"-j1", "-n", "a.gif", "b.gif"},
       0,
       "1 converted, 1 skipped, 0 failed\n",
       longer_than_the_bmp},
      {{"-j1", "-f", "a.gif", "b.gif"}, 0, "2 converted, 0 failed\n", kPicture.bmp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    ScratchDir dir;
    write_file(dir.path("a.gif"), kPicture.gif);
    write_file(dir.path("b.gif"), kPicture.gif);
    ASSERT_EQ(::mkfifo(dir.path("b.bmp").c_str(), 0600), 0);
    // The first stop is a.bmp's, after both outputs were looked at.
    CommandRun run = run_brevlo_stopping(c.args, root(dir), [&](int stop) {
      if (stop != 0) return;
      fs::remove(dir.path("b.bmp"));
      write_file(dir.path("b.bmp"), longer_than_the_bmp);
    });
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(read_file(dir.path("a.bmp")), kPicture.bmp);
    EXPECT_EQ(read_file(dir.path("b.bmp")), c.kept);
    EXPECT_EQ(entries(root(dir)), 4u);  // no temporary file left
  }
}

TEST(Devices, StandardOutputOnAFullDeviceIsAFailure) {
  ScratchDir dir;
  if (!make_devices(dir)) GTEST_SKIP() << "making device nodes needs root";
  write_file(dir.path("in.gif"), kPicture.gif);
  const std::string error = "brevlo: write error on standard output: No space left on device\n";
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"--help"}, error},
      {{"--version"}, error},
      {{"--info"}, error},
      {{"-v", "in.gif", "-o", "x.bmp"}, error},
      {{"-o", "-", "in.gif"},
       "in.gif: cannot write standard output: No space left on device (30001)\n"},
  };
  for (const auto& [args, expected] : cases) {
    CommandRun run = run_brevlo_piped(args, root(dir), {}, dir.path("full"));
    EXPECT_EQ(run.status, 1) << args[0];
    EXPECT_EQ(run.err, expected);
  }
}

// An output that leads to an input of the run, through a symbolic or hard
// link or as another input's own name, is never written, even with --force;
// the other inputs convert.
TEST(SameFile, AnOutputLeadingToAnInputIsRefusedEvenWithForce) {
  const std::string own = "in.gif: not converted: the output out.bmp is this input file itself\n";
  enum class Link { kNone, kSymbolic, kHard };  // what out.bmp is when the run starts
  struct Case {
    Args args;
    Link link;
    std::string err;
    std::vector<std::string> written;  // the BMP files converted
  };
  const std::vector<Case> cases = {
      {{"in.gif", "out.bmp"}, Link::kSymbolic, own, {}},
      {{"--force", "in.gif", "out.bmp"}, Link::kSymbolic, own, {}},
      {{"in.gif", "out.bmp"}, Link::kHard, own, {}},
      {{"--force", "in.gif", "out.bmp"}, Link::kHard, own, {}},
      {{"--force", "a", "b.gif", "a.bmp"},
       Link::kNone,
       "a: not converted: the output a.bmp is the input file a.bmp\n2 converted, 1 failed\n",
       {"a.bmp.bmp", "b.bmp"}},
  };
  const Args inputs = {"in.gif", "a", "a.bmp", "b.gif"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    ScratchDir dir;
    for (const std::string& name : inputs) write_file(dir.path(name), kPicture.gif);
    if (c.link == Link::kSymbolic) fs::create_symlink("in.gif", dir.path("out.bmp"));
    if (c.link == Link::kHard) fs::create_hard_link(dir.path("in.gif"), dir.path("out.bmp"));
    CommandRun run = run_brevlo(c.args, root(dir));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.err);
    for (const std::string& name : inputs) EXPECT_EQ(read_file(dir.path(name)), kPicture.gif);
    for (const std::string& bmp : c.written) EXPECT_EQ(read_file(dir.path(bmp)), kPicture.bmp);
  }
}

// What the output's name leads to is checked again at the moment the BMP
// would take it: a link to an input put there after the run was planned is
// refused, not followed, and no input is touched.
TEST(SameFile, ALinkToAnInputPutAtTheOutputMeanwhileIsRefused) {
  const std::string own = "a.gif: not converted: the output out.bmp is this input file itself\n";
  struct Case {
    Args args;
    int stop;          // the stop (one per output named) at which the link appears
    std::string link;  // becomes a link to `to`, an input
    std::string to;
    bool hard;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{"a.gif", "out.bmp"}, 0, "out.bmp", "a.gif", false, own},
      {{"a.gif", "out.bmp"}, 0, "out.bmp", "a.gif", true, own},
      {{"-f", "a.gif", "old.bmp"},
       0,
       "old.bmp",
       "a.gif",
       false,
       "a.gif: not converted: the output old.bmp is this input file itself\n"},
      {{"-f", "-j1", "a.gif", "b.gif"},
       1,
       "b.bmp",
       "b.gif",
       false,
       "b.gif: not converted: the output b.bmp is this input file itself\n1 converted, 1 failed\n"},
      {{"-j1", "a.gif", "b.gif"},
       0,
       "a.bmp",
       "b.gif",
       false,
       "a.gif: not converted: the output a.bmp is the input file b.gif\n1 converted, 1 failed\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    ScratchDir dir;
    write_file(dir.path("a.gif"), kPicture.gif);
    write_file(dir.path("b.gif"), kPicture.gif);
    write_file(dir.path("old.bmp"), kOldBmp);
    CommandRun run = run_brevlo_stopping(c.args, root(dir), [&](int stop) {
      if (stop != c.stop) return;
      fs::remove(dir.path(c.link));
      if (c.hard)
        fs::create_hard_link(dir.path(c.to), dir.path(c.link));
      else
        fs::create_symlink(c.to, dir.path(c.link));
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.error);
    EXPECT_EQ(read_file(dir.path(c.to)), kPicture.gif);
    EXPECT_EQ(fs::is_symlink(dir.path(c.link)), !c.hard);
  }
}

TEST(SameFile, OfInputsSharingAnOutputTheFirstGetsIt) {
  const Picture other = picture(5, 9, 77);
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"-o", "out", "d1/x.gif", "d2/x.gif"},
       "d2/x.gif: not converted: its output out/x.bmp is also the output of d1/x.gif\n"},
      {{"d1/x.gif", "d1/x.GIF"},
       "d1/x.GIF: not converted: its output d1/x.bmp is also the output of d1/x.gif\n"},
      {{"d1/x.gif", "./d1/../d1/x.gif"},
       "./d1/../d1/x.gif: not converted: its output ./d1/../d1/x.bmp is also the output of "
       "d1/x.gif\n"},
      // The command line comes before the list, wherever --files-from stands.
      {{"-o", "out", "d1/x.gif", "--files-from", "names"},
       "d2/x.gif: not converted: its output out/x.bmp is also the output of d1/x.gif\n"},
      {{"-o", "out", "--files-from", "names", "d1/x.gif"},
       "d2/x.gif: not converted: its output out/x.bmp is also the output of d1/x.gif\n"},
      {{"-o", "out", "-r", "--files-from", "names", "d1/x.gif"},
       "d2/x.gif: not converted: its output out/x.bmp is also the output of d1/x.gif\n"},
  };
  for (const auto& [args, error] : cases) {
    ScratchDir dir;
    write_file(dir.path("names"), bytes_of("d2/x.gif\n"));
    for (const char* folder : {"out", "d1", "d2"}) fs::create_directory(dir.path(folder));
    write_file(dir.path("d1/x.gif"), kPicture.gif);
    write_file(dir.path("d1/x.GIF"), other.gif);
    write_file(dir.path("d2/x.gif"), other.gif);
    CommandRun run = run_brevlo(args, root(dir));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, error + "1 converted, 1 failed\n");
    EXPECT_EQ(read_file(dir.path(args[0] == "-o" ? "out/x.bmp" : "d1/x.bmp")), kPicture.bmp);
  }
}

TEST(Failures, OneLineWithThePlainReasonAndTheCode) {
  GifParts no_global_table;
  no_global_table.screen_packed = 0x00;
  no_global_table.omit_global_table = true;
  no_global_table.data = sub_blocks(pack_codes(lzw_encode({7}, 8)), 255);
  GifParts small_table = no_global_table;
  small_table.screen_packed = 0xF3;
  small_table.global_table = Bytes(48, 9);
  GifParts interlaced;
  interlaced.image_packed = 0x40;
  interlaced.data = no_global_table.data;
  GifParts corrupt;
  corrupt.data = sub_blocks(pack_codes(with_widths({256, 1, 300, 257}, 8)), 255);
  GifParts no_end_code;  // one pixel, then the terminator where the end code belongs
  no_end_code.data = sub_blocks(pack_codes(with_widths({256, 7}, 8)), 255);
  GifParts code_size_9;
  code_size_9.code_size = 9;
  code_size_9.data = no_global_table.data;
  Bytes cut = kPicture.gif;
  cut.pop_back();  // the trailer
  const Bytes cut_in_descriptor(kPicture.gif.begin(), kPicture.gif.begin() + 13 + 768 + 5);

  struct Case {
    Args args;
    Bytes input;  // written to in.gif unless empty
    std::string error;
  };
  const std::vector<Case> cases = {
      {{"in.gif"}, bytes_of("GIF is what it is not"), "in.gif: not a GIF file (30004)"},
      {{"in.gif"},
       cut_in_descriptor,
       "in.gif: the file is cut short: it ends before the GIF trailer (30011)"},
      {{"--strict", "in.gif"},
       cut_in_descriptor,
       "in.gif: the file is cut short: it ends before the GIF trailer (30011)"},
      {{"--strict", "in.gif"},
       cut,
       "in.gif: the file is cut short: it ends after its image, without the GIF trailer "
       "(30011); it converts without --strict"},
      {{"in.gif"}, assemble(corrupt), "in.gif: corrupt image data (30004)"},
      {{"--strict", "in.gif"}, assemble(corrupt), "in.gif: corrupt image data (30004)"},
      {{"--strict", "in.gif"},
       assemble(no_end_code),
       "in.gif: corrupt image data (30004); it converts without --strict"},
      {{"in.gif"}, assemble(code_size_9), "in.gif: corrupt image data: code size 9 (30004)"},
      {{"--strict", "in.gif"},
       assemble(interlaced),
       "in.gif: unsupported GIF: interlaced image (30008); it converts without --strict, or "
       "store it without interlace (gifsicle --no-interlace)"},
      {{"in.gif"}, assemble(no_global_table), "in.gif: unsupported GIF: no colour table (30008)"},
      {{"--strict", "in.gif"},
       assemble(no_global_table),
       "in.gif: unsupported GIF: no global colour table (30008); without --strict it converts "
       "if its image has a colour table of its own"},
      {{"--strict", "in.gif"},
       assemble(small_table),
       "in.gif: unsupported GIF: 16-entry global colour table (30008); it converts without "
       "--strict"},
      {{"missing.gif"}, {}, "missing.gif: cannot open it: No such file or directory (30001)"},
      {{"."}, {}, ".: cannot open it: Is a directory (30001)"},
      {{"in.gif", "nowhere/out.bmp"},
       kPicture.gif,
       "in.gif: cannot create nowhere/out.bmp: No such file or directory (30001)"},
      {{""}, {}, "\"\": the file name is empty (30010)"},
      {{"missing.gif", "out.png"},
       {},
       "missing.gif: cannot open it: No such file or directory (30001)\n"
       "out.png: cannot open it: No such file or directory (30001); to name the output, use -o\n"
       "0 converted, 2 failed"},
      {{"missing.gif", "in.gif"},
       bytes_of("PNG, say"),
       "missing.gif: cannot open it: No such file or directory (30001)\n"
       "in.gif: not a GIF file (30004); to name the output, use -o\n"
       "0 converted, 2 failed"},
      {{"a\x1b[31m\n\t\x7f.gif"},
       {},
       "a\\x1b[31m\\n\\t\\x7f.gif: cannot open it: No such file or directory (30001)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    ScratchDir dir;
    if (!c.input.empty()) write_file(dir.path("in.gif"), c.input);
    CommandRun run = run_brevlo(c.args, root(dir));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.error + "\n");
    EXPECT_EQ(entries(root(dir)), c.input.empty() ? 0u : 1u);  // no output left behind
  }
}

// Files the library refuses convert by default, as the same picture would in
// the library's own kind of file; --strict refuses them as the library does.
TEST(Modes, DefaultConvertsWhatStrictRefuses) {
  const Bytes pixels = noise_pixels(13 * 7, 4, 5);
  Bytes table = test_colour_table();
  table.resize(48);
  GifParts small_table;
  small_table.width = 13;
  small_table.height = 7;
  small_table.screen_packed = 0xF3;
  small_table.global_table = table;
  small_table.data = sub_blocks(pack_codes(lzw_encode(pixels, 4)), 255);
  small_table.code_size = 4;
  GifParts interlaced = small_table;
  interlaced.image_packed = 0x40;
  interlaced.data = sub_blocks(pack_codes(lzw_encode(interlaced_order(pixels, 13, 7), 4)), 255);
  GifParts local_only = small_table;
  local_only.screen_packed = 0x00;
  local_only.omit_global_table = true;
  local_only.image_packed = 0x83;
  local_only.local_table = table;
  GifParts no_trailer = small_table;
  no_trailer.after_image = {};
  const Bytes expected = expected_bmp(13, 7, pixels, table);
  for (const GifParts& parts : {small_table, interlaced, local_only, no_trailer}) {
    ScratchDir dir;
    write_file(dir.path("in.gif"), assemble(parts));
    CommandRun run = run_brevlo({"in.gif"}, root(dir));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(read_file(dir.path("in.bmp")), expected);
    run = run_brevlo({"--strict", "-f", "in.gif"}, root(dir));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(dir.path("in.bmp")), expected);  // the failure leaves it alone
  }
}

TEST(Modes, SeveralImagesGiveOneNoteUnlessQuiet) {
  GifParts parts;
  parts.width = 13;
  parts.height = 7;
  const Bytes pixels = noise_pixels(13 * 7, 8, 5);
  parts.data = sub_blocks(pack_codes(lzw_encode(pixels, 8)), 255);
  Bytes second = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x00, 8};
  const Bytes data = sub_blocks(pack_codes(lzw_encode({1}, 8)), 255);
  second.insert(second.end(), data.begin(), data.end());
  second.push_back(0);
  parts.after_image.clear();
  for (int i = 0; i < 11; ++i)
    parts.after_image.insert(parts.after_image.end(), second.begin(), second.end());
  parts.after_image.push_back(0x3B);
  ScratchDir dir;
  write_file(dir.path("anim.gif"), assemble(parts));
  for (const Args& args : {Args{"anim.gif"}, Args{"--strict", "-f", "anim.gif"}}) {
    CommandRun run = run_brevlo(args, root(dir));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "anim.gif: 12 images; converted the first\n");
    EXPECT_EQ(read_file(dir.path("anim.bmp")), kPicture.bmp);
  }
  CommandRun quiet = run_brevlo({"-q", "-f", "anim.gif"}, root(dir));
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
}

// --frames: an animation of three frames on a 6 x 4 screen, the last with a
// table of its own, and the frame files the library writes for it.
std::vector<FrameParts> animation_frames() {
  FrameParts first = frame_at(0, 0, 6, 4, noise_pixels(24, 8, 71));
  first.delay = 10;
  FrameParts second = frame_at(1, 1, 2, 2, noise_pixels(4, 8, 72));
  second.disposal = 2;
  FrameParts third = frame_at(3, 2, 3, 2, noise_pixels(6, 2, 73));
  third.delay = 250;
  third.local_table = Bytes(12, 0x33);
  return {first, second, third};
}

const Bytes kAnimation = animation_gif(6, 4, animation_frames());

std::vector<Bytes> library_frames(const Bytes& gif) {
  ScratchDir dir;
  write_file(dir.path("in.gif"), gif);
  std::uint32_t written = 0;
  brevlo_convert_frames(dir.path("in.gif").c_str(), dir.path("f").c_str(), 0, &written);
  std::vector<Bytes> frames;
  for (std::uint32_t k = 1; k <= written; ++k)
    frames.push_back(read_file(dir.path("f-00" + std::to_string(k) + ".bmp")));
  return frames;
}

const std::vector<Bytes> kAnimationFrames = library_frames(kAnimation);

// The animation cut short inside its third frame, or with corrupt data in its
// second (its first code past the table).
Bytes damaged_animation(bool cut) {
  const std::vector<FrameParts> frames = animation_frames();
  Bytes gif = kAnimation;
  const std::size_t second = animation_gif(6, 4, {frames[0]}, false).size();
  const std::size_t third = animation_gif(6, 4, {frames[0], frames[1]}, false).size();
  if (cut) {
    gif.resize(third + 20);
  } else {
    gif[second + 8 + 10 + 1 + 1] = 0xFF;
    gif[second + 8 + 10 + 1 + 2] = 0xFF;
  }
  return gif;
}

std::string frame_line(const std::string& input, const std::string& frame, int ms) {
  return input + " -> " + frame + " (6 \u00d7 4, " + std::to_string(ms) + " ms)\n";
}

// Each GIF's frames go beside it or into -o DIR, named after it, numbered
// from 1; a frame files' prefix is an output like any other, refused to a
// second input that has it or when one of its frame names is an input. A
// damaged file keeps the frames before the damage and exits 1.
TEST(Frames, NamedAfterTheirGifBesideItOrInTheFolder) {
  struct Case {
    Args args;
    std::vector<std::pair<std::string, Bytes>> inputs;
    std::vector<std::pair<std::string, int>> frames;  // each file and its frame in the animation
    int status;
    std::string out;
    std::string err;
    Launch launch{};
  };
  Launch piped;
  piped.stdin_path = "anim.gif";
  const std::vector<Case> cases = {
      {{"--frames", "anim.gif"},
       {{"anim.gif", kAnimation}},
       {{"anim-001.bmp", 1}, {"anim-002.bmp", 2}, {"anim-003.bmp", 3}},
       0,
       "",
       ""},
      {{"--frames", "-v", "-o", "out", "anim.gif"},
       {{"anim.gif", kAnimation}},
       {{"out/anim-001.bmp", 1}, {"out/anim-002.bmp", 2}, {"out/anim-003.bmp", 3}},
       0,
       frame_line("anim.gif", "out/anim-001.bmp", 100) +
           frame_line("anim.gif", "out/anim-002.bmp", 0) +
           frame_line("anim.gif", "out/anim-003.bmp", 2500),
       ""},
      {{"--frames", "-o", "new/deeper", "-j", "2", "sub/anim.gif", "still.gif"},
       {{"sub/anim.gif", kAnimation}, {"still.gif", kPicture.gif}},
       {{"new/deeper/anim-001.bmp", 1},
        {"new/deeper/anim-002.bmp", 2},
        {"new/deeper/anim-003.bmp", 3},
        {"new/deeper/still-001.bmp", 0}},
       0,
       "",
       "2 converted, 0 failed\n"},
      {{"--frames", "-r", "-o", "out", "sub"},
       {{"sub/deeper/anim.gif", kAnimation}},
       {{"out/sub/deeper/anim-001.bmp", 1},
        {"out/sub/deeper/anim-002.bmp", 2},
        {"out/sub/deeper/anim-003.bmp", 3}},
       0,
       "",
       ""},
      {{"--frames", "-r", "-o", "out", "sub/"},
       {{"sub/deeper/anim.gif", kAnimation}},
       {{"out/deeper/anim-001.bmp", 1},
        {"out/deeper/anim-002.bmp", 2},
        {"out/deeper/anim-003.bmp", 3}},
       0,
       "",
       ""},
      {{"--frames", "-o", "piped", "-"},
       {{"anim.gif", kAnimation}},
       {{"piped-001.bmp", 1}, {"piped-002.bmp", 2}, {"piped-003.bmp", 3}},
       0,
       "",
       "",
       piped},
      {{"--frames", "-v", "anim.gif"},
       {{"anim.gif", damaged_animation(true)}},
       {{"anim-001.bmp", 1}, {"anim-002.bmp", 2}},
       1,
       frame_line("anim.gif", "anim-001.bmp", 100) + frame_line("anim.gif", "anim-002.bmp", 0),
       "anim.gif: the file is cut short inside frame 3; wrote 2 frames\n"},
      {{"--frames", "anim.gif"},
       {{"anim.gif", damaged_animation(false)}},
       {{"anim-001.bmp", 1}},
       1,
       "",
       "anim.gif: corrupt image data in frame 2; wrote 1 frame\n"},
      // Frame files -n left alone are not counted as written.
      {{"--frames", "-n", "anim.gif"},
       {{"anim.gif", damaged_animation(false)}, {"anim-001.bmp", kOldBmp}},
       {},
       1,
       "",
       "anim.gif: corrupt image data in frame 2; wrote 0 frames\n"},
      {{"--frames", "anim.gif", "anim.GIF"},
       {{"anim.gif", kAnimation}, {"anim.GIF", kPicture.gif}},
       {{"anim-001.bmp", 1}, {"anim-002.bmp", 2}, {"anim-003.bmp", 3}},
       1,
       "",
       "anim.GIF: not converted: its output anim-*.bmp is also the output of anim.gif\n"
       "1 converted, 1 failed\n"},
      {{"--frames", "anim.gif", "anim-002.bmp"},
       {{"anim.gif", kAnimation}, {"anim-002.bmp", kPicture.gif}},
       {{"anim-002.bmp-001.bmp", 0}},
       1,
       "",
       "anim.gif: not converted: the output anim-*.bmp is the input file anim-002.bmp\n"
       "1 converted, 1 failed\n"},
      // Lists and walks: frame files go where each GIF's BMP would, and the
      // prefix rules hold across them as for names on the command line.
      {{"--frames", "-v", "--files-from", "names", "-o", "out"},
       {{"anim.gif", kAnimation},
        {"sub/still.gif", kPicture.gif},
        {"names", bytes_of("anim.gif\nsub/still.gif\n")}},
       {{"out/anim-001.bmp", 1},
        {"out/anim-002.bmp", 2},
        {"out/anim-003.bmp", 3},
        {"out/still-001.bmp", 0}},
       0,
       frame_line("anim.gif", "out/anim-001.bmp", 100) +
           frame_line("anim.gif", "out/anim-002.bmp", 0) +
           frame_line("anim.gif", "out/anim-003.bmp", 2500) +
           "sub/still.gif -> out/still-001.bmp (13 \u00d7 7, 0 ms)\n",
       "2 converted, 0 failed\n"},
      {{"--frames", "-0", "--files-from", "names"},
       {{"anim.gif", kAnimation},
        {"new\nline.gif", kPicture.gif},
        {"names", bytes_of(std::string("anim.gif\0new\nline.gif\0", 22))}},
       {{"anim-001.bmp", 1}, {"anim-002.bmp", 2}, {"anim-003.bmp", 3}, {"new\nline-001.bmp", 0}},
       0,
       "",
       "2 converted, 0 failed\n"},
      {{"--frames", "-n", "--files-from", "names"},
       {{"anim.gif", kAnimation},
        {"anim-002.bmp", kPicture.gif},
        {"names", bytes_of("anim.gif\nanim-002.bmp\n")}},
       {{"anim-001.bmp", 1}, {"anim-003.bmp", 3}},
       1,
       "",
       "anim-002.bmp: not converted: it is the output of anim.gif\n"
       "1 converted, 0 skipped, 1 failed\n"},
      {{"--frames", "--files-from", "names"},
       {{"anim.gif", kAnimation},
        {"anim-002.bmp", kPicture.gif},
        {"names", bytes_of("anim-002.bmp\nanim.gif\n")}},
       {{"anim-002.bmp-001.bmp", 0}},
       1,
       "",
       "anim.gif: not converted: the output anim-*.bmp is the input file anim-002.bmp\n"
       "1 converted, 1 failed\n"},
      {{"--frames", "-r", "-o", "out", "x/pics", "y/"},
       {{"x/pics/anim.gif", kAnimation}, {"y/sub/anim.gif", kAnimation}},
       {{"out/pics/anim-001.bmp", 1},
        {"out/pics/anim-002.bmp", 2},
        {"out/pics/anim-003.bmp", 3},
        {"out/sub/anim-001.bmp", 1},
        {"out/sub/anim-002.bmp", 2},
        {"out/sub/anim-003.bmp", 3}},
       0,
       "",
       "2 converted, 0 failed\n"},
      {{"--frames", "-r", "-o", "out", "x/", "y/"},
       {{"x/anim.gif", kAnimation}, {"y/anim.gif", kPicture.gif}},
       {{"out/anim-001.bmp", 1}, {"out/anim-002.bmp", 2}, {"out/anim-003.bmp", 3}},
       1,
       "",
       "y/anim.gif: not converted: its output out/anim-*.bmp is also the output of x/anim.gif\n"
       "1 converted, 1 failed\n"},
      {{"--frames", "big.gif"},
       {{"big.gif", animation_gif(65535, 65535, {animation_frames()[1]})}},
       {},
       1,
       "",
       "big.gif: the screen of 65535x65535 pixels is larger than the 268435456 pixels (a canvas "
       "of 1 GiB) frames may cover (30003)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    ScratchDir dir;
    for (const auto& [name, bytes] : c.inputs) {
      fs::create_directories(fs::path(dir.path(name)).parent_path());
      write_file(dir.path(name), bytes);
    }
    CommandRun run = run_brevlo(c.args, root(dir), c.launch);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    std::set<std::string> want;
    for (const auto& [name, frame] : c.frames) {
      want.insert(name);
      EXPECT_EQ(read_file(dir.path(name)), frame == 0 ? kPicture.bmp : kAnimationFrames[frame - 1])
          << name;
    }
    // No file but these was written: none past the last frame of each.
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root(dir)))
      if (entry.is_regular_file()) found.insert(fs::relative(entry.path(), root(dir)).string());
    for (const auto& input : c.inputs) found.erase(input.first);
    EXPECT_EQ(found, want);
  }
}

// Each frame file is an output like any other: kept without --force (the
// job then ends there, its frames before it written), left alone with -n
// (the rest written), replaced with --force.
TEST(Frames, EachFrameFileIsKeptSkippedOrReplaced) {
  struct Case {
    Args args;
    int status;
    std::string out;
    std::string err;
    std::vector<int> new_frames;  // the frames written; the old second stays unless among them
  };
  const std::vector<Case> cases = {
      {{"--frames", "anim.gif"},
       1,
       "",
       "anim.gif: not converted: anim-002.bmp already exists (use --force to replace it, or -n "
       "to skip it); wrote 1 frame\n",
       {1}},
      {{"--frames", "-n", "-v", "anim.gif"},
       0,
       frame_line("anim.gif", "anim-001.bmp", 100) +
           "anim.gif: skipped: anim-002.bmp already exists\n" +
           frame_line("anim.gif", "anim-003.bmp", 2500),
       "",
       {1, 3}},
      {{"--frames", "--force", "anim.gif"}, 0, "", "", {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    ScratchDir dir;
    write_file(dir.path("anim.gif"), kAnimation);
    write_file(dir.path("anim-002.bmp"), kOldBmp);
    CommandRun run = run_brevlo(c.args, root(dir));
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    for (int k = 1; k <= 3; ++k) {
      SCOPED_TRACE(k);
      const std::string name = dir.path("anim-00" + std::to_string(k) + ".bmp");
      const bool written =
          std::find(c.new_frames.begin(), c.new_frames.end(), k) != c.new_frames.end();
      if (written) {
        EXPECT_EQ(read_file(name), kAnimationFrames[static_cast<std::size_t>(k - 1)]);
      } else if (k == 2) {
        EXPECT_EQ(read_file(name), kOldBmp);
      } else {
        EXPECT_FALSE(exists(name));
      }
    }
    std::set<int> present(c.new_frames.begin(), c.new_frames.end());
    present.insert(2);  // the old file, kept or replaced
    EXPECT_EQ(entries(root(dir)), 1 + present.size());
  }
}

// A frame file is written as soon as its frame is complete: read from a pipe
// that pauses after the first frame, its file is there while the command
// waits for the rest.
TEST(Frames, EachIsWrittenAsSoonAsItIsComplete) {
  ScratchDir dir;
  const std::size_t second = animation_gif(6, 4, {animation_frames()[0]}, false).size();
  const Bytes first(kAnimation.begin(), kAnimation.begin() + static_cast<long>(second) + 12);
  const Bytes rest(kAnimation.begin() + static_cast<long>(second) + 12, kAnimation.end());
  bool first_file_before_the_rest = false;
  const CommandRun run = run_brevlo_paced(
      {"--frames", "-o", "piped", "-"}, root(dir), {first, rest}, [&](std::size_t chunk) {
        if (chunk != 0) return;
        for (int wait = 0; wait < 1000 && !first_file_before_the_rest; ++wait) {
          first_file_before_the_rest = exists(dir.path("piped-001.bmp"));
          if (!first_file_before_the_rest) ::usleep(10000);
        }
        EXPECT_FALSE(exists(dir.path("piped-002.bmp")));
      });
  EXPECT_TRUE(first_file_before_the_rest);
  EXPECT_EQ(run.status, 0) << run.err;
  for (std::size_t k = 1; k <= 3; ++k)
    EXPECT_EQ(read_file(dir.path("piped-00" + std::to_string(k) + ".bmp")),
              kAnimationFrames[k - 1]);
}

// A file-size limit fails the write like any other failure (the command
// starts with SIGXFSZ at its default action, which would end it), and the
// batch goes on.
TEST(Failures, AWriteThatFailsSaysWhyAndKeepsTheOldFile) {
  const std::string too_large = "in.gif: cannot write out.bmp: File too large (30001)\n";
  const Picture tiny = picture(1, 1, 3);
  ASSERT_LT(tiny.bmp.size(), kPicture.bmp.size());
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string temporary_folder = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  struct Case {
    Args args;
    std::string err;
    std::vector<std::string> left;  // the files in the folder afterwards
  };
  const std::vector<Case> cases = {
      {{"in.gif", "out.bmp"}, too_large, {"in.gif", "tiny.gif"}},
      {{"-f", "in.gif", "out.bmp"}, too_large, {"in.gif", "out.bmp", "tiny.gif"}},
      {{"-o", "out", "in.gif", "tiny.gif"},
       "in.gif: cannot write out/in.bmp: File too large (30001)\n1 converted, 1 failed\n",
       {"in.gif", "out", "tiny.gif"}},
      // A device gets the BMP once complete in a temporary file, which is
      // what fails.
      {{"-o", "/dev/null", "in.gif"},
       "in.gif: cannot write a temporary file in " + temporary_folder +
           ": File too large (30001)\n",
       {"in.gif", "tiny.gif"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    ScratchDir dir;
    write_file(dir.path("in.gif"), kPicture.gif);
    write_file(dir.path("tiny.gif"), tiny.gif);
    if (c.args[0] == "-f") write_file(dir.path("out.bmp"), kOldBmp);
    Launch limited;
    limited.file_size_limit = kPicture.bmp.size() - 1;
    CommandRun run = run_brevlo(c.args, root(dir), limited);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.err);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(root(dir)))
      left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, c.left);
    if (c.args[0] == "-f") {
      EXPECT_EQ(read_file(dir.path("out.bmp")), kOldBmp);
    }
  }
}

TEST(Pipes, StandardInputAndOutputGiveTheBytesOfAFile) {
  const Bytes cut(kPicture.gif.begin(), kPicture.gif.begin() + 20);  // inside the colour table
  // Header, table, descriptor and code size, then five bytes of image data.
  const Bytes cut_in_data(kPicture.gif.begin(), kPicture.gif.begin() + 13 + 768 + 10 + 1 + 5);
  struct Case {
    Args args;
    Bytes input;
    int status;
    std::string out;  // what standard output received
    std::string err;
    Launch closed{};  // with descriptors closed, input is not used
  };
  Launch no_output;
  no_output.closed = {STDOUT_FILENO};
  Launch no_gif_on_output = no_output;
  no_gif_on_output.stdin_path = "in.gif";
  Launch no_input;
  no_input.closed = {STDIN_FILENO};
  Launch neither;
  neither.closed = {STDIN_FILENO, STDOUT_FILENO};
  const std::string bmp(kPicture.bmp.begin(), kPicture.bmp.end());
  const std::vector<Case> cases = {
      {{"-o", "-", "-"}, kPicture.gif, 0, bmp, ""},
      {{"-o", "-", "in.gif"}, {}, 0, bmp, ""},
      {{"-v", "-o", "-", "in.gif"}, {}, 0, bmp, "in.gif -> standard output (13 \u00d7 7)\n"},
      {{"-", "-o", "out.bmp"}, kPicture.gif, 0, "", ""},
      {{"--output=-", "-"},
       cut,
       1,
       "",
       "-: the file is cut short: it ends before the GIF trailer (30011)\n"},
      {{"-o", "-", "-"}, {}, 1, "", "-: not a GIF file (30004)\n"},
      {{"-", "-o", "out.bmp"},
       bytes_of("GIF is what it is not"),
       1,
       "",
       "-: not a GIF file (30004)\n"},
      {{"-", "-o", "out.bmp"},
       cut_in_data,
       1,
       "",
       "-: the file is cut short: it ends inside its image data (30004)\n"},
      {{"/dev/stdin", "-o", "out.bmp"},
       kPicture.gif,
       1,
       "",
       "/dev/stdin: cannot read it: it is a pipe, not a regular file (use - to read standard "
       "input) (30001)\n"},
      {{"fifo.gif"},
       {},
       1,
       "",
       "fifo.gif: cannot read it: it is a pipe, not a regular file (use - to read standard "
       "input) (30001)\n"},
      // A standard stream the command started without is never taken for a
      // file it opens, and "-" for it is refused as what it is.
      {{"-o", "-", "-"},
       {},
       1,
       "",
       "-: cannot write standard output: it is closed (30001)\n",
       no_gif_on_output},
      {{"-", "-o", "out.bmp"},
       {},
       1,
       "",
       "-: cannot read standard input: it is closed (30001)\n",
       no_input},
      {{"in.gif", "-o", "out.bmp"}, {}, 0, "", "", neither},
      {{"-v", "in.gif", "-o", "out.bmp"},
       {},
       1,
       "",
       "brevlo: write error on standard output: Bad file descriptor\n",
       no_output},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    ScratchDir dir;
    write_file(dir.path("in.gif"), kPicture.gif);
    ASSERT_EQ(::mkfifo(dir.path("fifo.gif").c_str(), 0600), 0);
    CommandRun run = c.closed.closed.empty() ? run_brevlo_piped(c.args, root(dir), c.input)
                                             : run_brevlo(c.args, root(dir), c.closed);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    // With -v the BMP is written, and only the line on standard output fails.
    const bool to_file = c.args.back() == "out.bmp" && (c.status == 0 || c.args[0] == "-v");
    if (to_file) {
      EXPECT_EQ(read_file(dir.path("out.bmp")), kPicture.bmp);
    }
    EXPECT_EQ(entries(root(dir)), to_file ? 3u : 2u);
  }
}

TEST(Batch, FailuresInOrderThenASummaryOrOnlyFailuresWhenQuiet) {
  ScratchDir dir;
  write_file(dir.path("one.gif"), kPicture.gif);
  write_file(dir.path("bad.gif"), bytes_of("plain text"));
  write_file(dir.path("two.gif"), kPicture.gif);
  const Args files = {"one.gif", "bad.gif", "two.gif", "missing.gif"};
  const std::string failures =
      "bad.gif: not a GIF file (30004)\n"
      "missing.gif: cannot open it: No such file or directory (30001)\n";

  CommandRun run = run_brevlo(files, root(dir));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, failures + "2 converted, 2 failed\n");
  EXPECT_EQ(read_file(dir.path("two.bmp")), kPicture.bmp);

  Args quiet = {"-q", "--force"};
  quiet.insert(quiet.end(), files.begin(), files.end());
  run = run_brevlo(quiet, root(dir));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, failures);
  run = run_brevlo({"--quiet", "--force", "one.gif", "two.gif"}, root(dir));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out + run.err, "");
}

// A list names the inputs, one a line or NUL-separated, read from a file or
// standard input; its names convert as names on the command line do, and
// with a list -o always names a folder.
TEST(Lists, NamesFromAFileOrStandardInputConvertAsGiven) {
  const std::string newline_name = "new\nline.gif";
  struct Case {
    Args args;
    std::string list;  // written to the file names, or fed to standard input for --files-from -
    int status;
    std::string err;
    std::vector<std::string> outputs;  // every BMP the run writes
  };
  const std::vector<Case> cases = {
      {{"--files-from", "names", "-o", "out"},
       "a.gif\n\nb.gif\n",
       0,
       "2 converted, 0 failed\n",
       {"out/a.bmp", "out/b.bmp"}},
      {{"-0", "--files-from", "names", "-o", "out"},
       std::string("a.gif\0", 6) + newline_name,
       0,
       "2 converted, 0 failed\n",
       {"out/a.bmp", "out/new\nline.bmp"}},
      {{"--files-from", "names"}, "sub/c.gif", 0, "", {"sub/c.bmp"}},
      {{"--files-from", "names", "-o", "single"}, "a.gif\n", 0, "", {"single/a.bmp"}},
      {{"--null", "--files-from", "-", "-o", "out"},
       std::string("a.gif\0\0b.gif\0", 13),
       1,
       "-:2: the file name is empty (30010)\n2 converted, 1 failed\n",
       {"out/a.bmp", "out/b.bmp"}},
      {{"--files-from", "-", "-o", "out"},
       "a.gif\n-\n",
       1,
       "-: cannot read standard input: it holds the list of names (30001)\n"
       "1 converted, 1 failed\n",
       {"out/a.bmp"}},
      // A line holding a NUL byte names no file the system could open by it:
      // it is refused by its place, never cut short at the NUL.
      {{"--files-from", "names", "-o", "out", "--force"},
       std::string("a.gif\0zzz\nb.gif\n", 16),
       1,
       "names:1: cannot open it: the name holds a NUL byte (a list of NUL-separated names "
       "needs --null) (30001)\n1 converted, 1 failed\n",
       {"out/b.bmp"}},
      // A name past the longest a list may hold is refused by its place,
      // also when one read brings it whole.
      {{"--files-from", "names", "-o", "out"},
       std::string(100000, 'x') + "\nb.gif\n",
       1,
       "names:1: cannot open it: File name too long (30001)\n1 converted, 1 failed\n",
       {"out/b.bmp"}},
      {{"--files-from", "names", "-o", "out"},
       "-\n",
       1,
       "-: cannot read standard input from a list, which names files (a file called - is ./-) "
       "(30001)\n",
       {}},
      {{"--files-from", "missing", "-o", "out", "a.gif"},
       "",
       1,
       "missing: cannot read the list of names: No such file or directory\n"
       "1 converted, 1 failed\n",
       {"out/a.bmp"}},
      {{"--files-from", "sub", "-o", "out"},
       "",
       1,
       "sub: cannot read the list of names: Is a directory\n",
       {}},
      // -r walks the folders a list names; a folder's name taken below -o
      // DIR by an earlier folder refuses the later one.
      {{"-r", "--files-from", "names", "-o", "out"},
       "pics\nmore/pics\nb.gif\n",
       1,
       "more/pics: not converted: its files would go to out/pics, where those of pics go\n"
       "2 converted, 1 failed\n",
       {"out/pics/x.bmp", "out/b.bmp"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    ScratchDir dir;
    for (const char* folder : {"sub", "pics", "more/pics"})
      fs::create_directories(dir.path(folder));
    for (const std::string& name :
         {std::string("a.gif"), std::string("b.gif"), newline_name, std::string("sub/c.gif"),
          std::string("pics/x.gif"), std::string("more/pics/y.gif")})
      write_file(dir.path(name), kPicture.gif);
    const bool on_stdin = std::find(c.args.begin(), c.args.end(), "-") != c.args.end();
    if (!on_stdin && !c.list.empty()) write_file(dir.path("names"), bytes_of(c.list));
    CommandRun run = on_stdin ? run_brevlo_piped(c.args, root(dir), bytes_of(c.list))
                              : run_brevlo(c.args, root(dir));
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    std::size_t bmps = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root(dir)))
      bmps += entry.path().extension() == ".bmp";
    EXPECT_EQ(bmps, c.outputs.size());
    for (const std::string& output : c.outputs)
      EXPECT_EQ(read_file(dir.path(output)), kPicture.bmp) << output;
  }
}

// Conversion starts while the list is still being written: the first BMP is
// there before the writer sends the second name.
TEST(Lists, ConvertWhileTheListIsStillBeingWritten) {
  ScratchDir dir;
  write_file(dir.path("a.gif"), kPicture.gif);
  write_file(dir.path("b.gif"), kPicture.gif);
  bool first_before_end = false;
  CommandRun run = run_brevlo_paced(
      {"--files-from", "-", "-o", "out"}, root(dir), {bytes_of("a.gif\n"), bytes_of("b.gif\n")},
      [&](std::size_t chunk) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (chunk == 0 && !first_before_end && std::chrono::steady_clock::now() < give_up) {
          first_before_end = exists(dir.path("out/a.bmp"));
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      });
  EXPECT_TRUE(first_before_end);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "2 converted, 0 failed\n");
  EXPECT_EQ(read_file(dir.path("out/b.bmp")), kPicture.bmp);
}

// Below -o DIR a folder given keeps its name, by rsync's rule: "pics" puts
// the tree under DIR/pics, "pics/" puts its contents straight into DIR.
TEST(Trees, RecursiveWalksFoldersForGifsAndMirrorsThemUnderTheOutputFolder) {
  struct Case {
    Args args;
    std::vector<std::string> outputs;  // every BMP the run writes
    std::string out;                   // what -v says
    std::string usage_error = {};      // instead of a run
  };
  const std::vector<Case> cases = {
      {{"-r", "-o", "out", "pics"},
       {"out/pics/a/b/deep.bmp", "out/pics/a/one.bmp", "out/pics/top.bmp"},
       ""},
      {{"-r", "-o", "out", "pics/"}, {"out/a/b/deep.bmp", "out/a/one.bmp", "out/top.bmp"}, ""},
      {{"-r", "-v", "pics"},
       {"pics/a/b/deep.bmp", "pics/a/one.bmp", "pics/top.bmp"},
       "pics/a/b/deep.GIF -> pics/a/b/deep.bmp (13 \u00d7 7)\n"
       "pics/a/one.gif -> pics/a/one.bmp (13 \u00d7 7)\n"
       "pics/top.gif -> pics/top.bmp (13 \u00d7 7)\n"},
      {{"--recursive", "-o", "new/deeper", "pics/a", "pics/top.gif"},
       {"new/deeper/a/b/deep.bmp", "new/deeper/a/one.bmp", "new/deeper/top.bmp"},
       ""},
      {{"-o", "new/deeper", "pics/a/one.gif", "pics/top.gif"},
       {"new/deeper/one.bmp", "new/deeper/top.bmp"},
       ""},
      // Two folders of one name: the one given with a trailing / lays out its
      // contents; without -o each BMP stays beside its GIF.
      {{"-r", "-o", "out", "pics/a/", "more/a"},
       {"out/b/deep.bmp", "out/one.bmp", "out/a/two.bmp"},
       ""},
      {{"-r", "pics/a", "more/a"}, {"pics/a/b/deep.bmp", "pics/a/one.bmp", "more/a/two.bmp"}, ""},
      {{"-r", "-o", "out", "pics/a", "more/a"},
       {},
       "",
       "the folders 'pics/a' and 'more/a' would both go to 'out/a' (a trailing / puts a folder's "
       "contents there instead)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    ScratchDir dir;
    fs::create_directories(dir.path("pics/a/b"));
    fs::create_directories(dir.path("more/a"));
    fs::create_directories(dir.path("elsewhere"));
    write_file(dir.path("pics/top.gif"), kPicture.gif);
    write_file(dir.path("pics/a/one.gif"), kPicture.gif);
    write_file(dir.path("pics/a/b/deep.GIF"), kPicture.gif);
    write_file(dir.path("pics/a/notes.txt"), kOldBmp);
    write_file(dir.path("more/a/two.gif"), kPicture.gif);
    write_file(dir.path("elsewhere/hidden.gif"), kPicture.gif);
    fs::create_directory_symlink("../elsewhere", dir.path("pics/linked"));
    CommandRun run = run_brevlo(c.args, root(dir));
    EXPECT_EQ(run.status, c.usage_error.empty() ? 0 : 2);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err,
              c.usage_error.empty()
                  ? std::to_string(c.outputs.size()) + " converted, 0 failed\n"
                  : "brevlo: " + c.usage_error + "\nTry 'brevlo --help' for more information.\n");
    std::size_t bmps = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root(dir)))
      bmps += entry.path().extension() == ".bmp";
    EXPECT_EQ(bmps, c.outputs.size());
    for (const std::string& output : c.outputs)
      EXPECT_EQ(read_file(dir.path(output)), kPicture.bmp);
  }
}

// -r reports each folder it cannot read by its own name and converts the
// rest. Root reads every folder, so as root the command runs as nobody.
TEST(Trees, EachUnreadableFolderIsReportedAndTheRestConverted) {
  const std::string denied = ": cannot open it: Permission denied (30001)\n";
  struct Case {
    Args args;
    std::string err;
    std::vector<std::string> outputs;
  };
  const std::vector<Case> cases = {
      {{"-r", "pics"},
       "pics/b" + denied + "pics/c/d" + denied + "2 converted, 2 failed\n",
       {"pics/a/one.bmp", "pics/top.bmp"}},
      {{"-r", "pics/b", "pics/a"},
       "pics/b" + denied + "1 converted, 1 failed\n",
       {"pics/a/one.bmp"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    ScratchDir dir;
    for (const char* folder : {"pics/a", "pics/b/deeper", "pics/c/d"})
      fs::create_directories(dir.path(folder));
    for (const char* gif :
         {"pics/top.gif", "pics/a/one.gif", "pics/b/deeper/lost.gif", "pics/c/d/lost.gif"})
      write_file(dir.path(gif), kPicture.gif);
    for (const char* folder : {"pics", "pics/a", "pics/c"})
      fs::permissions(dir.path(folder), fs::perms::all);
    for (const char* folder : {"pics/b", "pics/c/d"})
      fs::permissions(dir.path(folder), fs::perms::none);
    Launch launch;
    launch.as_nobody = can_run_as_nobody();
    if (std::string why = why_nobody_cannot_run_in(root(dir)); launch.as_nobody && !why.empty())
      GTEST_SKIP() << why;
    CommandRun run = run_brevlo(c.args, root(dir), launch);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.err);
    for (const std::string& output : c.outputs)
      EXPECT_EQ(read_file(dir.path(output)), kPicture.bmp) << output;
    for (const char* folder : {"pics/b", "pics/c/d"})
      fs::permissions(dir.path(folder), fs::perms::owner_all);
  }
}

// The tests above run the command as nobody wherever the checkout lies: what
// bars nobody's way is found, and a program nobody cannot reach runs from a
// copy that it can.
TEST(AsNobody, TheCommandIsReachedWhereverItLies) {
  if (!can_run_as_nobody()) GTEST_SKIP() << "switching to user 65534 needs root";
  constexpr fs::perms kPrivate = fs::perms::owner_all;
  constexpr fs::perms kSearchOnly = kPrivate | fs::perms::group_exec | fs::perms::others_exec;
  constexpr fs::perms kOpen = kSearchOnly | fs::perms::group_read | fs::perms::others_read;
  struct Case {
    fs::perms folder;
    fs::perms program;
    std::string barrier;  // what nobody cannot pass: "folder", "folder/brevlo" or ""
  };
  const std::vector<Case> cases = {
      {kOpen, kOpen, ""},
      {kSearchOnly, kOpen, ""},
      {kPrivate, kOpen, "folder"},
      {kOpen, kPrivate, "folder/brevlo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.barrier);
    ScratchDir dir;
    fs::permissions(root(dir), kOpen);
    if (std::string why = barrier_for_nobody(root(dir), X_OK); !why.empty()) GTEST_SKIP() << why;
    fs::create_directory(dir.path("folder"));
    const std::string program = dir.path("folder/brevlo");
    write_file(program, kPicture.gif);  // only its place and mode matter
    fs::permissions(program, c.program);
    fs::permissions(dir.path("folder"), c.folder);
    const std::string barrier = barrier_for_nobody(program, X_OK);
    EXPECT_EQ(barrier.empty() ? "" : barrier.substr(barrier.rfind(' ') + 1),
              c.barrier.empty() ? "" : dir.path(c.barrier));
    std::string why;
    const std::string runs = program_for_nobody(program, why);
    EXPECT_EQ(why, "");
    EXPECT_EQ(runs == program, c.barrier.empty());
    EXPECT_EQ(barrier_for_nobody(runs, X_OK), "");
    EXPECT_EQ(read_file(runs), kPicture.gif);
  }
}

// Files of many sizes, every seventh one cut short.
std::vector<Picture> write_batch(const ScratchDir& dir, int count, Args& names) {
  std::vector<Picture> pictures;
  for (int i = 0; i < count; ++i) {
    Picture p = picture(1 + (i * 37) % 211, 1 + (i * 23) % 97, static_cast<std::uint32_t>(i));
    if (i % 7 == 3) {
      p.gif.resize(13 + 768 + 5);  // inside the image descriptor
      p.bmp.clear();
    }
    names.push_back("in" + std::to_string(i) + ".gif");
    write_file(dir.path(names.back()), p.gif);
    pictures.push_back(std::move(p));
  }
  return pictures;
}

TEST(Batch, TwoHundredFilesIntoAFolderWithoutProgressOffATerminal) {
  ScratchDir dir;
  Args args = {"-o", "out"};
  fs::create_directory(dir.path("out"));
  std::vector<Picture> pictures = write_batch(dir, 200, args);
  CommandRun run = run_brevlo(args, root(dir));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.find('\r'), std::string::npos);
  std::string failures;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const std::string output = dir.path("out/in" + std::to_string(i) + ".bmp");
    if (pictures[i].bmp.empty()) {
      failures += args[i + 2] + ": the file is cut short: it ends before the GIF trailer (30011)\n";
      EXPECT_FALSE(exists(output));
    } else {
      EXPECT_EQ(read_file(output), pictures[i].bmp) << output;
    }
  }
  EXPECT_EQ(run.err, failures + "171 converted, 29 failed\n");
}

TEST(Parallel, OutputsAndReportsAreTheSameWithAnyNumberOfJobs) {
  ScratchDir dir;
  Args names;
  write_batch(dir, 40, names);
  std::vector<CommandRun> runs;
  // The last two: no thread can start (a process limit), and the run's own
  // thread does all the work; eight threads with room for a few files open
  // at a time, so the run goes on with fewer files at once. Root is exempt
  // from the process limit, so as root that run is nobody's, and is left out,
  // the test then skipped with the reason, where nobody cannot run the command.
  Launch no_threads;
  no_threads.no_threads = true;
  Launch few_files;
  few_files.open_file_limit = 8;
  const std::string left_out = can_run_as_nobody() ? why_nobody_cannot_run_in(root(dir)) : "";
  const std::vector<std::pair<Args, Launch>> job_options = {
      {{"-j", "1"}, {}}, {{"-j4"}, {}},         {{"--jobs=3"}, {}},
      {{}, {}},          {{"-j4"}, no_threads}, {{"-j", "8"}, few_files}};
  for (std::size_t k = 0; k < job_options.size(); ++k) {
    if (job_options[k].second.no_threads && !left_out.empty()) continue;
    const std::string folder = "out" + std::to_string(k);
    fs::create_directory(dir.path(folder));
    fs::permissions(dir.path(folder), fs::perms::all);  // the limit may make it run as nobody
    Args args = job_options[k].first;
    args.insert(args.end(), {"-o", folder});
    args.insert(args.end(), names.begin(), names.end());
    runs.push_back(run_brevlo(args, root(dir), job_options[k].second));
    EXPECT_EQ(runs[k].status, 1);
    EXPECT_EQ(runs[k].err, runs[0].err);
    for (const std::string& name : names) {
      const std::string bmp = name.substr(0, name.size() - 4) + ".bmp";
      EXPECT_EQ(exists(dir.path(folder + "/" + bmp)), exists(dir.path("out0/" + bmp)));
      if (exists(dir.path("out0/" + bmp))) {
        EXPECT_EQ(read_file(dir.path(folder + "/" + bmp)), read_file(dir.path("out0/" + bmp)));
      }
    }
  }
  EXPECT_EQ(entries(dir.path("out0")), 34u);
  if (!left_out.empty()) GTEST_SKIP() << "the run without threads: " << left_out;
}

// Every file below folder, by its path there, with its bytes.
std::map<std::string, Bytes> files_below(const std::string& folder) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), folder).string()] = read_file(entry.path().string());
  return files;
}

// The README's recipes for GNU parallel, run on this machine alone (-S 3/:
// gives it three job slots and no ssh): each job prints its own report, so
// the recipes run quiet and rely on the exit status, which counts the jobs
// that failed. The files they write are those of one plain run, and a second
// round with -n converts nothing and succeeds.
TEST(ManyMachines, TheParallelRecipesWriteWhatOnePlainRunWrites) {
  if (std::string(BREVLO_PARALLEL).empty()) GTEST_SKIP() << "GNU parallel is not installed";
  const std::string parallel = std::string(BREVLO_PARALLEL) + " -0 -X -S 3/: --joblog jobs ";
  const std::string files = "find in -name '*.gif' -print0 | ";
  const std::string folders = "find in -mindepth 1 -maxdepth 1 -type d -print0 | ";
  struct Case {
    std::string recipe;  // writing into out
    std::string plain;   // one run writing the same into plain
    bool broken;         // one of the GIFs is cut short
    int status;          // parallel's: the number of jobs that failed
  };
  const std::vector<Case> cases = {
      {files + parallel + "brevlo -q -n -o out", files + "brevlo -q -n -0 --files-from - -o plain",
       false, 0},
      {folders + parallel + "brevlo -q -n -r -o out", "brevlo -q -n -r -o plain in/", false, 0},
      {folders + parallel + "brevlo -q -n -r -o out", "brevlo -q -n -r -o plain in/", true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.recipe);
    ScratchDir dir;
    fs::create_directory(dir.path("home"));  // parallel's own settings
    for (const char* folder : {"a", "b", "c"}) {
      fs::create_directories(dir.path("in/" + std::string(folder)));
      for (int i = 0; i < 4; ++i)
        write_file(
            dir.path("in/" + std::string(folder) + "/" + folder + std::to_string(i) + ".gif"),
            kPicture.gif);
    }
    if (c.broken) write_file(dir.path("in/b/b2.gif"), bytes_of("GIF89a"));
    const std::string home = "HOME=" + dir.path("home") + "; export HOME; ";
    const CommandRun plain = run_shell(home + c.plain, root(dir));
    EXPECT_EQ(plain.status, c.status == 0 ? 0 : 1) << plain.err;
    const CommandRun spread = run_shell(home + c.recipe, root(dir));
    EXPECT_EQ(spread.status, c.status) << spread.err;
    EXPECT_EQ(files_below(dir.path("out")), files_below(dir.path("plain")));
    EXPECT_EQ(files_below(dir.path("out")).size(), c.broken ? 11u : 12u);
    // Three jobs, one line each in the job log after its heading.
    const Bytes log = read_file(dir.path("jobs"));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4);
    const CommandRun again = run_shell(home + c.recipe, root(dir));
    EXPECT_EQ(again.status, c.status) << again.err;
    EXPECT_EQ(files_below(dir.path("out")), files_below(dir.path("plain")));
  }
}

// Every file in out is a whole BMP: the old one left by the test or a
// complete conversion. Nothing else, such as a temporary file, is there.
void expect_only_whole_files(const std::string& out, const Bytes& converted) {
  for (const auto& entry : fs::directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name.rfind("big", 0), 0u) << name;
    const Bytes bytes = read_file(entry.path().string());
    EXPECT_TRUE(bytes == converted || (name == "big0.bmp" && bytes == kOldBmp)) << name;
  }
}

bool died_by(int status, int signal) {
  return WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

// The command dies by the very signal that interrupts it, so that a shell
// stops its loop and timeout, make or xargs see a death by signal; a signal
// it was started with ignored stays ignored. Here it waits for its input, so
// the signal finds it at the same point every time; the input then ends
// without a GIF, or brings one when the signal is ignored.
TEST(Interrupts, EndTheCommandByTheSignalItself) {
  const std::vector<std::pair<int, int>> cases = {
      {SIGINT, 0}, {SIGTERM, 0}, {SIGHUP, 0}, {SIGPIPE, 0}, {SIGHUP, SIGHUP}, {SIGINT, SIGINT},
  };
  for (const auto& [signal, ignored] : cases) {
    SCOPED_TRACE(std::to_string(signal) + " ignored " + std::to_string(ignored));
    ScratchDir dir;
    Launch launch;
    launch.ignored_signal = ignored;
    const int status =
        interrupt_brevlo({"-o", "out.bmp", "-"}, root(dir), std::chrono::milliseconds(100), signal,
                         launch, ignored != 0 ? kPicture.gif : Bytes{});
    if (ignored != 0) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      EXPECT_EQ(read_file(dir.path("out.bmp")), kPicture.bmp);
    } else {
      EXPECT_TRUE(died_by(status, signal)) << status;
      EXPECT_EQ(entries(root(dir)), 0u);
    }
  }
}

TEST(Interrupts, LeaveOnlyWholeFilesAndNoTemporaryOneAtAnyMoment) {
  constexpr int kInputs = 4;
  constexpr int kRounds = 12;
  const Picture big = picture(1600, 1200, 11);
  ScratchDir dir;
  Args inputs;
  for (int i = 0; i < kInputs; ++i) {
    inputs.push_back("big" + std::to_string(i) + ".gif");
    write_file(dir.path(inputs.back()), big.gif);
  }
  std::mt19937 random(20261208);
  // SIGKILL leaves nothing to remove: a BMP in the making has no name yet.
  // (Only replacing a file gives it one, from its link to the rename right
  // after, so those rounds replace none.)
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGKILL};
  for (const char* jobs : {"-j1", "-j2"}) {
    Args args = {jobs, "-q", "--force", "-o", "out"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    // A whole run first, to time it: the interrupts fall anywhere within it.
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(run_brevlo(args, root(dir)).status, 0);
    const auto whole_run = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
    std::uniform_int_distribution<std::int64_t> moment(0, whole_run.count());
    int interrupted = 0;
    for (int round = 0; round < kRounds; ++round) {
      fs::remove_all(dir.path("out"));
      fs::create_directory(dir.path("out"));
      const int signal = signals[round % 4];
      // Replaced only once complete.
      if (signal != SIGKILL) write_file(dir.path("out/big0.bmp"), kOldBmp);
      const int status =
          interrupt_brevlo(args, root(dir), std::chrono::microseconds(moment(random)), signal);
      EXPECT_TRUE((WIFEXITED(status) && WEXITSTATUS(status) == 0) || died_by(status, signal))
          << status;
      interrupted += died_by(status, signal);
      expect_only_whole_files(dir.path("out"), big.bmp);
    }
    EXPECT_GT(interrupted, 0) << jobs;
  }
}

TEST(Progress, RedrawnInPlaceOnATerminalForMoreThanAFewFiles) {
  ScratchDir dir;
  Args names;
  for (int i = 0; i < 20; ++i) {
    // A named number: GCC 12 at -O2 warns falsely (-Wrestrict) on "p" + a temporary.
    const std::string number = std::to_string(i);
    names.push_back("p" + number + ".gif");
    write_file(dir.path(names.back()), kPicture.gif);
  }
  CommandRun run = run_brevlo_on_terminal(names, root(dir));
  EXPECT_EQ(run.status, 0);
  // Every count from 1/20 to 20/20, then the line wiped before the summary
  // (the terminal turns each newline into CR LF).
  for (int done = 1; done <= 20; ++done) {
    const std::string count = std::to_string(done);
    EXPECT_NE(run.err.find("\r" + count + "/20"), std::string::npos) << done;
  }
  EXPECT_NE(run.err.find("\r20/20\r     \r20 converted, 0 failed\r\n"), std::string::npos)
      << run.err;

  Args quiet = {"-q", "-f"};
  quiet.insert(quiet.end(), names.begin(), names.end());
  run = run_brevlo_on_terminal(quiet, root(dir));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");

  run = run_brevlo_on_terminal({"-f", "p1.gif", "p2.gif", "p3.gif"}, root(dir));
  EXPECT_EQ(run.err, "3 converted, 0 failed\r\n");

  // Names from a list that is still being written: the line says the total
  // is not known yet.
  ASSERT_EQ(::mkfifo(dir.path("names").c_str(), 0600), 0);
  std::thread writer([&] {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string first;
    std::string rest;
    for (std::size_t i = 0; i < names.size(); ++i) (i < 10 ? first : rest) += names[i] + "\n";
    std::FILE* list = std::fopen(dir.path("names").c_str(), "w");
    if (list == nullptr) return;
    std::fputs(first.c_str(), list);
    std::fflush(list);
    while (!exists(dir.path("out/p0.bmp")) && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::fputs(rest.c_str(), list);
    std::fclose(list);
  });
  run = run_brevlo_on_terminal({"--files-from", "names", "-o", "out"}, root(dir));
  writer.join();
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("/10 so far"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\r20 converted, 0 failed\r\n"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace brevlo::test
