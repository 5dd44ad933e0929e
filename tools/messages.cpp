#include "messages.h"

#include <brevlo.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "file_checks.h"
#include "interrupts.h"
#include "temporary_files.h"

namespace brevlo::cli {

namespace {

// Batches of more files than a few get a progress line on a terminal.
constexpr std::size_t kProgressMinimumFiles = 5;
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;

const char* const kHelp =
    "usage: brevlo [OPTIONS] FILE.gif...\n"
    "       brevlo [OPTIONS] IN.gif OUT.bmp\n"
    "       brevlo [OPTIONS] -o OUT IN.gif\n"
    "\n"
    "Converts GIF images into 8-bit palettised Windows BMP files.\n"
    "Each FILE.gif becomes FILE.bmp beside it (a final .gif is replaced, any other\n"
    "name gets .bmp appended). Two files of which only the second ends in .bmp are\n"
    "an input and its output. A FILE of - is standard input.\n"
    "\n"
    "Options:\n"
    "  -o, --output PATH     one input: write the BMP to PATH, whatever its name,\n"
    "                        unless PATH is a folder or ends in /; several inputs\n"
    "                        or -r: write into the folder PATH, made when missing;\n"
    "                        - writes the BMP to standard output\n"
    "  -f, --force           replace BMP files that already exist\n"
    "  -n, --skip-existing   leave BMP files that already exist alone (skipped)\n"
    "  -r, --recursive       convert every *.gif in the folders given, and below\n"
    "  -j, --jobs N          convert N files at a time (default: one per processor)\n"
    "  -v, --verbose         one line per converted file, with its size\n"
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
    "Every BMP is written into a temporary file and given its name when\n"
    "complete, so an existing file is never damaged, and an interrupt leaves no\n"
    "partial or temporary file. An existing file is never replaced without\n"
    "--force; replacing keeps its permissions, and a symbolic link stays a link\n"
    "to the new file. Devices such as /dev/null are written in place. An output\n"
    "that is one of the inputs is never written, and when several inputs would\n"
    "give the same output, the first one on the command line gets it.\n"
    "\n"
    "Exit status: 0 when every file was converted (or skipped), 1 when any\n"
    "failed, 2 for a mistake on the command line. SIGINT, SIGTERM and SIGHUP\n"
    "end the command by that signal (a shell shows 128+N).\n"
    "\n"
    "Examples:\n"
    "  brevlo photo.gif                  write photo.bmp\n"
    "  brevlo photo.gif /tmp/small.bmp   write /tmp/small.bmp\n"
    "  brevlo -o picture photo.gif       write the file picture\n"
    "  brevlo -o bmp -j 4 *.gif          convert every GIF here into bmp/, 4 at a time\n"
    "  brevlo -n -o bmp *.gif            again, converting only what is missing\n"
    "  brevlo -r -o out pics             pics/a/b.gif becomes out/a/b.bmp\n"
    "  cat a.gif | brevlo -o - - > a.bmp convert from a pipe into a pipe\n"
    "  brevlo -o /dev/null -v photo.gif  check that photo.gif converts, show its size\n"
    "  brevlo --force -q *.gif           replace old BMP files, report only failures\n"
    "  brevlo --strict -o /dev/null a.gif  check that the library accepts a.gif\n";

std::string table_name(const ConversionReport& report) {
  return std::to_string(report.table_entries) + "-entry " +
         (report.table_is_local ? "local" : "global") + " colour table";
}

// What the engine's reason says, or "" when it names none.
std::string reason_text(const ConversionReport& report, bool strict) {
  switch (report.reason) {
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
    case Reason::kDataCutShort:
      return "the file is cut short: it ends inside its image data";
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

std::string shown_output(const Job& job) {
  return job.to_stdout ? std::string("standard output") : shown_name(job.output);
}

// "in.gif -> in.bmp (13 × 7)"
std::string describe_converted(const Job& job, const Outcome& outcome) {
  return shown_name(job.input) + " -> " + shown_output(job) + " (" +
         std::to_string(outcome.report.width) + " \u00d7 " + std::to_string(outcome.report.height) +
         ")";
}

// Prints one line of the report, clearing the progress line off the terminal
// first. A reader of standard output that went away ends the command.
void print_line(Report& report, std::FILE* stream, const std::string& line) {
  clear_progress(report);
  if (std::fprintf(stream, "%s\n", line.c_str()) < 0) end_on_broken_pipe(errno);
}

// How to name an output, for a second name taken as an input that is no GIF.
std::string output_hint(const Job& job, const Outcome& outcome) {
  const bool no_gif = outcome.problem == Problem::kInputUnreadable ||
                      outcome.problem == Problem::kInputNotAFile ||
                      outcome.report.reason == Reason::kNotGif;
  return job.may_be_meant_as_output && no_gif ? "to name the output, use -o" : "";
}

}  // namespace

std::string shown_name(const std::string& name) {
  std::string shown;
  shown.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= kFirstPrintable && byte != kDelete) {
      shown += c;
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else {
      std::array<char, 5> escaped{};
      std::snprintf(escaped.data(), escaped.size(), "\\x%02x", byte);
      shown += escaped.data();
    }
  }
  return shown;
}

int finish_standard_output(int status) {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
  end_on_broken_pipe(errno);
  std::fprintf(stderr, "brevlo: write error on standard output: %s\n", std::strerror(errno));
  return 1;
}

void print_help() {
  std::fputs(kHelp, stdout);
}

void print_version() {
  std::printf("brevlo %s\n", BREVLO_VERSION);
}

void print_usage_error(const std::string& error) {
  std::fprintf(stderr, "brevlo: %s\nTry 'brevlo --help' for more information.\n",
               shown_name(error).c_str());
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
  const std::string output = shown_output(job);
  std::string line = (job.input.empty() ? std::string("\"\"") : shown_name(job.input)) + ": ";
  std::string hint = output_hint(job, outcome);
  switch (outcome.problem) {
    case Problem::kNone:
      return line + "converted";
    case Problem::kSkipped:
      return line + "skipped: " + output + " already exists";
    case Problem::kSameOutputAsEarlier:
      return line + "not converted: its output " + output + " is also the output of " +
             shown_name(jobs[outcome.other].input);
    case Problem::kOutputIsTheInput:
      return line + "not converted: the output " + output + " is this input file itself";
    case Problem::kOutputIsAnotherInput:
      return line + "not converted: the output " + output + " is the input file " +
             shown_name(jobs[outcome.other].input);
    case Problem::kOutputExists:
      return line + "not converted: " + output +
             " already exists (use --force to replace it, or -n to skip it)";
    case Problem::kInputUnreadable:
      line += std::string("cannot open it: ") + std::strerror(outcome.error_number);
      break;
    case Problem::kInputNotAFile:
      line += std::string("cannot read it: it is ") + kind_of_file(outcome.file_kind) +
              ", not a regular file (use - to read standard input)";
      break;
    case Problem::kStandardInputClosed:
      line += "cannot read standard input: it is closed";
      break;
    case Problem::kStandardOutputClosed:
      line += "cannot write standard output: it is closed";
      break;
    case Problem::kOutputUncreatable:
      line += "cannot create " + output + ": " + std::strerror(outcome.error_number);
      break;
    case Problem::kWriteFailed:
      line += "cannot write " + output + ": " + std::strerror(outcome.error_number);
      break;
    case Problem::kTemporaryUncreatable:
      line += "cannot create a temporary file in " + shown_name(nameless_file_folder()) + ": " +
              std::strerror(outcome.error_number);
      break;
    case Problem::kTemporaryWriteFailed:
      line += "cannot write a temporary file in " + shown_name(nameless_file_folder()) + ": " +
              std::strerror(outcome.error_number);
      break;
    case Problem::kConversionFailed: {
      // Only an empty name fails before the engine can name a reason.
      const std::string reason = reason_text(outcome.report, strict);
      line += reason.empty() ? "the file name is empty" : reason;
      line += " (" + std::to_string(outcome.code) + ")";
      if (strict && hint.empty()) hint = way_out(outcome.report);
      return hint.empty() ? line : line + "; " + hint;
    }
  }
  line += " (" + std::to_string(outcome.code) + ")";
  return hint.empty() ? line : line + "; " + hint;
}

std::string describe_images(const Job& job, const Outcome& outcome) {
  if (outcome.report.image_count < 2) return "";
  return shown_name(job.input) + ": " + std::to_string(outcome.report.image_count) +
         " images; converted the first";
}

Report start_report(std::size_t total, const Options& options, bool stderr_on_terminal) {
  Report report;
  report.total = total;
  report.done.assign(total, false);
  report.quiet = options.quiet;
  report.strict = options.strict;
  report.show_skipped = options.skip_existing;
  // The BMP itself may be on standard output; the lines then go to stderr.
  if (options.verbose) report.verbose_to = options.to_stdout ? stderr : stdout;
  report.show_progress = !options.quiet && stderr_on_terminal && total >= kProgressMinimumFiles;
  return report;
}

void report_finished(Report& report, const std::vector<Job>& jobs,
                     const std::vector<Outcome>& outcomes, std::size_t index) {
  report.done[index] = true;
  ++report.finished;
  for (; report.next_to_report < report.total && report.done[report.next_to_report];
       ++report.next_to_report) {
    const Job& job = jobs[report.next_to_report];
    const Outcome& outcome = outcomes[report.next_to_report];
    if (outcome.problem == Problem::kNone) {
      ++report.converted;
      if (report.verbose_to != nullptr)
        print_line(report, report.verbose_to, describe_converted(job, outcome));
      if (const std::string note = describe_images(job, outcome); !note.empty() && !report.quiet)
        print_line(report, stderr, note);
      continue;
    }
    const std::string line = describe_failure(jobs, report.next_to_report, outcome, report.strict);
    if (outcome.problem == Problem::kSkipped) {
      ++report.skipped;
      if (report.verbose_to != nullptr) print_line(report, report.verbose_to, line);
      continue;
    }
    ++report.failed;
    print_line(report, stderr, line);
  }
  if (report.show_progress) draw_progress(report);
}

void finish_report(Report& report) {
  clear_progress(report);
  if (report.total <= 1 || report.quiet) return;
  if (report.show_skipped)
    std::fprintf(stderr, "%zu converted, %zu skipped, %zu failed\n", report.converted,
                 report.skipped, report.failed);
  else
    std::fprintf(stderr, "%zu converted, %zu failed\n", report.converted, report.failed);
}

}  // namespace brevlo::cli
