#include "failure_lines.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

#include "engine/compositor.h"
#include "frame_files.h"
#include "messages.h"
#include "platform/command_platform.h"

namespace brevlo::cli {

namespace {

// Which rows of a reason apply.
enum class When : std::uint8_t {
  kAlways,
  kStrict,             // converting under --strict
  kBroad,              // converting as the command does by default
  kImageConverted,     // the first image was decoded to its end
  kImageNotConverted,  // it was not
  kEndCodeMissing,     // the image was complete, and its data ended without its end code
  kScreenTooLarge,     // --frames: the canvas would pass its limit
};

// An engine's reason as a person reads it. In words, {width}, {height},
// {code_size} and {table} stand for what the report says. The hint says, under
// --strict, how to get past a refusal the default conversion would accept.
struct ReasonText {
  Reason reason;
  When when;
  ConversionResult code;
  std::string_view words;
  std::string_view strict_hint;
};

constexpr std::string_view kWithoutStrict = "it converts without --strict";

constexpr ReasonText kReasonTexts[] = {
    {Reason::kWriteFailed, When::kAlways, kOpenFailed, "cannot write the output", ""},
    {Reason::kNoMemory, When::kScreenTooLarge, kNoMemory,
     "the screen of {screen} pixels is larger than the {limit} pixels (a canvas of 1 GiB) frames "
     "may cover",
     ""},
    {Reason::kNoMemory, When::kAlways, kNoMemory, "not enough memory to decode the image", ""},
    {Reason::kNotGif, When::kAlways, kBadGif, "not a GIF file", ""},
    {Reason::kNoImage, When::kAlways, kBadGif, "no image in the file", ""},
    {Reason::kEmptyImage, When::kAlways, kBadGif, "empty image ({width}x{height} pixels)", ""},
    {Reason::kBadCodeSize, When::kAlways, kBadGif, "corrupt image data: code size {code_size}", ""},
    {Reason::kCorruptData, When::kEndCodeMissing, kBadGif, "corrupt image data", kWithoutStrict},
    {Reason::kCorruptData, When::kAlways, kBadGif, "corrupt image data", ""},
    {Reason::kDataCutShort, When::kAlways, kBadGif,
     "the file is cut short: it ends inside its image data", ""},
    {Reason::kNoColourTable, When::kStrict, kUnsupported, "unsupported GIF: no global colour table",
     "without --strict it converts if its image has a colour table of its own"},
    {Reason::kNoColourTable, When::kBroad, kUnsupported, "unsupported GIF: no colour table", ""},
    {Reason::kTableSize, When::kAlways, kUnsupported, "unsupported GIF: {table}", kWithoutStrict},
    {Reason::kInterlaced, When::kAlways, kUnsupported, "unsupported GIF: interlaced image",
     "it converts without --strict, or store it without interlace (gifsicle --no-interlace)"},
    {Reason::kEndedEarly, When::kImageConverted, kEarlyEnd,
     "the file is cut short: it ends after its image, without the GIF trailer", kWithoutStrict},
    {Reason::kEndedEarly, When::kImageNotConverted, kEarlyEnd,
     "the file is cut short: it ends before the GIF trailer", ""},
};

// The table's codes are the engine's.
constexpr bool codes_agree() {
  return std::all_of(std::begin(kReasonTexts), std::end(kReasonTexts),
                     [](const ReasonText& row) { return row.code == code_for(row.reason); });
}
static_assert(codes_agree(), "a reason's result code differs from the engine's");

// A problem of the command's own. In words, {output} and {other} stand for the
// job's output and the input of the job it refers to, {error} for the
// system's words, {kind} for what the input is and {spool} for the folder of
// the temporary file a BMP for a stream is made in. Code 0: no result code is
// shown (nothing was converted or attempted).
struct ProblemText {
  Problem problem;
  ConversionResult code;
  std::string_view words;
};

constexpr ProblemText kProblemTexts[] = {
    {Problem::kNone, 0, "converted"},
    {Problem::kSkipped, 0, "skipped: {output} already exists"},
    {Problem::kSameOutputAsEarlier, 0,
     "not converted: its output {output} is also the output of {other}"},
    {Problem::kOutputIsTheInput, 0, "not converted: the output {output} is this input file itself"},
    {Problem::kOutputIsAnotherInput, 0,
     "not converted: the output {output} is the input file {other}"},
    {Problem::kInputIsAnEarlierOutput, 0, "not converted: it is the output of {other}"},
    {Problem::kFolderNameTaken, 0,
     "not converted: its files would go to {output}, where those of {other} go"},
    {Problem::kOutputExists, 0,
     "not converted: {output} already exists (use --force to replace it, or -n to skip it)"},
    {Problem::kEmptyName, kEmptyName, "the file name is empty"},
    {Problem::kNameHoldsNul, kOpenFailed,
     "cannot open it: the name holds a NUL byte (a list of NUL-separated names needs --null)"},
    {Problem::kInputUnreadable, kOpenFailed, "cannot open it: {error}"},
    {Problem::kInputNotAFile, kOpenFailed,
     "cannot read it: it is {kind}, not a regular file (use - to read standard input)"},
    {Problem::kListUnreadable, 0, "cannot read the list of names: {error}"},
    {Problem::kStandardInputIsTheList, kOpenFailed,
     "cannot read standard input: it holds the list of names"},
    {Problem::kStandardInputInAList, kOpenFailed,
     "cannot read standard input from a list, which names files (a file called - is ./-)"},
    {Problem::kStandardInputClosed, kOpenFailed, "cannot read standard input: it is closed"},
    {Problem::kStandardOutputClosed, kOpenFailed, "cannot write standard output: it is closed"},
    {Problem::kOutputUncreatable, kOpenFailed, "cannot create {output}: {error}"},
    {Problem::kWriteFailed, kOpenFailed, "cannot write {output}: {error}"},
    {Problem::kSpoolUncreatable, kOpenFailed, "cannot create a temporary file in {spool}: {error}"},
    {Problem::kSpoolWriteFailed, kOpenFailed, "cannot write a temporary file in {spool}: {error}"},
    {Problem::kRunTooLarge, 0,
     "not converted: the run holds too many names to check them all; convert the rest in "
     "another run"},
};

bool applies(When when, const ConversionReport& report, bool strict) {
  switch (when) {
    case When::kStrict:
      return strict;
    case When::kBroad:
      return !strict;
    case When::kImageConverted:
      return report.image_converted;
    case When::kImageNotConverted:
      return !report.image_converted;
    case When::kEndCodeMissing:
      return report.end_code_missing;
    case When::kScreenTooLarge:
      return report.screen_too_large;
    case When::kAlways:
      break;
  }
  return true;
}

const ReasonText* reason_text(const ConversionReport& report, bool strict) {
  const auto* found =
      std::find_if(std::begin(kReasonTexts), std::end(kReasonTexts), [&](const auto& row) {
        return row.reason == report.reason && applies(row.when, report, strict);
      });
  return found == std::end(kReasonTexts) ? nullptr : found;
}

std::string table_name(const ConversionReport& report) {
  return std::to_string(report.table_entries) + "-entry " +
         (report.table_is_local ? "local" : "global") + " colour table";
}

// "words (code)", then "; hint" when there is one.
std::string with_code_and_hint(std::string words, ConversionResult code, std::string_view hint) {
  if (code != 0) words += " (" + std::to_string(code) + ")";
  if (!hint.empty()) words += "; " + std::string(hint);
  return words;
}

// A refusal by the engine: its reason's words and code, and under --strict the
// way past it.
std::string describe_reason(const ConversionReport& report, bool strict,
                            std::string_view output_hint) {
  const ReasonText* row = reason_text(report, strict);
  if (row == nullptr) return with_code_and_hint("not converted", code_for(report.reason), "");
  const std::string screen =
      std::to_string(report.screen_width) + "x" + std::to_string(report.screen_height);
  const std::string words = filled(row->words, {{"width", std::to_string(report.width)},
                                                {"height", std::to_string(report.height)},
                                                {"code_size", std::to_string(report.code_size)},
                                                {"table", table_name(report)},
                                                {"screen", screen},
                                                {"limit", std::to_string(kMaxCanvasPixels)}});
  const std::string_view hint = !output_hint.empty() ? output_hint
                                : strict             ? row->strict_hint
                                                     : std::string_view();
  return with_code_and_hint(words, row->code, hint);
}

// How to name an output, for a second name taken as an input that is no GIF.
std::string_view output_hint(const Job& job, const Outcome& outcome) {
  const bool no_gif =
      outcome.problem == Problem::kInputUnreadable || outcome.problem == Problem::kInputNotAFile ||
      (outcome.problem == Problem::kConversionFailed && outcome.report.reason == Reason::kNotGif);
  return job.may_be_meant_as_output && no_gif ? "to name the output, use -o" : "";
}

// How a job's input is named in its lines: a name from a list that cannot
// be shown, empty or too long, by where it stands in the list.
std::string shown_input(const Job& job) {
  if (!job.input.empty()) return shown_name(job.input);
  return job.listed_at.empty() ? std::string("\"\"") : shown_name(job.listed_at);
}

// Damage in a later frame of an animation, as a person reads it: where the
// file stops being whole. Other reasons keep their usual words.
struct FrameDamageText {
  Reason reason;
  std::string_view words;
};

constexpr FrameDamageText kFrameDamageTexts[] = {
    {Reason::kDataCutShort, "the file is cut short inside frame {frame}"},
    {Reason::kEndedEarly, "the file is cut short inside frame {frame}"},
    {Reason::kCorruptData, "corrupt image data in frame {frame}"},
    {Reason::kBadCodeSize, "corrupt image data in frame {frame}"},
    {Reason::kNoMemory, "not enough memory to compose frame {frame} (30003)"},
};

std::string count_of(std::uint32_t count, std::string_view what) {
  return std::to_string(count) + " " + std::string(what) + (count == 1 ? "" : "s");
}

// The line's words for a frames job that failed in frame k > 1, whose frames
// before it stay: the damage, or the failure as any job's, then how many
// frames were written (those -n left alone were not). Empty for any other
// failure.
std::string frames_kept(const Outcome& outcome, const std::string& words) {
  const std::uint32_t frame = outcome.report.failed_frame;
  if (frame < 2) return "";
  std::string line = words;
  if (outcome.problem == Problem::kConversionFailed) {
    const auto* damage = std::find_if(
        std::begin(kFrameDamageTexts), std::end(kFrameDamageTexts),
        [&](const FrameDamageText& row) { return row.reason == outcome.report.reason; });
    if (damage != std::end(kFrameDamageTexts))
      line = filled(damage->words, {{"frame", std::to_string(frame)}});
  }
  const auto written = std::count_if(outcome.frames.begin(), outcome.frames.end(),
                                     [](const FrameFile& file) { return !file.skipped; });
  return line + "; wrote " + count_of(static_cast<std::uint32_t>(written), "frame");
}

// Where a job's BMP goes, as its failure line names it: for a frames job
// that failed at a frame, that frame's file.
std::string failed_output(const Job& job, const Outcome& outcome) {
  if (job.frames && outcome.report.failed_frame > 0)
    return shown_name(frame_file_name(job.output, outcome.report.failed_frame));
  return shown_output(job);
}

// What a file that is not a regular one is, for messages: "a pipe", "a
// device", "a socket", "a folder" or "not a regular file".
const char* kind_of_file(platform::FileKind kind) {
  switch (kind) {
    case platform::FileKind::kPipe:
      return "a pipe";
    case platform::FileKind::kCharacterDevice:
    case platform::FileKind::kBlockDevice:
      return "a device";
    case platform::FileKind::kSocket:
      return "a socket";
    case platform::FileKind::kFolder:
      return "a folder";
    default:
      return "not a regular file";
  }
}

}  // namespace

std::string describe_failure(const Job& job, const Outcome& outcome, bool strict) {
  const std::string name = shown_input(job);
  const std::string_view hint = output_hint(job, outcome);
  std::string words;
  if (outcome.problem == Problem::kConversionFailed) {
    words = describe_reason(outcome.report, strict, hint);
  } else {
    const ProblemText& row =
        *std::find_if(std::begin(kProblemTexts), std::end(kProblemTexts),
                      [&](const auto& r) { return r.problem == outcome.problem; });
    words = with_code_and_hint(
        filled(row.words, {{"output", failed_output(job, outcome)},
                           {"other", shown_name(outcome.other_input)},
                           {"error", platform::describe_error(outcome.system_error)},
                           {"kind", kind_of_file(outcome.input_kind)},
                           {"spool", shown_name(platform::spool_folder())}}),
        row.code, hint);
  }
  if (const std::string kept = frames_kept(outcome, words); !kept.empty()) words = kept;
  return name + ": " + words;
}

}  // namespace brevlo::cli
