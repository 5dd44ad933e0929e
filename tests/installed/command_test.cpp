// The installed brevlo command as people use it: its options, what it writes,
// what it refuses to touch, what it says, and how it exits.
#include <brevlo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
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
      {{"-o", "missing", "in.gif"}, "the output folder 'missing' does not exist"},
      {{"-o", "in.gif", "in.gif"}, "'in.gif' is not a folder"},
      {{"--force=yes", "in.gif"}, "option '--force' takes no value"},
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

TEST(Overwriting, AnExistingOutputIsKeptWithoutForce) {
  for (const Args& args : {Args{"in.gif", "out.bmp"}, Args{"in.gif"}}) {
    ScratchDir dir;
    const std::string output = args.size() == 2 ? "out.bmp" : "in.bmp";
    write_file(dir.path("in.gif"), kPicture.gif);
    write_file(dir.path(output), kOldBmp);
    CommandRun run = run_brevlo(args, root(dir));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "in.gif: not converted: " + output + " already exists (use --force to replace it)\n");
    EXPECT_EQ(read_file(dir.path(output)), kOldBmp);
  }
}

TEST(Overwriting, ForceReplacesAndLeavesNothingElse) {
  for (const char* force : {"--force", "-f"}) {
    ScratchDir dir;
    write_file(dir.path("in.gif"), kPicture.gif);
    write_file(dir.path("out.bmp"), Bytes(5000, 0xEE));
    CommandRun run = run_brevlo({force, "in.gif", "out.bmp"}, root(dir));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(read_file(dir.path("out.bmp")), kPicture.bmp);
    EXPECT_EQ(entries(root(dir)), 2u);
  }
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

TEST(Overwriting, ForceWritesADeviceInPlaceAndNeverRemovesIt) {
  const std::vector<std::pair<std::string, std::string>> devices = {
      {"/dev/null", ""}, {"/dev/full", "in.gif: cannot read it or write the output (30001)\n"}};
  for (const auto& [device, error] : devices) {
    ScratchDir dir;
    write_file(dir.path("in.gif"), kPicture.gif);
    fs::create_symlink(device, dir.path("out.bmp"));
    CommandRun run = run_brevlo({"--force", "in.gif", "out.bmp"}, root(dir));
    EXPECT_EQ(run.status, error.empty() ? 0 : 1);
    EXPECT_EQ(run.err, error);
    EXPECT_TRUE(fs::is_symlink(dir.path("out.bmp")));
    EXPECT_TRUE(fs::is_character_file(device));
  }
}

TEST(SameFile, AnOutputLeadingToTheInputIsRefusedEvenWithForce) {
  for (bool symbolic : {true, false}) {
    for (const Args& force : {Args{}, Args{"--force"}}) {
      ScratchDir dir;
      write_file(dir.path("in.gif"), kPicture.gif);
      if (symbolic)
        fs::create_symlink("in.gif", dir.path("out.bmp"));
      else
        fs::create_hard_link(dir.path("in.gif"), dir.path("out.bmp"));
      Args args = force;
      args.insert(args.end(), {"in.gif", "out.bmp"});
      CommandRun run = run_brevlo(args, root(dir));
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, "in.gif: not converted: the output out.bmp is this input file itself\n");
      EXPECT_EQ(read_file(dir.path("in.gif")), kPicture.gif);
    }
  }
}

TEST(SameFile, AnOutputThatIsAnotherInputIsRefused) {
  ScratchDir dir;
  for (const char* name : {"a", "a.bmp", "b.gif"}) write_file(dir.path(name), kPicture.gif);
  CommandRun run = run_brevlo({"--force", "a", "b.gif", "a.bmp"}, root(dir));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "a: not converted: the output a.bmp is the input file a.bmp\n"
            "2 converted, 1 failed\n");
  EXPECT_EQ(read_file(dir.path("a.bmp")), kPicture.gif);
  EXPECT_EQ(read_file(dir.path("a.bmp.bmp")), kPicture.bmp);
  EXPECT_EQ(read_file(dir.path("b.bmp")), kPicture.bmp);
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
  };
  for (const auto& [args, error] : cases) {
    ScratchDir dir;
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
  no_global_table.global_table = {};
  no_global_table.data = sub_blocks(pack_codes(lzw_encode({7}, 8)), 255);
  GifParts interlaced;
  interlaced.image_packed = 0x40;
  interlaced.data = no_global_table.data;
  GifParts corrupt;
  corrupt.data = sub_blocks(pack_codes(with_widths({256, 1, 300, 257}, 8)), 255);
  Bytes cut = kPicture.gif;
  cut.pop_back();  // the trailer

  struct Case {
    Args args;
    Bytes input;  // written to in.gif unless empty
    std::string error;
  };
  const std::vector<Case> cases = {
      {{"in.gif"}, bytes_of("GIF is what it is not"), "in.gif: not a GIF file (30004)"},
      {{"in.gif"}, cut, "in.gif: the file is cut short: it ends before the GIF trailer (30011)"},
      {{"in.gif"},
       assemble(corrupt),
       "in.gif: corrupt image data, an empty image, or no image at all (30004)"},
      {{"in.gif"},
       assemble(interlaced),
       "in.gif: unsupported GIF: it needs a 256-colour global colour table and a "
       "non-interlaced image (30008)"},
      {{"in.gif"},
       assemble(no_global_table),
       "in.gif: unsupported GIF: it needs a 256-colour global colour table and a "
       "non-interlaced image (30008)"},
      {{"missing.gif"}, {}, "missing.gif: cannot open it: No such file or directory (30001)"},
      {{"."}, {}, ".: cannot open it: Is a directory (30001)"},
      {{"in.gif", "nowhere/out.bmp"},
       kPicture.gif,
       "in.gif: cannot create nowhere/out.bmp: No such file or directory (30001)"},
      {{""}, {}, "\"\": the file name is empty (30010)"},
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

// Files of many sizes, every seventh one cut short.
std::vector<Picture> write_batch(const ScratchDir& dir, int count, Args& names) {
  std::vector<Picture> pictures;
  for (int i = 0; i < count; ++i) {
    Picture p = picture(1 + (i * 37) % 211, 1 + (i * 23) % 97, static_cast<std::uint32_t>(i));
    if (i % 7 == 3) {
      p.gif.pop_back();  // the trailer
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
  const std::vector<Args> job_options = {{"-j", "1"}, {"-j4"}, {"--jobs=3"}, {}};
  for (std::size_t k = 0; k < job_options.size(); ++k) {
    const std::string folder = "out" + std::to_string(k);
    fs::create_directory(dir.path(folder));
    Args args = job_options[k];
    args.insert(args.end(), {"-o", folder});
    args.insert(args.end(), names.begin(), names.end());
    runs.push_back(run_brevlo(args, root(dir)));
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
}

}  // namespace
}  // namespace brevlo::test
