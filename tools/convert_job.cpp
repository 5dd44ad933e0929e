#include "convert_job.h"

#include "engine/conversion.h"
#include "frame_files.h"
#include "output_commit.h"
#include "platform/command_platform.h"

namespace brevlo::cli {

namespace {

using platform::FileHandle;
using platform::FileIdentity;
using platform::FileKind;

// --strict converts exactly as the library's BREVLO32 does.
const ConversionOptions& conversion_of(const Options& options) {
  return options.strict ? kStrictOptions : kBroadOptions;
}

// Opens the GIF for the engine, which reads it front to back: standard input
// is handed over as it is, pipes included, and converts as it streams. A path
// is opened without waiting for a writer (a pipe given by name would otherwise
// hang) and must be a regular file; anything else is refused as what it is.
Outcome open_input(const Job& job, FileHandle& gif, FileIdentity& opened) {
  if (job.input == kStandardStream) {
    gif = platform::standard_input();
    return {};
  }
  if (const int error = platform::open_to_read(job.input.c_str(), gif, opened); error != 0)
    return failure(Problem::kInputUnreadable, error);
  if (platform::is_regular(opened)) return {};
  Outcome outcome = failure(Problem::kInputNotAFile);
  outcome.input_kind = opened.kind;
  platform::close(gif);
  gif = platform::kNoFile;
  return outcome;
}

// Has the engine write source's BMP into the empty, positionable bmp. Where
// writing failed and the system said why, the failure is the command's own,
// which names the file.
Outcome run_engine(const BmpSource& source, FileHandle bmp) {
  Outcome outcome;
  ConversionResult result = kSuccess;
  if (source.frames != nullptr) {
    result = write_current_frame(*source.frames, bmp);
    outcome.report = source.frames->report;
  } else {
    result = convert_gif(source.gif, bmp, *source.options, outcome.report);
  }
  if (result == kSuccess) return outcome;
  outcome.problem = Problem::kConversionFailed;
  if (outcome.report.reason == Reason::kWriteFailed && outcome.report.system_error != 0) {
    outcome.problem = Problem::kWriteFailed;
    outcome.system_error = outcome.report.system_error;
  }
  return outcome;
}

// Converts into a nameless file first, then copies the whole BMP to the
// stream (standard output, a device, a pipe): these cannot be positioned, and
// a failed conversion then sends nothing at all. A failure of the nameless
// file is reported as its own, not the stream's.
Outcome convert_to_stream(const BmpSource& source, FileHandle stream) {
  FileHandle spool = platform::kNoFile;
  if (const int error = platform::open_spool_file(spool); error != 0)
    return failure(Problem::kSpoolUncreatable, error);
  Outcome outcome = run_engine(source, spool);
  if (outcome.problem == Problem::kWriteFailed) outcome.problem = Problem::kSpoolWriteFailed;
  if (succeeded(outcome)) {
    if (const int error = platform::copy_to_stream(spool, stream); error != 0) {
      const ConversionReport report = outcome.report;
      outcome = failure(Problem::kWriteFailed, error);
      outcome.report = report;
    }
  }
  platform::close(spool);
  return outcome;
}

// Writes the BMP into a temporary file in target's folder and gives it the
// name target once complete: target holds the old file or the whole new one,
// never part of one, whatever happens meanwhile.
Outcome convert_whole_file(const Job& job, const BmpSource& source, const FileIdentity& opened,
                           const Options& options, const Plan& plan) {
  platform::TemporaryFile temporary;
  if (Outcome refused = create_output_file(job, temporary); !succeeded(refused)) return refused;
  Outcome outcome = run_engine(source, temporary.file);
  if (succeeded(outcome)) {
    const ConversionReport report = outcome.report;
    outcome = commit_output(job, temporary, opened, options, plan);
    outcome.report = report;
  }
  platform::discard_temporary(temporary);
  return outcome;
}

// An existing regular file is kept with -n or without --force, and replaced
// whole with --force.
Outcome convert_to_existing_file(const Job& job, const BmpSource& source,
                                 const FileIdentity& opened, const Options& options,
                                 const Plan& plan) {
  if (options.skip_existing) return failure(Problem::kSkipped);
  if (!options.force) return failure(Problem::kOutputExists);
  return convert_whole_file(job, source, opened, options, plan);
}

// Writes into the existing stream or device the job's output leads to, in
// place: it is never replaced or removed. What is opened decides, not what
// the name led to when the job was planned: a regular file found there now
// is an existing output like any other, and is never written over in place.
Outcome convert_in_place(const Job& job, const BmpSource& source, const FileIdentity& opened,
                         const Options& options, const Plan& plan) {
  FileHandle stream = platform::kNoFile;
  if (const int error = platform::open_stream_for_writing(job.target.c_str(), stream); error != 0)
    return failure(Problem::kOutputUncreatable, error);
  if (platform::is_regular(platform::identify(stream))) {
    platform::close(stream);
    return convert_to_existing_file(job, source, opened, options, plan);
  }
  Outcome outcome = convert_to_stream(source, stream);
  if (const int error = platform::close_reporting(stream); error != 0 && succeeded(outcome))
    outcome = failure(Problem::kWriteFailed, error);
  return outcome;
}

}  // namespace

Outcome failure(Problem problem, int system_error) {
  Outcome outcome;
  outcome.problem = problem;
  outcome.system_error = system_error;
  return outcome;
}

bool succeeded(const Outcome& outcome) {
  return outcome.problem == Problem::kNone;
}

Outcome convert_to_output(const Job& job, const BmpSource& source, const FileIdentity& opened,
                          const Options& options, const Plan& plan) {
  if (job.to_stdout) return convert_to_stream(source, platform::standard_output());
  const FileIdentity& existing = job.existing;
  if (!existing.known) return convert_whole_file(job, source, opened, options, plan);
  if (existing.kind == FileKind::kFolder)
    return failure(Problem::kOutputUncreatable, platform::kIsAFolder);
  // A pipe or character device (/dev/null for a dry run) holds nothing to keep.
  if (platform::is_stream(existing.kind))
    return convert_in_place(job, source, opened, options, plan);
  if (options.skip_existing) return failure(Problem::kSkipped);
  if (!options.force) return failure(Problem::kOutputExists);
  if (!platform::is_regular(existing)) return convert_in_place(job, source, opened, options, plan);
  return convert_whole_file(job, source, opened, options, plan);
}

Outcome convert_job(const Job& job, const Options& options, const Plan& plan) {
  if (job.refusal != Problem::kNone) {
    Outcome refused = failure(job.refusal, job.system_error);
    refused.other_input = job.other_input;
    return refused;
  }
  // An empty name is refused as the library refuses it, touching no file.
  if (job.input.empty() || job.output.empty()) return failure(Problem::kEmptyName);
  // An input that cannot be opened is refused before any output is touched.
  FileHandle gif = platform::kNoFile;
  FileIdentity opened;
  if (Outcome outcome = open_input(job, gif, opened); !succeeded(outcome)) return outcome;
  Outcome outcome =
      job.frames ? convert_frames(job, gif, opened, options, plan)
                 : convert_to_output(job, {gif, &conversion_of(options)}, opened, options, plan);
  if (job.input != kStandardStream) platform::close(gif);
  return outcome;
}

}  // namespace brevlo::cli
