#include "DivuvovIze/Models/TranscriptionResult.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <limits>
#include <string>
#include <vector>

#include "DeduveCore/Support/Logging.hpp"
#include "DivuvovIze/Models/TranscriptionProgress.hpp"
#include "tests/support/LogCapture.hpp"

namespace divuvovize {
namespace {

using mqtest::LogCapture;

TranscriptionSegment segment(int id, float start, float end, std::string text,
                             std::optional<std::vector<WordTiming>> words = std::nullopt) {
  TranscriptionSegment s;
  s.id = id;
  s.seek = 16000;
  s.start = start;
  s.end = end;
  s.text = std::move(text);
  s.tokens = {50364, 2425, 50414};
  s.tokenLogProbs = {{{50364, -0.1f}}, {{2425, -0.25f}, {11, -3.5f}}, {{50414, 0.0f}}};
  s.temperature = 0.2f;
  s.avgLogprob = -0.3f;
  s.compressionRatio = 1.1f;
  s.noSpeechProb = 0.01f;
  s.words = std::move(words);
  return s;
}

TEST(TranscriptionTimingsTest, FreshValueAndDerivedFigures) {
  const TranscriptionTimings fresh;
  EXPECT_EQ(fresh.pipelineStart, DBL_MAX);
  EXPECT_EQ(fresh.firstTokenTime, DBL_MAX);
  EXPECT_EQ(fresh.inputAudioSeconds, 0.001);
  EXPECT_EQ(fresh.realTimeFactor(), 0.0);
  EXPECT_EQ(fresh.speedFactor(), std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(fresh.tokensPerSecond()));
  EXPECT_EQ(TranscriptionTimings::fields().size(), 33u);
  EXPECT_EQ(TranscriptionTimings::fields()[22].name, "decodingWordTimestamps");
  EXPECT_FALSE(TranscriptionTimings::field("decodingTimestampAlignment").has_value());
}

TEST(TranscriptionTimingsTest, DocumentRoundTripKeepsLargestDoubleAndNeedsEveryKey) {
  TranscriptionTimings timings;
  timings.fullPipeline = 1.25;
  timings.totalDecodingLoops = 17;
  const std::string text = timings.toJson().dump();
  EXPECT_NE(text.find("\"pipelineStart\":1.7976931348623157e+308"), std::string::npos) << text;
  EXPECT_EQ(TranscriptionTimings::fromJson(Json::parse(text)), timings);

  for (const auto &field : TranscriptionTimings::fields()) {
    SCOPED_TRACE(std::string(field.name));
    Json document = timings.toJson();
    document.erase(std::string(field.name));
    document["unknownExtra"] = 1;
    try {
      TranscriptionTimings::fromJson(document);
      ADD_FAILURE() << "decoded";
    } catch (const JsonDecodingError &e) {
      EXPECT_EQ(e.codingPath(), field.name);
      EXPECT_EQ(e.kind(), JsonDecodingError::Kind::keyNotFound);
    }
  }
}

TEST(TranscriptionResultTest, ResultAndStructDocumentsDifferOnlyInSeekTime) {
  const auto words = std::vector<WordTiming>{{" Hello", {2425}, 0.0f, 0.5f, 0.9f},
                                             {" there.", {612, 13}, 0.5f, 1.2f, 0.75f}};
  TranscriptionResult result(" Hello there.", {segment(0, 0.0f, 1.2f, " Hello there.", words)},
                             "en", TranscriptionTimings{}, std::nullopt);
  const Json document = result.toJson();
  ASSERT_TRUE(document.contains("seekTime"));
  EXPECT_TRUE(document["seekTime"].is_null());
  EXPECT_EQ(document["segments"][0]["tokenLogProbs"].dump(),
            R"([{"50364":-0.1},{"11":-3.5,"2425":-0.25},{"50414":0.0}])");
  EXPECT_EQ(document["segments"][0]["words"][1].dump(),
            R"({"word":" there.","tokens":[612,13],"start":0.5,"end":1.2,"probability":0.75})");

  const auto decoded = TranscriptionResult::fromJson(Json::parse(document.dump()));
  EXPECT_EQ(decoded->segments(), result.segments());
  EXPECT_EQ(decoded->timings(), result.timings());
  EXPECT_EQ(decoded->seekTime(), std::nullopt);

  TranscriptionResultStruct plain{result.text(), result.segments(), "en", {}, std::nullopt};
  Json plainDocument = plain.toJson();
  EXPECT_FALSE(plainDocument.contains("seekTime"));
  EXPECT_EQ(TranscriptionResultStruct::fromJson(plainDocument), plain);
  // Without the key the value form decodes; the shared form needs all five keys.
  EXPECT_THROW(TranscriptionResult::fromJson(plainDocument), JsonDecodingError);
  plain.seekTime = 2.5f;
  const auto withSeek = TranscriptionResult::fromJson(plain.toJson());
  EXPECT_EQ(withSeek->seekTime(), std::optional<float>(2.5f));
}

TEST(TranscriptionResultTest, NonFiniteNumbersCannotBeWritten) {
  auto bad = segment(0, 0.0f, 1.0f, "");
  bad.compressionRatio = std::numeric_limits<float>::infinity();
  const TranscriptionResult result("", {segment(0, 0, 1, "a"), bad}, "en");
  try {
    result.toJson();
    ADD_FAILURE() << "written";
  } catch (const JsonEncodingError &e) {
    EXPECT_EQ(e.codingPath(), "segments[1].compressionRatio");
    EXPECT_NE(std::string(e.what()).find("inf"), std::string::npos) << e.what();
  }
  TranscriptionTimings timings;
  timings.decodingLoop = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(TranscriptionResult("", {}, "en", timings).toJson(), JsonEncodingError);
}

TEST(TranscriptionSegmentTest, EqualityAndDecodeFailures) {
  auto a = segment(0, 0.0f, 1.0f, "x");
  auto b = a;
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::hash<TranscriptionSegment>{}(a), std::hash<TranscriptionSegment>{}(b));
  b.words = std::vector<WordTiming>{};
  EXPECT_NE(a, b); // absent words differ from an empty list
  auto c = a;
  c.avgLogprob = std::numeric_limits<float>::quiet_NaN();
  EXPECT_NE(c, c);
  EXPECT_FLOAT_EQ(a.duration(), 1.0f);

  Json document = a.toJson();
  EXPECT_FALSE(document.contains("words"));
  document["tokenLogProbs"] = Json::parse(R"([{"abc":1.0}])");
  try {
    TranscriptionSegment::fromJson(document);
    ADD_FAILURE() << "decoded";
  } catch (const JsonDecodingError &e) {
    EXPECT_EQ(e.codingPath(), "tokenLogProbs[0].abc");
  }
}

TEST(TranscriptionResultTest, AllWordsSkipsSegmentsWithoutWords) {
  const TranscriptionResult none("", {segment(0, 0, 1, "a"), segment(1, 1, 2, "b")}, "en");
  EXPECT_TRUE(none.allWords().empty());
  const TranscriptionResult some(
      "",
      {segment(0, 0, 1, "a", std::vector<WordTiming>{{" a", {1}, 0, 1, 1}}), segment(1, 1, 2, "b"),
       segment(2, 2, 3, "c", std::vector<WordTiming>{{" c", {2}, 2, 3, 1}})},
      "en");
  const auto words = some.allWords();
  ASSERT_EQ(words.size(), 2u);
  EXPECT_EQ(words[1].word, " c");
}

TEST(TranscriptionResultTest, LogSegmentsWritesOneLinePerSegment) {
  const TranscriptionResult result(
      "", {segment(7, 0.0f, 1.5f, " First"), segment(9, 1.5f, 3.25f, " Second")}, "en");
  LogCapture log;
  result.logSegments();
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"[Segment 0] [0.00 --> 1.50]  First",
                                                   "[Segment 1] [1.50 --> 3.25]  Second"}));
}

TEST(TranscriptionResultTest, TimingReportLayout) {
  TranscriptionTimings t;
  t.pipelineStart = 100.0;
  t.firstTokenTime = 100.25;
  t.inputAudioSeconds = 3.0;
  t.decodingLoop = 2.0;
  t.fullPipeline = 1.5;
  t.audioLoading = 0.5;
  t.totalAudioProcessingRuns = 1;
  t.totalDecodingLoops = 10;
  t.totalDecodingFallbacks = 2;
  t.modelLoading = 1.234;
  const TranscriptionResult result("", {segment(0, 0, 1, "a"), segment(1, 1, 2, "b")}, "en", t);
  LogCapture log(deduve::Logging::LogLevel::info);
  result.logTimings();
  ASSERT_EQ(log.lines().size(), 1u);
  const std::string report = log.lines()[0];
  // Percentages are taken of max(decodingLoop, fullPipeline): 2000 ms.
  EXPECT_EQ(report.substr(0, report.find('\n', report.find('\n') + 1)),
            "---- Transcription Timings ----\n"
            "Audio Load:            500.00 ms /      1 runs (  500.00 ms/run) 25.00%");
  EXPECT_NE(report.find("\nMels:                    0.00 ms /      0 runs (    0.00 ms/run)  "
                        "0.00%\n"),
            std::string::npos)
      << report;
  const std::string tail = report.substr(report.find("\n-------------------------------\n"));
  EXPECT_EQ(tail, "\n-------------------------------\n"
                  "Model Load Time:               1.23 seconds\n"
                  "- Prewarm:                     0.00 seconds\n"
                  "- Encoder:                     0.00 seconds\n"
                  "- Decoder:                     0.00 seconds\n"
                  "- Tokenizer:                   0.00 seconds\n"
                  "Inference Duration (Global):   1.50 seconds\n"
                  "- Decoding Loop (Avg/window):  2.00 seconds\n"
                  "- Audio Windows:               1.00\n"
                  "Time to first token:           0.25 seconds\n"
                  "Total Tokens:                  6\n"
                  "Tokens per Second:             6.67 tok/s\n"
                  "Real Time Factor:              0.500\n"
                  "Speed Factor:                  2.000\n"
                  "Fallbacks:                     2.0");
}

TEST(TranscriptionResultTest, TimingReportRowsPairEachStageWithItsRunCounter) {
  // Distinct figures per stage, so a row that reads the wrong field or counter shows.
  TranscriptionTimings t;
  t.decodingLoop = 2.0;
  t.fullPipeline = 1.5;
  t.audioLoading = 0.5;
  t.audioProcessing = 0.2;
  t.totalAudioProcessingRuns = 2;
  t.logmels = 0.04;
  t.totalLogmelRuns = 4;
  t.encoding = 0.3;
  t.totalEncodingRuns = 3;
  t.decodingInit = 0.01;
  t.decodingPredictions = 1.0;
  t.totalDecodingLoops = 10;
  t.decodingNonPrediction = 0.6;
  t.decodingFiltering = 0.1;
  t.decodingSampling = 0.08;
  t.decodingKvCaching = 0.05;
  t.totalKVUpdateRuns = 5;
  t.decodingWordTimestamps = 0.06;
  t.totalTimestampAlignmentRuns = 6;
  t.decodingWindowing = 0.16; // the row shows windowing without the word timestamps
  t.totalDecodingWindows = 7;
  t.decodingFallback = 0.4;
  t.totalDecodingFallbacks = 2;
  const TranscriptionResult result("", {}, "en", t);
  const std::string report = result.timingsReport();
  const std::string block = report.substr(0, report.find("\n-------------------------------\n"));
  EXPECT_EQ(block, "---- Transcription Timings ----\n"
                   "Audio Load:            500.00 ms /      1 runs (  500.00 ms/run) 25.00%\n"
                   "Audio Processing:      200.00 ms /      2 runs (  100.00 ms/run) 10.00%\n"
                   "Mels:                   40.00 ms /      4 runs (   10.00 ms/run)  2.00%\n"
                   "Encoding:              300.00 ms /      3 runs (  100.00 ms/run) 15.00%\n"
                   "Matrices Init:          10.00 ms /      1 runs (   10.00 ms/run)  0.50%\n"
                   "Decoding:             1000.00 ms /     10 runs (  100.00 ms/run) 50.00%\n"
                   "Non-inference:         600.00 ms /     10 runs (   60.00 ms/run) 30.00%\n"
                   "- Logit Filtering:     100.00 ms /     10 runs (   10.00 ms/run)  5.00%\n"
                   "- Sampling:             80.00 ms /     10 runs (    8.00 ms/run)  4.00%\n"
                   "- Kv Caching:           50.00 ms /      5 runs (   10.00 ms/run)  2.50%\n"
                   "- Word Timestamps:      60.00 ms /      6 runs (   10.00 ms/run)  3.00%\n"
                   "- Windowing:           100.00 ms /      7 runs (   14.29 ms/run)  5.00%\n"
                   "Fallbacks:             400.00 ms /      2 runs (  200.00 ms/run) 20.00%\n"
                   "Decoding Full Loop:   2000.00 ms /     10 runs (  200.00 ms/run) 100.00%");
}

TEST(TranscriptionResultTest, TimingReportOfAFreshRunPrintsNanAndInf) {
  const TranscriptionResult result("", {}, "en", TranscriptionTimings{});
  const std::string report = result.timingsReport();
  // 0/0 is "nan" whatever the sign bit of the NaN the division produced.
  EXPECT_EQ(report.find("-nan"), std::string::npos) << report;
  EXPECT_NE(report.find("Tokens per Second:             nan tok/s"), std::string::npos) << report;
  EXPECT_NE(report.find("Speed Factor:                  inf"), std::string::npos) << report;
  EXPECT_NE(report.find("Audio Load:              0.00 ms /      1 runs (    0.00 ms/run)   nan%"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("Mels:                    0.00 ms /      0 runs (    0.00 ms/run)   nan%"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("Total Tokens:                  0\n"), std::string::npos);
  EXPECT_NE(report.find("Fallbacks:                     0.0"), std::string::npos);
}

TEST(TranscriptionResultTest, PropertiesAreIndependentlyLocked) {
  TranscriptionResult result("a", {}, "en");
  result.modifySegments([](auto &segments) { segments.push_back(segment(0, 0, 1, "x")); });
  result.modifyText([](std::string &text) { text += "b"; });
  result.setSeekTime(1.5f);
  EXPECT_EQ(result.segments().size(), 1u);
  EXPECT_EQ(result.text(), "ab");
  EXPECT_EQ(result.seekTime(), std::optional<float>(1.5f));
  TranscriptionProgress progress;
  progress.windowId = 3;
  EXPECT_FALSE(progress.temperature.has_value());
}

} // namespace
} // namespace divuvovize
