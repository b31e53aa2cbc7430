#include "app/controller/AppCore.hpp"

#include "tests/app/controller/AppCoreFixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace murmurquill {
namespace {

using namespace std::chrono_literals;
using HK = HUDMode::Kind;
using PK = TranscriptionEngine::LoadingPhase::Kind;
using Phase = TranscriptionEngine::LoadingPhase;
using testing::AppCoreTest;

std::size_t countOf(const std::vector<std::string> &lines, const std::string &line) {
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// A load that fails, before or after its download, clears what the download showed and keeps
// refusing the key with `notReady` afterwards.
struct FailedLoadRow {
  std::optional<std::string> downloadError;
  std::optional<std::string> buildError;
};

class FailedLoadTable : public AppCoreTest, public ::testing::WithParamInterface<FailedLoadRow> {};

TEST_P(FailedLoadTable, ClearsItsFieldsAndKeepsRefusingTheKey) {
  speech->reports = {{0.5, 3, 10, 20.0}};
  speech->downloadError = GetParam().downloadError;
  speech->buildError = GetParam().buildError;
  launch();
  EXPECT_TRUE(core->modelLoad().isModelLoadFailed());
  EXPECT_EQ(core->modelLoad().modelStatus(), "Download failed");
  EXPECT_FALSE(core->modelLoad().loadProgress());
  EXPECT_FALSE(core->modelLoad().loadDetailText());
  EXPECT_FALSE(core->modelLoad().modelInitStartedAt());
  for (int press = 0; press < 2; ++press) {
    const auto first = log.lines().size();
    dictate(16000);
    EXPECT_EQ(linesSince(first),
              (std::vector<std::string>{"[TranscriptionEngine] Hotkey pressed before model "
                                        "ready \xE2\x80\x94 Download failed"}));
    EXPECT_EQ(hud->mode(), HUDMode::of(HK::notReady));
    EXPECT_FALSE(core->dictation().isRecording());
    main->advance(2500ms);
  }
  EXPECT_FALSE(pasteboard->string());
}

INSTANTIATE_TEST_SUITE_P(Causes, FailedLoadTable,
                         ::testing::Values(FailedLoadRow{"offline", std::nullopt},
                                           FailedLoadRow{std::nullopt, "no TextDecoder"}));

TEST_F(AppCoreTest, ATranscriptionErrorEndsTheTakeAndHidesTheHud) {
  engineWorker = std::make_shared<testing::HeldExecutor>();
  auto &held = static_cast<testing::HeldExecutor &>(*engineWorker);
  launch();
  held.run(0);
  main->runUntilIdle();
  ASSERT_TRUE(core->modelLoad().isModelReady());
  speech->engine->error = "decoder ran out of memory";
  const auto first = log.lines().size();
  dictate(16000);
  ASSERT_EQ(held.held.size(), 1u);
  EXPECT_TRUE(core->dictation().isTranscribing());
  EXPECT_EQ(hud->mode(), HUDMode::of(HK::transcribing));
  held.run(0);
  main->runUntilIdle();
  EXPECT_EQ(linesSince(first),
            (std::vector<std::string>{"[AudioCapture] Recording started",
                                      "[TranscriptionEngine] Failed: Transcription failed: "
                                      "decoder ran out of memory"}));
  EXPECT_FALSE(core->dictation().isTranscribing());
  EXPECT_EQ(hud->mode(), HUDMode::of(HK::hidden));
  EXPECT_FALSE(pasteboard->string());
}

TEST_F(AppCoreTest, ChoosingTheKeyAgainRestartsTheMonitorAndARefusedRestartLeavesItStopped) {
  launch();
  ASSERT_TRUE(core->hotkey().isRunning());
  const auto lines = log.lines().size();
  // The restart of the same key is what meets the refusal.
  taps->setRefusesTaps(true);
  core->permissions().setHotkeyKey(HotkeyKey::rightOption);
  EXPECT_FALSE(core->hotkey().isRunning());
  EXPECT_EQ(log.lines().size(), lines) << "a refused restart is silent";
  core->permissions().setHotkeyKey(HotkeyKey::leftOption);
  EXPECT_FALSE(core->hotkey().isRunning());
  EXPECT_EQ(core->hotkey().key(), HotkeyKey::leftOption);
  EXPECT_EQ(settings->stringValue("selectedHotkeyKey"), "leftOption");
  taps->setRefusesTaps(false);
  core->permissions().startHotkey();
  EXPECT_TRUE(core->hotkey().isRunning());
  core->permissions().setHotkeyKey(HotkeyKey::leftOption);
  EXPECT_TRUE(core->hotkey().isRunning());
  EXPECT_EQ(taps->enabledTapCount(), 1u);
}

// The key-down checks come in a fixed order: the microphone, then typing at the cursor, then
// the model.
struct KeyDownRow {
  platform::AuthorizationStatus mic;
  bool canPost;
  bool modelReady;
  HK shown;
};

class KeyDownOrderTable : public AppCoreTest, public ::testing::WithParamInterface<KeyDownRow> {};

TEST_P(KeyDownOrderTable, TheFirstFailedCheckSpeaks) {
  const KeyDownRow row = GetParam();
  micAuth->setStatus(row.mic);
  poster->setCanPostEvents(row.canPost);
  if (!row.modelReady) {
    engineWorker = std::make_shared<testing::HeldExecutor>();
  }
  launch();
  press();
  main->runUntilIdle();
  EXPECT_EQ(hud->mode(), HUDMode::of(row.shown));
  EXPECT_FALSE(core->dictation().isRecording());
}

INSTANTIATE_TEST_SUITE_P(
    Checks, KeyDownOrderTable,
    ::testing::Values(
        KeyDownRow{platform::AuthorizationStatus::denied, false, false, HK::micDenied},
        KeyDownRow{platform::AuthorizationStatus::notDetermined, false, true, HK::micDenied},
        KeyDownRow{platform::AuthorizationStatus::authorized, false, false, HK::injectionDenied},
        KeyDownRow{platform::AuthorizationStatus::authorized, true, false, HK::notReady}));

TEST_F(AppCoreTest, ADownloadNeverRaisesTheRankSoPreparingMayFollowIt) {
  settings->remove("onboardingComplete");
  makeCore();
  auto &load = core->modelLoad();
  load.apply(Phase::of(PK::preparing));
  load.apply({PK::downloading, 0.5, 3, 10, 20.0});
  EXPECT_EQ(load.loadPhaseOrdinal(), 1);
  EXPECT_EQ(core->modelLoad().modelStatus(), "Downloading the speech model");
  load.apply(Phase::of(PK::preparing));
  EXPECT_EQ(core->modelLoad().modelStatus(), "Checking for Whisper model\xE2\x80\xA6");
  EXPECT_FALSE(core->modelLoad().loadProgress());
}

TEST_F(AppCoreTest, RefreshingPermissionsReReadsInputMonitoring) {
  launch();
  ASSERT_TRUE(core->permissions().inputMonitoringGranted());
  core->hotkey().stop();
  core->permissions().refreshPermissions();
  EXPECT_FALSE(core->permissions().inputMonitoringGranted());
  core->permissions().startHotkey();
  core->permissions().refreshPermissions();
  EXPECT_TRUE(core->permissions().inputMonitoringGranted());
}

// A microphone that cannot start, or a machine without one: the prewarm at launch and at every
// permission refresh, and every key press, say what it is once per cause; the HUD stays as it
// was and no take begins.
struct MicrophoneFaultRow {
  bool noDevice;
  std::string cause;
};

class MicrophoneFaultTable : public AppCoreTest,
                             public ::testing::WithParamInterface<MicrophoneFaultRow> {};

TEST_P(MicrophoneFaultTable, IsReportedOncePerCauseAndLeavesTheHud) {
  const MicrophoneFaultRow row = GetParam();
  if (row.noDevice) {
    microphone = std::make_shared<platform::InMemoryMicrophoneEngine>(std::nullopt);
  } else {
    microphone->setStartError("device busy");
  }
  launch();
  for (int refresh = 0; refresh < 3; ++refresh) {
    core->permissions().refreshPermissions();
  }
  for (int press = 0; press < 3; ++press) {
    dictate(16000);
  }
  const auto lines = log.lines();
  EXPECT_EQ(countOf(lines, "[AudioCapture] Prewarm failed: " + row.cause), 1u);
  EXPECT_EQ(countOf(lines, "[AudioCapture] Failed to start: " + row.cause), 1u);
  if (row.noDevice) {
    // Nothing on screen would leave the user guessing why the key does nothing: each press
    // shows the microphone message for its usual time, as when access is denied.
    const HUDMode micDenied = HUDMode::of(HUDMode::Kind::micDenied);
    EXPECT_EQ(std::count(hud->shown.begin(), hud->shown.end(), micDenied), 3) << hud->shown.size();
    EXPECT_EQ(hud->shown.back(), micDenied);
    main->advance(std::chrono::milliseconds(3499));
    EXPECT_EQ(hud->shown.back(), micDenied);
    main->advance(std::chrono::milliseconds(1));
    EXPECT_EQ(hud->shown.back(), HUDMode::hidden());
  } else {
    EXPECT_TRUE(hud->shown.empty()) << "a capture that fails to start leaves the HUD unchanged";
  }
  EXPECT_FALSE(core->dictation().isRecording());
  for (const auto &line : lines) {
    EXPECT_EQ(line.find("audio converter"), std::string::npos) << line;
  }
  if (!row.noDevice) {
    microphone->setStartError(std::nullopt);
    dictate(16000);
    EXPECT_EQ(pasteboard->string(), "Hello world.");
    microphone->setStartError("device busy");
    core->permissions().refreshPermissions(); // prewarmed: nothing to say
    EXPECT_EQ(countOf(log.lines(), "[AudioCapture] Failed to start: " + row.cause), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MicrophoneFaultTable,
    ::testing::Values(
        MicrophoneFaultRow{true, "No audio input device: there is no microphone to record from."},
        MicrophoneFaultRow{false, "Audio engine failed to start: device busy"}));

TEST(EtaTextTest, HugeNegativeAndNotANumberEstimatesStayInRange) {
  const std::string longest = ModelLoadController::etaText(ModelLoadController::kLongestEstimate);
  EXPECT_EQ(longest, "16666666m 40s remaining");
  for (const double seconds : {1e19, 1e300, std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(ModelLoadController::etaText(seconds), longest) << seconds;
  }
  for (const double seconds : {-1.0, -1e300, std::nan("")}) {
    EXPECT_EQ(ModelLoadController::etaText(seconds), "0s remaining") << seconds;
  }
  EXPECT_EQ(ModelLoadController::etaText(3725.0), "62m 5s remaining");
}

} // namespace
} // namespace murmurquill
