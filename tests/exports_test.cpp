// The shared library as hosts load it: exactly its public functions, found by
// name through the dynamic loader.
#include <brevlo.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "gif_writer.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

// The global symbols library exports, or with every_symbol all it defines,
// local ones included, as nm lists them (mangled).
std::set<std::string> defined_symbols(const std::string& library, bool every_symbol) {
  std::set<std::string> names;
  std::string command = std::string("nm ") + (every_symbol ? "" : "-D ") +
                        "--defined-only --format=posix '" + library + "'";
  const std::string kinds = every_symbol ? "TDBWRtdbwr" : "TDBWR";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    std::string name = text.substr(0, text.find(' '));
    std::string kind = text.substr(text.find(' ') + 1, 1);
    if (kinds.find(kind) != std::string::npos) names.insert(name);
  }
  ::pclose(pipe);
  return names;
}

TEST(Exports, OnlyThePublicFunctions) {
  std::set<std::string> names = defined_symbols(BREVLO_SHARED_LIBRARY, false);
  names.erase("BREVLO_1.0");  // a version node, should the linker add one
  EXPECT_EQ(names, (std::set<std::string>{"BREVLO32", "BREVLOInfo", "brevlo_convert",
                                          "brevlo_convert_frames"}));
}

// The library users get carries no test seam, not even among its own symbols.
TEST(Exports, NoTestSeamInTheLibrary) {
  const std::set<std::string> names = defined_symbols(BREVLO_SHARED_LIBRARY, true);
  ASSERT_FALSE(names.empty()) << "nm found no symbols";
  for (const std::string& name : names) EXPECT_EQ(name.find("fault_injection"), std::string::npos);
}

TEST(Exports, LoadedByNameTheyConvert) {
  void* library = ::dlopen(BREVLO_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  using Convert = int32_t (*)(const char*, const char*);
  using Info = int32_t (*)(char*, int32_t);
  auto convert = reinterpret_cast<Convert>(::dlsym(library, "BREVLO32"));
  auto info = reinterpret_cast<Info>(::dlsym(library, "BREVLOInfo"));
  ASSERT_NE(convert, nullptr);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info(nullptr, 0), BREVLOInfo(nullptr, 0));
  ScratchDir dir;
  Bytes pixels = noise_pixels(12, 8, 51);
  write_file(dir.path("in.gif"), make_gif(4, 3, pixels));
  EXPECT_EQ(convert(dir.path("in.gif").c_str(), dir.path("out.bmp").c_str()), 0);
  EXPECT_EQ(read_file(dir.path("out.bmp")), expected_bmp(4, 3, pixels, test_colour_table()));
  EXPECT_EQ(convert("", "x"), 30010);
  ::dlclose(library);
}

}  // namespace
}  // namespace brevlo::test
