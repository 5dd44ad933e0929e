// brevlo: converts GIF files into 8-bit BMP files from the command line.
#include <cstring>
#include <filesystem>
#include <vector>

#include "batch_runner.h"
#include "command_line.h"
#include "file_checks.h"
#include "interrupts.h"
#include "messages.h"
#include "output_names.h"

namespace {

constexpr int kAllConverted = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsageError = 2;

// Makes the output folder of -o with its parents when missing. Returns the
// exit status to end with, or kAllConverted to go on.
int prepare_output_folder(const std::string& folder) {
  using namespace brevlo::cli;
  const brevlo::platform::FileIdentity found = brevlo::platform::identify_path(folder.c_str());
  if (found.kind == brevlo::platform::FileKind::kFolder) return kAllConverted;
  if (found.known) {
    // print_usage_error shows the name escaped.
    print_usage_error("'" + folder + "' is not a folder");
    return kUsageError;
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!error) return kAllConverted;
  std::fprintf(stderr, "brevlo: cannot create the folder %s: %s\n", shown_name(folder).c_str(),
               std::strerror(error.value()));
  return kSomeFailed;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brevlo::cli;
  const StandardStreams streams = occupy_standard_descriptors();
  Options options = parse_command_line(argc, argv);
  if (options.action == Action::kConvert) {
    if (std::string error = resolve_destination(options); !error.empty()) {
      options.action = Action::kUsageError;
      options.error = error;
    }
  }
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
  handle_interrupts();
  if (!options.output_dir.empty()) {
    if (int status = prepare_output_folder(options.output_dir); status != kAllConverted)
      end_command(status);
  }

  const Plan plan = plan_jobs(options, streams);
  std::vector<Outcome> outcomes;
  Report report = start_report(plan.jobs.size(), options, stderr_is_terminal());
  run_batch(plan, outcomes, options, worker_count(options.jobs, plan.jobs.size()), report);
  finish_report(report);
  end_command(finish_standard_output(report.failed == 0 ? kAllConverted : kSomeFailed));
}
