// brevlo: converts GIF files into 8-bit BMP files from the command line.
#include <string_view>
#include <vector>

#include "command_line.h"
#include "job_runner.h"
#include "messages.h"
#include "output_plan.h"
#include "platform/command_platform.h"
#include "run_report.h"

namespace {

using namespace brevlo::cli;
namespace platform = brevlo::platform;

constexpr int kAllConverted = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsageError = 2;

// Makes the output folder of -o with its parents when missing. Returns the
// exit status to end with, or kAllConverted to go on.
int prepare_output_folder(const std::string& folder) {
  const platform::FileIdentity found = platform::identify_path(folder.c_str());
  if (found.kind == platform::FileKind::kFolder) return kAllConverted;
  if (found.known) {
    // print_usage_error shows the name escaped.
    print_usage_error("'" + folder + "' is not a folder");
    return kUsageError;
  }
  const int error = platform::make_folders(folder);
  if (error == 0) return kAllConverted;
  print_command_error("cannot create the folder " + shown_name(folder) + ": " +
                      platform::describe_error(error));
  return kSomeFailed;
}

// Answers the options that ask for no conversion. Returns the exit status.
int answer(const Options& options) {
  switch (options.action) {
    case Action::kUsageError:
      print_usage_error(options.error);
      return kUsageError;
    case Action::kHelp:
      print_help();
      return finish_standard_output(kAllConverted);
    case Action::kVersion:
      print_version();
      return finish_standard_output(kAllConverted);
    case Action::kInfo:
      return finish_standard_output(print_info());
    case Action::kConvert:
      break;
  }
  return kAllConverted;
}

[[noreturn]] void convert(const Options& options, const platform::StandardStreams& streams) {
  platform::handle_interrupts();
  if (options.destination == Destination::kFolder) {
    if (int status = prepare_output_folder(options.output); status != kAllConverted)
      platform::end_command(status);
  }
  const Plan plan = plan_jobs(options, streams);
  std::vector<Outcome> outcomes;
  RunReport report =
      start_report(plan.jobs.size(), options, platform::is_terminal(platform::TextStream::kError));
  run_jobs(plan, outcomes, options, worker_count(options.jobs, plan.jobs.size()), report);
  finish_report(report);
  platform::end_command(finish_standard_output(report.failed == 0 ? kAllConverted : kSomeFailed));
}

}  // namespace

int main(int argc, char** argv) {
  const platform::StandardStreams streams = platform::occupy_standard_streams();
  const Options options =
      parse_command_line(std::vector<std::string_view>(argv + (argc > 0 ? 1 : 0), argv + argc));
  if (options.action != Action::kConvert) return answer(options);
  convert(options, streams);
}
