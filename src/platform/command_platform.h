// What the brevlo command needs from the system beyond the converter's file
// and memory operations (platform.h): names and folders, whole files made in
// temporary files, the standard streams, threads and interrupts. Only the
// command links it. The command's logic calls nothing else of the system, so
// that it stands on either implementation of this header: POSIX's
// (*_posix.cpp) and Windows's (*_win32.cpp).
//
// Names are strings of bytes: as the system gives them on POSIX, UTF-8 on
// Windows, where the implementation turns them into the system's UTF-16 and
// back (and platform.h's functions, as linked into the command, read them as
// UTF-8 too).
//
// A system error number is the system's own (errno on POSIX, GetLastError()'s
// on Windows), the same kind that ConversionReport::system_error carries;
// describe_error says it in words, and the few the command decides on are
// named below.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace brevlo::cli {

// The command itself (tools/brevlo.cpp): called by the system's entry point
// (command_entry_*.cpp) with the arguments after the command's name, and
// returns the exit status.
int run_command(const std::vector<std::string>& arguments);

}  // namespace brevlo::cli

namespace brevlo::platform {

// What the command's help says of this system: its null device, for a trial
// run; the end of a paragraph on files (what a replacing file keeps, and what
// is written in place), which follows "read. " at the start of a line; and
// how an interrupt ends the command, after "failed, 2 for a mistake on the
// command line. ".
struct SystemHelp {
  std::string_view null_device;
  std::string_view files;
  std::string_view interrupts;
};

// The system errors the command decides on, how a list of names is read, and
// the help's words.
#ifdef _WIN32
// As winerror.h numbers them: ERROR_ALREADY_EXISTS, ERROR_PATH_NOT_FOUND,
// ERROR_DIRECTORY_NOT_SUPPORTED, ERROR_CANT_RESOLVE_FILENAME and
// ERROR_FILENAME_EXCED_RANGE.
inline constexpr int kNameTaken = 183;
inline constexpr int kNoSuchName = 3;
inline constexpr int kIsAFolder = 336;
inline constexpr int kTooManyLinks = 1921;
inline constexpr int kNameTooLong = 206;
// A list of names may be text as Windows's own tools write it: lines that end
// in CR LF, and UTF-8 that begins with a byte order mark (PowerShell's
// -Encoding utf8). No name on Windows holds a CR.
inline constexpr bool kListsMayBeWindowsText = true;
inline constexpr SystemHelp kSystemHelp = {
    "NUL",
    "Replacing a file keeps its hidden and system attributes; a\n"
    "read-only file is never replaced. Devices such as NUL are written in place.",
    "Ctrl-C, Ctrl-Break\n"
    "and closing its console window end the command with STATUS_CONTROL_C_EXIT."};
#else
inline constexpr int kNameTaken = EEXIST;
inline constexpr int kNoSuchName = ENOENT;
inline constexpr int kIsAFolder = EISDIR;
inline constexpr int kTooManyLinks = ELOOP;
inline constexpr int kNameTooLong = ENAMETOOLONG;
// A CR, or a byte order mark, in a list of names is part of a name.
inline constexpr bool kListsMayBeWindowsText = false;
inline constexpr SystemHelp kSystemHelp = {
    "/dev/null",
    "Replacing a file keeps its permissions, and a symbolic link stays a\n"
    "link to the new file. Devices such as /dev/null are written in place.",
    "SIGINT, SIGTERM and SIGHUP\n"
    "end the command by that signal (a shell shows 128+N)."};
#endif

// The system's words for error, such as "No such file or directory".
std::string describe_error(int error);

// True when error says that no file could be opened for want of descriptors:
// the process's limit (ulimit -n) or the system's.
bool is_out_of_open_files(int error);

// ---------------------------------------------------------------------------
// Names and folders

// The identity of the name path itself: a final symbolic link is not followed
// but described, as kind kLink. Not known when nothing is there.
FileIdentity identify_name(const char* path);

// Where the symbolic link path leads, as written in it. Returns 0 or the
// system's error number.
int read_link(const std::string& path, std::string& leads_to);

// Makes the folder path and every missing folder above it. Returns 0 or the
// system's error number.
int make_folders(const std::string& path);

// The process's current folder, as an absolute path; "" when the system
// cannot say.
std::string current_folder();

// A file name in the form the file system compares names in, so that two
// spellings of one name give the same: as it is on POSIX, in capitals on
// Windows, whose file systems ignore letter case.
std::string name_as_compared(const std::string& name);

// One name in a folder.
struct FolderEntry {
  std::string name;
  FileKind kind = FileKind::kUnknown;      // the name itself; kLink for a symbolic link
  FileKind leads_to = FileKind::kUnknown;  // what the name leads to, following links
};

// A folder being read; made by open_folder, ended by close_folder.
struct FolderListing {
  void* handle = nullptr;
  std::string path;
};

// Opens the folder path for listing. Returns 0 or the system's error number.
int open_folder(const std::string& path, FolderListing& listing);

// Reads the next name of the folder, in the system's order, leaving out "."
// and "..". Returns true with entry filled, or false at the end (error 0) or
// when the listing failed (error set).
bool read_folder(FolderListing& listing, FolderEntry& entry, int& error);

void close_folder(FolderListing& listing);

// ---------------------------------------------------------------------------
// Opening and closing

// Opens an existing file for reading as open_for_reading does, filling
// identity with the file's. Returns 0 or the system's error number
// (kIsAFolder for a folder).
int open_to_read(const char* path, FileHandle& file, FileIdentity& identity);

// Opens an existing file that is not stored (a device, a pipe) for writing
// in place; a pipe waits for its reader, as a shell's redirection does.
// Returns 0 or the system's error number.
int open_stream_for_writing(const char* path, FileHandle& stream);

// Closes the file as close does. Returns 0 or the system's error number,
// which for a file just written can mean that its last bytes were lost.
int close_reporting(FileHandle file);

// Opens a list of names for reading front to back; a named pipe waits for
// its writer, as a shell's redirection does (on Windows, for an instance of
// the pipe that is not busy). Returns 0 or the system's error number; a
// folder fails with kIsAFolder, here on Windows and at the first read_list on
// POSIX.
int open_list(const char* path, FileHandle& list);

// Reads the next bytes of a list, up to count, into destination, waiting for
// them on a pipe; got is 0 at the end. Returns 0 or the system's error number.
int read_list(FileHandle list, void* destination, std::uint32_t count, std::uint32_t& got);

// Reads up to count bytes at offset bytes from the file's start; safe on
// several threads at once. POSIX leaves the file's position alone; Windows
// moves it past the bytes read, so a file read so is written with write_at
// alone, never at the same time. Returns the number read, 0 past the end, or
// -1 on error.
std::int64_t read_at(FileHandle file, std::uint64_t offset, void* destination, std::uint32_t count);

// ---------------------------------------------------------------------------
// Whole files: a BMP is written into a temporary file in its output's folder
// and takes its name only when complete, so that a name holds the old file or
// the whole new one, never part of one.
//
// Where the file system allows (Linux's O_TMPFILE, with /proc to name the
// file by its descriptor), the temporary file has no name at all while it is
// written: a killed command leaves nothing behind, and nothing needs removing
// on an interrupt. A new output is then named with one link, which never
// replaces anything. Replacing an existing file needs a name, as Linux can
// rename only a file that has one (and renameat2 too): once the BMP is
// complete and the destination checked, a close of a duplicate descriptor
// reports any bytes the file system lost while the old file is still in
// place, then the file is linked to a fresh .brevlo-PID-N.tmp name and
// renamed over the old file at once. That name lives from the link to the
// end of the rename, registered for removal on an interrupt; only a SIGKILL
// in that moment leaves it behind.
// Elsewhere the temporary file is named .brevlo-PID-N.tmp from the start, and
// registered for as long as it exists.
//
// On Windows it is named so from the start too, but marked for deletion from
// the moment it exists, so that the system removes it however the process
// ends; commit_temporary takes the mark off and renames the open file over
// its target in one step that an interrupt waits for. A read-only file at the
// target is never replaced (ERROR_FILE_READ_ONLY).

struct TemporaryFile {
  FileHandle file = kNoFile;
  std::string name;      // empty while the file has no name
  FileIdentity written;  // a nameless file's, once complete
};

// Creates an empty temporary file in target's folder. Returns 0 or the
// system's error number (kNoSuchName when that folder is missing).
int create_temporary_beside(const std::string& target, TemporaryFile& temporary);

// How a complete temporary file takes its name.
enum class Commit {
  kNeverReplace,    // a file that appeared at the name meanwhile stays (kNameTaken)
  kReplaceIfThere,  // the name was free when planned; a file there now is replaced
  kReplace,         // a file is there and is replaced
};

// Readies the complete temporary file for its name, so that the caller can
// check target before commit_temporary names it. A file that has a name is
// closed here: a close that fails, which can mean lost bytes, then fails the
// conversion while the old file is still in place. Returns 0 or the system's
// error number; on failure the temporary file is gone.
int close_temporary(TemporaryFile& temporary);

// Then gives it the name target as commit says, and closes it if still
// open. Returns 0 or the system's error number; on failure the temporary file
// is gone, and so is a name given to it just before its close failed.
int commit_temporary(TemporaryFile& temporary, const std::string& target, Commit commit);

// Closes and removes the temporary file.
void discard_temporary(TemporaryFile& temporary);

// Opens a new read-write file with no name, in $TMPDIR or /tmp (on Windows,
// one marked for deletion in the folder GetTempPath gives), which disappears
// when closed (and so on any exit), for a BMP bound for a stream.
// Returns 0 or the system's error number.
int open_spool_file(FileHandle& spool);

// The folder open_spool_file uses, for messages.
std::string spool_folder();

// Copies the whole of spool, from its start, to stream. Returns 0 or the
// system's error number; on Linux, a reader of a pipe that went away ends the
// command as SIGPIPE does.
int copy_to_stream(FileHandle spool, FileHandle stream);

// What a file this process creates gets: its owner and group, and the
// permission bits kNewFilePermissions keeps under the umask.
struct NewFileDefaults {
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint32_t permissions = 0;
};

// Reads them. Reading the umask means setting it for a moment, so no thread
// that creates files may run meanwhile.
NewFileDefaults read_new_file_defaults();

// Gives the open file the permission bits and owner of old, the file it
// replaces, where they differ from what a new file gets (created); on
// Windows, its hidden and system attributes.
void carry_over(FileHandle file, const FileIdentity& old, const NewFileDefaults& created);

// True for files written as a stream of bytes rather than stored: character
// devices, pipes and sockets.
inline bool is_stream(FileKind kind) {
  return kind == FileKind::kCharacterDevice || kind == FileKind::kPipe || kind == FileKind::kSocket;
}

// ---------------------------------------------------------------------------
// Standard streams

// Which standard streams the command was started without.
struct StandardStreams {
  bool input_closed = false;
  bool output_closed = false;
};

// Gives each standard stream the command started without a file, so that no
// file it opens later is taken for one. A closed stream gets the null device
// opened the other way round (standard input for writing, standard output and
// error for reading), so that using it still fails as using a closed one does.
// Returns which were closed.
StandardStreams occupy_standard_streams();

FileHandle standard_input();
FileHandle standard_output();

enum class TextStream { kOutput, kError };

bool is_terminal(TextStream stream);

// Writes text to standard output (buffered) or standard error. A reader of
// a pipe that went away ends the command as SIGPIPE does; any other failure
// shows when standard output is flushed.
void write_text(TextStream stream, std::string_view text);

// Writes out what standard output holds. False, with the system's error
// number, when anything written there was lost.
bool flush_standard_output(int& error);

// ---------------------------------------------------------------------------
// Threads and interrupts

// Processors this process may run on (at least 1).
unsigned processor_count();

// Runs work on up to `threads` threads at once, the calling thread among
// them, and returns when all have returned. A thread that cannot be started
// (out of memory or processes) leaves the work to those that could, down to
// the calling thread alone.
void run_on_threads(unsigned threads, const std::function<void()>& work);

// On Windows: Ctrl-C, Ctrl-Break, the closing of the console window, logoff
// and shutdown end the command with STATUS_CONTROL_C_EXIT once no temporary
// file is left that the system would not remove; there is no SIGPIPE or
// SIGXFSZ. On POSIX systems:
// SIGINT, SIGTERM, SIGHUP, and SIGPIPE when the reader of the command's
// output goes away, end the command as they would have, after removing every
// temporary file that has a name at that moment: a shell, timeout, make or
// xargs sees a death by that signal. They are blocked in every thread, and
// one thread waits for them. A signal ignored when the command starts
// (nohup) stays ignored. Also ignores SIGXFSZ, so that a file-size limit
// fails a write instead of ending the process. Call before any other thread
// starts; the command then ends through end_command. When the waiting thread
// cannot start, the signals are left to their default actions.
void handle_interrupts();

// Ends the command with status. An interrupt that came first, which the
// command's work may not have seen, ends it by its signal instead.
[[noreturn]] void end_command(int status);

// In the build of the command made for tests (BREVLO_STOP_BEFORE_COMMIT),
// stops the process with SIGSTOP, so that a test can change what an output's
// name leads to just before the command checks and names it; otherwise
// nothing.
void stop_before_commit();

}  // namespace brevlo::platform
