// One conversion: the command's checks in front of the engine, and the way
// the BMP reaches its output.
#pragma once

#include "command_line.h"
#include "engine/frames.h"
#include "job.h"
#include "output_plan.h"

namespace brevlo::cli {

// What a BMP is written from: the first image of the open GIF, which the
// engine converts under options, or (frames not null) the frame an
// animation's walk composed last.
struct BmpSource {
  platform::FileHandle gif = platform::kNoFile;
  const ConversionOptions* options = nullptr;
  FrameSequence* frames = nullptr;
};

// Converts job.input into job.target with the engine, under the conversion
// options the command line chose, unless planning refused the job, the input
// cannot be opened, or something exists at the output and --force was not
// given. Nothing the user did not ask to replace is touched; a failed
// conversion leaves no new output behind and an existing one unchanged. At the
// moment the BMP is given its name, a name that now leads to any of the run's
// inputs is refused.
Outcome convert_job(const Job& job, const Options& options, const Plan& plan);

// Writes the BMP of source to job.target, as what was there when the job
// was planned (job.existing) asks: into a temporary file committed whole
// under its name, in place for a device or pipe, or not at all where a file
// is there and neither --force nor -n was given. opened is the input.
Outcome convert_to_output(const Job& job, const BmpSource& source,
                          const platform::FileIdentity& opened, const Options& options,
                          const Plan& plan);

// A failure of the command's own.
Outcome failure(Problem problem, int system_error = 0);

bool succeeded(const Outcome& outcome);

}  // namespace brevlo::cli
