#include "small_files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "child_process.h"

namespace brevlo::bench {

namespace {

namespace fs = std::filesystem;

// kSmallFileCount tiles: a 40 x 50 grid of them from the middle of the photograph.
constexpr int kTileColumns = 40;
constexpr int kTileRows = kSmallFileCount / kTileColumns;

std::string tile_path(const fs::path& dir, int index) {
  char name[32];
  std::snprintf(name, sizeof name, "icon-%04d.gif", index);
  return (dir / name).string();
}

bool all_tiles_exist(const fs::path& dir) {
  for (int i = 0; i < kSmallFileCount; ++i)
    if (!fs::exists(tile_path(dir, i))) return false;
  return true;
}

bool make_tiles(const fs::path& dir, const std::string& photo_gif) {
  fs::create_directories(dir);
  const std::string region = std::to_string(kTileColumns * kSmallFileSide) + "x" +
                             std::to_string(kTileRows * kSmallFileSide) + "+1600+700";
  const std::string tile = std::to_string(kSmallFileSide) + "x" + std::to_string(kSmallFileSide);
  const std::string command = "convert '" + photo_gif + "' -crop " + region + " +repage -crop " +
                              tile + " +repage +adjoin '" + (dir / "icon-%04d.gif").string() + "'";
  std::fprintf(stderr, "making %d small GIFs in %s\n", kSmallFileCount, dir.c_str());
  return std::system(command.c_str()) == 0 && all_tiles_exist(dir);
}

void empty_folder(const fs::path& dir) {
  fs::remove_all(dir);
  fs::create_directories(dir);
}

}  // namespace

std::vector<std::string> prepare_small_files(const std::string& cache_dir,
                                             const std::string& photo_gif) {
  const fs::path dir = fs::path(cache_dir) / "icons";
  if (!all_tiles_exist(dir) && !make_tiles(dir, photo_gif)) {
    std::fprintf(stderr, "cannot make the small GIFs in %s\n", dir.c_str());
    return {};
  }
  std::vector<std::string> files;
  files.reserve(kSmallFileCount);
  for (int i = 0; i < kSmallFileCount; ++i) files.push_back(tile_path(dir, i));
  return files;
}

std::vector<double> time_small_files(const std::string& brevlo_program,
                                     const std::vector<std::string>& files,
                                     const std::string& out_dir,
                                     const std::vector<std::vector<std::string>>& variants,
                                     int rounds) {
  std::vector<double> best(variants.size(), 1e300);
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t v = 0; v < variants.size(); ++v) {
      std::vector<std::string> arguments = {"-q", "-o", out_dir};
      arguments.insert(arguments.end(), variants[v].begin(), variants[v].end());
      arguments.insert(arguments.end(), files.begin(), files.end());
      empty_folder(out_dir);
      const auto start = std::chrono::steady_clock::now();
      const bool ok = run_to_completion(brevlo_program, arguments);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      if (!ok) return {};
      best[v] = std::min(best[v], took.count());
    }
  }
  return best;
}

}  // namespace brevlo::bench
