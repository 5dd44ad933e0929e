#include "messages.h"

#include <brevlo.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/command_platform.h"

namespace brevlo::cli {

namespace {

using platform::TextStream;

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;

// The help, with {files} and {interrupts} for what it says of this system
// (command_platform.h) and the examples after it.
const char* const kHelp =
    "usage: brevlo [OPTIONS] FILE.gif...\n"
    "       brevlo [OPTIONS] IN.gif OUT.bmp\n"
    "       brevlo [OPTIONS] -o OUT IN.gif\n"
    "       brevlo [OPTIONS] [-0] --files-from LIST [-o DIR] [FILE.gif...]\n"
    "       brevlo --frames [OPTIONS] [-o DIR] FILE.gif...\n"
    "\n"
    "Converts GIF images into 8-bit palettised Windows BMP files.\n"
    "Each FILE.gif becomes FILE.bmp beside it (a final .gif is replaced, any other\n"
    "name gets .bmp appended). Two files of which only the second ends in .bmp are\n"
    "an input and its output. A FILE of - is standard input.\n"
    "\n"
    "Options:\n"
    "  -o, --output PATH     one input: write the BMP to PATH, whatever its name,\n"
    "                        unless PATH is a folder or ends in /; several inputs,\n"
    "                        -r or a list: write into the folder PATH, made when\n"
    "                        missing; - writes the BMP to standard output\n"
    "  -f, --force           replace BMP files that already exist\n"
    "  -n, --skip-existing   leave BMP files that already exist alone (skipped)\n"
    "  -r, --recursive       convert every *.gif in the folders given, and below;\n"
    "                        with -o DIR, pics goes to DIR/pics, pics/ into DIR\n"
    "      --files-from LIST convert the files LIST names too, one a line\n"
    "                        (- reads LIST from standard input)\n"
    "  -0, --null            names in LIST end with NUL bytes (find -print0)\n"
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
    "digits past 999) where FILE.bmp would go: beside it, or below -o DIR, for\n"
    "lists and -r too; - (standard input) takes -o NAME. Each frame is the whole\n"
    "screen as viewers show it: the background (the global table's background\n"
    "colour, or black), each image at its place with its transparent pixels\n"
    "showing what is below, and disposal 2 (background) and 3 (previous) applied\n"
    "after its frame. A frame of global table colours only is written as a still\n"
    "is; others are 8-bit with their own colours in (red, green, blue) order when\n"
    "at most 256, else 24-bit. A file damaged after its first frame keeps the\n"
    "frames before the damage, and the command exits 1. Screens of more than\n"
    "268435456 pixels are refused (30003). -n, --force and -v apply to each frame\n"
    "file; -o - and --strict do not go with --frames.\n"
    "\n"
    "Every BMP is written into a temporary file and given its name when\n"
    "complete, so an existing file is never damaged, and an interrupt leaves no\n"
    "partial or temporary file. An existing file is never replaced without\n"
    "--force. An output that is one of the inputs is never written, and when\n"
    "several inputs would give the same output, the first one gets it: the\n"
    "command line comes first, then the list; -r walks each folder depth first,\n"
    "names in byte order. Conversion starts while a list or walk is still being\n"
    "read. {files}\n"
    "\n"
    "Exit status: 0 when every file was converted (or skipped), 1 when any\n"
    "failed, 2 for a mistake on the command line. {interrupts}\n"
    "\n"
    "Examples:\n";

// The examples of the help: a command ({null} for the null device) and what
// it does, in a column of its own, or below the command where the line would
// grow too long.
struct Example {
  std::string_view command;
  std::string_view does;
};

constexpr Example kExamples[] = {
    {"brevlo photo.gif", "write photo.bmp"},
    {"brevlo photo.gif /tmp/small.bmp", "write /tmp/small.bmp"},
    {"brevlo -o picture photo.gif", "write the file picture"},
    {"brevlo -o bmp -j 4 *.gif", "convert every GIF here into bmp/, 4 at a time"},
    {"brevlo -n -o bmp *.gif", "again, converting only what is missing"},
    {"brevlo -r -o out pics", "pics/a/b.gif becomes out/pics/a/b.bmp"},
    {"brevlo -r -o out pics/", "pics/a/b.gif becomes out/a/b.bmp"},
    {"find . -name '*.gif' -print0 | brevlo -0 --files-from - -o out",
     "convert every GIF found, as one batch"},
    {"cat a.gif | brevlo -o - - > a.bmp", "convert from a pipe into a pipe"},
    {"brevlo -o {null} -v photo.gif", "check that photo.gif converts, show its size"},
    {"brevlo --force -q *.gif", "replace old BMP files, report only failures"},
    {"brevlo --strict -o {null} a.gif", "check that the library accepts a.gif"},
    {"brevlo --frames -v -o frames anim.gif", "frames/anim-001.bmp, anim-002.bmp, ..."},
};

// Where the examples' second column starts, unless a command is longer, and
// the longest line that holds a command and its words side by side.
constexpr std::size_t kExampleColumn = 34;
constexpr std::size_t kLineWidth = 80;
constexpr std::string_view kIndent = "  ";

std::string examples(std::string_view null_device) {
  std::string text;
  for (const Example& example : kExamples) {
    const std::string command = filled(example.command, {{"null", std::string(null_device)}});
    text += kIndent;
    text += command;
    if (kIndent.size() + command.size() + 2 + example.does.size() <= kLineWidth)
      text.append(std::max(kExampleColumn, command.size() + 2) - command.size(), ' ');
    else
      text += "\n" + std::string(kIndent.size() + kExampleColumn, ' ');
    text += example.does;
    text += '\n';
  }
  return text;
}

}  // namespace

std::string filled(std::string_view words, const Fillings& fillings) {
  std::string line;
  for (std::size_t at = 0; at < words.size();) {
    const std::size_t open = words.find('{', at);
    line += words.substr(at, open - at);
    if (open == std::string_view::npos) break;
    const std::size_t close = words.find('}', open);
    const std::string_view name = words.substr(open + 1, close - open - 1);
    for (const auto& [key, value] : fillings)
      if (key == name) line += value;
    at = close + 1;
  }
  return line;
}

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
  const platform::SystemHelp& system = platform::kSystemHelp;
  platform::write_text(TextStream::kOutput,
                       filled(kHelp, {{"files", std::string(system.files)},
                                      {"interrupts", std::string(system.interrupts)}}) +
                           examples(system.null_device));
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
