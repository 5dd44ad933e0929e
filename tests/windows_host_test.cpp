// A Windows host program for brevlo32.dll or brevlo64.dll (whichever matches
// the processor it is built for), run under Wine by the Linux build's tests. It
// loads the DLL as hosts do, finds both functions by name and by ordinal, calls
// them through WINAPI pointers, and checks every conversion against the result
// code and BMP bytes the Linux library gave for the same GIF.
//
//   windows_host_test DLL CORPUS_DIR WORK_DIR
//
// CORPUS_DIR is written by windows_corpus; WORK_DIR is emptied and used for the
// outputs. Prints each failed check and a summary; exits 0 only when all pass.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "brevlo.h"

namespace {

// The function types a host declares for the two exports.
using ConvertFunction = std::int32_t(WINAPI*)(const char*, const char*);
using InfoFunction = std::int32_t(WINAPI*)(char*, std::int32_t);

using Bytes = std::vector<char>;

struct Report {
  int checks = 0;
  int failures = 0;
};

void check(Report& report, bool passed, const std::string& what) {
  ++report.checks;
  if (passed) return;
  ++report.failures;
  std::printf("FAILED: %s\n", what.c_str());
}

struct Library {
  HMODULE module = nullptr;
  ConvertFunction convert = nullptr;
  InfoFunction info = nullptr;
};

struct Folders {
  std::string corpus;
  std::string work;
  std::string in_corpus(const std::string& name) const { return corpus + "\\" + name; }
  std::string in_work(const std::string& name) const { return work + "\\" + name; }
};

// Cases of the corpus the file-handling checks rely on.
const char* const kGoodGif = "reference";      // converts
const char* const kFailingGif = "interlaced";  // refused with ERR_UNSUPPORTED

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_directory(const std::string& path) {
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Removes everything under path, then path itself.
void remove_tree(const std::string& path) {
  WIN32_FIND_DATAA entry{};
  HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = path + "\\" + name;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        remove_tree(child);
      } else {
        ::SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(child.c_str());
      }
    } while (::FindNextFileA(search, &entry) != 0);
    ::FindClose(search);
  }
  ::RemoveDirectoryA(path.c_str());
}

std::string upper_case(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string forward_slashes(std::string text) {
  for (char& c : text)
    if (c == '\\') c = '/';
  return text;
}

// --- Loading ---------------------------------------------------------------

Library load(Report& report, const std::string& dll) {
  Library library;
  library.module = ::LoadLibraryA(dll.c_str());
  check(report, library.module != nullptr, "LoadLibraryA " + dll);
  if (library.module == nullptr) return library;

  FARPROC convert_by_name = ::GetProcAddress(library.module, "BREVLO32");
  FARPROC info_by_name = ::GetProcAddress(library.module, "BREVLOInfo");
  FARPROC convert_by_ordinal = ::GetProcAddress(library.module, MAKEINTRESOURCEA(1));
  FARPROC info_by_ordinal = ::GetProcAddress(library.module, MAKEINTRESOURCEA(2));
  check(report, convert_by_name != nullptr, "BREVLO32 found by name");
  check(report, info_by_name != nullptr, "BREVLOInfo found by name");
  check(report, convert_by_ordinal == convert_by_name, "ordinal 1 is BREVLO32");
  check(report, info_by_ordinal == info_by_name, "ordinal 2 is BREVLOInfo");
  check(report, convert_by_name != info_by_name, "the two exports differ");
  check(report, ::GetProcAddress(library.module, MAKEINTRESOURCEA(3)) == nullptr, "no ordinal 3");
  check(report,
        ::GetProcAddress(library.module, "_BREVLO32@8") == nullptr &&
            ::GetProcAddress(library.module, "BREVLO32@8") == nullptr,
        "no decorated export names");
  check(report, ::GetProcAddress(library.module, "DllMain") == nullptr, "DllMain not exported");

  library.convert = reinterpret_cast<ConvertFunction>(reinterpret_cast<void*>(convert_by_name));
  library.info = reinterpret_cast<InfoFunction>(reinterpret_cast<void*>(info_by_name));
  return library;
}

#if defined(__i386__)
// 32-bit Windows has several calling conventions, and hosts declare the
// exports __stdcall; x64 has only one, so there is nothing to check there.

// Calls a two-argument export with its arguments pushed by hand and returns
// the bytes the callee left on the stack: 0 when it pops its own arguments as
// __stdcall requires, 8 when it expects the caller to.
std::int32_t stack_left_by(FARPROC function, const void* first, std::intptr_t second,
                           std::int32_t& result) {
  std::int32_t left = 0;
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "pushl %[second]\n\t"
      "pushl %[first]\n\t"
      "call *%[function]\n\t"
      "subl %%esp, %%esi\n\t"
      "addl %%esi, %%esp\n\t"
      : "=a"(result), "=&S"(left)
      : [function] "r"(function), [first] "r"(first), [second] "r"(second)
      : "ecx", "edx", "memory", "cc");
  return left;
}

void check_calling_convention(Report& report, const Library& library, const Folders& folders) {
  const std::string gif = folders.in_corpus(std::string(kGoodGif) + ".gif");
  const std::string bmp = folders.in_work("stdcall.bmp");
  const auto convert = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(library.convert));
  const auto info = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(library.info));
  std::int32_t result = -1;
  check(report,
        stack_left_by(convert, gif.c_str(), reinterpret_cast<std::intptr_t>(bmp.c_str()), result) ==
                0 &&
            result == 0,
        "BREVLO32 converts and pops its own arguments (__stdcall)");
  check(report, stack_left_by(info, nullptr, 0, result) == 0 && result == library.info(nullptr, 0),
        "BREVLOInfo pops its own arguments (__stdcall)");
}
#endif

// --- Information text --------------------------------------------------------

void check_info(Report& report, const Library& library, const Folders& folders) {
  const Bytes linux_text = read_file(folders.in_corpus("info.txt"));
  const auto length = static_cast<std::int32_t>(linux_text.size());
  check(report, length > 0 && library.info(nullptr, 0) == length,
        "BREVLOInfo length matches the Linux library");
  for (std::int32_t size : {0, -1, length - 1}) {
    Bytes buffer(static_cast<std::size_t>(length) + 4, '#');
    check(report,
          library.info(buffer.data(), size) == length && buffer == Bytes(buffer.size(), '#'),
          "BREVLOInfo with size " + std::to_string(size) + " gives the length, writes nothing");
  }
  Bytes buffer(static_cast<std::size_t>(length) + 11, '#');
  check(report, library.info(buffer.data(), length + 10) == 0, "BREVLOInfo copies");
  Bytes expected = linux_text;
  expected.insert(expected.end(), 10, ' ');
  expected.push_back('#');
  check(report, buffer == expected, "BREVLOInfo text, then spaces, no terminator");
}

// --- The corpus --------------------------------------------------------------

struct CorpusCase {
  std::string name;
  int code;
};

std::vector<CorpusCase> read_cases(const Folders& folders) {
  std::vector<CorpusCase> cases;
  std::ifstream list(folders.in_corpus("cases.txt"));
  CorpusCase c;
  while (list >> c.name >> c.code) cases.push_back(c);
  return cases;
}

// Converts every corpus GIF and compares with the Linux library's outcome.
void check_corpus(Report& report, const Library& library, const Folders& folders) {
  const std::vector<CorpusCase> cases = read_cases(folders);
  check(report, cases.size() >= 20, "corpus has its cases");
  for (const CorpusCase& c : cases) {
    const std::string bmp = folders.in_work(c.name + ".bmp");
    const int result = library.convert(folders.in_corpus(c.name + ".gif").c_str(), bmp.c_str());
    check(report, result == c.code,
          c.name + ": result " + std::to_string(result) + ", Linux " + std::to_string(c.code));
    if (c.code == 0) {
      check(report, read_file(bmp) == read_file(folders.in_corpus(c.name + ".bmp")),
            c.name + ": BMP identical to Linux");
    } else {
      check(report, !exists(bmp), c.name + ": no output after failure");
    }
  }
}

// --- Names and files -----------------------------------------------------------

struct Fixture {
  std::string gif;          // a GIF that converts
  std::string failing_gif;  // a GIF refused with ERR_UNSUPPORTED
  Bytes gif_bytes;
  Bytes expected_bmp;  // the Linux library's BMP for gif
};

Fixture make_fixture(const Folders& folders) {
  Fixture f;
  f.gif = folders.in_corpus(std::string(kGoodGif) + ".gif");
  f.failing_gif = folders.in_corpus(std::string(kFailingGif) + ".gif");
  f.gif_bytes = read_file(f.gif);
  f.expected_bmp = read_file(folders.in_corpus(std::string(kGoodGif) + ".bmp"));
  return f;
}

void check_names(Report& report, const Library& library, const Folders& folders, const Fixture& f) {
  const std::string out = folders.in_work("names.bmp");
  const Bytes kept = {'k', 'e', 'p', 't'};
  write_file(out, kept);
  struct Call {
    const char* gif;
    const char* bmp;
  };
  for (const Call& call :
       {Call{"", out.c_str()}, Call{f.gif.c_str(), ""}, Call{nullptr, out.c_str()},
        Call{f.gif.c_str(), nullptr}, Call{nullptr, nullptr}}) {
    const std::string what = std::string("names (") + (call.gif ? call.gif : "null") + ", " +
                             (call.bmp ? call.bmp : "null") + ")";
    check(report, library.convert(call.gif, call.bmp) == ERR_EMPTY_NAME, what + " give 30010");
    check(report, read_file(out) == kept, what + " leave an existing output alone");
  }
}

void check_opening(Report& report, const Library& library, const Folders& folders,
                   const Fixture& f) {
  const std::string out = folders.in_work("opening.bmp");

  write_file(out, {'o', 'l', 'd'});
  check(report,
        library.convert(folders.in_work("missing.gif").c_str(), out.c_str()) == ERR_OPEN_FAILED,
        "missing input gives 30001");
  check(report, !exists(out), "missing input removes an existing output");

  check(report,
        library.convert(f.gif.c_str(), folders.in_work("no\\such\\out.bmp").c_str()) ==
            ERR_OPEN_FAILED,
        "output in a missing folder gives 30001");

  const std::string folder = folders.in_work("folder");
  ::CreateDirectoryA(folder.c_str(), nullptr);
  check(report, library.convert(f.gif.c_str(), folder.c_str()) == ERR_OPEN_FAILED,
        "a folder as output gives 30001");
  check(report, is_directory(folder), "a folder as output is kept");
  check(report, library.convert(folder.c_str(), out.c_str()) == ERR_OPEN_FAILED,
        "a folder as input gives 30001");
  check(report, !exists(out), "a folder as input leaves no output");

  write_file(out, Bytes(70000, '\xFF'));
  check(report,
        library.convert(f.gif.c_str(), out.c_str()) == 0 && read_file(out) == f.expected_bmp,
        "a larger existing output is replaced");
  check(report,
        library.convert(f.failing_gif.c_str(), out.c_str()) == ERR_UNSUPPORTED && !exists(out),
        "a failed conversion removes the output it replaced");

  check(report, read_file(f.gif) == f.gif_bytes, "inputs are never changed");
}

// Another program holding the GIF open: reading goes on unless it denies reads.
void check_sharing(Report& report, const Library& library, const Folders& folders,
                   const Fixture& f) {
  struct Holder {
    const char* what;
    DWORD access;
    DWORD share;
    int result;
  };
  const std::string gif = folders.in_work("held.gif");
  const std::string out = folders.in_work("held.bmp");
  write_file(gif, f.gif_bytes);
  for (const Holder& h :
       {Holder{"open for reading", GENERIC_READ, FILE_SHARE_READ, 0},
        Holder{"open for writing, sharing reads", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0},
        Holder{"open, sharing nothing", GENERIC_READ, 0, ERR_OPEN_FAILED}}) {
    HANDLE held = ::CreateFileA(gif.c_str(), h.access, h.share, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    check(report, held != INVALID_HANDLE_VALUE, std::string("hold the GIF ") + h.what);
    const int result = library.convert(gif.c_str(), out.c_str());
    ::CloseHandle(held);
    check(report, result == h.result,
          std::string("GIF held ") + h.what + ": result " + std::to_string(result));
    check(report, h.result == 0 ? read_file(out) == f.expected_bmp : !exists(out),
          std::string("GIF held ") + h.what + ": output as expected");
  }
}

// An output naming the input itself is refused before anything is written.
void check_same_file(Report& report, const Library& library, const Folders& folders,
                     const Fixture& f) {
  const std::string gif = folders.in_work("same.gif");
  const std::string link = folders.in_work("same-link.gif");
  write_file(gif, f.gif_bytes);
  const bool linked = ::CreateHardLinkA(link.c_str(), gif.c_str(), nullptr) != 0;
  check(report, linked, "create a hard link");
  struct Pair {
    std::string input;
    std::string output;
  };
  const std::string dotted = folders.work + "\\.\\same.gif";
  for (const Pair& pair :
       {Pair{gif, gif}, Pair{gif, upper_case(gif)}, Pair{gif, forward_slashes(gif)},
        Pair{gif, dotted}, Pair{gif, link}, Pair{link, gif}}) {
    const std::string what = "same file " + pair.input + " -> " + pair.output;
    check(report, library.convert(pair.input.c_str(), pair.output.c_str()) == ERR_OPEN_FAILED,
          what + " gives 30001");
    check(report, read_file(gif) == f.gif_bytes, what + " leaves the GIF intact");
  }
}

// Devices are written to but never deleted after a failure.
void check_device_output(Report& report, const Library& library, const Fixture& f) {
  check(report, library.convert(f.gif.c_str(), "NUL") == 0, "conversion into NUL succeeds");
  check(report, library.convert(f.failing_gif.c_str(), "NUL") == ERR_UNSUPPORTED,
        "failed conversion into NUL gives its code");
}

// Another hard link to the output shares what a success writes and keeps no
// byte of a failure.
void check_hard_linked_output(Report& report, const Library& library, const Folders& folders,
                              const Fixture& f) {
  const std::string out = folders.in_work("linked.bmp");
  const std::string other = folders.in_work("linked-other.bmp");
  for (bool succeeds : {true, false}) {
    const std::string what = succeeds ? "success" : "failure";
    ::DeleteFileA(out.c_str());
    write_file(other, {'o', 'l', 'd'});
    check(report, ::CreateHardLinkA(out.c_str(), other.c_str(), nullptr) != 0,
          "create a hard link for " + what);
    const int result = library.convert((succeeds ? f.gif : f.failing_gif).c_str(), out.c_str());
    if (succeeds) {
      check(report,
            result == 0 && read_file(out) == f.expected_bmp && read_file(other) == f.expected_bmp,
            "a success through a hard link writes the file both names share");
    } else {
      check(report, result == ERR_UNSUPPORTED && !exists(out) && read_file(other).empty(),
            "a failure through a hard link removes the name and empties the other");
    }
  }
}

// A pipe has no positions, so it converts neither way; opening one never
// waits for a server.
void check_pipes(Report& report, const Library& library, const Folders& folders, const Fixture& f) {
  const char* const pipe = "\\\\.\\pipe\\brevlo-host-test";
  const std::string out = folders.in_work("piped.bmp");
  check(report, library.convert(pipe, out.c_str()) == ERR_OPEN_FAILED && !exists(out),
        "a pipe with no server as input gives 30001");
  HANDLE server =
      ::CreateNamedPipeA(pipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 2, 65536, 65536, 0, nullptr);
  check(report, server != INVALID_HANDLE_VALUE, "create a named pipe");
  check(report, library.convert(pipe, out.c_str()) == ERR_OPEN_FAILED && !exists(out),
        "a pipe with a server as input gives 30001");
  check(report, library.convert(f.gif.c_str(), pipe) == ERR_OPEN_FAILED,
        "a pipe with a server as output gives 30001");
  ::CloseHandle(server);
}

// Paths longer than the 128 characters of older file interfaces.
void check_long_path(Report& report, const Library& library, const Folders& folders,
                     const Fixture& f) {
  std::string folder = folders.work;
  while (folder.size() < 200) {
    folder += "\\a-rather-long-folder-name";
    ::CreateDirectoryA(folder.c_str(), nullptr);
  }
  const std::string gif = folder + "\\input-with-a-long-name.gif";
  const std::string out = folder + "\\output-with-a-long-name.bmp";
  write_file(gif, f.gif_bytes);
  check(report, library.convert(gif.c_str(), out.c_str()) == 0 && read_file(out) == f.expected_bmp,
        "long paths (" + std::to_string(out.size()) + " characters) convert");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::printf("usage: windows_host_test DLL CORPUS_DIR WORK_DIR\n");
    return 2;
  }
  const Folders folders{argv[2], argv[3]};
  remove_tree(folders.work);
  ::CreateDirectoryA(folders.work.c_str(), nullptr);

  Report report;
  const Library library = load(report, argv[1]);
  if (library.convert != nullptr && library.info != nullptr) {
    const Fixture fixture = make_fixture(folders);
    check(report, !fixture.gif_bytes.empty() && !fixture.expected_bmp.empty(),
          "corpus has its reference case");
#if defined(__i386__)
    check_calling_convention(report, library, folders);
#endif
    check_info(report, library, folders);
    check_corpus(report, library, folders);
    check_names(report, library, folders, fixture);
    check_opening(report, library, folders, fixture);
    check_sharing(report, library, folders, fixture);
    check_same_file(report, library, folders, fixture);
    check_device_output(report, library, fixture);
    check_hard_linked_output(report, library, folders, fixture);
    check_pipes(report, library, folders, fixture);
    check_long_path(report, library, folders, fixture);
    check(report, ::FreeLibrary(library.module) != 0, "FreeLibrary");
  }
  std::printf("%d of %d checks passed\n", report.checks - report.failures, report.checks);
  return report.failures == 0 ? 0 : 1;
}
