// The command's standard streams on Windows, used through their handles alone
// (the C runtime's streams, with their text mode, are never involved), so that
// a BMP read from or written to them keeps every byte: no CR is added before
// a LF, and Ctrl-Z (0x1A) ends nothing. Text goes to a console as UTF-16
// (WriteConsoleW), whatever its code page, and elsewhere as the UTF-8 the
// command writes.
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>

#include "platform/command_platform.h"
#include "platform/handles_win32.h"
#include "platform/unicode_win32.h"

namespace brevlo::platform {

namespace {

// Standard output, unless it is a console, is written out when this much is
// held, and at the end.
constexpr std::size_t kOutputBuffer = std::size_t{64} * 1024;
// The most one WriteConsoleW call is given: older consoles take no more.
constexpr std::size_t kConsoleChunk = std::size_t{8} * 1024;

struct TextOutput {
  std::mutex lock;
  std::string held;      // standard output not yet written
  DWORD lost_error = 0;  // why text written out earlier was lost, if it was
};

TextOutput& text_output() {
  static auto* const kOutput = new TextOutput;  // never destroyed: used until the process ends
  return *kOutput;
}

HANDLE handle_of(TextStream stream) {
  return ::GetStdHandle(stream == TextStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return ::GetConsoleMode(handle, &mode) != 0;
}

bool is_missing(HANDLE handle) {
  return handle == nullptr || handle == INVALID_HANDLE_VALUE;
}

bool write_to_console(HANDLE console, std::string_view text) {
  const std::wstring wide = to_utf16(text);
  for (std::size_t at = 0; at < wide.size();) {
    const std::size_t count = std::min(kConsoleChunk, wide.size() - at);
    DWORD written = 0;
    if (::WriteConsoleW(console, wide.data() + at, static_cast<DWORD>(count), &written, nullptr) ==
            0 ||
        written == 0)
      return false;
    at += written;
  }
  return true;
}

// Writes text to the stream's handle. Returns 0 or the system's error number.
int write_out(HANDLE handle, std::string_view text) {
  if (text.empty()) return 0;
  if (is_missing(handle)) return ERROR_INVALID_HANDLE;
  const bool written = is_console(handle) ? write_to_console(handle, text)
                                          : write(as_file(handle), text.data(), text.size());
  return written ? 0 : static_cast<int>(::GetLastError());
}

// Writes out what standard output holds, remembering a failure. Call with
// its lock held.
void write_held(TextOutput& output) {
  const int error = write_out(handle_of(TextStream::kOutput), output.held);
  if (error != 0 && output.lost_error == 0) output.lost_error = static_cast<DWORD>(error);
  output.held.clear();
}

}  // namespace

// Windows never hands a standard stream's number to a file opened later, so
// nothing needs occupying: the streams missing are only noted.
StandardStreams occupy_standard_streams() {
  StandardStreams missing;
  missing.input_closed = is_missing(::GetStdHandle(STD_INPUT_HANDLE));
  missing.output_closed = is_missing(::GetStdHandle(STD_OUTPUT_HANDLE));
  return missing;
}

FileHandle standard_input() {
  return as_file(::GetStdHandle(STD_INPUT_HANDLE));
}

FileHandle standard_output() {
  return as_file(::GetStdHandle(STD_OUTPUT_HANDLE));
}

bool is_terminal(TextStream stream) {
  return is_console(handle_of(stream));
}

void write_text(TextStream stream, std::string_view text) {
  TextOutput& output = text_output();
  std::lock_guard held(output.lock);
  if (stream == TextStream::kError) {
    write_out(handle_of(TextStream::kError), text);
    return;
  }
  output.held.append(text);
  if (output.held.size() >= kOutputBuffer || is_terminal(TextStream::kOutput)) write_held(output);
}

bool flush_standard_output(int& error) {
  TextOutput& output = text_output();
  std::lock_guard held(output.lock);
  write_held(output);
  if (output.lost_error == 0) return true;
  error = static_cast<int>(output.lost_error);
  return false;
}

}  // namespace brevlo::platform
