// The corpus of GIF files other encoders wrote, generated at test time into the
// build folder (tests/corpus/make_corpus.py).
#pragma once

#include <string>
#include <vector>

namespace brevlo::test {

// Paths of the corpus's GIF files in name order. Fails the test that asks, and
// returns none, when the corpus has not been generated.
std::vector<std::string> corpus_files();

// The path of one corpus file by name.
std::string corpus_file(const std::string& name);

}  // namespace brevlo::test
