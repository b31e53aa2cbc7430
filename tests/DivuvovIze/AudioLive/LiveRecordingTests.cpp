// Live recording through the in-memory input: a real audio thread plays scripted takes into the
// processor. Tests wait for deliveries, never on wall time. This program also runs under
// ThreadSanitizer (scripts/test).

#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/audio/InMemoryAudioInput.hpp"
#include "tests/DivuvovIze/Audio/AudioTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <numbers>

namespace {

using divuvovize::AudioDevice;
using divuvovize::AudioEnergyEntry;
using divuvovize::AudioProcessor;
using platform::AudioDeviceDescription;
using platform::InMemoryAudioInput;

constexpr std::uint32_t kMic = 7;
constexpr std::uint32_t kHeadset = 9;
constexpr std::uint32_t kSpeakers = 3;

std::vector<float> tone(double rate, double seconds, double frequency = 440,
                        double amplitude = 0.5) {
  std::vector<float> samples(static_cast<std::size_t>(std::llround(rate * seconds)));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<float>(
        amplitude * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate));
  }
  return samples;
}

// A microphone at 48 kHz (stereo), speakers (output only) and a 16 kHz headset.
std::shared_ptr<InMemoryAudioInput> threeDevices() {
  auto input = std::make_shared<InMemoryAudioInput>();
  input->setDevices({{kSpeakers, "Speakers", 0, 48000},
                     {kMic, "Built-in Microphone", 2, 48000},
                     {kHeadset, "Headset", 1, 16000}});
  return input;
}

TEST(LiveRecordingTest, ATakeAt48kHzIn10msBuffersKeepsEveryFrameAndItsTail) {
  auto input = threeDevices();
  const auto left = tone(48000, 1.0);
  input->setTake(kMic, {left, std::vector<float>(left.size(), 0.25f)});
  AudioProcessor processor(input);
  processor.setMinBufferLength(480);
  std::size_t callbacks = 0;
  processor.startRecordingLive(std::nullopt, [&](const std::vector<float> &) { ++callbacks; });
  ASSERT_TRUE(input->waitForBuffers(100));
  processor.stopRecording();

  // 1 s at 16 kHz, the converter's held-back tail included.
  const auto samples = processor.audioSamples();
  EXPECT_NEAR(static_cast<double>(samples.size()), 16000.0, 1.0);
  // The first channel, resampled without a shift.
  const auto fit = audiotest::fitSine(samples, 16000, 440, 800, 15200);
  EXPECT_NEAR(fit.amplitude, 0.5, 0.01);
  EXPECT_LT(std::abs(fit.phaseError), 1e-2);
  // One energy entry per processed buffer: 100 taps and the tail.
  EXPECT_EQ(processor.audioEnergy().size(), 101u);
  EXPECT_EQ(callbacks, 101u);
  EXPECT_EQ(processor.relativeEnergy().size(), processor.audioEnergy().size());
}

TEST(LiveRecordingTest, ADeviceAt16kHzIsNotConvertedAndGivesItsFirstChannel) {
  auto input = std::make_shared<InMemoryAudioInput>();
  input->setDevices({{kHeadset, "Headset", 2, 16000}});
  input->setTake(kHeadset, {{0.1f, 0.2f, 0.3f, 0.4f, 0.5f}, {9.0f, 9.0f, 9.0f, 9.0f, 9.0f}});
  AudioProcessor processor(input);
  processor.setMinBufferLength(2);
  processor.startRecordingLive();
  ASSERT_TRUE(input->waitForBuffers(3));
  processor.stopRecording();
  EXPECT_EQ(processor.audioSamples(), (std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f, 0.5f}));
  EXPECT_EQ(processor.audioEnergy().size(), 3u);
}

TEST(LiveRecordingTest, SuppressedInputIsRecordedAsSilenceOfTheSameLength) {
  auto input = threeDevices();
  input->setTake(kHeadset, {std::vector<float>(3200, 0.5f)});
  AudioProcessor processor(input);
  processor.setInputSuppressed(true);
  processor.setMinBufferLength(320);
  processor.startRecordingLive(kHeadset);
  ASSERT_TRUE(input->waitForBuffers(10));
  processor.stopRecording();
  const auto samples = processor.audioSamples();
  EXPECT_EQ(samples.size(), 3200u);
  EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](float s) { return s == 0.0f; }));
  for (const auto &entry : processor.audioEnergy()) {
    EXPECT_EQ(entry, AudioEnergyEntry{});
  }
  std::vector<float> buffer{1.0f, -1.0f};
  processor.suppressInputIfNeeded(buffer);
  EXPECT_EQ(buffer, (std::vector<float>{0.0f, 0.0f}));
  processor.setInputSuppressed(false);
  buffer = {1.0f, -1.0f};
  processor.suppressInputIfNeeded(buffer);
  EXPECT_EQ(buffer, (std::vector<float>{1.0f, -1.0f}));
}

TEST(LiveRecordingTest, PauseHoldsTheTakeAndResumeOnTheSameDeviceContinuesIt) {
  auto input = threeDevices();
  input->setTake(kHeadset, {tone(16000, 1.0)});
  AudioProcessor processor(input);
  processor.setMinBufferLength(1600);
  input->setDeliveryLimit(4);
  processor.startRecordingLive(kHeadset);
  ASSERT_TRUE(input->waitForBuffers(4));
  processor.pauseRecording();
  EXPECT_TRUE(processor.hasAudioEngine());
  input->setDeliveryLimit(std::nullopt);
  EXPECT_EQ(processor.audioSampleCount(), 6400u);

  processor.resumeRecordingLive(kHeadset);
  ASSERT_TRUE(input->waitForBuffers(10));
  EXPECT_EQ(input->enginesMade(), 1u);
  const auto samples = processor.audioSamples();
  EXPECT_EQ(samples, tone(16000, 1.0));
  processor.stopRecording();
  EXPECT_FALSE(processor.hasAudioEngine());
  // A second stop does nothing.
  processor.stopRecording();
  EXPECT_EQ(processor.audioSamples(), samples);
}

TEST(LiveRecordingTest, ResumeOnAnotherDeviceBuildsANewEngineAndKeepsTheTake) {
  auto input = threeDevices();
  input->setTake(kHeadset, {std::vector<float>(1600, 0.1f)});
  input->setTake(kMic, {std::vector<float>(4800, 0.2f), std::vector<float>(4800, 0.2f)});
  AudioProcessor processor(input);
  processor.setMinBufferLength(800);
  processor.startRecordingLive(kHeadset);
  ASSERT_TRUE(input->waitForBuffers(2));
  processor.pauseRecording();

  processor.resumeRecordingLive(kMic);
  ASSERT_TRUE(input->waitForBuffers(8));
  processor.stopRecording();
  EXPECT_EQ(input->enginesMade(), 2u);
  // The first device's identifier stays the one later calls compare against.
  EXPECT_EQ(processor.lastInputDevice(), std::optional<std::uint32_t>(kHeadset));
  const auto samples = processor.audioSamples();
  ASSERT_NEAR(static_cast<double>(samples.size()), 3200.0, 1.0);
  EXPECT_EQ(samples[0], 0.1f);
  EXPECT_NEAR(samples[2400], 0.2f, 1e-3);
}

// The buffer callback runs on the audio thread, which a stop waits for: control calls from it
// take effect for the callback at once and must not make that thread wait for itself.
TEST(LiveRecordingTest, TheBufferCallbackMayStopPauseAndRestartTheRecording) {
  using Control = std::function<void(AudioProcessor &)>;
  const std::vector<std::pair<const char *, Control>> controls = {
      {"stop", [](AudioProcessor &p) { p.stopRecording(); }},
      {"pause", [](AudioProcessor &p) { p.pauseRecording(); }},
      {"start", [](AudioProcessor &p) { p.startRecordingLive(kHeadset); }},
  };
  for (const auto &[name, control] : controls) {
    SCOPED_TRACE(name);
    auto input = threeDevices();
    input->setTake(kHeadset, {tone(16000, 1.0)});
    AudioProcessor processor(input);
    processor.setMinBufferLength(1600);
    std::mutex mutex;
    std::condition_variable called;
    int calls = 0;
    processor.startRecordingLive(kHeadset, [&](const std::vector<float> &) {
      {
        std::lock_guard lock(mutex);
        ++calls;
      }
      called.notify_all();
      control(processor);
    });
    {
      std::unique_lock lock(mutex);
      called.wait(lock, [&] { return calls >= 1; });
    }
    // A take started here supersedes whatever the callback asked and records as usual.
    int more = 0;
    processor.startRecordingLive(kHeadset, [&](const std::vector<float> &) {
      {
        std::lock_guard lock(mutex);
        ++more;
      }
      called.notify_all();
    });
    {
      std::unique_lock lock(mutex);
      called.wait(lock, [&] { return more == 10; });
    }
    processor.stopRecording();
    EXPECT_EQ(processor.audioSamples(), tone(16000, 1.0));
    EXPECT_FALSE(processor.hasAudioEngine());
  }
}

// Pause, resume on a device that cannot be opened, resume on the first device again: the
// failure is reported and the first device records again.
TEST(LiveRecordingTest, AResumeOnADeviceThatFailsKeepsTheEarlierDevice) {
  auto input = threeDevices();
  input->setTake(kHeadset, {tone(16000, 1.0)});
  input->failOpening(kMic);
  AudioProcessor processor(input);
  processor.setMinBufferLength(1600);
  input->setDeliveryLimit(2);
  processor.startRecordingLive(kHeadset);
  ASSERT_TRUE(input->waitForBuffers(2));
  processor.pauseRecording();
  input->setDeliveryLimit(std::nullopt);

  EXPECT_THROW(processor.resumeRecordingLive(kMic), platform::AudioEngineError);
  EXPECT_TRUE(processor.hasAudioEngine());
  processor.resumeRecordingLive(kHeadset);
  ASSERT_TRUE(input->waitForBuffers(4));
  processor.stopRecording();
  EXPECT_GE(processor.audioSampleCount(), 6400u);
}

TEST(LiveRecordingTest, PurgeKeepsTheNewestSamplesAndEveryEnergyEntry) {
  AudioProcessor processor(threeDevices());
  processor.processBuffer({1, 2, 3});
  processor.processBuffer({4, 5});
  processor.purgeAudioSamples(10);
  EXPECT_EQ(processor.audioSamples(), (std::vector<float>{1, 2, 3, 4, 5}));
  processor.purgeAudioSamples(2);
  EXPECT_EQ(processor.audioSamples(), (std::vector<float>{4, 5}));
  EXPECT_EQ(processor.audioEnergy().size(), 2u);
  processor.purgeAudioSamples(0);
  EXPECT_TRUE(processor.audioSamples().empty());
}

TEST(LiveRecordingTest, RelativeEnergyFollowsTheQuietestRecentBuffer) {
  AudioProcessor processor(threeDevices());
  const auto level = [](float rms) { return std::vector<float>(160, rms); };
  // The first buffer has no reference: 0.
  processor.processBuffer(level(0.5f));
  // Silence drops the reference to the floor, 1e-8 (-160 dB).
  processor.processBuffer(level(0.0f));
  processor.processBuffer(level(0.01f));
  // At the reference level, or quieter: 0; at full scale or above: 1.
  processor.processBuffer(level(0.0f));
  processor.processBuffer(level(2.0f));
  const auto energy = processor.audioEnergy();
  ASSERT_EQ(energy.size(), 5u);
  EXPECT_EQ(energy[0].rel, 0.0f);
  EXPECT_EQ(energy[0].avg, 0.5f);
  EXPECT_EQ(energy[1].rel, 0.0f);
  EXPECT_NEAR(energy[2].rel, (20 * std::log10(0.01) + 160) / 160, 1e-5);
  EXPECT_EQ(energy[3].rel, 0.0f);
  EXPECT_EQ(energy[4].rel, 1.0f);
  EXPECT_EQ(energy[4].max, 2.0f);
  EXPECT_EQ(energy[4].min, 2.0f);
  EXPECT_EQ(processor.relativeEnergy(),
            (std::vector<float>{energy[0].rel, energy[1].rel, energy[2].rel, energy[3].rel,
                                energy[4].rel}));
  processor.processBuffer({});
  EXPECT_EQ(processor.audioEnergy().back(), AudioEnergyEntry{});
}

TEST(LiveRecordingTest, TheProgressLineComesAtEachMultipleOfTheCadence) {
  AudioProcessor processor(threeDevices());
  processor.setMinBufferLength(4);
  processor.setRelativeEnergyWindow(2); // every 8 samples
  audiotest::LogCapture logs;
  processor.processBuffer(std::vector<float>(4, 0.0f));
  processor.processBuffer(std::vector<float>(4, 0.0f));
  processor.processBuffer(std::vector<float>(5, 0.0f));
  EXPECT_EQ(logs.startingWith("Current audio size: "),
            (std::vector<std::string>{"Current audio size: 8 samples, most recent buffer: 4 "
                                      "samples, most recent energy: (0.0, 0.0, 0.0, 0.0)"}));
}

TEST(LiveRecordingTest, ADeviceThatFailsToOpenIsAnErrorAndChangesNothingElse) {
  auto input = threeDevices();
  input->failOpening(kMic);
  AudioProcessor processor(input);
  processor.processBuffer({1, 2});
  bool called = false;
  const auto callback = [&](const std::vector<float> &) { called = true; };
  processor.setAudioBufferCallback(callback);
  EXPECT_THROW(processor.startRecordingLive(kMic, nullptr), platform::AudioEngineError);
  EXPECT_TRUE(processor.audioSamples().empty());
  EXPECT_FALSE(processor.hasAudioEngine());
  EXPECT_FALSE(processor.lastInputDevice().has_value());
  processor.audioBufferCallback()({});
  EXPECT_TRUE(called);
}

TEST(LiveRecordingTest, StreamingRecordingYieldsBuffersAndCancellingStopsIt) {
  auto input = threeDevices();
  input->setTake(kHeadset, {std::vector<float>(1600, 0.3f)});
  AudioProcessor processor(input);
  processor.setMinBufferLength(400);
  input->setDeliveryLimit(2);
  const auto stream = processor.startStreamingRecordingLive(kHeadset);
  for (int i = 0; i < 2; ++i) {
    const auto buffer = stream->next();
    ASSERT_TRUE(buffer.has_value());
    EXPECT_EQ(*buffer, std::vector<float>(400, 0.3f));
  }
  stream->cancel();
  EXPECT_FALSE(processor.hasAudioEngine());
  EXPECT_FALSE(processor.audioBufferCallback());
  EXPECT_EQ(stream->next(), std::nullopt);
}

TEST(LiveRecordingTest, StoppingEndsTheStreamAfterItsBuffers) {
  auto input = threeDevices();
  input->setTake(kHeadset, {std::vector<float>(800, 0.3f)});
  AudioProcessor processor(input);
  processor.setMinBufferLength(400);
  const auto stream = processor.startStreamingRecordingLive(kHeadset);
  ASSERT_TRUE(input->waitForBuffers(2));
  processor.stopRecording();
  EXPECT_TRUE(stream->next().has_value());
  EXPECT_TRUE(stream->next().has_value());
  EXPECT_EQ(stream->next(), std::nullopt);
}

TEST(LiveRecordingTest, AStreamingStartFailureFinishesTheStreamWithTheError) {
  auto input = threeDevices();
  input->failOpening(kMic);
  AudioProcessor processor(input);
  const auto stream = processor.startStreamingRecordingLive(kMic);
  EXPECT_THROW(stream->next(), platform::AudioEngineError);
  EXPECT_TRUE(stream->isFinished());
}

TEST(AudioDevicesTest, OnlyDevicesWithInputChannelsAreListed) {
  auto input = threeDevices();
  EXPECT_EQ(AudioProcessor::getAudioDevices(*input),
            (std::vector<AudioDevice>{{kMic, "Built-in Microphone"}, {kHeadset, "Headset"}}));

  input->setDevices({{kSpeakers, "Speakers", 0, 48000}, {4, "", 1, 44100}});
  audiotest::LogCapture logs;
  EXPECT_EQ(AudioProcessor::getAudioDevices(*input), (std::vector<AudioDevice>{{4, ""}}));
  input->setDevices({{kSpeakers, "Speakers", 0, 48000}});
  EXPECT_TRUE(AudioProcessor::getAudioDevices(*input).empty());
  EXPECT_TRUE(logs.lines().empty());

  input->failDeviceListing("no sound server");
  EXPECT_TRUE(AudioProcessor::getAudioDevices(*input).empty());
  EXPECT_EQ(logs.lines(),
            (std::vector<std::string>{"Error: Unable to get the number of audio devices."}));

  // Same id, different names: not equal.
  EXPECT_NE((AudioDevice{1, "a"}), (AudioDevice{1, "b"}));
  EXPECT_NE(std::hash<AudioDevice>{}({1, "a"}), std::hash<AudioDevice>{}({1, "b"}));
}

TEST(AudioDevicesTest, ARefusedSelectionIsLoggedAndRecordingGoesOnOnTheCurrentDevice) {
  auto input = threeDevices();
  input->refuseSelection(kHeadset, -50);
  input->setTake(kMic, {std::vector<float>(480, 0.0f), std::vector<float>(480, 0.0f)});
  AudioProcessor processor(input);
  processor.setMinBufferLength(480);
  audiotest::LogCapture logs;
  processor.startRecordingLive(kHeadset);
  ASSERT_TRUE(input->waitForBuffers(1));
  processor.stopRecording();
  EXPECT_EQ(logs.startingWith("Error setting"),
            (std::vector<std::string>{"Error setting Audio Unit property: -50"}));
  // The default input (the microphone, at 48 kHz) recorded.
  EXPECT_NEAR(static_cast<double>(processor.audioSampleCount()), 160.0, 1.0);

  audiotest::LogCapture second;
  processor.startRecordingLive(kMic);
  processor.stopRecording();
  EXPECT_EQ(second.startingWith("Successfully"),
            (std::vector<std::string>{"Successfully set input device."}));
}

TEST(AudioDevicesTest, PermissionIsTheSystemsAnswer) {
  auto input = threeDevices();
  EXPECT_TRUE(AudioProcessor::requestRecordPermission(*input));
  input->setPermission(false);
  EXPECT_FALSE(AudioProcessor::requestRecordPermission(*input));
  EXPECT_EQ(input->permissionRequests(), 2u);
}

} // namespace
