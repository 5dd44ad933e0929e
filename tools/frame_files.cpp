#include "frame_files.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "convert_job.h"

namespace brevlo::cli {

namespace {

// Writes the frame the walk composed last into its file, the job's output
// then being that file's name.
Outcome write_frame_file(const Job& job, FrameSequence& frames,
                         const platform::FileIdentity& opened, const Options& options,
                         const Plan& plan) {
  Job frame_job = job;
  frame_job.output = frame_file_name(job.output, frames.report.frames);
  find_target(frame_job);
  if (frame_job.refusal != Problem::kNone)
    return failure(frame_job.refusal, frame_job.system_error);
  BmpSource source;
  source.frames = &frames;
  return convert_to_output(frame_job, source, opened, options, plan);
}

// The job's outcome once the walk has ended: the engine's failure, if any,
// and kSkipped when no frame file was written.
Outcome after_the_last_frame(const FrameSequence& frames, std::vector<FrameFile> files) {
  Outcome outcome;
  outcome.report = frames.report;
  if (frames.report.reason != Reason::kNone) {
    outcome.problem = Problem::kConversionFailed;
    outcome.system_error = frames.report.system_error;
  } else if (!files.empty() && std::all_of(files.begin(), files.end(),
                                           [](const FrameFile& file) { return file.skipped; })) {
    outcome.problem = Problem::kSkipped;
  }
  outcome.frames = std::move(files);
  return outcome;
}

}  // namespace

std::string frame_file_name(const std::string& prefix, std::uint32_t frame) {
  std::string name(prefix.size() + kFrameNameExtra, '\0');
  const int length = std::snprintf(name.data(), name.size(), kFrameNameFormat, prefix.c_str(),
                                   static_cast<unsigned>(frame));
  name.resize(static_cast<std::size_t>(length));
  return name;
}

Outcome convert_frames(const Job& job, platform::FileHandle gif,
                       const platform::FileIdentity& opened, const Options& options,
                       const Plan& plan) {
  FrameSequence frames;
  std::vector<FrameFile> files;
  open_frames(frames, gif, kBroadOptions);
  while (next_frame(frames)) {
    Outcome written = write_frame_file(job, frames, opened, options, plan);
    if (written.problem == Problem::kSkipped || succeeded(written)) {
      files.push_back({frames.delay, written.problem == Problem::kSkipped});
      continue;
    }
    // The frame's own failure: the frames before it stay, and the report
    // says which frame it was.
    written.report = frames.report;
    written.report.failed_frame = frames.report.frames;
    written.frames = std::move(files);
    close_frames(frames);
    return written;
  }
  Outcome outcome = after_the_last_frame(frames, std::move(files));
  close_frames(frames);
  return outcome;
}

}  // namespace brevlo::cli
