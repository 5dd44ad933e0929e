#include "messages.h"

#include <brevlo.h>

#include <array>
#include <cstdio>

#include "platform/command_platform.h"

namespace brevlo::cli {

namespace {

using platform::TextStream;

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;

const char* const kHelp =
    "usage: brevlo [OPTIONS] FILE.gif...\n"
    "       brevlo [OPTIONS] IN.gif OUT.bmp\n"
    "       brevlo [OPTIONS] -o OUT IN.gif\n"
    "       brevlo --frames [OPTIONS] [-o DIR] FILE.gif...\n"
    "\n"
    "Converts GIF images into 8-bit palettised Windows BMP files.\n"
    "Each FILE.gif becomes FILE.bmp beside it (a final .gif is replaced, any other\n"
    "name gets .bmp appended). Two files of which only the second ends in .bmp are\n"
    "an input and its output. A FILE of - is standard input.\n"
    "\n"
    "Options:\n"
    "  -o, --output PATH     one input: write the BMP to PATH, whatever its name,\n"
    "                        unless PATH is a folder or ends in /; several inputs\n"
    "                        or -r: write into the folder PATH, made when missing;\n"
    "                        - writes the BMP to standard output\n"
    "  -f, --force           replace BMP files that already exist\n"
    "  -n, --skip-existing   leave BMP files that already exist alone (skipped)\n"
    "  -r, --recursive       convert every *.gif in the folders given, and below\n"
    "  -j, --jobs N          convert N files at a time (default: one per processor)\n"
    "  -v, --verbose         one line per converted file, with its size\n"
    "  -q, --quiet           report nothing but failures\n"
    "      --strict          accept exactly what the library (BREVLO32) accepts\n"
    "      --frames          write every frame of each GIF (see below)\n"
    "      --info            show the library's information text\n"
    "      --version         show the version\n"
    "  -h, --help            show this help\n"
    "\n"
    "By default every ordinary GIF converts: colour tables of any size, global or\n"
    "local, interlaced images, a complete image whose data lacks its end code, and\n"
    "a file that lacks only its trailer; the palette always has 256 entries\n"
    "(black past the GIF's table). With --strict a file converts only with a\n"
    "256-entry global colour table, a non-interlaced image, the end code and the\n"
    "trailer, with the same result codes and bytes as the library.\n"
    "Of a file with several images only the first is converted, unless --frames.\n"
    "\n"
    "With --frames each FILE.gif gives FILE-001.bmp, FILE-002.bmp, ... (more\n"
    "digits past 999), beside it or in the folder -o DIR; - (standard input)\n"
    "takes -o NAME. Each frame is the whole screen as viewers show it: the\n"
    "background (the global table's background colour, or black), each image at\n"
    "its place with its transparent pixels showing what is below, and disposal 2\n"
    "(background) and 3 (previous) applied after its frame. A frame of global\n"
    "table colours only is written as a still is; others are 8-bit with their\n"
    "own colours in (red, green, blue) order when at most 256, else 24-bit. A\n"
    "file damaged after its first frame keeps the frames before the damage, and\n"
    "the command exits 1. Screens of more than 268435456 pixels are refused\n"
    "(30003). -n, --force and -v apply to each frame file; -o - and --strict do\n"
    "not go with --frames.\n"
    "\n"
    "Every BMP is written into a temporary file and given its name when\n"
    "complete, so an existing file is never damaged, and an interrupt leaves no\n"
    "partial or temporary file. An existing file is never replaced without\n"
    "--force; replacing keeps its permissions, and a symbolic link stays a link\n"
    "to the new file. Devices such as /dev/null are written in place. An output\n"
    "that is one of the inputs is never written, and when several inputs would\n"
    "give the same output, the first one on the command line gets it.\n"
    "\n"
    "Exit status: 0 when every file was converted (or skipped), 1 when any\n"
    "failed, 2 for a mistake on the command line. SIGINT, SIGTERM and SIGHUP\n"
    "end the command by that signal (a shell shows 128+N).\n"
    "\n"
    "Examples:\n"
    "  brevlo photo.gif                  write photo.bmp\n"
    "  brevlo photo.gif /tmp/small.bmp   write /tmp/small.bmp\n"
    "  brevlo -o picture photo.gif       write the file picture\n"
    "  brevlo -o bmp -j 4 *.gif          convert every GIF here into bmp/, 4 at a time\n"
    "  brevlo -n -o bmp *.gif            again, converting only what is missing\n"
    "  brevlo -r -o out pics             pics/a/b.gif becomes out/a/b.bmp\n"
    "  cat a.gif | brevlo -o - - > a.bmp convert from a pipe into a pipe\n"
    "  brevlo -o /dev/null -v photo.gif  check that photo.gif converts, show its size\n"
    "  brevlo --force -q *.gif           replace old BMP files, report only failures\n"
    "  brevlo --strict -o /dev/null a.gif  check that the library accepts a.gif\n"
    "  brevlo --frames -v -o frames anim.gif  frames/anim-001.bmp, anim-002.bmp, ...\n";

}  // namespace

std::string shown_name(const std::string& name) {
  std::string shown;
  shown.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= kFirstPrintable && byte != kDelete) {
      shown += c;
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else {
      std::array<char, 5> escaped{};
      std::snprintf(escaped.data(), escaped.size(), "\\x%02x", byte);
      shown += escaped.data();
    }
  }
  return shown;
}

std::string shown_output(const Job& job) {
  if (job.frames) return shown_name(job.output + "-*.bmp");
  return job.to_stdout ? std::string("standard output") : shown_name(job.output);
}

int finish_standard_output(int status) {
  int error = 0;
  if (platform::flush_standard_output(error)) return status;
  print_command_error("write error on standard output: " + platform::describe_error(error));
  return 1;
}

void print_help() {
  platform::write_text(TextStream::kOutput, kHelp);
}

void print_version() {
  platform::write_text(TextStream::kOutput, std::string("brevlo ") + BREVLO_VERSION + "\n");
}

void print_usage_error(const std::string& error) {
  platform::write_text(TextStream::kError, "brevlo: " + shown_name(error) +
                                               "\nTry 'brevlo --help' for more information.\n");
}

void print_command_error(const std::string& message) {
  platform::write_text(TextStream::kError, "brevlo: " + message + "\n");
}

int print_info() {
  // The library gives the length first, then copies the text without a NUL.
  const int32_t length = BREVLOInfo(nullptr, 0);
  if (length < 0) return 1;
  std::string text(static_cast<std::size_t>(length), ' ');
  if (BREVLOInfo(text.data(), length) != 0) return 1;
  platform::write_text(TextStream::kOutput, text + "\n");
  return 0;
}

}  // namespace brevlo::cli
