#include "run_index.h"

#include <mutex>
#include <utility>

namespace brevlo::cli {

namespace {

// The first byte of a key says what it stands for.
constexpr char kInputFile = 'F';
constexpr char kInputPlace = 'P';
constexpr char kFrameNamedInput = 'N';
constexpr char kOutputPlace = 'O';
constexpr char kFolderPlace = 'D';

std::string key_of(char kind, const std::string& place) {
  return kind + place;
}

std::string key_of(const platform::FileIdentity& file) {
  std::string key(1, kInputFile);
  for (const std::uint64_t part : {file.volume, file.index})
    for (int byte = 0; byte < 8; ++byte) key += static_cast<char>((part >> (8 * byte)) & 0xFF);
  return key;
}

// The name recorded under key, when there is one; name is left as it was
// otherwise. The caller holds the lock.
bool find_held(const RunIndex& index, const DigestTable& table, const std::string& key,
               std::string& name) {
  DigestProbe probe = start_probe(table, digest_of(key));
  std::string found_key;
  std::string found_name;
  for (RecordPlace place = 0; next_candidate(table, probe, place);) {
    if (read_record(index.spool, place, found_key, found_name) && found_key == key) {
      name = std::move(found_name);
      return true;
    }
  }
  return false;
}

bool find(const RunIndex& index, const DigestTable& table, const std::string& key,
          std::string& name) {
  std::shared_lock held(index.lock);
  return find_held(index, table, key, name);
}

Added add(RunIndex& index, DigestTable& table, const std::string& key, const std::string& name,
          std::string& earlier) {
  std::unique_lock held(index.lock);
  if (find_held(index, table, key, earlier)) return Added::kAlreadyThere;
  RecordPlace place = 0;
  if (!append_record(index.spool, key, name, place) || !insert_digest(table, digest_of(key), place))
    return Added::kFull;
  return Added::kAdded;
}

}  // namespace

bool find_input_file(const RunIndex& index, const platform::FileIdentity& file,
                     std::string& input) {
  return file.known && find(index, index.inputs, key_of(file), input);
}

bool find_input_place(const RunIndex& index, const std::string& place, std::string& input) {
  return find(index, index.inputs, key_of(kInputPlace, place), input);
}

bool find_output(const RunIndex& index, const std::string& place, std::string& input) {
  return find(index, index.outputs, key_of(kOutputPlace, place), input);
}

bool find_frame_named_input(const RunIndex& index, const std::string& place, std::string& input) {
  return find(index, index.inputs, key_of(kFrameNamedInput, place), input);
}

Added add_input_file(RunIndex& index, const platform::FileIdentity& file, const std::string& input,
                     std::string& earlier) {
  return add(index, index.inputs, key_of(file), input, earlier);
}

Added add_input_place(RunIndex& index, const std::string& place, const std::string& input,
                      std::string& earlier) {
  return add(index, index.inputs, key_of(kInputPlace, place), input, earlier);
}

Added add_frame_named_input(RunIndex& index, const std::string& place, const std::string& input,
                            std::string& earlier) {
  return add(index, index.inputs, key_of(kFrameNamedInput, place), input, earlier);
}

Added claim_output(RunIndex& index, const std::string& place, const std::string& input,
                   std::string& earlier) {
  return add(index, index.outputs, key_of(kOutputPlace, place), input, earlier);
}

Added claim_folder(RunIndex& index, const std::string& place, const std::string& folder,
                   std::string& earlier) {
  return add(index, index.outputs, key_of(kFolderPlace, place), folder, earlier);
}

void close_index(RunIndex& index) {
  close_spool(index.spool);
}

}  // namespace brevlo::cli
