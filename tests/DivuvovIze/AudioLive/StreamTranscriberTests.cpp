// The streaming transcriber over a real audio processor (fed through processBuffer, or the
// in-memory input) and a scripted transcription. The pass waiter moves each scenario on: no
// test sleeps.

#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Audio/AudioStreamTranscriber.hpp"
#include "platform/audio/InMemoryAudioInput.hpp"
#include "tests/DivuvovIze/Audio/AudioTestSupport.hpp"

#include <gtest/gtest.h>

#include <deque>

namespace {

using divuvovize::AudioProcessor;
using divuvovize::AudioStreamTranscriber;
using divuvovize::DecodingOptions;
using divuvovize::StreamTranscribing;
using divuvovize::TranscriptionProgress;
using divuvovize::TranscriptionResult;
using divuvovize::TranscriptionSegment;
using State = AudioStreamTranscriber::State;

TranscriptionSegment seg(float start, float end, std::string text = "") {
  TranscriptionSegment s;
  s.start = start;
  s.end = end;
  s.text = std::move(text);
  return s;
}

// Answers each pass with the next scripted list of segments, records what it was asked, and
// optionally reports progress first.
class ScriptedTranscription : public StreamTranscribing {
public:
  std::deque<std::vector<TranscriptionSegment>> answers;
  std::vector<TranscriptionProgress> progressToReport;
  std::vector<std::size_t> sampleCounts;
  std::vector<std::vector<float>> clipTimestamps;
  std::vector<std::optional<bool>> callbackAnswers;

  std::shared_ptr<TranscriptionResult> run(std::span<const float> audioArray,
                                           const DecodingOptions &decodeOptions,
                                           const ProgressCallback &callback) override {
    sampleCounts.push_back(audioArray.size());
    clipTimestamps.push_back(decodeOptions.clipTimestamps);
    for (const auto &progress : progressToReport) {
      callbackAnswers.push_back(callback(progress));
    }
    std::vector<TranscriptionSegment> segments;
    if (!answers.empty()) {
      segments = answers.front();
      answers.pop_front();
    }
    return std::make_shared<TranscriptionResult>("", segments, "en");
  }
};

struct Fixture {
  std::shared_ptr<platform::InMemoryAudioInput> input =
      std::make_shared<platform::InMemoryAudioInput>();
  std::shared_ptr<AudioProcessor> processor;
  std::shared_ptr<ScriptedTranscription> transcription = std::make_shared<ScriptedTranscription>();
  std::vector<std::pair<State, State>> changes;
  std::shared_ptr<AudioStreamTranscriber> transcriber;
  // Called at every wait between passes with the number of the wait; stops the transcriber
  // when it returns false.
  std::function<bool(int)> onWait = [](int) { return false; };
  // Called after each reported change is recorded.
  std::function<void(const State &)> onChange;
  int waits = 0;

  explicit Fixture(AudioStreamTranscriber::Options options = {},
                   DecodingOptions decoding = DecodingOptions()) {
    input->setDevices({{1, "Microphone", 1, 16000}});
    processor = std::make_shared<AudioProcessor>(input);
    options.waitBeforeNextPass = [this](std::chrono::milliseconds wait) {
      EXPECT_EQ(wait, std::chrono::milliseconds(100));
      if (!onWait(waits++)) {
        transcriber->stopStreamTranscription();
      }
    };
    if (!options.requestRecordPermission) {
      options.requestRecordPermission = [this] {
        return AudioProcessor::requestRecordPermission(*input);
      };
    }
    transcriber = AudioStreamTranscriber::make(transcription, processor, std::move(decoding),
                                               std::move(options),
                                               [this](const State &before, const State &after) {
                                                 changes.emplace_back(before, after);
                                                 if (onChange) {
                                                   onChange(after);
                                                 }
                                               });
  }

  void addSeconds(double seconds, float level = 0.5f) {
    processor->processBuffer(std::vector<float>(static_cast<std::size_t>(seconds * 16000), level));
  }
};

AudioStreamTranscriber::Options withoutVAD(int required = 2) {
  AudioStreamTranscriber::Options options;
  options.useVAD = false;
  options.requiredSegmentsForConfirmation = required;
  return options;
}

TEST(StreamTranscriberTest, APassNeedsMoreThanOneSecondOfNewAudio) {
  Fixture f(withoutVAD());
  f.onWait = [&](int wait) {
    if (wait == 0) {
      f.addSeconds(1.0); // exactly 16000 samples: still waiting
      return true;
    }
    if (wait == 1) {
      f.processor->processBuffer({0.5f}); // one more
      return true;
    }
    return false;
  };
  f.transcriber->startStreamTranscription();
  EXPECT_EQ(f.transcription->sampleCounts, (std::vector<std::size_t>{16001}));
  const State state = f.transcriber->state();
  EXPECT_EQ(state.lastBufferSize, 16001);
  EXPECT_FALSE(state.isRecording);
  EXPECT_FALSE(f.processor->hasAudioEngine());
  // The first waiting pass showed the waiting text.
  ASSERT_FALSE(f.changes.empty());
  EXPECT_EQ(f.changes[1].second.currentText, "Waiting for speech...");
}

TEST(StreamTranscriberTest, TheNewestSegmentsStayUnconfirmedAndRunsAreNotConfirmedTwice) {
  Fixture f(withoutVAD(2));
  const std::vector<TranscriptionSegment> five = {seg(0, 1, "a"), seg(1, 2, "b"), seg(2, 3, "c"),
                                                  seg(3, 4, "d"), seg(4, 5, "e")};
  f.transcription->answers = {
      five,
      // Candidates ending before the boundary: nothing confirmed, unconfirmed replaced.
      {seg(1, 2, "b"), seg(5, 6, "x"), seg(6, 7, "y")},
      // Two or fewer segments: nothing confirmed.
      {seg(5, 6, "p"), seg(6, 7, "q")},
  };
  f.onWait = [&](int wait) {
    if (wait < 3) {
      f.addSeconds(1.5);
      return true;
    }
    return false;
  };
  f.transcriber->startStreamTranscription();
  const State state = f.transcriber->state();
  EXPECT_EQ(state.confirmedSegments,
            (std::vector<TranscriptionSegment>{five[0], five[1], five[2]}));
  EXPECT_EQ(state.lastConfirmedSegmentEndSeconds, 3.0f);
  EXPECT_EQ(state.unconfirmedSegments,
            (std::vector<TranscriptionSegment>{seg(5, 6, "p"), seg(6, 7, "q")}));
  // Every pass decodes from the confirmed boundary.
  EXPECT_EQ(f.transcription->clipTimestamps,
            (std::vector<std::vector<float>>{{0.0f}, {3.0f}, {3.0f}}));
}

TEST(StreamTranscriberTest, ARunAlreadyConfirmedIsNotAppendedWhileTheBoundaryAdvances) {
  Fixture f(withoutVAD(1));
  const auto a = seg(0, 6, "a");
  const auto b = seg(6, 4, "b");
  f.transcription->answers = {{a, b, seg(4, 8, "r")}, {a, seg(6, 9, "s")}};
  f.onWait = [&](int wait) {
    if (wait < 2) {
      f.addSeconds(1.5);
      return true;
    }
    return false;
  };
  f.transcriber->startStreamTranscription();
  const State state = f.transcriber->state();
  EXPECT_EQ(state.confirmedSegments, (std::vector<TranscriptionSegment>{a, b}));
  EXPECT_EQ(state.lastConfirmedSegmentEndSeconds, 6.0f);
  EXPECT_EQ(state.unconfirmedSegments, (std::vector<TranscriptionSegment>{seg(6, 9, "s")}));
}

TEST(StreamTranscriberTest, WithVoiceDetectionSilenceIsSkipped) {
  AudioStreamTranscriber::Options options;
  options.useVAD = true;
  options.silenceThreshold = 0.3f;
  Fixture f(options);
  audiotest::LogCapture logs;
  f.onWait = [&](int wait) {
    if (wait == 0) {
      // 2 s of silence in 0.1 s buffers: no speech.
      for (int i = 0; i < 20; ++i) {
        f.addSeconds(0.1, 0.0f);
      }
      return true;
    }
    if (wait == 1) {
      // Loud buffers after the silence (the newest ten are not looked at).
      for (int i = 0; i < 15; ++i) {
        f.addSeconds(0.1, 0.5f);
      }
      return true;
    }
    return false;
  };
  f.transcriber->startStreamTranscription();
  EXPECT_EQ(logs.startingWith("No voice detected").size(), 1u);
  EXPECT_EQ(f.transcription->sampleCounts, (std::vector<std::size_t>{56000}));
}

TEST(StreamTranscriberTest, TheEarlyStopWatchesCompressionAndLogProbability) {
  TranscriptionProgress repetitive;
  repetitive.tokens.assign(61, 7); // the 61st token starts the check over the last 60
  TranscriptionProgress shortRepetitive;
  shortRepetitive.tokens.assign(60, 7);
  TranscriptionProgress unlikely;
  unlikely.avgLogprob = -2.0f;
  TranscriptionProgress fine;
  fine.tokens = {1, 2, 3};
  fine.avgLogprob = -0.5f;

  struct Case {
    const char *name;
    std::optional<float> compression;
    std::optional<float> logProb;
    std::vector<std::optional<bool>> answers; // for repetitive, shortRepetitive, unlikely, fine
  };
  const std::vector<Case> cases = {
      {"both on", 2.4f, -1.0f, {false, std::nullopt, false, std::nullopt}},
      // An absent threshold switches its test off instead of stopping every window.
      {"no compression threshold",
       std::nullopt,
       -1.0f,
       {std::nullopt, std::nullopt, false, std::nullopt}},
      {"no log-probability threshold",
       2.4f,
       std::nullopt,
       {false, std::nullopt, std::nullopt, std::nullopt}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    DecodingOptions decoding;
    decoding.compressionRatioThreshold = c.compression;
    decoding.logProbThreshold = c.logProb;
    AudioStreamTranscriber::Options options = withoutVAD();
    options.compressionCheckWindow = 60;
    Fixture f(options, decoding);
    f.transcription->progressToReport = {repetitive, shortRepetitive, unlikely, fine};
    f.onWait = [&](int wait) {
      if (wait == 0) {
        f.addSeconds(1.5);
        return true;
      }
      return false;
    };
    f.transcriber->startStreamTranscription();
    EXPECT_EQ(f.transcription->callbackAnswers, c.answers);
  }
}

TEST(StreamTranscriberTest, ProgressTextsOfEarlierWindowsAreKeptAndFallbacksLogged) {
  Fixture f(withoutVAD());
  TranscriptionProgress first;
  first.text = "hello world";
  TranscriptionProgress nextWindow;
  nextWindow.text = "hi";
  TranscriptionProgress fallback;
  fallback.text = "h";
  fallback.timings.totalDecodingFallbacks = 1;
  f.transcription->progressToReport = {first, nextWindow, fallback};
  std::vector<std::string> seenUnconfirmed;
  f.onWait = [&](int wait) {
    if (wait == 0) {
      f.addSeconds(1.5);
      return true;
    }
    return false;
  };
  audiotest::LogCapture logs;
  f.transcriber->startStreamTranscription();
  for (const auto &[before, after] : f.changes) {
    if (after.unconfirmedText.size() > before.unconfirmedText.size()) {
      seenUnconfirmed = after.unconfirmedText;
    }
  }
  // A shorter text with no fallback means a new window began: the text before it (first the
  // waiting text, then "hello world") is kept.
  EXPECT_EQ(seenUnconfirmed, (std::vector<std::string>{"Waiting for speech...", "hello world"}));
  EXPECT_EQ(logs.startingWith("Fallback occured: "),
            (std::vector<std::string>{"Fallback occured: 1"}));
  // The pass's end clears both texts.
  EXPECT_EQ(f.transcriber->state().currentText, "Waiting for speech...");
  EXPECT_TRUE(f.transcriber->state().unconfirmedText.empty());
  EXPECT_EQ(f.transcriber->state().currentFallbacks, 1);
}

TEST(StreamTranscriberTest, RefusedPermissionLogsAndChangesNothing) {
  AudioStreamTranscriber::Options options = withoutVAD();
  options.requestRecordPermission = [] { return false; };
  Fixture f(options);
  audiotest::LogCapture logs;
  f.transcriber->startStreamTranscription();
  EXPECT_EQ(logs.startingWith("Microphone"),
            (std::vector<std::string>{"Microphone access was not granted."}));
  EXPECT_EQ(f.transcriber->state(), State{});
  EXPECT_TRUE(f.changes.empty());
  EXPECT_FALSE(f.processor->hasAudioEngine());
}

TEST(StreamTranscriberTest, StartingWhileRecordingReturnsAtOnce) {
  Fixture f(withoutVAD());
  int nested = 0;
  f.onWait = [&](int wait) {
    if (wait == 0) {
      f.transcriber->startStreamTranscription(); // the loop is running: returns at once
      ++nested;
      return true;
    }
    return false;
  };
  audiotest::LogCapture logs;
  f.transcriber->startStreamTranscription();
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(f.input->permissionRequests(), 1u);
  EXPECT_EQ(logs.startingWith("Realtime transcription has started").size(), 1u);
  EXPECT_EQ(logs.startingWith("Realtime transcription has ended").size(), 1u);
}

TEST(StreamTranscriberTest, RecordedBuffersUpdateTheEnergyInTheState) {
  Fixture f(withoutVAD());
  f.input->setTake(1, {std::vector<float>(3200, 0.5f)});
  f.processor->setMinBufferLength(1600);
  f.onWait = [&](int) {
    f.input->waitForBuffers(2);
    return false;
  };
  f.transcriber->startStreamTranscription();
  EXPECT_EQ(f.transcriber->state().bufferEnergy, f.processor->relativeEnergy());
  EXPECT_EQ(f.transcriber->state().bufferEnergy.size(), 2u);
}

// The state callback may call the transcriber back: stopping from it, on the loop's thread or on
// the audio thread, ends the loop instead of waiting for itself.
TEST(StreamTranscriberTest, TheStateCallbackMayStopTheTranscriber) {
  constexpr int kSafetyNet = 100000;
  for (const bool fromTheAudioThread : {false, true}) {
    SCOPED_TRACE(fromTheAudioThread);
    Fixture f(withoutVAD());
    f.transcription->answers = {{seg(0, 1, "a")}};
    f.input->setTake(1, {std::vector<float>(3200, 0.5f)});
    f.processor->setMinBufferLength(1600);
    f.onChange = [&](const State &after) {
      if (after.isRecording &&
          (fromTheAudioThread ? !after.bufferEnergy.empty() : !after.unconfirmedSegments.empty())) {
        f.transcriber->stopStreamTranscription();
      }
    };
    f.onWait = [&](int wait) {
      if (fromTheAudioThread) {
        f.input->waitForBuffers(1);
      } else if (wait == 0) {
        f.addSeconds(2.0);
      }
      // A safety net: the callback is what stops. It may run on the recording's thread, which
      // can be descheduled while this loop goes round, and a wait costs nothing here, so the
      // net is wide.
      return wait < kSafetyNet;
    };
    f.transcriber->startStreamTranscription();
    EXPECT_FALSE(f.transcriber->state().isRecording);
    EXPECT_LT(f.waits, kSafetyNet);
    // Every change, the stop included, was reported before the call returned, so the fixture
    // the callback writes to may go now.
    ASSERT_FALSE(f.changes.empty());
    EXPECT_EQ(f.changes.back().second, f.transcriber->state());
  }
}

} // namespace
