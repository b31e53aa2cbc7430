#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

// A small, deterministic mutation fuzzer for the parsers of outside data. Each harness runs a
// fixed number of mutated inputs from a seed corpus through one parser; a parser may accept an
// input or refuse it with an exception, and anything else (a crash, a sanitizer report, a hang,
// an exception that is not a std::exception) is the failure the harness exists to catch. The
// same seed always gives the same inputs, so a failure in CI reproduces locally.
namespace mqtest::fuzz {

// splitmix64: tiny, fast and good enough to drive mutations reproducibly.
class Random {
public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, bound); bound 0 gives 0.
  size_t below(size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(next() % bound); }

private:
  uint64_t state_;
};

// Bytes that tend to reach unusual paths in text formats and binary headers.
inline constexpr std::string_view kInterestingBytes{"\0\xff\x7f\x80{}[]\":,-.0123456789eE\\\n\r ",
                                                    27};

// Applies one to four stacked mutations to `input`: bit flips, interesting bytes, inserted and
// deleted runs, duplicated chunks, splices from another corpus entry, 32-bit boundary values
// and truncation. The result is capped at `maxSize` bytes.
inline std::string mutate(std::string input, const std::vector<std::string> &corpus, Random &rng,
                          size_t maxSize = 1 << 20) {
  const size_t rounds = 1 + rng.below(4);
  for (size_t round = 0; round < rounds; ++round) {
    const size_t size = input.size();
    switch (rng.below(8)) {
    case 0: // flip a bit
      if (size > 0) {
        input[rng.below(size)] ^= static_cast<char>(1u << rng.below(8));
      }
      break;
    case 1: // overwrite with an interesting byte
      if (size > 0) {
        input[rng.below(size)] = kInterestingBytes[rng.below(kInterestingBytes.size())];
      }
      break;
    case 2: { // insert a run of one byte
      const size_t length = 1 + rng.below(64);
      input.insert(rng.below(size + 1), length,
                   kInterestingBytes[rng.below(kInterestingBytes.size())]);
      break;
    }
    case 3: // delete a run
      if (size > 0) {
        const size_t at = rng.below(size);
        input.erase(at, 1 + rng.below(std::min<size_t>(size - at, 256)));
      }
      break;
    case 4: // duplicate a chunk in place (nesting, repeated keys)
      if (size > 0) {
        const size_t at = rng.below(size);
        const size_t length = 1 + rng.below(std::min<size_t>(size - at, 512));
        const std::string chunk = input.substr(at, length);
        for (size_t copies = 1 + rng.below(8); copies > 0; --copies) {
          input.insert(at, chunk);
        }
      }
      break;
    case 5: // splice in a piece of another corpus entry
      if (!corpus.empty()) {
        const std::string &other = corpus[rng.below(corpus.size())];
        if (!other.empty()) {
          const size_t from = rng.below(other.size());
          const size_t length = 1 + rng.below(other.size() - from);
          input.insert(rng.below(size + 1), other, from, length);
        }
      }
      break;
    case 6: // a 32-bit boundary value, little-endian, over four bytes
      if (size >= 4) {
        static constexpr uint32_t kValues[] = {0u,          1u,          0x7fffffffu, 0x80000000u,
                                               0xfffffffeu, 0xffffffffu, 0x10000u,    0xffffu};
        const uint32_t value = kValues[rng.below(std::size(kValues))];
        const size_t at = rng.below(size - 3);
        for (int byte = 0; byte < 4; ++byte) {
          input[at + byte] = static_cast<char>((value >> (8 * byte)) & 0xff);
        }
      }
      break;
    default: // truncate
      input.resize(rng.below(size + 1));
      break;
    }
    if (input.size() > maxSize) {
      input.resize(maxSize);
    }
  }
  return input;
}

// tests/fuzz/corpus/<name>/ in the source tree.
inline std::filesystem::path corpusFolder(std::string_view name) {
  return std::filesystem::path(MQ_SOURCE_DIR) / "tests" / "fuzz" / "corpus" / name;
}

// Every file of tests/fuzz/corpus/<name>/, in name order. Fails the test when there is none.
inline std::vector<std::string> loadCorpus(std::string_view name) {
  const std::filesystem::path folder = corpusFolder(name);
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(folder)) {
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
      if (entry.is_regular_file()) {
        files.push_back(entry.path());
      }
    }
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> corpus;
  for (const auto &file : files) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    corpus.push_back(bytes.str());
  }
  EXPECT_FALSE(corpus.empty()) << "no seed corpus in " << folder;
  return corpus;
}

// Iterations for a harness: `defaultCount`, or MQ_FUZZ_ITERATIONS when set (for longer runs by
// hand).
inline size_t iterations(size_t defaultCount) {
  if (const char *text = std::getenv("MQ_FUZZ_ITERATIONS")) {
    const long long value = std::atoll(text);
    if (value > 0) {
      return static_cast<size_t>(value);
    }
  }
  return defaultCount;
}

// Runs `parse` on every corpus entry unchanged, then on `count` mutated inputs. `parse` may
// throw any std::exception (a refusal); the harness reports the iteration and seed of any other
// escape. Inputs are chosen from the corpus and from earlier mutants that parsed, so accepted
// shapes are explored further.
inline void run(std::string_view corpusName, uint64_t seed, size_t count,
                const std::function<void(const std::string &)> &parse) {
  std::vector<std::string> corpus = loadCorpus(corpusName);
  if (corpus.empty()) {
    return;
  }
  const size_t seeds = corpus.size();
  for (const std::string &entry : std::vector<std::string>(corpus)) {
    try {
      parse(entry);
    } catch (const std::exception &) {
    }
  }
  Random rng(seed);
  const size_t total = iterations(count);
  for (size_t iteration = 0; iteration < total; ++iteration) {
    std::string input = mutate(corpus[rng.below(corpus.size())], corpus, rng);
    bool accepted = false;
    try {
      parse(input);
      accepted = true;
    } catch (const std::exception &) {
    } catch (...) {
      ADD_FAILURE() << corpusName << ": a non-standard exception escaped at iteration " << iteration
                    << " (seed " << seed << ")";
      return;
    }
    // Keep a bounded pool of accepted mutants beside the seeds.
    if (accepted && corpus.size() < seeds + 256) {
      corpus.push_back(std::move(input));
    }
  }
}

} // namespace mqtest::fuzz
