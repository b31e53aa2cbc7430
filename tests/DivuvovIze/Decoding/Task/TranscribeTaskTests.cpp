#include "DivuvovIze/Decoding/Task/TranscribeTask.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "DeduveCore/Support/Logging.hpp"
#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Decoding/Task/SegmentSeeker.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/CancellationError.hpp"
#include "platform/system/CancellationScope.hpp"
#include "tests/DivuvovIze/Decoding/ScriptedDecoding.hpp"
#include "tests/support/LogCapture.hpp"
#include "tests/support/Tones.hpp"

namespace divuvovize {
namespace {

using testing::ScriptedTextDecoder;
using testing::ScriptToken;

const SpecialTokens kSpecial;
constexpr int kRate = 16000;

// `seconds` of audio: a loud sine where `loud(second)` holds, silence elsewhere.
std::vector<float> recording(int seconds, const std::function<bool(int)> &loud) {
  std::vector<float> samples(static_cast<std::size_t>(seconds) * kRate, 0.0f);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (loud(static_cast<int>(i / kRate))) {
      samples[i] = static_cast<float>(
          mqtest::sineValue(440.0, kRate, static_cast<std::int64_t>(i), /*amplitude=*/0.5));
    }
  }
  return samples;
}

// The seek a closing timestamp `steps` after the window start moves to, as the seeker
// computes it in single precision.
int advance(int steps) { return static_cast<int>(static_cast<float>(steps) * 0.02f * 16000.0f); }
float at(int seek, int steps) {
  return static_cast<float>(seek) / 16000.0f + static_cast<float>(steps) * 0.02f;
}

// 2026-12-11 10:00:00 UTC, 818,676,000 s after 2001-01-01.
const platform::WallClock::time_point kMorning{std::chrono::seconds(1796983200)};
constexpr double kMorningAbsolute = 818676000.0;

struct Rig {
  std::shared_ptr<ScriptedTextDecoder> decoder;
  std::shared_ptr<platform::ManualSteadyClock> clock =
      std::make_shared<platform::ManualSteadyClock>();
  std::shared_ptr<platform::ManualWallClock> wallClock =
      std::make_shared<platform::ManualWallClock>(kMorning);
  std::shared_ptr<deduve::Progress> progress = deduve::Progress::make(0);
  std::unique_ptr<TranscribeTask> task;

  explicit Rig(std::shared_ptr<ScriptedTextDecoder> given = nullptr)
      : decoder(given ? std::move(given) : std::make_shared<ScriptedTextDecoder>()) {
    decoder->clock_ = clock;
    decoder->steppedClock = clock;
    decoder->wallClock_ = wallClock;
    task = std::make_unique<TranscribeTask>(
        TranscriptionTimings{}, progress, std::make_shared<AudioProcessor>(),
        std::make_shared<testing::PassThroughEncoder>(),
        std::make_shared<testing::LoudnessFeatureExtractor>(), std::make_shared<SegmentSeeker>(),
        decoder, decoder->tokenizer(), clock, wallClock);
  }
};

struct ExpectedSegment {
  int seek;
  float start;
  float end;
  std::string text;
};

void expectSegments(const std::vector<TranscriptionSegment> &actual,
                    const std::vector<ExpectedSegment> &expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("segment " + std::to_string(i));
    EXPECT_EQ(actual[i].id, static_cast<int>(i));
    EXPECT_EQ(actual[i].seek, expected[i].seek);
    EXPECT_FLOAT_EQ(actual[i].start, expected[i].start);
    EXPECT_FLOAT_EQ(actual[i].end, expected[i].end);
    EXPECT_EQ(actual[i].text, expected[i].text);
  }
}

// 70 s: speech for 28 s, 30 s of silence, speech for the last 12 s.
std::vector<float> seventySeconds() {
  return recording(70, [](int second) { return second < 28 || second >= 58; });
}

TEST(TranscribeTaskTest, SeventySecondsDecodeIntoTimedSegments) {
  Rig rig;
  std::vector<std::vector<TranscriptionSegment>> discovered;
  rig.task->setSegmentDiscoveryCallback(
      [&](const std::vector<TranscriptionSegment> &segments) { discovered.push_back(segments); });
  DecodingOptions options;
  options.skipSpecialTokens = true;
  const auto result = rig.task->run(seventySeconds(), options);

  // Window 1 at 0: 28 s of speech, closed at <|28.00|>. Window 2 starts there: silent, the
  // whole window is skipped. Window 3 starts 30 s later with 12 s of speech.
  const int second = advance(1400);
  const int third = second + 480000;
  expectSegments(result->segments(), {{0, at(0, 0), at(0, 700), " Hello world"},
                                      {0, at(0, 700), at(0, 1400), " again."},
                                      {third, at(third, 0), at(third, 300), " Hello world"},
                                      {third, at(third, 300), at(third, 600), " again."}});
  EXPECT_EQ(result->text(), "Hello world again. Hello world again.");
  EXPECT_EQ(result->language(), "en");
  EXPECT_EQ(discovered.size(), 2u);

  const auto timings = result->timings();
  EXPECT_EQ(timings.totalEncodingRuns, 3);
  EXPECT_EQ(timings.totalDecodingWindows, 2);
  EXPECT_EQ(timings.totalDecodingFallbacks, 0);
  EXPECT_DOUBLE_EQ(timings.inputAudioSeconds, 70.0);
  // Every prediction took 10 ms on the manual clock.
  EXPECT_NEAR(timings.decodingPredictions, rig.decoder->predictions * 0.01, 1e-9);
  EXPECT_NEAR(timings.fullPipeline, rig.decoder->predictions * 0.01, 1e-9);
  EXPECT_EQ(rig.progress->completedUnitCount(), 70 * kRate);
  EXPECT_EQ(rig.progress->totalUnitCount(), 70 * kRate);
  // The third window followed a silent one and still started from an empty cache.
  EXPECT_EQ(rig.decoder->fedPositions.front(), 0);
}

TEST(TranscribeTaskTest, SeventySecondsWithoutTimestampsAdvanceByWholeWindows) {
  Rig rig;
  DecodingOptions options;
  options.withoutTimestamps = true;
  options.skipSpecialTokens = true;
  const auto result = rig.task->run(recording(70, [](int) { return true; }), options);
  expectSegments(result->segments(), {{0, 0.0f, 30.0f, " Hello world again."},
                                      {480000, 30.0f, 60.0f, " Hello world again."},
                                      {960000, 60.0f, 70.0f, " Hello world again."}});
  EXPECT_EQ(result->text(), "Hello world again. Hello world again. Hello world again.");
}

TEST(TranscribeTaskTest, SilenceYieldsNoText) {
  Rig rig;
  const auto result = rig.task->run(recording(70, [](int) { return false; }), DecodingOptions());
  EXPECT_EQ(result->text(), "");
  EXPECT_TRUE(result->segments().empty());
  EXPECT_EQ(result->timings().totalEncodingRuns, 3);
  EXPECT_EQ(rig.progress->completedUnitCount(), rig.progress->totalUnitCount());
}

// Every window's first three attempts are unsure after a sure first token (eight equally likely
// tokens at every later step, at any temperature); the fourth is sure.
std::vector<ScriptToken> unsureUntilTheFourthAttempt(int loudFrames, bool withTimestamps,
                                                     int attempt) {
  if (attempt <= 3) {
    std::vector<ScriptToken> script{{testing::kHello}};
    for (int i = 0; i < 8; ++i) {
      script.push_back({100 + 10 * i, -20.0f, -1, 7});
    }
    script.push_back({kSpecial.endToken});
    return script;
  }
  return ScriptedTextDecoder::speechScript(loudFrames, withTimestamps);
}

TEST(TranscribeTaskTest, LowLogProbabilityWalksTheFallbackLadder) {
  Rig rig;
  std::vector<float> temperatures;
  rig.decoder->scriptChoice = unsureUntilTheFourthAttempt;
  std::vector<std::string> lines;
  deduve::Logging::updateLogLevel(deduve::Logging::LogLevel::info);
  deduve::Logging::updateCallback([&](const std::string &line) {
    if (line.rfind("Fallback #", 0) == 0) {
      lines.push_back(line);
    }
  });
  const auto result = rig.task->run(recording(20, [](int) { return true; }), DecodingOptions());
  deduve::Logging::updateCallback(nullptr);
  deduve::Logging::updateLogLevel(deduve::Logging::LogLevel::none);

  EXPECT_EQ(lines, (std::vector<std::string>{"Fallback #1 (logProbThreshold)",
                                             "Fallback #2 (logProbThreshold)",
                                             "Fallback #3 (logProbThreshold)"}));
  const auto segments = result->segments();
  ASSERT_FALSE(segments.empty());
  EXPECT_FLOAT_EQ(segments[0].temperature, 0.6f);
  EXPECT_EQ(result->text(), "Hello world again.");
  const auto timings = result->timings();
  EXPECT_EQ(timings.totalDecodingFallbacks, 2);
  // Three failed attempts of 11 predictions each, 10 ms apiece.
  EXPECT_NEAR(timings.decodingFallback, 3 * 11 * 0.01, 1e-9);
  EXPECT_EQ(rig.decoder->attempts_, 4);
}

TEST(TranscribeTaskTest, CallbackStopsAWindowEarlyAndSeesWindowIds) {
  Rig rig;
  std::vector<int> windowIds;
  DecodingOptions options;
  options.skipSpecialTokens = true;
  const auto result =
      rig.task->run(recording(45, [](int) { return true; }), options,
                    [&](const TranscriptionProgress &progress) -> std::optional<bool> {
                      windowIds.push_back(progress.windowId);
                      return progress.text.find("world") == std::string::npos;
                    });
  // Each window stops after " world": no closing timestamp, so one segment per whole window.
  const auto segments = result->segments();
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].text, " Hello world");
  EXPECT_FLOAT_EQ(segments[0].end, 30.0f);
  EXPECT_EQ(segments[1].seek, 480000);
  ASSERT_FALSE(windowIds.empty());
  EXPECT_EQ(windowIds.front(), 0);
  EXPECT_EQ(windowIds.back(), 1);
}

// A window that closes an empty timestamp pair at its own start ("<|0.00|><|0.00|>") gives its
// start back as the next seek. It still counts as consumed: decoded once, its segments kept
// once, and the next window starts after it (5 s of audio: one window, not one per sample).
TEST(TranscribeTaskTest, AWindowThatDoesNotMoveTheSeekIsConsumedOnce) {
  struct Case {
    const char *name;
    bool wordTimestamps;
    std::vector<ExpectedSegment> expected;
  };
  const Case cases[] = {
      {"timestamps", false, {{0, 0.0f, 0.0f, ""}}},
      // The pair's segment lasts no time, so word timing drops it.
      {"word timestamps", true, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.decoder->scriptChoice = [](int, bool, int) {
      return std::vector<ScriptToken>{{kSpecial.timeTokenBegin}, {kSpecial.endToken}};
    };
    int windows = 0;
    rig.task->setSegmentDiscoveryCallback([&](const std::vector<TranscriptionSegment> &) {
      if (++windows > 3) {
        throw std::runtime_error("the same audio was decoded again");
      }
    });
    DecodingOptions options;
    options.skipSpecialTokens = true;
    options.wordTimestamps = c.wordTimestamps;
    const auto result = rig.task->run(recording(5, [](int) { return true; }), options);
    expectSegments(result->segments(), c.expected);
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(result->timings().totalEncodingRuns, 1);
    EXPECT_EQ(rig.progress->completedUnitCount(), 5 * kRate);
  }
}

TEST(TranscribeTaskTest, WindowIdsStayPositiveAfterManyFallbacks) {
  Rig rig;
  // The first window falls back three times (its latest fallback has index 2) before it
  // decodes; a count of windows minus that index would name the second window -1.
  rig.decoder->scriptChoice = unsureUntilTheFourthAttempt;
  std::vector<int> windowIds;
  rig.task->run(recording(45, [](int) { return true; }), DecodingOptions(),
                [&](const TranscriptionProgress &progress) -> std::optional<bool> {
                  windowIds.push_back(progress.windowId);
                  return std::nullopt;
                });
  ASSERT_FALSE(windowIds.empty());
  for (int id : windowIds) {
    EXPECT_GE(id, 0);
  }
  EXPECT_EQ(windowIds.front(), 0);
  EXPECT_EQ(windowIds.back(), 1);
  EXPECT_EQ(rig.task->timings().totalDecodingFallbacks, 2);
  EXPECT_EQ(rig.task->timings().totalDecodingWindows, 2);
}

TEST(TranscribeTaskTest, WordTimestampsTimeEveryWord) {
  Rig rig;
  DecodingOptions options;
  options.wordTimestamps = true;
  const auto result = rig.task->run(recording(20, [](int) { return true; }), options);
  const auto words = result->allWords();
  ASSERT_EQ(words.size(), 3u);
  EXPECT_EQ(words[0].word, " Hello");
  EXPECT_EQ(words[1].word, " world");
  EXPECT_EQ(words[2].word, " again.");
  for (const auto &word : words) {
    EXPECT_LE(word.start, word.end);
  }
  EXPECT_EQ(result->timings().totalTimestampAlignmentRuns, 1);
}

// Checks at every step that the update mask marks only the step's own position and that the
// padding mask opens exactly the positions up to it: a stale slot left by an earlier window
// or attempt would be attended to, and written, by this one.
class MaskCheckingDecoder : public ScriptedTextDecoder {
public:
  std::optional<TextDecoderMLMultiArrayOutputType>
  predictLogits(const TextDecoderInputType &input) override {
    const auto &arrays = dynamic_cast<const TextDecoderMLMultiArrayInputType &>(input);
    const int position = static_cast<int>(arrays.cacheLength.value(0));
    for (int q = 0; q < arrays.kvCacheUpdateMask.count(); ++q) {
      const bool marked = arrays.kvCacheUpdateMask.value(q) != 0;
      const bool open = arrays.decoderKeyPaddingMask.value(q) == 0;
      if (marked != (q == position) || open != (q <= position)) {
        faults.push_back("attempt " + std::to_string(attempts_) + ", step " +
                         std::to_string(position) + ": position " + std::to_string(q) +
                         (marked ? " marked" : "") + (open ? " open" : ""));
      }
    }
    return ScriptedTextDecoder::predictLogits(input);
  }

  std::vector<std::string> faults;
};

// A window that runs to a short sample length opens the position after its last step; the
// next window, or the next attempt after a fallback, starts from an empty cache all the same.
TEST(TranscribeTaskTest, WindowsAndAttemptsCutBySampleLengthLeaveNoStaleSlot) {
  struct Case {
    const char *name;
    int fallbacks;          // attempts after the first
    float logProbThreshold; // 1 makes every attempt fall back
  };
  const Case cases[] = {
      {"windows", 0, -1.0f},
      {"fallback attempts", 1, 1.0f},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto decoder = std::make_shared<MaskCheckingDecoder>();
    Rig rig(decoder);
    DecodingOptions options;
    options.sampleLength = 5;
    options.withoutTimestamps = true;
    options.temperatureFallbackCount = c.fallbacks;
    options.logProbThreshold = c.logProbThreshold;
    rig.task->run(recording(40, [](int) { return true; }), options);
    EXPECT_EQ(decoder->attempts_, 2 * (c.fallbacks + 1)) << "two windows";
    EXPECT_EQ(decoder->faults, std::vector<std::string>{});
  }
}

// Absolute times are wall-clock seconds since 2001-01-01, the same on every machine, so that
// records merge; durations come from the monotonic clock, which here is all that moves while
// the wall clock stands still, and then the wall clock alone moves between two runs.
TEST(TranscribeTaskTest, AbsoluteTimesComeFromTheWallClockAndDurationsFromTheSteadyOne) {
  Rig rig;
  mqtest::LogCapture log;
  const auto first = rig.task->run(recording(20, [](int) { return true; }), DecodingOptions());
  const auto timings = first->timings();
  EXPECT_DOUBLE_EQ(timings.pipelineStart, kMorningAbsolute);
  EXPECT_DOUBLE_EQ(timings.firstTokenTime, kMorningAbsolute);
  const double firstRun = rig.decoder->predictions * 0.01;
  EXPECT_NEAR(timings.fullPipeline, firstRun, 1e-9);
  EXPECT_EQ(log.startingWith("Starting pipeline at: "),
            std::vector<std::string>{"Starting pipeline at: 2026-12-11 10:00:00 +0000"});
  EXPECT_EQ(log.startingWith("Found first token at: "),
            std::vector<std::string>{"Found first token at: 2026-12-11 10:00:00 +0000"});

  // A later run of the same record keeps the first start and counts the time since it.
  rig.wallClock->advance(std::chrono::seconds(60));
  const int before = rig.decoder->predictions;
  const auto second = rig.task->run(recording(20, [](int) { return true; }), DecodingOptions());
  const double secondRun = (rig.decoder->predictions - before) * 0.01;
  EXPECT_DOUBLE_EQ(second->timings().pipelineStart, kMorningAbsolute);
  EXPECT_DOUBLE_EQ(second->timings().firstTokenTime, kMorningAbsolute);
  EXPECT_NEAR(second->timings().fullPipeline, 60.0 + secondRun, 1e-6);
}

// Word times past a thousand seconds are written with three significant digits, not in
// exponent notation.
TEST(TranscribeTaskTest, VerboseWordTimesKeepFixedNotation) {
  Rig rig;
  mqtest::LogCapture log;
  DecodingOptions options;
  options.wordTimestamps = true;
  options.clipTimestamps = {1000.0f};
  const auto result =
      rig.task->run(recording(1010, [](int second) { return second >= 1000; }), options);
  ASSERT_EQ(result->allWords().size(), 3u);
  const auto lines = log.startingWith("[1000 -> 1000] prob: ");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find(", word:  Hello"), std::string::npos) << lines[0];
  for (const auto &line : log.lines()) {
    EXPECT_EQ(line.find("e+03"), std::string::npos) << line;
  }
}

TEST(TranscribeTaskTest, WordTimestampsRefuseWeightsWithoutShape) {
  testing::ScriptTokenizer tokenizer;
  try {
    SegmentSeeker().addWordTimestamps({}, platform::MLMultiArray(), tokenizer, 0, 480000, "", "",
                                      0.0f, DecodingOptions(), TranscriptionTimings());
    FAIL() << "no error";
  } catch (const WhisperError &error) {
    EXPECT_EQ(error, WhisperError::segmentingFailed("Invalid shape in alignmentWeights"));
  }
}

TEST(TranscribeTaskTest, ShortAudioStartsNoWindow) {
  Rig rig;
  const auto result = rig.task->run(std::vector<float>(16000, 0.5f), std::nullopt);
  EXPECT_EQ(result->text(), "");
  EXPECT_TRUE(result->segments().empty());
  EXPECT_EQ(result->language(), "en");
  EXPECT_EQ(rig.decoder->predictions, 0);
  EXPECT_EQ(rig.progress->completedUnitCount(), rig.progress->totalUnitCount());
}

TEST(TranscribeTaskTest, CancelledTaskStopsBeforeDecoding) {
  Rig rig;
  platform::CancellationToken token;
  token.cancel();
  platform::CancellationScope scope(token);
  EXPECT_THROW(rig.task->run(recording(20, [](int) { return true; }), DecodingOptions()),
               platform::CancellationError);
  EXPECT_EQ(rig.decoder->predictions, 0);
  EXPECT_EQ(rig.task->timings().totalAudioProcessingRuns, 1);
}

TEST(TranscribeTaskTest, MultilingualModelDetectsTheLanguageBeforeEveryAttempt) {
  Rig rig;
  rig.decoder->setIsModelMultilingual(true);
  DecodingOptions options;
  options.detectLanguage = true;
  const auto result = rig.task->run(recording(20, [](int) { return true; }), options);
  EXPECT_EQ(result->language(), "fr");
  EXPECT_EQ(rig.decoder->languageDetections_, 1);
  EXPECT_EQ(result->text(), "Hello world again.");
}

} // namespace
} // namespace divuvovize
