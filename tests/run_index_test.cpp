// The command's index of a run's names is exact whatever the digests do: keys
// whose digests agree in every bit a slot keeps are told apart by their
// records, every key stays found as the tables grow and the records move
// from memory into their temporary file, and a key never added is not found.
#include "run_index.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "digest_table.h"
#include "places.h"
#include "test_files.h"

namespace brevlo::cli {
namespace {

// Two output places whose keys in the index (the place after the letter O)
// have digests that share their top 32 bits, the bits a slot keeps; some
// 100,000 places hold such a pair.
std::pair<std::string, std::string> places_with_one_slot_digest() {
  std::unordered_map<std::uint32_t, std::string> seen;
  for (int i = 0;; ++i) {
    std::string place = "/out/" + std::to_string(i) + ".bmp";
    const auto top = static_cast<std::uint32_t>(digest_of("O" + place) >> 32);
    auto [found, added] = seen.try_emplace(top, place);
    if (!added) return {found->second, place};
  }
}

TEST(RunIndex, KeysWhoseDigestsAgreeAreToldApartByTheirRecords) {
  const auto [first, second] = places_with_one_slot_digest();
  RunIndex index;
  std::string input;
  ASSERT_EQ(claim_output(index, first, "a.gif", input), Added::kAdded);
  EXPECT_FALSE(find_output(index, second, input));
  EXPECT_EQ(claim_output(index, second, "b.gif", input), Added::kAdded);
  ASSERT_TRUE(find_output(index, first, input));
  EXPECT_EQ(input, "a.gif");
  ASSERT_TRUE(find_output(index, second, input));
  EXPECT_EQ(input, "b.gif");
  EXPECT_EQ(claim_output(index, second, "c.gif", input), Added::kAlreadyThere);
  EXPECT_EQ(input, "b.gif");
  // An output's place and an input's are kept apart too.
  EXPECT_FALSE(find_input_place(index, first, input));
  close_index(index);
}

// Enough names for several doublings of both tables and for records well
// past what waits in memory before it is written to the temporary file.
TEST(RunIndex, EveryNameStaysFoundAsTheIndexGrows) {
  constexpr int kNames = 50000;
  RunIndex index;
  std::string earlier;
  for (int i = 0; i < kNames; ++i) {
    const std::string name = "in/" + std::to_string(i) + ".gif";
    platform::FileIdentity file;
    file.known = true;
    file.volume = 7;
    file.index = static_cast<std::uint64_t>(i);
    ASSERT_EQ(add_input_file(index, file, name, earlier), Added::kAdded);
    ASSERT_EQ(claim_output(index, "/out/" + std::to_string(i) + ".bmp", name, earlier),
              Added::kAdded);
  }
  std::string input;
  for (int i = 0; i < kNames; i += 997) {
    SCOPED_TRACE(i);
    platform::FileIdentity file;
    file.known = true;
    file.volume = 7;
    file.index = static_cast<std::uint64_t>(i);
    ASSERT_TRUE(find_input_file(index, file, input));
    EXPECT_EQ(input, "in/" + std::to_string(i) + ".gif");
    ASSERT_TRUE(find_output(index, "/out/" + std::to_string(i) + ".bmp", input));
    EXPECT_EQ(input, "in/" + std::to_string(i) + ".gif");
    file.volume = 8;
    EXPECT_FALSE(find_input_file(index, file, input));
  }
  EXPECT_FALSE(find_output(index, "/out/" + std::to_string(kNames) + ".bmp", input));
  EXPECT_GT(index.spool.written, 0u) << "the records never reached their temporary file";
  close_index(index);
}

// Each name of a place is spelt as the others are, before its folder exists
// and after (a run makes folders as it goes, and its cache of folders may
// have let go of the first spelling), through "." and "..", and through a
// link to the folder.
TEST(Places, EveryNameOfAPlaceIsSpeltOneWayBeforeAndAfterItsFolderIsMade) {
  namespace fs = std::filesystem;
  test::ScratchDir dir;
  const std::string out = dir.path("out");
  fs::create_directory(out);
  fs::create_directory_symlink("out", dir.path("link"));
  const std::vector<std::string> names = {out + "/new/x.bmp", out + "/./new/x.bmp",
                                          out + "/new/../new/x.bmp", dir.path("link/new/x.bmp"),
                                          dir.path("./out/new/x.bmp")};
  Places before;
  const std::string place = place_of(before, names[0]);
  for (const std::string& name : names) EXPECT_EQ(place_of(before, name), place) << name;
  fs::create_directory(out + "/new");
  for (const std::string& name : names) {
    Places after;  // nothing cached from before the folder was made
    EXPECT_EQ(place_of(after, name), place) << name;
  }
  Places other;
  EXPECT_NE(place_of(other, out + "/new/y.bmp"), place);
}

}  // namespace
}  // namespace brevlo::cli
