#include "DivuvovIze/Writing/ResultWriting.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

#include "tests/support/TempDir.hpp"

namespace divuvovize {
namespace {

TranscriptionSegment segment(float start, float end, std::string text,
                             std::optional<std::vector<WordTiming>> words = std::nullopt) {
  TranscriptionSegment s;
  s.start = start;
  s.end = end;
  s.text = std::move(text);
  s.words = std::move(words);
  return s;
}

// Three segments: one with three words, one without words (longer than an hour at its end),
// one whose word list is present but empty.
std::shared_ptr<TranscriptionResult> threeSegments() {
  return std::make_shared<TranscriptionResult>(
      " Hello there world. Second part. Third.",
      std::vector<TranscriptionSegment>{
          segment(0.0f, 2.3f, " Hello there world.",
                  std::vector<WordTiming>{{" Hello", {1}, 0.0f, 0.48f, 0.9f},
                                          {" there", {2}, 0.48f, 1.0f, 0.9f},
                                          {" world.", {3, 4}, 1.0f, 2.3f, 0.9f}}),
          segment(61.5f, 3661.25f, " Second part."),
          segment(3661.25f, 3662.0f, " Third.", std::vector<WordTiming>{})},
      "en");
}

TEST(ResultWritersTest, FormatTimeTruncatesInSinglePrecision) {
  struct Case {
    float seconds;
    bool hours;
    const char *marker;
    const char *text;
  };
  const std::vector<Case> cases = {
      {2.3f, true, ",", "00:00:02,299"},     {61.5f, false, ".", "01:01.500"},
      {3600.0f, false, ".", "01:00:00.000"}, {3661.25f, true, ",", "01:01:01,250"},
      {0.48f, false, ".", "00:00.480"},      {3599.999f, false, ".", "59:59.999"},
      {0.0f, true, ",", "00:00:00,000"},
  };
  const WriteSRT writer("/unused");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(writer.formatTime(c.seconds, c.hours, c.marker), c.text);
  }
}

TEST(ResultWritersTest, NegativeTimesAreWrittenAsTheStart) {
  struct Case {
    float seconds;
    bool hours;
    const char *marker;
    const char *text;
  };
  const std::vector<Case> cases = {
      {-0.5f, true, ",", "00:00:00,000"},   {-3601.0f, true, ",", "00:00:00,000"},
      {-0.001f, false, ".", "00:00.000"},   {-0.0f, false, ".", "00:00.000"},
      {-5.0e9f, true, ",", "00:00:00,000"},
  };
  const WriteSRT writer("/unused");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(writer.formatTime(c.seconds, c.hours, c.marker), c.text);
  }
  mqtest::TempDir dir;
  const TranscriptionResult result("", {segment(-1.25f, 2.0f, " early")}, "en");
  ASSERT_TRUE(WriteSRT(dir.path().string()).write(result, "early").isSuccess());
  ASSERT_TRUE(WriteVTT(dir.path().string()).write(result, "early").isSuccess());
  EXPECT_EQ(mqtest::TempDir::read(dir / "early.srt"),
            "1\n00:00:00,000 --> 00:00:02,000\n early\n\n");
  EXPECT_EQ(mqtest::TempDir::read(dir / "early.vtt"),
            "WEBVTT\n\n00:00.000 --> 00:02.000\n early\n\n");
}

// Text that tries to end its cue and start others stays inside one cue.
// A stem as long as a file name allows with the format's extension: the temporary file the
// subtitle writers go through must not be longer.
TEST(ResultWritersTest, SubtitlesOfALongStemAreWritten) {
  mqtest::TempDir dir;
  const std::string stem(250, 's');
  const TranscriptionResult result("x", {}, "en");
  const auto srt = WriteSRT(dir.path().string()).write(result, stem);
  EXPECT_TRUE(srt.isSuccess()) << srt.errorMessage();
  const auto vtt = WriteVTT(dir.path().string()).write(result, stem);
  EXPECT_TRUE(vtt.isSuccess()) << vtt.errorMessage();
  EXPECT_TRUE(std::filesystem::exists(dir / (stem + ".srt")));
  EXPECT_TRUE(std::filesystem::exists(dir / (stem + ".vtt")));
}

TEST(ResultWritersTest, SegmentTextCannotAddCues) {
  struct Case {
    const char *text;
    const char *srtText;
    const char *vttText;
  };
  const std::vector<Case> cases = {
      {" a\n\n2\n00:00:05,000 --> 00:00:06,000\n injected",
       " a\n2\n00:00:05,000 --> 00:00:06,000\n injected",
       " a\n2\n00:00:05,000 --&gt; 00:00:06,000\n injected"},
      {" a\r\n\r\n00:05.000 --> 00:06.000\r\nx", " a\n00:05.000 --> 00:06.000\nx",
       " a\n00:05.000 --&gt; 00:06.000\nx"},
      {"\n\n lead and trail\n \t\n", " lead and trail", " lead and trail"},
      {" one --> two", " one --> two", " one --&gt; two"},
      {" kept\nsecond line", " kept\nsecond line", " kept\nsecond line"},
      {"\n\n", "", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    mqtest::TempDir dir;
    const TranscriptionResult result(
        "", {segment(1.0f, 2.0f, c.text), segment(3.0f, 4.0f, " next")}, "en");
    ASSERT_TRUE(WriteSRT(dir.path().string()).write(result, "cues").isSuccess());
    ASSERT_TRUE(WriteVTT(dir.path().string()).write(result, "cues").isSuccess());
    EXPECT_EQ(mqtest::TempDir::read(dir / "cues.srt"),
              std::string("1\n00:00:01,000 --> 00:00:02,000\n") + c.srtText +
                  "\n\n2\n00:00:03,000 --> 00:00:04,000\n next\n\n");
    EXPECT_EQ(mqtest::TempDir::read(dir / "cues.vtt"),
              std::string("WEBVTT\n\n00:01.000 --> 00:02.000\n") + c.vttText +
                  "\n\n00:03.000 --> 00:04.000\n next\n\n");
  }
  // Word cues go through the same rule.
  const WriteVTT writer("/unused");
  EXPECT_EQ(writer.formatTiming(0.0f, 1.0f, " w\n\n-->"),
            "00:00.000 --> 00:01.000\n w\n--&gt;\n\n");
}

// A writer with its own time format: the cue layouts must pick it up.
class WholeSecondsVTT : public WriteVTT {
public:
  using WriteVTT::WriteVTT;
  std::string formatTime(float seconds, bool alwaysIncludeHours,
                         const std::string &decimalMarker) const override {
    return std::to_string(static_cast<int>(seconds)) + (alwaysIncludeHours ? "h" : "") +
           decimalMarker;
  }
};

TEST(ResultWritersTest, CueLayoutsUseTheWritersOwnTimeFormat) {
  const WholeSecondsVTT writer("/unused");
  EXPECT_EQ(writer.formatSegment(3, 1.5f, 62.0f, " a"), "3\n1h, --> 62h,\n a\n\n");
  EXPECT_EQ(writer.formatTiming(1.5f, 62.0f, " a"), "1. --> 62.\n a\n\n");

  mqtest::TempDir dir;
  WholeSecondsVTT fileWriter(dir.path().string());
  const TranscriptionResult result("", {segment(0.0f, 2.5f, " x")}, "en");
  ASSERT_TRUE(fileWriter.write(result, "own").isSuccess());
  EXPECT_EQ(mqtest::TempDir::read(dir / "own.vtt"), "WEBVTT\n\n0. --> 2.\n x\n\n");
}

TEST(ResultWritersTest, SubtitleFilesMatchTheGoldenFiles) {
  mqtest::TempDir dir;
  const auto result = threeSegments();
  WriteSRT srt(dir.path().string());
  WriteVTT vtt(dir.path().string());
  const auto srtOutcome = srt.write(*result, "three-segments");
  const auto vttOutcome = vtt.write(*result, "three-segments");
  ASSERT_TRUE(srtOutcome.isSuccess()) << srtOutcome.errorMessage();
  ASSERT_TRUE(vttOutcome.isSuccess()) << vttOutcome.errorMessage();
  EXPECT_EQ(mqtest::TempDir::read(dir / "three-segments.srt"),
            mqtest::TempDir::read(mqtest::fixturePath("results/three-segments.srt")));
  EXPECT_EQ(mqtest::TempDir::read(dir / "three-segments.vtt"),
            mqtest::TempDir::read(mqtest::fixturePath("results/three-segments.vtt")));
  EXPECT_EQ(srtOutcome.value(),
            ResultWriting::fileURLString((dir / "three-segments.srt").string()));
  // No temporary file is left beside the written ones.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            2);
}

TEST(ResultWritersTest, JsonLayoutMatchesTheGoldenFile) {
  mqtest::TempDir dir;
  TranscriptionTimings timings;
  timings.pipelineStart = 1000.5;
  timings.fullPipeline = 0.75;
  timings.totalDecodingLoops = 12;
  TranscriptionSegment first =
      segment(0.0f, 2.3f, " Hi there.",
              std::vector<WordTiming>{{" Hi", {2425}, 0.0f, 0.4f, 0.9f},
                                      {" there.", {612, 13}, 0.4f, 2.3f, 0.8f}});
  first.tokens = {50364, 2425, 612, 13, 50479};
  first.tokenLogProbs = {
      {{50364, -0.1f}}, {{2425, -0.2f}}, {{612, -0.3f}}, {{13, -0.4f}}, {{50479, -0.5f}}};
  first.temperature = 0.2f;
  first.avgLogprob = -0.3f;
  first.compressionRatio = 0.9f;
  first.noSpeechProb = 0.01f;
  const TranscriptionResult result(" Hi there.", {first}, "en", timings, 2.3f);
  const auto outcome = WriteJSON(dir.path().string()).write(result, "golden");
  ASSERT_TRUE(outcome.isSuccess()) << outcome.errorMessage();
  EXPECT_EQ(mqtest::TempDir::read(dir / "golden.json"),
            mqtest::TempDir::read(mqtest::fixturePath("results/one-segment.json")));
}

TEST(ResultWritersTest, EmptyResultAndReplacedFiles) {
  mqtest::TempDir dir;
  dir.write("empty.srt", "old contents that must go");
  const TranscriptionResult empty("", {}, "en");
  ASSERT_TRUE(WriteSRT(dir.path().string()).write(empty, "empty").isSuccess());
  ASSERT_TRUE(WriteVTT(dir.path().string()).write(empty, "empty").isSuccess());
  EXPECT_EQ(mqtest::TempDir::read(dir / "empty.srt"), "");
  EXPECT_EQ(mqtest::TempDir::read(dir / "empty.vtt"), "WEBVTT\n\n");
  // A name with an extension gets a second one.
  ASSERT_TRUE(WriteSRT(dir.path().string()).write(empty, "take.srt").isSuccess());
  EXPECT_TRUE(std::filesystem::exists(dir / "take.srt.srt"));
}

TEST(ResultWritersTest, JsonFileReadsBackAndReturnsAPercentEncodedFileURL) {
  mqtest::TempDir dir;
  const auto result = threeSegments();
  result->setSeekTime(3662.0f);
  WriteJSON writer(dir.path().string());
  const auto outcome = writer.write(*result, "a b");
  ASSERT_TRUE(outcome.isSuccess()) << outcome.errorMessage();
  const std::string url = outcome.value();
  EXPECT_EQ(url.rfind("file:///", 0), 0u) << url;
  EXPECT_NE(url.find("/a%20b.json"), std::string::npos) << url;
  const std::string text = mqtest::TempDir::read(dir / "a b.json");
  EXPECT_EQ(text.substr(0, 11), "{\n  \"text\":") << text;
  const auto decoded = TranscriptionResult::fromJson(Json::parse(text));
  EXPECT_EQ(decoded->text(), result->text());
  EXPECT_EQ(decoded->segments(), result->segments());
  EXPECT_EQ(decoded->seekTime(), std::optional<float>(3662.0f));
  EXPECT_EQ(ResultWriting::fileURLString("/tmp/out/a b"), "file:///tmp/out/a%20b");
  EXPECT_EQ(ResultWriting::fileURLString("/tmp/é#?"), "file:///tmp/%C3%A9%23%3F");
}

TEST(ResultWritersTest, FailuresComeBackAsValuesAndWriteNothing) {
  mqtest::TempDir dir;
  auto result = threeSegments();
  result->modifySegments(
      [](auto &segments) { segments[1].avgLogprob = std::numeric_limits<float>::quiet_NaN(); });
  const auto nanOutcome = WriteJSON(dir.path().string()).write(*result, "nan");
  ASSERT_FALSE(nanOutcome.isSuccess());
  EXPECT_NE(nanOutcome.errorMessage().find("segments[1].avgLogprob"), std::string::npos)
      << nanOutcome.errorMessage();
  EXPECT_THROW(nanOutcome.value(), JsonEncodingError);
  EXPECT_FALSE(std::filesystem::exists(dir / "nan.json"));

  // A cue time that is not a finite number fails the subtitle writers instead of printing an
  // undefined conversion.
  auto badTime = threeSegments();
  badTime->modifySegments(
      [](auto &segments) { segments[1].end = std::numeric_limits<float>::infinity(); });
  const auto srtOutcome = WriteSRT(dir.path().string()).write(*badTime, "inf");
  ASSERT_FALSE(srtOutcome.isSuccess());
  EXPECT_NE(srtOutcome.errorMessage().find("inf"), std::string::npos) << srtOutcome.errorMessage();
  EXPECT_FALSE(WriteVTT(dir.path().string()).write(*badTime, "inf").isSuccess());
  EXPECT_FALSE(std::filesystem::exists(dir / "inf.srt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "inf.vtt"));

  const auto missing = (dir / "no-such-folder").string();
  EXPECT_FALSE(WriteJSON(missing).write(*threeSegments(), "x").isSuccess());
  EXPECT_FALSE(WriteSRT(missing).write(*threeSegments(), "x").isSuccess());
  EXPECT_FALSE(WriteVTT(missing).write(*threeSegments(), "x").isSuccess());
}

} // namespace
} // namespace divuvovize
