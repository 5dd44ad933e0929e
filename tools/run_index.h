// What a run has read and planned, kept compactly so that a batch of any size
// is checked exactly: the files its inputs are, where the names given on the
// command line lead, the places its outputs take (with --frames, the frames'
// name prefixes), and the folders -r puts below -o DIR. Each entry costs 8 bytes in a digest table
// (digest_table.h), with its key and the input's name in a record spool (record_spool.h), which
// settles every digest that agrees. The producer of a run's jobs adds; any
// thread may look up at the same time.
#pragma once

#include <shared_mutex>
#include <string>

#include "digest_table.h"
#include "platform/platform.h"
#include "record_spool.h"

namespace brevlo::cli {

struct RunIndex {
  mutable std::shared_mutex lock;
  RecordSpool spool;
  // Input files by identity; command-line inputs by place too, and with
  // --frames each input named as a frame file by its prefix's place.
  DigestTable inputs;
  DigestTable outputs;  // outputs by place, and folders walked below -o DIR by place
};

// How an addition went.
enum class Added {
  kAdded,
  kAlreadyThere,  // the input there is given
  kFull,          // the index cannot grow
};

// A place is where a name leads, spelt one way (see places.h).

// The input that is the file identified, when there is one. Thread-safe.
bool find_input_file(const RunIndex& index, const platform::FileIdentity& file, std::string& input);
// The command-line input whose name leads to place, when there is one.
bool find_input_place(const RunIndex& index, const std::string& place, std::string& input);
// The input whose output takes place, when there is one.
bool find_output(const RunIndex& index, const std::string& place, std::string& input);
// --frames: the input named as a frame file of the prefix at place
// (PREFIX-001.bmp), when there is one.
bool find_frame_named_input(const RunIndex& index, const std::string& place, std::string& input);

// Records input as the file identified (known), unless an earlier input is.
Added add_input_file(RunIndex& index, const platform::FileIdentity& file, const std::string& input,
                     std::string& earlier);
// Records the command-line input whose name leads to place.
Added add_input_place(RunIndex& index, const std::string& place, const std::string& input,
                      std::string& earlier);
// Records the input named as a frame file of the prefix at place.
Added add_frame_named_input(RunIndex& index, const std::string& place, const std::string& input,
                            std::string& earlier);
// Records that input's output takes place, unless an earlier input's does.
Added claim_output(RunIndex& index, const std::string& place, const std::string& input,
                   std::string& earlier);
// Records that the folder's files go below place, unless an earlier folder's do.
Added claim_folder(RunIndex& index, const std::string& place, const std::string& folder,
                   std::string& earlier);

void close_index(RunIndex& index);

}  // namespace brevlo::cli
