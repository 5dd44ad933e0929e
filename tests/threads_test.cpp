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

TEST(Threads, EightThreadsMatchASingleThreadByteForByte) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 100;
  ScratchDir dir;
  std::vector<Bytes> single_thread;
  for (int t = 0; t < kThreads; ++t) {
    // Every code size from 2 and several sub-block sizes and widths.
    const int code_size = 2 + t % 7;
    const int width = 33 + 29 * t;
    const int height = 17 + 5 * t;
    const Bytes pixels = noise_pixels(width * height, code_size, static_cast<std::uint32_t>(7 + t));
    const std::string in = dir.path("in" + std::to_string(t) + ".gif");
    write_file(in, make_gif(width, height, pixels, code_size, 255 - 31 * t,
                            {t % 2 == 0, t % 3 == 0 ? FullTable::kDefer : FullTable::kClear}));
    const std::string out = dir.path("single" + std::to_string(t) + ".bmp");
    ASSERT_EQ(BREVLO32(in.c_str(), out.c_str()), 0);
    single_thread.push_back(read_file(out));
  }
  std::vector<int> differences(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string in = dir.path("in" + std::to_string(t) + ".gif");
      const std::string out = dir.path("out" + std::to_string(t) + ".bmp");
      for (int round = 0; round < kRounds; ++round) {
        if (BREVLO32(in.c_str(), out.c_str()) != 0 ||
            read_file(out) != single_thread[static_cast<std::size_t>(t)])
          ++differences[static_cast<std::size_t>(t)];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(differences[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

}  // namespace
}  // namespace brevlo::test
