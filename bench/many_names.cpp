#include "many_names.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "peak_memory.h"

namespace brevlo::bench {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kFilesPerFolder = 1000;

// A 4x4 GIF of one colour with a 2-entry global colour table, as ImageMagick
// writes `convert -size 4x4 xc:red`.
const unsigned char kSmallGif[] = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x04, 0x00, 0x04, 0x00, 0xf0, 0x00, 0x00, 0xff, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x21, 0xf9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00,
    0x00, 0x00, 0x04, 0x00, 0x04, 0x00, 0x00, 0x02, 0x04, 0x84, 0x8f, 0x09, 0x05, 0x00, 0x3b};

bool write_whole(const std::string& path, const void* bytes, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = size == 0 || ::write(fd, bytes, size) == static_cast<ssize_t>(size);
  return ::close(fd) == 0 && written;
}

// count files below dir/tree, and dir/names listing them.
bool make_names(const fs::path& dir, const NamesBatch& batch) {
  std::error_code error;
  fs::remove_all(dir, error);
  std::string list;
  char name[64];
  for (std::size_t i = 0; i < batch.count; ++i) {
    std::snprintf(name, sizeof name, "tree/d%04zu", i / kFilesPerFolder);
    const fs::path folder = dir / name;
    if (i % kFilesPerFolder == 0 && !fs::create_directories(folder, error)) return false;
    std::snprintf(name, sizeof name, "f%07zu.gif", i);
    const std::string path = (folder / name).string();
    const bool gif = batch.content == NameContent::kGif;
    if (!write_whole(path, kSmallGif, gif ? sizeof kSmallGif : 0)) return false;
    list += path;
    list += '\0';
  }
  return write_whole((dir / "names").string(), list.data(), list.size());
}

struct Way {
  const char* name;
  std::vector<std::string> arguments;  // before the output folder's
};

void run_way(const std::string& program, const fs::path& dir, const NamesBatch& batch,
             const Way& way) {
  std::vector<std::string> arguments = way.arguments;
  arguments.insert(arguments.end(), {"-o", (dir / "out").string()});
  RunAs run_as;
  run_as.silent = true;
  run_as.exit_status = batch.content == NameContent::kGif ? 0 : 1;
  const auto start = std::chrono::steady_clock::now();
  const PeakMemory peak = peak_memory(program, arguments, run_as);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::error_code error;
  fs::remove_all(dir / "out", error);
  const char* content = batch.content == NameContent::kGif ? "small GIFs" : "empty files";
  if (peak.kilobytes < 0) {
    std::printf("| %zu %s | %s | not run (an older command?) | | |\n", batch.count, content,
                way.name);
    return;
  }
  const double count = static_cast<double>(batch.count);
  std::printf("| %zu %s | %s | %s%.1f MB | %.0f bytes | %.1f us |\n", batch.count, content,
              way.name, peak.exact ? "" : "at most ",
              static_cast<double>(peak.kilobytes) * 1024 / 1e6,
              static_cast<double>(peak.kilobytes) * 1024 / count, took.count() * 1e6 / count);
}

}  // namespace

int report_many_names(const std::string& brevlo_program, const std::string& dir,
                      const std::vector<NamesBatch>& batches) {
  std::printf(
      "\nmany names through `brevlo -q -o DIR` on %s (peak memory of the whole process, in "
      "all and per name; wall time per name)\n\n",
      dir.c_str());
  std::printf("| names | way | peak memory | per name | time per name |\n");
  std::printf("|---|---|--:|--:|--:|\n");
  const fs::path root = dir;
  for (const NamesBatch& batch : batches) {
    if (!make_names(root, batch)) {
      std::fprintf(stderr, "cannot make %zu files in %s\n", batch.count, dir.c_str());
      return 1;
    }
    const std::string list = (root / "names").string();
    const std::string tree = (root / "tree").string() + "/";
    run_way(brevlo_program, root, batch, {"--files-from", {"-q", "-0", "--files-from", list}});
    run_way(brevlo_program, root, batch, {"-r", {"-q", "-r", tree}});
    std::error_code error;
    fs::remove_all(root, error);
  }
  return 0;
}

}  // namespace brevlo::bench
