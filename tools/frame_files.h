// --frames: every frame of one GIF into a file of its own, NAME-001.bmp on,
// each written as soon as its frame is complete and reaching its name as any
// BMP of the command does (convert_to_output).
#pragma once

#include <cstdint>
#include <string>

#include "command_line.h"
#include "job.h"
#include "output_plan.h"

namespace brevlo::cli {

// The name of frame `frame` (1 = the first) of the frames named prefix.
std::string frame_file_name(const std::string& prefix, std::uint32_t frame);

// Converts every frame of the open GIF gif (opened) into the frame files of
// job.output. Each frame file is looked at when its frame is ready: -n skips
// one that exists and goes on, and without --force one that exists ends the
// job, as a failure to write one does. The frames written before a failure,
// or before damage in the file, stay. The outcome lists each frame file in
// order; it is kSkipped when every one was skipped.
Outcome convert_frames(const Job& job, platform::FileHandle gif,
                       const platform::FileIdentity& opened, const Options& options,
                       const Plan& plan);

}  // namespace brevlo::cli
