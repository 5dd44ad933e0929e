#include "messages.h"

#include <brevlo.h>

#include <cstdio>
#include <cstring>

namespace brevlo::cli {

namespace {

// Batches of more files than a few get a progress line on a terminal.
constexpr std::size_t kProgressMinimumFiles = 5;

const char* const kHelp =
    "usage: brevlo [OPTIONS] FILE.gif...\n"
    "       brevlo [OPTIONS] IN.gif OUT.bmp\n"
    "\n"
    "Converts GIF images into 8-bit palettised Windows BMP files.\n"
    "Each FILE.gif becomes FILE.bmp beside it (a final .gif is replaced, any other\n"
    "name gets .bmp appended), or in DIR with -o. Two files of which only the\n"
    "second ends in .bmp are an input and its output.\n"
    "\n"
    "Options:\n"
    "  -o, --output-dir DIR  write the BMP files into the folder DIR\n"
    "  -f, --force           replace BMP files that already exist\n"
    "  -j, --jobs N          convert N files at a time (default: one per processor)\n"
    "  -q, --quiet           report nothing but failures\n"
    "      --strict          accept exactly what the library (BREVLO32) accepts\n"
    "      --info            show the library's information text\n"
    "      --version         show the version\n"
    "  -h, --help            show this help\n"
    "\n"
    "By default every ordinary GIF converts: colour tables of any size, global or\n"
    "local, interlaced images, and a file that lacks only its trailer; the palette\n"
    "always has 256 entries (black past the GIF's table). With --strict a file\n"
    "converts only with a 256-entry global colour table, a non-interlaced image\n"
    "and the trailer, with the same result codes and bytes as the library.\n"
    "Of a file with several images only the first is converted.\n"
    "\n"
    "An existing file is never replaced without --force, an output that is one of\n"
    "the inputs is never written, and when several inputs would give the same\n"
    "output, the first one on the command line gets it and the others fail.\n"
    "\n"
    "Exit status: 0 when every file was converted, 1 when any failed, 2 for a\n"
    "mistake on the command line.\n"
    "\n"
    "Examples:\n"
    "  brevlo photo.gif                  write photo.bmp\n"
    "  brevlo photo.gif /tmp/small.bmp   write /tmp/small.bmp\n"
    "  brevlo -o bmp -j 4 *.gif          convert every GIF here into bmp/, 4 at a time\n"
    "  brevlo --force -q *.gif           replace old BMP files, report only failures\n";

const char* meaning_of(int code, bool looks_like_gif) {
  switch (code) {
    case ERR_OPEN_FAILED:
      return "cannot read it or write the output";
    case ERR_NO_MEMORY:
      return "not enough memory to decode the image";
    case ERR_BAD_GIF:
      return looks_like_gif ? "corrupt image data, an empty image, or no image at all"
                            : "not a GIF file";
    case ERR_UNSUPPORTED:
      return "unsupported GIF: it needs a 256-colour global colour table and a "
             "non-interlaced image";
    case ERR_EMPTY_NAME:
      return "the file name is empty";
    case ERR_EARLY_END:
      return "the file is cut short: it ends before the GIF trailer";
    default:
      return "the conversion failed";
  }
}

std::string table_name(const ConversionReport& report) {
  return std::to_string(report.table_entries) + "-entry " +
         (report.table_is_local ? "local" : "global") + " colour table";
}

// What the engine's reason says, or "" when it names none.
std::string reason_text(const ConversionReport& report, bool strict) {
  switch (report.reason) {
    case Reason::kReadFailed:
      return "cannot read it";
    case Reason::kWriteFailed:
      return "cannot write the output";
    case Reason::kNoMemory:
      return "not enough memory to decode the image";
    case Reason::kNotGif:
      return "not a GIF file";
    case Reason::kNoImage:
      return "no image in the file";
    case Reason::kEmptyImage:
      return "empty image (" + std::to_string(report.width) + "x" + std::to_string(report.height) +
             " pixels)";
    case Reason::kBadCodeSize:
      return "corrupt image data: code size " + std::to_string(report.code_size);
    case Reason::kCorruptData:
      return "corrupt image data";
    case Reason::kNoColourTable:
      return strict ? "unsupported GIF: no global colour table"
                    : "unsupported GIF: no colour table";
    case Reason::kTableSize:
      return "unsupported GIF: " + table_name(report);
    case Reason::kInterlaced:
      return "unsupported GIF: interlaced image";
    case Reason::kEndedEarly:
      return report.image_converted
                 ? "the file is cut short: it ends after its image, without the GIF trailer"
                 : "the file is cut short: it ends before the GIF trailer";
    case Reason::kNone:
      break;
  }
  return "";
}

// How to get past a refusal under --strict that the default conversion
// would accept, or "" when it would refuse the file too.
std::string way_out(const ConversionReport& report) {
  switch (report.reason) {
    case Reason::kTableSize:
      return "it converts without --strict";
    case Reason::kInterlaced:
      return "it converts without --strict, or store it without interlace "
             "(gifsicle --no-interlace)";
    case Reason::kNoColourTable:
      return "without --strict it converts if its image has a colour table of its own";
    case Reason::kEndedEarly:
      return report.image_converted ? "it converts without --strict" : "";
    default:
      return "";
  }
}

void clear_progress(Report& report) {
  if (report.progress_width == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(report.progress_width), "");
  report.progress_width = 0;
}

void draw_progress(Report& report) {
  int width = std::fprintf(stderr, "\r%zu/%zu", report.finished, report.total);
  report.progress_width = width > 1 ? static_cast<std::size_t>(width - 1) : 0;
}

}  // namespace

void print_help() {
  std::fputs(kHelp, stdout);
}

void print_version() {
  std::printf("brevlo %s\n", BREVLO_VERSION);
}

void print_usage_error(const std::string& error) {
  std::fprintf(stderr, "brevlo: %s\nTry 'brevlo --help' for more information.\n", error.c_str());
}

int print_info() {
  // The library gives the length first, then copies the text without a NUL.
  const int32_t length = BREVLOInfo(nullptr, 0);
  if (length < 0) return 1;
  std::string text(static_cast<std::size_t>(length), ' ');
  if (BREVLOInfo(text.data(), length) != 0) return 1;
  std::printf("%s\n", text.c_str());
  return 0;
}

std::string describe_failure(const std::vector<Job>& jobs, std::size_t index,
                             const Outcome& outcome, bool strict) {
  const Job& job = jobs[index];
  std::string line = (job.input.empty() ? std::string("\"\"") : job.input) + ": ";
  switch (outcome.problem) {
    case Problem::kNone:
      return line + "converted";
    case Problem::kSameOutputAsEarlier:
      return line + "not converted: its output " + job.output + " is also the output of " +
             jobs[job.other].input;
    case Problem::kOutputIsTheInput:
      return line + "not converted: the output " + job.output + " is this input file itself";
    case Problem::kOutputIsAnotherInput:
      return line + "not converted: the output " + job.output + " is the input file " +
             jobs[job.other].input;
    case Problem::kOutputExists:
      return line + "not converted: " + job.output + " already exists (use --force to replace it)";
    case Problem::kInputUnreadable:
      line += std::string("cannot open it: ") + std::strerror(outcome.error_number);
      break;
    case Problem::kOutputUncreatable:
      line += "cannot create " + job.output + ": " + std::strerror(outcome.error_number);
      break;
    case Problem::kConversionFailed: {
      const std::string reason = reason_text(outcome.report, strict);
      line += reason.empty() ? meaning_of(outcome.code, outcome.looks_like_gif) : reason;
      line += " (" + std::to_string(outcome.code) + ")";
      const std::string hint = strict ? way_out(outcome.report) : "";
      return hint.empty() ? line : line + "; " + hint;
    }
  }
  return line + " (" + std::to_string(outcome.code) + ")";
}

std::string describe_images(const Job& job, const Outcome& outcome) {
  if (outcome.report.image_count < 2) return "";
  return job.input + ": " + std::to_string(outcome.report.image_count) +
         " images; converted the first";
}

Report start_report(std::size_t total, bool quiet, bool stderr_on_terminal) {
  Report report;
  report.total = total;
  report.done.assign(total, false);
  report.quiet = quiet;
  report.show_progress = !quiet && stderr_on_terminal && total >= kProgressMinimumFiles;
  return report;
}

void report_finished(Report& report, const std::vector<Job>& jobs,
                     const std::vector<Outcome>& outcomes, std::size_t index) {
  report.done[index] = true;
  ++report.finished;
  for (; report.next_to_report < report.total && report.done[report.next_to_report];
       ++report.next_to_report) {
    const Outcome& outcome = outcomes[report.next_to_report];
    if (outcome.problem == Problem::kNone) {
      ++report.converted;
      const std::string note = describe_images(jobs[report.next_to_report], outcome);
      if (note.empty() || report.quiet) continue;
      clear_progress(report);
      std::fprintf(stderr, "%s\n", note.c_str());
      continue;
    }
    ++report.failed;
    clear_progress(report);
    std::fprintf(stderr, "%s\n",
                 describe_failure(jobs, report.next_to_report, outcome, report.strict).c_str());
  }
  if (report.show_progress) draw_progress(report);
}

void finish_report(Report& report) {
  clear_progress(report);
  if (report.total > 1 && !report.quiet)
    std::fprintf(stderr, "%zu converted, %zu failed\n", report.converted, report.failed);
}

}  // namespace brevlo::cli
