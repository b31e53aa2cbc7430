#include "app/services/AudioCapture.hpp"

#include "platform/audio/InMemoryMicrophoneEngine.hpp"
#include "platform/services/InMemoryMicrophoneAuthorization.hpp"
#include "platform/system/ManualExecutor.hpp"
#include "tests/app/AppTestSupport.hpp"
#include "tests/support/Tones.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace murmurquill {
namespace {

using Kind = AudioCapture::AudioCaptureError::Kind;

// A mono float buffer at `rate` holding `frames` samples of a 440 Hz sine (or silence).
std::shared_ptr<platform::PcmBuffer> buffer(double rate, std::uint32_t frames,
                                            bool silent = false) {
  return mqtest::sineBuffer(440.0, rate, 1, frames, silent ? 0.0 : 0.5);
}

class AudioCaptureTest : public ::testing::Test {
protected:
  void makeCapture(double rate, AudioCapture::Options options = {}) {
    engine = std::make_shared<platform::InMemoryMicrophoneEngine>(
        platform::AudioFormat::standard(rate, 1));
    capture = AudioCapture::make(engine, auth, main, log.sink(), options);
  }

  std::shared_ptr<platform::InMemoryMicrophoneAuthorization> auth =
      std::make_shared<platform::InMemoryMicrophoneAuthorization>();
  std::shared_ptr<platform::ManualExecutor> main = std::make_shared<platform::ManualExecutor>();
  testing::LogRecorder log;
  std::shared_ptr<platform::InMemoryMicrophoneEngine> engine;
  std::shared_ptr<AudioCapture> capture;
};

TEST_F(AudioCaptureTest, FortyEightKilohertzBuffersBecomeAThirdAsManySamples) {
  makeCapture(48000);
  capture->start();
  EXPECT_TRUE(capture->isRecording());
  EXPECT_EQ(engine->tapBufferSize(), 4096u);
  // The audio thread pushes ten tap buffers of 4096 frames.
  std::thread audio([&] {
    for (int i = 0; i < 10; ++i) {
      engine->push(*buffer(48000, 4096));
    }
  });
  audio.join();
  const auto take = capture->stop();
  EXPECT_FALSE(capture->isRecording());
  EXPECT_NEAR(static_cast<double>(take.size()), 40960.0 / 3.0, 1.0);
  EXPECT_TRUE(engine->isRunning()) << "the engine keeps running between takes";
  EXPECT_FALSE(engine->hasTap());
}

TEST_F(AudioCaptureTest, SixteenKilohertzInputPassesThroughUnchanged) {
  makeCapture(16000);
  capture->start();
  const auto in = buffer(16000, 1000);
  engine->push(*in);
  const auto take = capture->stop();
  ASSERT_EQ(take.size(), 1000u);
  for (std::size_t i = 0; i < take.size(); ++i) {
    ASSERT_FLOAT_EQ(take[i], in->floatChannelData(0)[i]) << "sample " << i;
  }
}

TEST_F(AudioCaptureTest, StartTwiceKeepsOneTapAndTheSamples) {
  makeCapture(48000);
  capture->start();
  engine->push(*buffer(48000, 4800));
  capture->start();
  EXPECT_EQ(engine->tapInstallCount(), 1u);
  engine->push(*buffer(48000, 4800));
  EXPECT_NEAR(static_cast<double>(capture->stop().size()), 3200.0, 1.0);
}

TEST_F(AudioCaptureTest, StopWhenIdleReturnsNothingAndLeavesTheEngineAlone) {
  makeCapture(48000);
  EXPECT_TRUE(capture->stop().empty());
  EXPECT_EQ(engine->startCount(), 0u);
  capture->prewarm();
  EXPECT_TRUE(capture->stop().empty());
  EXPECT_EQ(engine->tapInstallCount(), 0u);
}

TEST_F(AudioCaptureTest, PermissionDeniedThrowsAndDoesNotRecord) {
  for (const auto status :
       {platform::AuthorizationStatus::denied, platform::AuthorizationStatus::notDetermined,
        platform::AuthorizationStatus::restricted}) {
    auth->setStatus(status);
    makeCapture(48000);
    try {
      capture->start();
      FAIL() << "start() must throw";
    } catch (const AudioCapture::AudioCaptureError &error) {
      EXPECT_EQ(error.kind(), Kind::microphonePermissionDenied);
      EXPECT_STREQ(error.what(), "Microphone permission denied. Grant access in System Settings "
                                 "\xE2\x86\x92 Privacy & Security \xE2\x86\x92 Microphone.");
    }
    EXPECT_FALSE(capture->isRecording());
    EXPECT_FALSE(capture->isPrewarmed());
    EXPECT_EQ(engine->startCount(), 0u);
    EXPECT_EQ(auth->requestCount(), 0u) << "the capture never asks for permission itself";
  }
}

TEST_F(AudioCaptureTest, EngineStartFailureWrapsTheCauseAndIsRetried) {
  makeCapture(48000);
  engine->setStartError("device busy");
  try {
    capture->prewarm();
    FAIL() << "prewarm() must throw";
  } catch (const AudioCapture::AudioCaptureError &error) {
    EXPECT_EQ(error.kind(), Kind::engineStartFailed);
    EXPECT_STREQ(error.what(), "Audio engine failed to start: device busy");
  }
  EXPECT_FALSE(capture->isPrewarmed());
  engine->setStartError(std::nullopt);
  capture->start();
  EXPECT_TRUE(capture->isPrewarmed());
  EXPECT_TRUE(capture->isRecording());
  capture->prewarm();
  EXPECT_EQ(engine->startCount(), 2u);
}

// A machine without a microphone hears so, not that a converter could not be configured.
TEST_F(AudioCaptureTest, NoInputDeviceIsReportedAsSuch) {
  engine = std::make_shared<platform::InMemoryMicrophoneEngine>(std::nullopt);
  capture = AudioCapture::make(engine, auth, main, log.sink());
  try {
    capture->start();
    FAIL() << "start() must throw";
  } catch (const AudioCapture::AudioCaptureError &error) {
    EXPECT_EQ(error.kind(), Kind::noInputDevice);
    EXPECT_STREQ(error.what(), "No audio input device: there is no microphone to record from.");
  }
  EXPECT_EQ(engine->startCount(), 0u);
}

TEST_F(AudioCaptureTest, TakesNeverShareSamplesOrResamplerState) {
  makeCapture(48000);
  capture->start();
  engine->push(*buffer(48000, 4096));
  const auto first = capture->stop();
  ASSERT_FALSE(first.empty());
  // A silent second take: any filter state carried over from the loud first take would show
  // as non-zero samples.
  capture->start();
  engine->push(*buffer(48000, 4096, /*silent=*/true));
  const auto second = capture->stop();
  EXPECT_NEAR(static_cast<double>(second.size()), 4096.0 / 3.0, 1.0);
  for (std::size_t i = 0; i < second.size(); ++i) {
    ASSERT_EQ(second[i], 0.0f) << "sample " << i;
  }
}

TEST_F(AudioCaptureTest, BuffersOutsideATakeAreDropped) {
  makeCapture(48000);
  capture->prewarm();
  EXPECT_FALSE(engine->push(*buffer(48000, 4096)));
  capture->start();
  capture->stop();
  EXPECT_FALSE(engine->push(*buffer(48000, 4096)));
  capture->start();
  EXPECT_TRUE(capture->stop().empty());
}

TEST_F(AudioCaptureTest, ATakeStopsGrowingAtItsLengthCap) {
  makeCapture(16000, {.tapBufferSize = 4096, .maxTakeSeconds = 0.5});
  int capNotices = 0;
  capture->onLengthCapReached = [&] { ++capNotices; };
  capture->start();
  std::thread audio([&] {
    for (int i = 0; i < 4; ++i) {
      engine->push(*buffer(16000, 4000));
    }
  });
  audio.join();
  EXPECT_EQ(capNotices, 0) << "the notice arrives on the main executor";
  main->runUntilIdle();
  EXPECT_EQ(capNotices, 1);
  EXPECT_EQ(capture->stop().size(), 8000u);
  // A new take starts with a fresh cap.
  capture->start();
  engine->push(*buffer(16000, 9000));
  main->runUntilIdle();
  EXPECT_EQ(capNotices, 2);
  EXPECT_EQ(capture->stop().size(), 8000u);
}

TEST_F(AudioCaptureTest, CapNoticeAfterTheTakeEndedIsDropped) {
  makeCapture(16000, {.tapBufferSize = 4096, .maxTakeSeconds = 0.1});
  int capNotices = 0;
  capture->onLengthCapReached = [&] { ++capNotices; };
  capture->start();
  engine->push(*buffer(16000, 4000));
  capture->stop();
  main->runUntilIdle();
  EXPECT_EQ(capNotices, 0);
}

} // namespace
} // namespace murmurquill
