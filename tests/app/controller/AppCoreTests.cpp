#include "app/controller/AppCore.hpp"
#include "app/support/ByteCountFormatting.hpp"

#include "tests/app/controller/AppCoreFixture.hpp"

#include <gtest/gtest.h>

namespace murmurquill {
namespace {

using namespace std::chrono_literals;
using HK = HUDMode::Kind;
namespace flags = platform::EventFlags;
using testing::AppCoreTest;
using testing::HeldExecutor;

TEST_F(AppCoreTest, FirstLaunchHasDefaultsAndDoesNotStartTheMonitor) {
  settings->remove("onboardingComplete");
  makeCore();
  EXPECT_TRUE(core->refine().refineEnabled());
  EXPECT_EQ(core->permissions().hotkeyKey(), HotkeyKey::rightOption);
  EXPECT_FALSE(core->permissions().hotkeyPermitted());
  EXPECT_FALSE(core->hotkey().isRunning());
  EXPECT_EQ(core->modelLoad().modelStatus(), "Loading Whisper model\xE2\x80\xA6");
  EXPECT_EQ(core->permissions().micStatus(), platform::AuthorizationStatus::authorized);
  EXPECT_TRUE(core->permissions().accessibilityGranted());
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"[AudioCapture] Engine prewarmed"}));
  EXPECT_TRUE(speech->downloads.empty()) << "the load runs after construction returns";
  main->runUntilIdle();
  EXPECT_TRUE(core->modelLoad().isModelReady());
  core->permissions().refreshPermissions();
  EXPECT_EQ(log.lines().size(), 2u) << "prewarmed once only";
}

TEST_F(AppCoreTest, SettingsAreReadAndSavedOnEveryAssignment) {
  settings->setBool("refineEnabled", false);
  settings->setString("selectedHotkeyKey", "leftOption");
  makeCore();
  EXPECT_FALSE(core->refine().refineEnabled());
  EXPECT_EQ(core->permissions().hotkeyKey(), HotkeyKey::leftOption);
  EXPECT_EQ(core->hotkey().key(), HotkeyKey::leftOption);
  const auto writes = settings->writeCount("selectedHotkeyKey");
  core->permissions().setHotkeyKey(HotkeyKey::leftOption);
  EXPECT_EQ(settings->writeCount("selectedHotkeyKey"), writes + 1);
  core->permissions().setHotkeyKey(HotkeyKey::rightCommand);
  EXPECT_EQ(settings->stringValue("selectedHotkeyKey"), "rightCommand");
  EXPECT_EQ(core->hotkey().key(), HotkeyKey::rightCommand);
  EXPECT_TRUE(core->hotkey().isRunning());
  core->refine().setRefineEnabled(true);
  EXPECT_EQ(settings->boolValue("refineEnabled"), true);

  for (const std::string raw : {"optionSpace", "optionZ", "RightCommand", ""}) {
    settings->setString("selectedHotkeyKey", raw);
    EXPECT_EQ(PermissionsSettings::loadSavedHotkeyKey(*settings), HotkeyKey::rightOption) << raw;
  }
}

// The settings file keeps only the listed keys, so a key missing from the list would be lost at
// the next start.
TEST_F(AppCoreTest, EveryKeyTheAppWritesIsOneTheSettingsFileKeeps) {
  makeCore();
  core->permissions().setHotkeyKey(HotkeyKey::leftOption);
  core->refine().setRefineEnabled(false);
  core->permissions().setOnboardingComplete(true);
  core->permissions().setResumePage(2);
  const auto written = settings->writtenKeys();
  const auto kept = AppCore::settingsKeys();
  EXPECT_EQ(written.size(), 4u);
  for (const auto &key : written) {
    EXPECT_EQ(kept.count(key), 1u) << key;
  }
}

TEST_F(AppCoreTest, ARefusedTapIsLoggedAndLeavesInputMonitoringOff) {
  taps->setRefusesTaps(true);
  makeCore();
  EXPECT_FALSE(core->permissions().inputMonitoringGranted());
  EXPECT_EQ(log.lines().at(1),
            "[HotkeyMonitor] Failed to start: Could not create global hotkey listener. Grant "
            "Input Monitoring permission in System Settings \xE2\x86\x92 Privacy & Security "
            "\xE2\x86\x92 Input Monitoring, then quit and relaunch Murmurquill.");
  taps->setRefusesTaps(false);
  core->permissions().startHotkey();
  EXPECT_TRUE(core->permissions().inputMonitoringGranted());
}

TEST_F(AppCoreTest, PermissionRequestsAndRefreshes) {
  micAuth->setStatus(platform::AuthorizationStatus::notDetermined);
  micAuth->setAnswer(false);
  poster->setCanPostEvents(false);
  makeCore();
  EXPECT_EQ(core->permissions().micStatus(), platform::AuthorizationStatus::notDetermined);
  EXPECT_FALSE(core->permissions().accessibilityGranted());
  bool done = false;
  core->permissions().requestMicrophoneAccess([&] { done = true; });
  EXPECT_FALSE(done) << "the answer comes back on the main executor";
  main->runUntilIdle();
  EXPECT_TRUE(done);
  EXPECT_EQ(core->permissions().micStatus(), platform::AuthorizationStatus::denied);
  const auto lines = log.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "[AudioCapture] Mic denied"), lines.end());

  core->permissions().requestAccessibility();
  EXPECT_EQ(accessibility->promptCount(), 1u);
  accessibility->setTrusted(true);
  micAuth->setStatus(platform::AuthorizationStatus::authorized);
  core->applicationDidBecomeActive();
  EXPECT_FALSE(core->permissions().accessibilityGranted());
  main->runUntilIdle();
  EXPECT_TRUE(core->permissions().accessibilityGranted());
  EXPECT_EQ(core->permissions().micStatus(), platform::AuthorizationStatus::authorized);
  EXPECT_TRUE(core->audio().isPrewarmed());
  core->permissions().requestAccessibility();
  EXPECT_EQ(accessibility->promptCount(), 1u) << "no prompt once granted";
}

TEST_F(AppCoreTest, ObserversHearOnlyRealChanges) {
  makeCore();
  std::vector<AppChange> changes;
  core->changes().listener = [&](AppChange change) { changes.push_back(change); };
  core->refine().setRefineEnabled(true);
  core->modelLoad().noteUserWaitingForModel();
  core->modelLoad().noteUserWaitingForModel();
  core->refine().setRefineEnabled(false);
  EXPECT_EQ(changes,
            (std::vector<AppChange>{AppChange::userIsWaitingForModel, AppChange::refineEnabled}));
  EXPECT_EQ(settings->writeCount("refineEnabled"), 2u) << "saved on every assignment";
  main->runUntilIdle();
  changes.clear();
  core->modelLoad().noteUserWaitingForModel();
  EXPECT_TRUE(changes.empty()) << "nobody waits for a model that is ready";
}

TEST_F(AppCoreTest, DictationTimelineLogsEachStepAndTypesTheText) {
  pasteboard->externalWrite({{platform::Pasteboard::plainTextType, "before"}});
  launch();
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"[AudioCapture] Engine prewarmed",
                                      "[HotkeyMonitor] Started \xE2\x80\x94 hotkey Right Alt",
                                      "[TranscriptionEngine] Model loaded in 0.00s"}));
  EXPECT_EQ(core->modelLoad().modelStatus(), "Model ready \xE2\x80\x94 loaded in 0.0s");
  const auto first = log.lines().size();
  languageModel->addResponse({{"unused"}, {}});
  dictate(16000);
  EXPECT_EQ(linesSince(first),
            (std::vector<std::string>{"[AudioCapture] Recording started",
                                      "[TranscriptionEngine] \xE2\x86\x92 \"Hello world.\"",
                                      "[TextInjector] Pasted 12 chars"}));
  EXPECT_EQ(pasteboard->string(), "Hello world.");
  EXPECT_EQ(poster->posts().size(), 2u);
  main->advance(150ms);
  EXPECT_EQ(pasteboard->string(), "before");
  EXPECT_EQ(core->refine().lastInjectedText(), "Hello world.");
  EXPECT_EQ(core->refine().lastInjectedAppPID(), 4242);
  EXPECT_FALSE(core->dictation().isRecording());
  EXPECT_FALSE(core->dictation().isTranscribing());
  EXPECT_EQ(hud->shown,
            (std::vector<HUDMode>{HUDMode::of(HK::recording), HUDMode::of(HK::hidden)}));
  EXPECT_EQ(languageModel->sessionCount(), 1u) << "recording prewarms the clean-up session";
}

TEST_F(AppCoreTest, TakesUnderATenthOfASecondGiveAnEmptyTextAndKeepTheLastInsertion) {
  launch();
  dictate(16000);
  const auto first = log.lines().size();
  dictate(1599);
  EXPECT_EQ(linesSince(first),
            (std::vector<std::string>{"[AudioCapture] Recording started",
                                      "[TranscriptionEngine] \xE2\x86\x92 \"\""}));
  EXPECT_EQ(speech->engine->takes, (std::vector<std::size_t>{16000}));
  EXPECT_EQ(core->refine().lastInjectedText(), "Hello world.");
  dictate(1600);
  EXPECT_EQ(speech->engine->takes, (std::vector<std::size_t>{16000, 1600}));
}

TEST_F(AppCoreTest, AnEmptyTakeHidesTheHud) {
  launch();
  const auto first = log.lines().size();
  dictate(0);
  EXPECT_EQ(linesSince(first), (std::vector<std::string>{"[AudioCapture] Recording started",
                                                         "[AudioCapture] No samples (too short)"}));
  EXPECT_EQ(hud->mode(), HUDMode::of(HK::hidden));
}

TEST_F(AppCoreTest, RefusedPressesShowTransientMessages) {
  micAuth->setStatus(platform::AuthorizationStatus::denied);
  launch();
  const auto first = log.lines().size();
  dictate(16000);
  EXPECT_EQ(linesSince(first),
            (std::vector<std::string>{
                "[AudioCapture] Hotkey pressed without microphone access (status: 2)"}));
  EXPECT_EQ(hud->mode(), HUDMode::of(HK::micDenied));
  // A second refusal 1 s later keeps its full 3.5 s: the first timer never hides it.
  main->advance(1s);
  press();
  main->runUntilIdle();
  main->advance(3499ms);
  EXPECT_EQ(hud->mode(), HUDMode::of(HK::micDenied));
  main->advance(1ms);
  EXPECT_EQ(hud->mode(), HUDMode::of(HK::hidden));

  release();
  micAuth->setStatus(platform::AuthorizationStatus::authorized);
  core->permissions().refreshPermissions();
  poster->setCanPostEvents(false);
  const auto second = log.lines().size();
  press();
  main->runUntilIdle();
  EXPECT_EQ(linesSince(second),
            (std::vector<std::string>{
                "[TextInjector] Hotkey pressed without permission to type at the cursor"}));
  EXPECT_EQ(hud->mode(), HUDMode::of(HK::injectionDenied));
  EXPECT_FALSE(core->dictation().isRecording());
}

TEST_F(AppCoreTest, APressBeforeTheModelIsReadyAnnouncesReadinessLater) {
  engineWorker = std::make_shared<HeldExecutor>();
  auto &held = static_cast<HeldExecutor &>(*engineWorker);
  speech->reports = {{0.5, 3, 10, 20.0}};
  launch();
  press();
  main->runUntilIdle();
  EXPECT_EQ(log.lines().back(), "[TranscriptionEngine] Hotkey pressed before model ready "
                                "\xE2\x80\x94 Checking for Whisper model\xE2\x80\xA6");
  EXPECT_EQ(hud->mode(), HUDMode::of(HK::notReady));
  EXPECT_TRUE(core->modelLoad().userIsWaitingForModel());
  main->advance(2500ms);
  EXPECT_EQ(hud->mode(), HUDMode::of(HK::hidden));
  release();
  // A retry while the load runs joins it: one download only.
  core->modelLoad().loadModel();
  held.run(0);
  EXPECT_TRUE(held.held.empty());
  EXPECT_EQ(speech->downloads.size(), 1u);
  main->runUntilIdle();
  EXPECT_TRUE(core->modelLoad().isModelReady());
  EXPECT_EQ(hud->mode(), HUDMode::ready("Right Alt"));
  main->advance(2999ms);
  EXPECT_EQ(hud->mode(), HUDMode::ready("Right Alt"));
  main->advance(1ms);
  EXPECT_EQ(hud->mode(), HUDMode::of(HK::hidden));
  EXPECT_FALSE(core->modelLoad().userIsWaitingForModel());
}

struct PhaseRow {
  TranscriptionEngine::LoadingPhase phase;
  std::string status;
  std::optional<double> progress;
  std::optional<std::string> detail;
};

class LoadPhaseTable : public AppCoreTest, public ::testing::WithParamInterface<PhaseRow> {};

TEST_P(LoadPhaseTable, DownloadStatusTexts) {
  settings->remove("onboardingComplete");
  makeCore();
  core->modelLoad().apply(
      TranscriptionEngine::LoadingPhase::of(TranscriptionEngine::LoadingPhase::Kind::preparing));
  core->modelLoad().apply(GetParam().phase);
  EXPECT_EQ(core->modelLoad().modelStatus(), GetParam().status);
  EXPECT_EQ(core->modelLoad().loadProgress(), GetParam().progress);
  EXPECT_EQ(core->modelLoad().loadDetailText(), GetParam().detail);
}

using Phase = TranscriptionEngine::LoadingPhase;
using PK = Phase::Kind;
INSTANTIATE_TEST_SUITE_P(
    Phases, LoadPhaseTable,
    ::testing::Values(PhaseRow{{PK::downloading, 0.5, 3, 10, 20.0},
                               "Downloading the speech model",
                               0.5,
                               "file 4 of 10 \xC2\xB7 20s remaining"},
                      PhaseRow{{PK::downloading, 0.25, 100000000, 400000000, std::nullopt},
                               "Downloading the speech model",
                               0.25,
                               "100 MB of 400 MB"},
                      PhaseRow{{PK::downloading, 0.0, 0, 0, std::nullopt},
                               "Downloading the speech model",
                               0.0,
                               std::nullopt},
                      PhaseRow{{PK::downloading, 1.0, 10, 10, 0.0},
                               "Downloading the speech model",
                               1.0,
                               "file 10 of 10"},
                      PhaseRow{{PK::downloading, 0.1, 0, 0, 3725.0},
                               "Downloading the speech model",
                               0.1,
                               "62m 5s remaining"},
                      PhaseRow{
                          {PK::downloading, 0.1, 0, 0, std::numeric_limits<double>::infinity()},
                          "Downloading the speech model",
                          0.1,
                          std::nullopt},
                      PhaseRow{Phase::of(PK::initializing), "Preparing the speech model",
                               std::nullopt, std::nullopt},
                      PhaseRow{Phase::of(PK::ready), "Model ready", 1.0, std::nullopt}));

TEST_F(AppCoreTest, PhasesNeverMoveTheStatusBackwards) {
  settings->remove("onboardingComplete");
  makeCore();
  core->modelLoad().apply(Phase::of(PK::initializing));
  EXPECT_TRUE(core->modelLoad().modelInitStartedAt());
  core->modelLoad().apply({PK::downloading, 0.9, 9, 10, 1.0});
  EXPECT_EQ(core->modelLoad().modelStatus(), "Preparing the speech model");
  core->modelLoad().apply(Phase::of(PK::ready));
  core->modelLoad().apply(Phase::of(PK::preparing));
  EXPECT_EQ(core->modelLoad().modelStatus(), "Model ready");
  EXPECT_FALSE(core->modelLoad().modelInitStartedAt());
  EXPECT_EQ(ModelLoadController::etaText(59.9), "59s remaining");
  EXPECT_EQ(ModelLoadController::etaText(60.0), "1m 0s remaining");
  EXPECT_EQ(ModelLoadController::etaText(125.7), "2m 5s remaining");
}

TEST_F(AppCoreTest, AFailedLoadShowsDownloadFailedAndKeepsRefusing) {
  speech->buildError = "no TextDecoder";
  launch();
  EXPECT_EQ(core->modelLoad().modelStatus(), "Download failed");
  EXPECT_TRUE(core->modelLoad().isModelLoadFailed());
  EXPECT_FALSE(core->modelLoad().isModelReady());
  EXPECT_FALSE(core->modelLoad().loadProgress());
  EXPECT_EQ(log.lines().back(),
            "[TranscriptionEngine] Load failed: Failed to load Whisper model: no TextDecoder");
  speech->buildError.reset();
  core->modelLoad().loadModel();
  main->runUntilIdle();
  EXPECT_TRUE(core->modelLoad().isModelReady());
  EXPECT_FALSE(core->modelLoad().isModelLoadFailed());
}

TEST_F(AppCoreTest, OverlappingTranscriptionsInsertInTakeOrder) {
  engineWorker = std::make_shared<HeldExecutor>();
  auto &held = static_cast<HeldExecutor &>(*engineWorker);
  launch();
  held.run(0); // the model load
  main->runUntilIdle();
  ASSERT_TRUE(core->modelLoad().isModelReady());
  speech->engine->textForTake = [](std::size_t n) { return "take of " + std::to_string(n); };
  dictate(16000);
  dictate(32000);
  ASSERT_EQ(held.held.size(), 2u);
  const auto first = log.lines().size();
  held.run(1); // the later take finishes first
  main->runUntilIdle();
  EXPECT_EQ(linesSince(first).size(), 0u);
  held.run(0);
  main->runUntilIdle();
  EXPECT_EQ(linesSince(first),
            (std::vector<std::string>{"[TranscriptionEngine] \xE2\x86\x92 \"take of 16000\"",
                                      "[TextInjector] Pasted 13 chars",
                                      "[TranscriptionEngine] \xE2\x86\x92 \"take of 32000\"",
                                      "[TextInjector] Pasted 13 chars"}));
  EXPECT_EQ(core->refine().lastInjectedText(), "take of 32000");
}

// What becomes of a transcribed text for each answer of the injector: only a refusal for want
// of permission shows the permission message; a paste that failed hides the HUD.
struct InjectCase {
  const char *name;
  std::function<void(AppCoreTest &)> breakInjection; // after key down, before the text is back
  std::vector<std::string> lines;                    // after "[TranscriptionEngine] → ..."
  HK hudAfter;                                       // at once, and 3.5 s later
  HK hudLater;
  bool remembered;
};

class InjectOutcomeTable : public AppCoreTest, public ::testing::WithParamInterface<InjectCase> {};

TEST_P(InjectOutcomeTable, OnlyARefusalShowsThePermissionMessage) {
  const InjectCase &c = GetParam();
  launch();
  speech->engine->textForTake = [](std::size_t n) {
    return n == 16000 ? "First take." : "Second take.";
  };
  dictate(16000);
  ASSERT_EQ(core->refine().lastInjectedText(), "First take.");
  main->advance(1s);
  press();
  main->runUntilIdle();
  auto buffer = platform::PcmBuffer::make(*platform::AudioFormat::standard(16000, 1), 2000);
  buffer->setFrameLength(2000);
  microphone->push(*buffer);
  c.breakInjection(*this);
  const auto first = log.lines().size();
  release();
  main->runUntilIdle();
  std::vector<std::string> expected{"[TranscriptionEngine] \xE2\x86\x92 \"Second take.\""};
  expected.insert(expected.end(), c.lines.begin(), c.lines.end());
  EXPECT_EQ(linesSince(first), expected);
  EXPECT_EQ(hud->mode(), HUDMode::of(c.hudAfter));
  EXPECT_FALSE(core->dictation().isTranscribing());
  EXPECT_EQ(core->refine().lastInjectedText(), c.remembered ? "Second take." : "First take.");
  main->advance(3500ms);
  EXPECT_EQ(hud->mode(), HUDMode::of(c.hudLater));
  const bool deniedShown = std::find(hud->shown.begin(), hud->shown.end(),
                                     HUDMode::of(HK::injectionDenied)) != hud->shown.end();
  EXPECT_EQ(deniedShown, c.hudAfter == HK::injectionDenied);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, InjectOutcomeTable,
    ::testing::Values(
        InjectCase{"injected",
                   [](AppCoreTest &) {},
                   {"[TextInjector] Pasted 12 chars"},
                   HK::hidden,
                   HK::hidden,
                   true},
        InjectCase{"notPermitted",
                   [](AppCoreTest &t) { t.poster->setCanPostEvents(false); },
                   {"[TextInjector] PostEvent not granted \xE2\x80\x94 skipping injection",
                    "[TextInjector] No permission to type at the cursor"},
                   HK::injectionDenied,
                   HK::hidden,
                   false},
        InjectCase{"pasteboardWriteFailed",
                   [](AppCoreTest &t) { t.pasteboard->failWritesFrom(0); },
                   {"[TextInjector] Could not write the pasteboard \xE2\x80\x94 skipping injection",
                    "[TextInjector] Could not type at the cursor"},
                   HK::hidden,
                   HK::hidden,
                   false},
        InjectCase{"keystrokeNotPosted",
                   [](AppCoreTest &t) { t.poster->failPostsFrom(t.poster->attemptCount()); },
                   {"[TextInjector] Could not post the paste keystroke",
                    "[TextInjector] Could not type at the cursor"},
                   HK::hidden,
                   HK::hidden,
                   false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(AppCoreTest, ATakeAtItsLengthCapEndsByItself) {
  captureOptions.maxTakeSeconds = 0.5;
  launch();
  press();
  main->runUntilIdle();
  auto buffer = platform::PcmBuffer::make(*platform::AudioFormat::standard(16000, 1), 16000);
  buffer->setFrameLength(16000);
  microphone->push(*buffer);
  main->runUntilIdle();
  EXPECT_FALSE(core->dictation().isRecording());
  EXPECT_EQ(speech->engine->takes, (std::vector<std::size_t>{8000}));
  release();
  main->runUntilIdle();
  EXPECT_EQ(speech->engine->takes.size(), 1u);
}

class RefineTest : public AppCoreTest {
protected:
  void chord() {
    taps->keyDown(15, flags::maskControl | flags::maskCommand);
    main->runUntilIdle();
  }
};

TEST_F(RefineTest, TheWindowIsTwentyNineSecondsNotThirty) {
  languageModel->setAvailability(platform::LanguageModelAvailability::notEnabled);
  launch();
  speech->engine->texts = {"um hello comma world"};
  dictate(16000);
  main->advance(29999ms);
  chord();
  EXPECT_EQ(panel->current, 1u);
  EXPECT_FALSE(panel->loading) << "the rule-based result shows at once";
  EXPECT_EQ(panel->text, "Hello, world");
  EXPECT_FALSE(core->refine().lastInjectedText());
  chord();
  EXPECT_EQ(panel->current, 1u) << "a second chord does nothing";

  dictate(16000);
  main->advance(30s);
  chord();
  EXPECT_EQ(panel->current, 1u);
  EXPECT_EQ(core->refine().lastInjectedText(), "um hello comma world") << "an expired text stays";
}

TEST_F(RefineTest, DisabledRefineKeepsTheText) {
  launch();
  dictate(16000);
  core->refine().setRefineEnabled(false);
  chord();
  EXPECT_EQ(panel->current, 0u);
  core->refine().setRefineEnabled(true);
  chord();
  EXPECT_EQ(panel->current, 1u);
}

TEST_F(RefineTest, TheLanguageModelAnswersAndFallsBackOnError) {
  launch();
  languageModel->addResponse({{"Sure, Hello world!"}, {}});
  dictate(16000);
  chord();
  EXPECT_EQ(panel->text, "Hello world!");
  EXPECT_EQ(languageModel->prompts(), (std::vector<std::string>{"Hello world."}));

  languageModel->addResponse({{}, "context window exceeded"});
  speech->engine->texts = {"yes comma please"};
  dictate(16000);
  chord();
  EXPECT_EQ(panel->text, "Yes, please");
  EXPECT_EQ(log.lines().back(),
            "[AICleanup] FM failed, falling back to Layer 1: context window exceeded");
}

TEST_F(RefineTest, AStaleResultNeverLandsInANewerPanel) {
  languageWorker = std::make_shared<HeldExecutor>();
  auto &held = static_cast<HeldExecutor &>(*languageWorker);
  launch();
  languageModel->addResponse({{"First."}, {}});
  languageModel->addResponse({{"Second."}, {}});
  dictate(16000);
  chord();
  EXPECT_TRUE(panel->loading);
  dictate(16000);
  chord();
  EXPECT_EQ(panel->current, 2u);
  held.run(0);
  main->runUntilIdle();
  EXPECT_TRUE(panel->loading) << "the first refine's answer is not shown in the second panel";
  held.run(0);
  main->runUntilIdle();
  EXPECT_EQ(panel->text, "Second.");
  EXPECT_EQ(panel->results, (std::vector<std::pair<std::string, RefinePresenter::PanelToken>>{
                                {"First.", 1}, {"Second.", 2}}));
}

TEST_F(RefineTest, ApplyActivatesTheTargetAndReplacesCopyPutsTheText) {
  languageModel->setAvailability(platform::LanguageModelAvailability::notEnabled);
  workspace->setFrontmost(777);
  launch();
  dictate(16000);
  main->advance(1s);
  workspace->setFrontmost(555);
  chord();
  ASSERT_TRUE(panel->onApply);
  EXPECT_TRUE(panel->onApply("Hello there."));
  EXPECT_EQ(workspace->activations(), (std::vector<platform::ProcessId>{777}));
  EXPECT_EQ(log.lines().back(), "[TextInjector] Replaced via undo + re-inject");
  panel->onCopy("Copied.");
  EXPECT_EQ(pasteboard->contents(),
            (platform::PasteboardContents{{platform::Pasteboard::plainTextType, "Copied."}}));
  poster->setCanPostEvents(false);
  EXPECT_FALSE(panel->onApply("Hello there."));
  core.reset();
  EXPECT_FALSE(panel->onApply("Hello there."));
}

} // namespace
} // namespace murmurquill

namespace murmurquill {
namespace {

TEST(ByteCountTextTest, FileSizeStyle) {
  const std::vector<std::pair<std::int64_t, std::string>> cases{
      {0, "0 bytes"},          {1, "1 byte"},          {999, "999 bytes"},  {1000, "1 KB"},
      {12345, "12 KB"},        {999999, "1 MB"},       {1500000, "1.5 MB"}, {100000000, "100 MB"},
      {2345000000, "2.35 GB"}, {1000000000000, "1 TB"}};
  for (const auto &[bytes, text] : cases) {
    EXPECT_EQ(byteCountText(bytes), text) << bytes;
  }
}

} // namespace
} // namespace murmurquill
