// Planning a run's jobs one at a time, as their names arrive: where each
// output goes, and which outputs must not be written because they would
// replace an input or another output of the same run. The names given on the
// command line are known before the run starts and are indexed first; a
// name from a list or a folder walk is checked against everything the run
// has read or planned before it.
#pragma once

#include <string>
#include <string_view>

#include "command_line.h"
#include "job.h"
#include "places.h"
#include "platform/command_platform.h"
#include "run_index.h"

namespace brevlo::cli {

// The BMP name for a GIF name: a final ".gif" in any letter case becomes
// ".bmp"; any other name gets ".bmp" appended.
std::string bmp_name_for(std::string_view gif_path);

// The name prefix of a GIF's frame files (--frames): its BMP name without
// ".bmp", so that NAME.gif gives NAME-001.bmp, NAME-002.bmp, ...
std::string frame_prefix_for(std::string_view gif_path);

// Follows the symbolic links from job.output to the name the BMP is given
// (job.target), and notes what is there now (job.existing); a link that
// cannot be followed refuses the job.
void find_target(Job& job);

// What every job of a run consults. The index is shared with the threads
// that convert; the places are the planner's alone.
struct Plan {
  RunIndex index;
  Places places;
  platform::NewFileDefaults new_files;  // what a temporary file gets, before it replaces one
};

// Indexes the inputs named on the command line (not the folders -r walks):
// the files they are and where their names lead. Returns true when every one
// is a file, so that the number of jobs is known. Call before any
// conversion starts.
bool index_command_line(Plan& plan, const Options& options);

// The job for source, with its output path: the one output file, the same
// place below the output folder, or NAME.bmp beside the input. An output that
// leads to an input the run has read is refused; of several inputs with one
// output, the first keeps it and the later ones are refused; a name read from
// a list or a walk that is the output of an earlier input is refused; "-" is
// refused for a standard stream the command started without.
Job plan_job(Plan& plan, const Options& options, const Source& source,
             const platform::StandardStreams& streams);

// For a folder -r starts to walk below -o DIR: true when no earlier folder of
// the run puts its files in the same place there; otherwise false, with the
// job that reports it.
bool claim_walked_folder(Plan& plan, const Options& options, const Source& folder, Job& refused);

}  // namespace brevlo::cli
