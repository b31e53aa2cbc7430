// Mutated transcription results through the SubRip and WebVTT writers. An input is a list of
// records "start|end|text" separated by 0x1e; times are read with strtof, so they may be
// negative, huge or not numbers. A writer may refuse a result; what it writes must hold exactly
// one cue per segment, with no negative time.

#include "DivuvovIze/Writing/ResultWriting.hpp"
#include "tests/fuzz/FuzzSupport.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace mqtest::fuzz {
namespace {

using divuvovize::TranscriptionResult;
using divuvovize::TranscriptionSegment;

std::vector<std::string> split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  while (true) {
    const std::size_t end = text.find(separator, begin);
    parts.push_back(text.substr(begin, end - begin));
    if (end == std::string::npos) {
      return parts;
    }
    begin = end + 1;
  }
}

std::vector<TranscriptionSegment> segmentsOf(const std::string &input) {
  std::vector<TranscriptionSegment> segments;
  for (const auto &record : split(input, '\x1e')) {
    const std::size_t first = record.find('|');
    const std::size_t second = first == std::string::npos ? first : record.find('|', first + 1);
    if (second == std::string::npos) {
      continue;
    }
    TranscriptionSegment segment;
    segment.start = std::strtof(record.substr(0, first).c_str(), nullptr);
    segment.end = std::strtof(record.substr(first + 1, second - first - 1).c_str(), nullptr);
    segment.text = record.substr(second + 1);
    segments.push_back(std::move(segment));
  }
  return segments;
}

// Cues of a written subtitle file: blocks between blank lines (a line that is empty or holds
// only spaces and tabs ends a cue in the players' eyes).
std::vector<std::vector<std::string>> cuesOf(const std::string &file) {
  std::vector<std::vector<std::string>> cues(1);
  for (const auto &line : split(file, '\n')) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) {
      if (!cues.back().empty()) {
        cues.emplace_back();
      }
    } else {
      cues.back().push_back(line);
    }
  }
  if (cues.back().empty()) {
    cues.pop_back();
  }
  return cues;
}

TEST(ResultWritersFuzz, EverySegmentIsExactlyOneCue) {
  mqtest::TempDir dir;
  divuvovize::WriteSRT srt(dir.path().string());
  divuvovize::WriteVTT vtt(dir.path().string());
  run("result-writers", /*seed=*/0x5eed5b, /*count=*/300, [&](const std::string &input) {
    const auto segments = segmentsOf(input);
    const TranscriptionResult result("", segments, "en");
    const auto srtOutcome = srt.write(result, "fuzz");
    if (srtOutcome.isSuccess()) {
      const auto cues = cuesOf(mqtest::TempDir::read(dir / "fuzz.srt"));
      ASSERT_EQ(cues.size(), segments.size()) << input;
      for (std::size_t i = 0; i < cues.size(); ++i) {
        ASSERT_GE(cues[i].size(), 2u) << input;
        EXPECT_EQ(cues[i][0], std::to_string(i + 1)) << input;
        EXPECT_EQ(cues[i][1].find('-'), cues[i][1].find("-->")) << cues[i][1];
      }
    }
    const auto vttOutcome = vtt.write(result, "fuzz");
    if (vttOutcome.isSuccess()) {
      const auto cues = cuesOf(mqtest::TempDir::read(dir / "fuzz.vtt"));
      ASSERT_EQ(cues.size(), segments.size() + 1) << input; // the header is a block too
      for (std::size_t i = 1; i < cues.size(); ++i) {
        EXPECT_EQ(cues[i][0].find('-'), cues[i][0].find("-->")) << cues[i][0];
        for (std::size_t line = 1; line < cues[i].size(); ++line) {
          EXPECT_EQ(cues[i][line].find("-->"), std::string::npos) << input;
        }
      }
    }
    // A failure is a refusal (a time that is not a finite number in range).
    EXPECT_EQ(srtOutcome.isSuccess(), vttOutcome.isSuccess()) << input;
    if (!srtOutcome.isSuccess()) {
      srtOutcome.value();
    }
  });
}

} // namespace
} // namespace mqtest::fuzz
