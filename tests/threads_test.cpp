// Conversions running at the same time on different threads.
#include <brevlo.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "gif_writer.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

TEST(Threads, ConcurrentConversionsDoNotDisturbEachOther) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 15;
  ScratchDir dir;
  std::vector<Bytes> expected;
  for (int t = 0; t < kThreads; ++t) {
    // Different sizes, and every other file broken, so threads are in
    // different stages at once.
    int width = 97 + 31 * t;
    int height = 61 + 7 * t;
    Bytes pixels = noise_pixels(width * height, 8, static_cast<std::uint32_t>(100 + t));
    Bytes gif = make_gif(width, height, pixels, 8, 1 + 40 * t);
    if (t % 2 == 1) gif.resize(gif.size() - 3);
    write_file(dir.path("in" + std::to_string(t) + ".gif"), gif);
    expected.push_back(t % 2 == 1 ? Bytes{}
                                  : expected_bmp(width, height, pixels, test_colour_table()));
  }
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::string in = dir.path("in" + std::to_string(t) + ".gif");
      std::string out = dir.path("out" + std::to_string(t) + ".bmp");
      for (int round = 0; round < kRounds; ++round) {
        int result = BREVLO32(in.c_str(), out.c_str());
        bool ok = t % 2 == 1
                      ? (result == 30004 && !exists(out))
                      : (result == 0 && read_file(out) == expected[static_cast<std::size_t>(t)]);
        if (!ok) ++failures[static_cast<std::size_t>(t)];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(failures[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

}  // namespace
}  // namespace brevlo::test
