#include "name_list.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "command_line.h"

namespace brevlo::cli {

namespace {

constexpr std::size_t kReadChunk = std::size_t{64} * 1024;

// Moves the bytes not yet taken to the front and reads more after them.
// Returns the number read, 0 at the end, or -1 with error set.
std::int64_t read_more(NameList& list, int& error) {
  std::vector<char>& buffer = list.buffer;
  std::memmove(buffer.data(), buffer.data() + list.start, list.end - list.start);
  list.end -= list.start;
  list.start = 0;
  if (buffer.size() - list.end < kReadChunk) buffer.resize(list.end + kReadChunk);
  std::uint32_t got = 0;
  error = platform::read_list(list.file, buffer.data() + list.end,
                              static_cast<std::uint32_t>(kReadChunk), got);
  if (error != 0) return -1;
  list.end += got;
  return got;
}

// The end of the name that starts at list.start: its separator, or the end
// of the bytes read.
std::size_t end_of_name(const NameList& list) {
  const char* from = list.buffer.data() + list.start;
  const char* found =
      static_cast<const char*>(std::memchr(from, list.separator, list.end - list.start));
  return found == nullptr ? list.end : static_cast<std::size_t>(found - list.buffer.data());
}

// Drops bytes up to and past the next separator; false when the list ended
// or failed first.
bool skip_past_separator(NameList& list, int& error) {
  for (;;) {
    const std::size_t end = end_of_name(list);
    if (end < list.end) {
      list.start = end + 1;
      return true;
    }
    list.start = list.end;
    const std::int64_t got = read_more(list, error);
    if (got == 0) list.ended = true;
    if (got <= 0) return false;
  }
}

// Takes off what Windows text puts around the names of a list.
void strip_windows_text(NameList& list, std::string& name) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  const bool first = list.at_start;
  list.at_start = false;
  if (!platform::kListsMayBeWindowsText) return;
  if (first && name.starts_with(kByteOrderMark)) name.erase(0, kByteOrderMark.size());
  if (list.separator == '\n' && !name.empty() && name.back() == '\r') name.pop_back();
}

Listed fail(NameList& list, int error_found, int& error) {
  list.ended = true;
  error = error_found;
  return Listed::kReadFailed;
}

}  // namespace

void open_name_list(NameList& list, const std::string& path, bool null_separated) {
  list.path = path;
  list.separator = null_separated ? '\0' : '\n';
  list.from_standard_input = path == kStandardStream;
  list.buffer.resize(kReadChunk);
  if (list.from_standard_input)
    list.file = platform::standard_input();
  else
    list.open_error = platform::open_list(path.c_str(), list.file);
}

Listed next_listed(NameList& list, std::string& name, int& error) {
  if (list.ended) return Listed::kEnd;
  if (list.open_error != 0) return fail(list, list.open_error, error);
  for (;;) {
    const std::size_t end = end_of_name(list);
    const bool whole = end < list.end;
    // However the bytes arrive, a name past the limit is refused by its place.
    if (end - list.start > kLongestListedName) {
      ++list.items;
      list.at_start = false;
      if (!skip_past_separator(list, error) && error != 0) return fail(list, error, error);
      return Listed::kTooLong;
    }
    if (whole || list.ended) {
      name.assign(list.buffer.data() + list.start, end - list.start);
      list.start = whole ? end + 1 : end;
      strip_windows_text(list, name);
      if (name.empty() && list.separator == '\n') continue;
      ++list.items;
      if (name.empty()) return Listed::kEmptyName;
      // The system would read such a name only up to the NUL, a name the
      // list never gave, so the line is refused rather than cut short.
      return name.find('\0') == std::string::npos ? Listed::kName : Listed::kHoldsNul;
    }
    const std::int64_t got = read_more(list, error);
    if (got < 0) return fail(list, error, error);
    if (got == 0) {
      list.ended = true;
      if (list.start == list.end) return Listed::kEnd;  // the last name had its separator
    }
  }
}

std::string position_in_list(const NameList& list) {
  return list.path + ":" + std::to_string(list.items);
}

void close_name_list(NameList& list) {
  if (!list.from_standard_input && list.file != platform::kNoFile) platform::close(list.file);
  list.file = platform::kNoFile;
}

}  // namespace brevlo::cli
