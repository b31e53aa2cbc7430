#include "platform/audio/InputEngineMicrophone.hpp"

#include "platform/audio/InMemoryAudioInput.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace platform {
namespace {

std::shared_ptr<InMemoryAudioInput> oneMicrophone(std::size_t frames) {
  auto input = std::make_shared<InMemoryAudioInput>();
  input->setDevices({{7, "Microphone", 1, 16000}});
  std::vector<float> take(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    take[i] = static_cast<float>(i % 100) / 100.0f;
  }
  input->setTake(7, {take});
  return input;
}

TEST(InputEngineMicrophone, TheTapGetsEveryCapturedFrameInTheInputFormat) {
  auto input = oneMicrophone(16000);
  InputEngineMicrophone microphone(input);
  const auto format = microphone.inputFormat();
  ASSERT_TRUE(format.has_value());
  EXPECT_EQ(format->sampleRate(), 16000);
  EXPECT_EQ(format->channelCount(), 1u);

  std::mutex mutex;
  std::vector<float> received;
  microphone.prepare();
  microphone.installTap(1600, *format, [&](const PcmBuffer &buffer) {
    std::lock_guard lock(mutex);
    received.insert(received.end(), buffer.floatChannelData(0),
                    buffer.floatChannelData(0) + buffer.frameLength());
  });
  EXPECT_FALSE(microphone.isRunning());
  microphone.start();
  microphone.start(); // harmless when running
  EXPECT_TRUE(microphone.isRunning());
  input->waitForBuffers(10);
  microphone.removeTap();
  std::lock_guard lock(mutex);
  ASSERT_EQ(received.size(), 16000u);
  EXPECT_FLOAT_EQ(received[1601], 0.01f);
  EXPECT_EQ(input->enginesMade(), 2u); // one to read the format, one to capture
}

TEST(InputEngineMicrophone, ADeviceThatCannotOpenFailsToStartWithItsReason) {
  auto input = oneMicrophone(10);
  input->failOpening(7);
  InputEngineMicrophone microphone(input);
  EXPECT_THROW(microphone.start(), MicrophoneEngineError);
  EXPECT_FALSE(microphone.isRunning());
}

TEST(AudioInputAuthorization, AsksTheSystemOnceAndRemembers) {
  auto input = oneMicrophone(10);
  input->setPermission(false);
  AudioInputAuthorization authorization(input);
  EXPECT_EQ(input->permissionRequests(), 0u);
  std::vector<bool> answers;
  authorization.requestAccess([&](bool granted) { answers.push_back(granted); });
  authorization.requestAccess([&](bool granted) { answers.push_back(granted); });
  EXPECT_EQ(answers, (std::vector<bool>{false, false}));
  EXPECT_EQ(authorization.status(), AuthorizationStatus::denied);
  EXPECT_EQ(input->permissionRequests(), 1u);

  // Linux's answer: granted, already when the status is first read.
  auto permitted = oneMicrophone(10);
  EXPECT_EQ(AudioInputAuthorization(permitted).status(), AuthorizationStatus::authorized);
}

} // namespace
} // namespace platform
