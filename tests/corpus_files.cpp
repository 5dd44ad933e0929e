#include "corpus_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace brevlo::test {

std::vector<std::string> corpus_files() {
  std::vector<std::string> paths;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(BREVLO_CORPUS_DIR, error))
    if (entry.path().extension() == ".gif") paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  EXPECT_FALSE(paths.empty()) << "no corpus in " BREVLO_CORPUS_DIR
                                 "; ctest generates it (tests/corpus/make_corpus.py)";
  return paths;
}

std::string corpus_file(const std::string& name) {
  return (std::filesystem::path(BREVLO_CORPUS_DIR) / name).string();
}

}  // namespace brevlo::test
