// One conversion the command was asked for, where its input came from, and
// how it ended.
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
  kSkipped,                 // -n: something already exists at the output, left alone
  kSameOutputAsEarlier,     // an earlier input of the run has this output
  kOutputIsTheInput,        // the output path leads to the input file itself
  kOutputIsAnotherInput,    // the output path leads to another input of the batch
  kInputIsAnEarlierOutput,  // a name read later is the output of an earlier input
  kFolderNameTaken,         // -r -o DIR: a folder whose name an earlier folder has there
  kOutputExists,            // something already exists at the output, and no --force
  kEmptyName,               // the input or output name is empty
  kNameHoldsNul,            // a line of a list of names holds a NUL byte
  kInputUnreadable,         // the input cannot be opened
  kInputNotAFile,           // the input is a pipe, device or socket (input_kind says which)
  kListUnreadable,          // the list of names (--files-from) cannot be opened or read
  kStandardInputIsTheList,  // "-" in a list read from standard input
  kStandardInputInAList,    // "-" in a list read from a file: it needs an output file
  kStandardInputClosed,     // the input is "-", and the command started without one
  kStandardOutputClosed,    // the output is "-", and the command started without one
  kOutputUncreatable,       // the output cannot be created
  kWriteFailed,             // writing the output failed
  kSpoolUncreatable,        // the temporary file a BMP for a stream is made in cannot be created
  kSpoolWriteFailed,        // writing that temporary file failed
  kRunTooLarge,             // the run's record of names is full
  kConversionFailed,        // the engine refused the file or failed: see the report's reason
};

// Where a job's input came from: a name on the command line or in a list, a
// file found by -r, or a folder or list that could not be read (problem set).
struct Source {
  std::string input;
  std::string path_below_folder;        // where its output goes below -o DIR
  bool found_in_folder = false;         // found by -r
  bool on_command_line = false;         // known before the run starts
  bool starts_a_folder = false;         // -r: a folder given by name, whose walk starts here
  bool may_be_meant_as_output = false;  // as Job::may_be_meant_as_output
  Problem problem = Problem::kNone;
  int system_error = 0;   // the system's reason for problem, where one is known
  std::string listed_at;  // "LIST:N" for a name from a list, shown where the name cannot be
};

struct Job {
  std::string input;
  platform::FileIdentity input_file;  // what the input was when the run planned it
  std::string output;
  // The name the BMP is given: output with every symbolic link on the way
  // followed, so that replacing it keeps the links, and what was there when
  // the run planned it (not known: nothing).
  std::string target;
  platform::FileIdentity existing;
  bool to_stdout = false;               // the BMP goes to standard output (output is "-")
  bool create_folders = false;          // the output's folder is made when missing (-r -o DIR)
  bool may_be_meant_as_output = false;  // the second of two names, which -o would make the output
  // --frames: output is the frames' name prefix, each frame file
  // output-001.bmp on, looked at only when its frame is ready.
  bool frames = false;
  Problem refusal = Problem::kNone;  // decided before the conversion starts
  std::string other_input;           // the input of the other job that refusal refers to
  int system_error = 0;              // the system's reason for a refusal, where one is known
  std::string listed_at;             // as Source::listed_at
};

// A frame file of a --frames job: written, or with -n left alone.
struct FrameFile {
  std::uint16_t delay = 0;  // hundredths of a second
  bool skipped = false;
};

struct Outcome {
  Problem problem = Problem::kNone;
  int system_error = 0;     // the system's reason for a problem, where one is known
  std::string other_input;  // the input of the job the output leads to, or that has it
  platform::FileKind input_kind = platform::FileKind::kUnknown;  // of an input not a regular file
  ConversionReport report;  // what the engine learnt about the file, and its reason
  // --frames: each frame file in order, up to the frame that failed, if any
  // (report.failed_frame, also for a failure of the command's own).
  std::vector<FrameFile> frames;
};

}  // namespace brevlo::cli
