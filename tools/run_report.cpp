#include "run_report.h"

#include <string>

#include "failure_lines.h"
#include "frame_files.h"
#include "messages.h"

namespace brevlo::cli {

namespace {

using platform::TextStream;

// Batches of more files than a few get a progress line on a terminal.
constexpr std::size_t kProgressMinimumFiles = 5;

void clear_progress(RunReport& report) {
  if (report.progress_width == 0) return;
  // The line overwritten with blanks: "\r", a blank per character, "\r".
  std::string blank(report.progress_width + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  platform::write_text(TextStream::kError, blank);
  report.progress_width = 0;
}

// "12/40" once the total is known, "12/40 so far" until then; a shorter
// line than the one on screen is padded to cover it.
void draw_progress(RunReport& report) {
  const std::size_t of = report.total_known ? report.total : report.found;
  std::string count = std::to_string(report.finished) + "/" + std::to_string(of);
  if (!report.total_known) count += " so far";
  if (count.size() < report.progress_width) count.resize(report.progress_width, ' ');
  platform::write_text(TextStream::kError, "\r" + count);
  report.progress_width = count.size();
}

// "in.gif -> in.bmp (13 × 7)"
std::string describe_converted(const Job& job, const Outcome& outcome) {
  return shown_name(job.input) + " -> " + shown_output(job) + " (" +
         std::to_string(outcome.report.width) + " \u00d7 " + std::to_string(outcome.report.height) +
         ")";
}

// A GIF delay is in hundredths of a second.
constexpr unsigned kMillisecondsPerDelay = 10;

// "anim.gif -> anim-003.bmp (320 × 200, 100 ms)", or for a frame file -n
// left alone "anim.gif: skipped: anim-003.bmp already exists".
std::string describe_frame_file(const Job& job, const Outcome& outcome, std::uint32_t frame) {
  const FrameFile& file = outcome.frames[frame - 1];
  const std::string name = shown_name(frame_file_name(job.output, frame));
  if (file.skipped) return shown_name(job.input) + ": skipped: " + name + " already exists";
  const ConversionReport& report = outcome.report;
  return shown_name(job.input) + " -> " + name + " (" + std::to_string(report.screen_width) +
         " \u00d7 " + std::to_string(report.screen_height) + ", " +
         std::to_string(unsigned{file.delay} * kMillisecondsPerDelay) + " ms)";
}

// The note for a converted file of several images, such as
// "anim.gif: 12 images; converted the first", or "" for one image.
std::string describe_images(const Job& job, const Outcome& outcome) {
  if (outcome.report.image_count < 2) return "";
  return shown_name(job.input) + ": " + std::to_string(outcome.report.image_count) +
         " images; converted the first";
}

// Prints one line of the report, clearing the progress line off the terminal
// first.
void print_line(RunReport& report, TextStream stream, const std::string& line) {
  clear_progress(report);
  platform::write_text(stream, line + "\n");
}

void report_converted(RunReport& report, const Job& job, const Outcome& outcome) {
  ++report.converted;
  if (job.frames) return;  // its frame files have their own lines
  if (report.verbose) print_line(report, report.verbose_to, describe_converted(job, outcome));
  if (const std::string note = describe_images(job, outcome); !note.empty() && !report.quiet)
    print_line(report, TextStream::kError, note);
}

// With -v, a line for each frame file a --frames job wrote or left alone.
void report_frame_files(RunReport& report, const Job& job, const Outcome& outcome) {
  if (!report.verbose) return;
  for (std::uint32_t frame = 1; frame <= outcome.frames.size(); ++frame)
    print_line(report, report.verbose_to, describe_frame_file(job, outcome, frame));
}

}  // namespace

RunReport start_report(const Options& options, bool stderr_on_terminal, bool total_known,
                       std::size_t known_total) {
  RunReport report;
  report.total_known = total_known;
  report.total = total_known ? known_total : 0;
  report.quiet = options.quiet;
  report.strict = options.strict;
  report.show_skipped = options.skip_existing;
  report.verbose = options.verbose;
  // The BMP itself may be on standard output; the lines then go to stderr.
  if (options.destination == Destination::kStandardOutput) report.verbose_to = TextStream::kError;
  report.may_show_progress = !options.quiet && stderr_on_terminal;
  return report;
}

void report_outcome(RunReport& report, const Job& job, const Outcome& outcome) {
  report_frame_files(report, job, outcome);
  if (outcome.problem == Problem::kNone) {
    report_converted(report, job, outcome);
    return;
  }
  const std::string line = describe_failure(job, outcome, report.strict);
  if (outcome.problem == Problem::kSkipped) {
    ++report.skipped;
    // A frames job's skipped files had lines of their own.
    if (report.verbose && outcome.frames.empty()) print_line(report, report.verbose_to, line);
    return;
  }
  ++report.failed;
  print_line(report, TextStream::kError, line);
}

void show_progress(RunReport& report) {
  const std::size_t files = report.total_known ? report.total : report.found;
  if (report.may_show_progress && files >= kProgressMinimumFiles) draw_progress(report);
}

void finish_report(RunReport& report) {
  clear_progress(report);
  const std::size_t files = report.converted + report.skipped + report.failed;
  if (files <= 1 || report.quiet) return;
  std::string summary = std::to_string(report.converted) + " converted, ";
  if (report.show_skipped) summary += std::to_string(report.skipped) + " skipped, ";
  platform::write_text(TextStream::kError, summary + std::to_string(report.failed) + " failed\n");
}

}  // namespace brevlo::cli
