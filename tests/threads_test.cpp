// Conversions running at the same time on different threads.
#include <brevlo.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "gif_writer.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

// What one conversion left: its result and the output's bytes (empty when no
// output exists).
struct Outcome {
  int result;
  Bytes output;
  bool operator==(const Outcome&) const = default;
};

Outcome convert_file(const std::string& in, const std::string& out) {
  const int result = BREVLO32(in.c_str(), out.c_str());
  return {result, exists(out) ? read_file(out) : Bytes{}};
}

// Eight threads each convert their own file 100 times and must leave exactly
// what a single thread left. The files differ in size, code size, sub-block
// size and table handling, and every fourth is cut short, so the threads are
// in different stages, successes and failures alike, at once.
TEST(Threads, EightThreadsMatchASingleThreadByteForByte) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 100;
  ScratchDir dir;
  std::vector<Outcome> single_thread;
  for (int t = 0; t < kThreads; ++t) {
    const int code_size = 2 + t % 7;
    const int width = 33 + 29 * t;
    const int height = 17 + 5 * t;
    const Bytes pixels = noise_pixels(width * height, code_size, static_cast<std::uint32_t>(7 + t));
    Bytes gif = make_gif(width, height, pixels, code_size, 255 - 31 * t,
                         {t % 2 == 0, t % 3 == 0 ? FullTable::kDefer : FullTable::kClear});
    const bool broken = t % 4 == 3;
    if (broken) gif.resize(gif.size() - 3);
    const std::string in = dir.path("in" + std::to_string(t) + ".gif");
    write_file(in, gif);
    single_thread.push_back(convert_file(in, dir.path("single" + std::to_string(t) + ".bmp")));
    const Outcome want = broken
                             ? Outcome{ERR_BAD_GIF, {}}
                             : Outcome{0, expected_bmp(width, height, pixels, test_colour_table())};
    ASSERT_EQ(single_thread.back(), want) << "file " << t;
  }
  std::vector<int> differences(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string in = dir.path("in" + std::to_string(t) + ".gif");
      const std::string out = dir.path("out" + std::to_string(t) + ".bmp");
      for (int round = 0; round < kRounds; ++round)
        if (convert_file(in, out) != single_thread[static_cast<std::size_t>(t)])
          ++differences[static_cast<std::size_t>(t)];
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(differences[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

}  // namespace
}  // namespace brevlo::test
