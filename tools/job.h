// One conversion the command was asked for, and how it ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/conversion.h"
#include "platform/platform.h"

namespace brevlo::cli {

// What went wrong with a job, where the command itself found it: the names
// of a run, skips, and the files it opens. A failed conversion is the
// engine's, and its reason says why (ConversionReport::reason).
enum class Problem {
  kNone,
  kSkipped,               // -n: something already exists at the output, left alone
  kSameOutputAsEarlier,   // an earlier input on the command line has this output
  kOutputIsTheInput,      // the output path leads to the input file itself
  kOutputIsAnotherInput,  // the output path leads to another input of the batch
  kOutputExists,          // something already exists at the output, and no --force
  kEmptyName,             // the input or output name is empty
  kInputUnreadable,       // the input cannot be opened
  kInputNotAFile,         // the input is a pipe, device or socket (input_kind says which)
  kStandardInputClosed,   // the input is "-", and the command started without one
  kStandardOutputClosed,  // the output is "-", and the command started without one
  kOutputUncreatable,     // the output cannot be created
  kWriteFailed,           // writing the output failed
  kSpoolUncreatable,      // the temporary file a BMP for a stream is made in cannot be created
  kSpoolWriteFailed,      // writing that temporary file failed
  kConversionFailed,      // the engine refused the file or failed: see the report's reason
};

struct Job {
  std::string input;
  platform::FileIdentity input_file;  // what the input was when the run was planned
  std::string output;
  // The name the BMP is given: output with every symbolic link on the way
  // followed, so that replacing it keeps the links, and what was there when
  // the run was planned (not known: nothing).
  std::string target;
  platform::FileIdentity existing;
  bool to_stdout = false;               // the BMP goes to standard output (output is "-")
  bool create_folders = false;          // the output's folder is made when missing (-r -o DIR)
  bool may_be_meant_as_output = false;  // the second of two names, which -o would make the output
  // --frames: output is the frames' name prefix, each frame file
  // output-001.bmp on, looked at only when its frame is ready.
  bool frames = false;
  Problem refusal = Problem::kNone;  // decided before any conversion starts
  std::size_t other_job = 0;         // the job that refusal refers to
  int system_error = 0;              // the system's reason for a refusal, where one is known
};

// A frame file of a --frames job: written, or with -n left alone.
struct FrameFile {
  std::uint16_t delay = 0;  // hundredths of a second
  bool skipped = false;
};

struct Outcome {
  Problem problem = Problem::kNone;
  int system_error = 0;       // the system's reason for a problem, where one is known
  std::size_t other_job = 0;  // the job whose input the output leads to
  platform::FileKind input_kind = platform::FileKind::kUnknown;  // of an input not a regular file
  ConversionReport report;  // what the engine learnt about the file, and its reason
  // --frames: each frame file in order, up to the frame that failed, if any
  // (report.failed_frame, also for a failure of the command's own).
  std::vector<FrameFile> frames;
};

}  // namespace brevlo::cli
