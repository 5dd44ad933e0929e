// brevlo: converts GIF files into 8-bit BMP files from the command line.
#include <vector>

#include "batch_runner.h"
#include "command_line.h"
#include "file_checks.h"
#include "messages.h"
#include "output_names.h"

namespace {

constexpr int kAllConverted = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsageError = 2;

}  // namespace

int main(int argc, char** argv) {
  using namespace brevlo::cli;
  const Options options = parse_command_line(argc, argv);
  switch (options.action) {
    case Action::kUsageError:
      print_usage_error(options.error);
      return kUsageError;
    case Action::kHelp:
      print_help();
      return kAllConverted;
    case Action::kVersion:
      print_version();
      return kAllConverted;
    case Action::kInfo:
      return print_info();
    case Action::kConvert:
      break;
  }
  if (!options.output_dir.empty()) {
    const FileIdentity folder = identify(options.output_dir);
    if (!folder.is_folder) {
      print_usage_error(folder.exists
                            ? "'" + options.output_dir + "' is not a folder"
                            : "the output folder '" + options.output_dir + "' does not exist");
      return kUsageError;
    }
  }

  const std::vector<Job> jobs = plan_jobs(options);
  std::vector<Outcome> outcomes;
  Report report = start_report(jobs.size(), options.quiet, stderr_is_terminal());
  report.strict = options.strict;
  run_batch(jobs, outcomes, options, worker_count(options.jobs, jobs.size()), report);
  finish_report(report);
  return report.failed == 0 ? kAllConverted : kSomeFailed;
}
