#include "app/services/HotkeyMonitor.hpp"

#include "platform/input/InMemoryEventTapService.hpp"
#include "platform/system/ManualExecutor.hpp"
#include "tests/app/AppTestSupport.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace murmurquill {
namespace {

namespace flags = platform::EventFlags;

struct KeyRow {
  HotkeyKey key;
  std::string raw;
  std::int64_t code;
  std::string display;
  std::string spoken;
  std::vector<std::string> caps;
};

class HotkeyKeyTable : public ::testing::TestWithParam<KeyRow> {};

TEST_P(HotkeyKeyTable, EveryKeyNamesItself) {
  const auto &row = GetParam();
  EXPECT_EQ(rawValue(row.key), row.raw);
  EXPECT_EQ(hotkeyKeyFromRawValue(row.raw), row.key);
  EXPECT_EQ(keyCode(row.key), row.code);
  EXPECT_EQ(displayName(row.key), row.display);
  EXPECT_EQ(spokenLabel(row.key), row.spoken);
  EXPECT_EQ(keyCaps(row.key), row.caps);
}

INSTANTIATE_TEST_SUITE_P(
    AllKeys, HotkeyKeyTable,
    ::testing::Values(
        KeyRow{
            HotkeyKey::rightOption, "rightOption", 61, "Right Alt", "the Right Alt key", {"Alt"}},
        KeyRow{HotkeyKey::rightCommand,
               "rightCommand",
               54,
               "Right Super",
               "the Right Super key",
               {"Super"}},
        KeyRow{HotkeyKey::leftOption, "leftOption", 58, "Left Alt", "the Left Alt key", {"Alt"}},
        KeyRow{HotkeyKey::optionZ, "optionZ", 6, "Alt-Z", "Alt-Z", {"Alt", "Z"}},
        KeyRow{HotkeyKey::optionSlash, "optionSlash", 44, "Alt-Slash", "Alt-Slash", {"Alt", "/"}},
        KeyRow{HotkeyKey::optionSpace,
               "optionSpace",
               49,
               "Alt-Space",
               "Alt-Space",
               {"Alt", "Space"}}));

TEST(HotkeyKeyTest, RawValuesMatchExactly) {
  EXPECT_FALSE(hotkeyKeyFromRawValue("RightOption"));
  EXPECT_FALSE(hotkeyKeyFromRawValue("rightoption"));
  EXPECT_FALSE(hotkeyKeyFromRawValue(""));
  EXPECT_EQ(offeredHotkeyKeys.size(), 3u);
  EXPECT_EQ(offeredHotkeyKeys[2], HotkeyKey::leftOption);
}

class HotkeyMonitorTest : public ::testing::Test {
protected:
  void SetUp() override {
    monitor = HotkeyMonitor::make(taps, main, log.sink());
    monitor->onKeyDown = [this] { events.push_back("down"); };
    monitor->onKeyUp = [this] { events.push_back("up"); };
    monitor->onRefineHotkey = [this] { events.push_back("refine"); };
  }

  // Right Option going down and up, as the platform reports it (generic and device bits).
  void pressRightOption() {
    taps->flagsChanged(61, flags::maskAlternate | flags::deviceRightAlternate);
  }
  void releaseRightOption() { taps->flagsChanged(61, 0); }

  std::shared_ptr<platform::InMemoryEventTapService> taps =
      std::make_shared<platform::InMemoryEventTapService>();
  std::shared_ptr<platform::ManualExecutor> main = std::make_shared<platform::ManualExecutor>();
  testing::LogRecorder log;
  std::shared_ptr<HotkeyMonitor> monitor;
  std::vector<std::string> events;
};

TEST_F(HotkeyMonitorTest, StartInstallsOneListenOnlyTapForKeyDownAndFlagsChanged) {
  monitor->start();
  monitor->start();
  EXPECT_TRUE(monitor->isRunning());
  EXPECT_EQ(taps->tapCount(), 1u);
  EXPECT_EQ(taps->enabledTapCount(), 1u);
  EXPECT_EQ(taps->lastOptions().eventMask, 0x1400u);
  EXPECT_TRUE(taps->lastOptions().listenOnly);
  EXPECT_TRUE(taps->lastOptions().headInsert);
  monitor->stop();
  monitor->stop();
  EXPECT_FALSE(monitor->isRunning());
  EXPECT_EQ(taps->tapCount(), 0u);
}

// The refine chord is the app's alone; a lone press of the push-to-talk modifier is masked,
// following the key the user picks, and a chord key (no modifier) masks nothing.
TEST_F(HotkeyMonitorTest, StartReservesTheRefineChordAndMasksThePushToTalkModifier) {
  monitor->start();
  const std::vector<std::pair<std::int64_t, std::uint64_t>> chord{{15, 0x140000}};
  EXPECT_EQ(taps->reservedChords(), chord);
  EXPECT_EQ(taps->maskedModifier(), 61);
  monitor->setKey(HotkeyKey::leftOption);
  EXPECT_EQ(taps->maskedModifier(), 58);
  monitor->setKey(HotkeyKey::optionZ);
  EXPECT_EQ(taps->maskedModifier(), -1);
  EXPECT_TRUE(log.lines().empty());
  monitor->stop();
  EXPECT_TRUE(taps->reservedChords().empty());
}

TEST_F(HotkeyMonitorTest, AChordAnotherProgramHoldsIsLoggedAndStillDelivered) {
  taps->setChordsHeldElsewhere(true);
  monitor->start();
  EXPECT_EQ(log.lines(), std::vector<std::string>{"[HotkeyMonitor] Another program holds the "
                                                  "refine chord \xE2\x80\x94 it reaches that "
                                                  "program too"});
  taps->keyDown(15, 0x140000);
  main->runUntilIdle();
  EXPECT_EQ(events, std::vector<std::string>{"refine"});
}

TEST_F(HotkeyMonitorTest, RefusedTapThrowsThePermissionText) {
  taps->setRefusesTaps(true);
  try {
    monitor->start();
    FAIL() << "start() must throw";
  } catch (const HotkeyMonitor::HotkeyError &error) {
    EXPECT_EQ(error.kind(), HotkeyMonitor::HotkeyError::Kind::eventTapCreationFailed);
    EXPECT_STREQ(error.what(),
                 "Could not create global hotkey listener. Grant Input Monitoring permission in "
                 "System Settings \xE2\x86\x92 Privacy & Security \xE2\x86\x92 Input Monitoring, "
                 "then quit and relaunch Murmurquill.");
  }
  EXPECT_FALSE(monitor->isRunning());
  EXPECT_EQ(taps->tapCount(), 0u);
}

TEST_F(HotkeyMonitorTest, PressAndReleaseDeliverOnlyWhenTheMainQueueRuns) {
  monitor->start();
  pressRightOption();
  EXPECT_TRUE(monitor->isKeyDown());
  EXPECT_TRUE(events.empty()) << "nothing may be called inside the tap callback";
  main->runUntilIdle();
  EXPECT_EQ(events, (std::vector<std::string>{"down"}));
  releaseRightOption();
  EXPECT_EQ(events.size(), 1u);
  main->runUntilIdle();
  EXPECT_EQ(events, (std::vector<std::string>{"down", "up"}));
}

TEST_F(HotkeyMonitorTest, OtherModifiersAreIgnored) {
  monitor->start();
  taps->flagsChanged(55, flags::maskCommand | flags::deviceLeftCommand);     // left Command
  taps->flagsChanged(58, flags::maskAlternate | flags::deviceLeftAlternate); // left Option
  taps->flagsChanged(56, flags::maskShift | flags::deviceLeftShift);
  main->runUntilIdle();
  EXPECT_TRUE(events.empty());
  EXPECT_FALSE(monitor->isKeyDown());
}

TEST_F(HotkeyMonitorTest, StateFollowsTheKeysOwnFlagNotAToggle) {
  monitor->start();
  // The key was held before the monitor started: its release carries no flag of its own, so
  // it is not taken as a press.
  releaseRightOption();
  main->runUntilIdle();
  EXPECT_TRUE(events.empty());
  // Left Option held throughout: the generic Option bit stays set after right Option's release;
  // only the right key's own bit counts.
  taps->flagsChanged(61, flags::maskAlternate | flags::deviceLeftAlternate |
                             flags::deviceRightAlternate);
  taps->flagsChanged(61, flags::maskAlternate | flags::deviceLeftAlternate);
  main->runUntilIdle();
  EXPECT_EQ(events, (std::vector<std::string>{"down", "up"}));
  // A repeated report of the same state delivers nothing.
  releaseRightOption();
  main->runUntilIdle();
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(HotkeyMonitorTest, TapDisabledBySystemIsReEnabledAndEndsAHeldKey) {
  for (const auto notice :
       {platform::EventType::tapDisabledByTimeout, platform::EventType::tapDisabledByUserInput}) {
    events.clear();
    monitor->start();
    pressRightOption();
    main->runUntilIdle();
    taps->disableTaps(notice);
    EXPECT_EQ(taps->enabledTapCount(), 1u);
    EXPECT_FALSE(monitor->isKeyDown());
    main->runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{"down", "up"}));
    // The release was lost while the tap was off; when it arrives now it changes nothing, and
    // the next press is a press.
    releaseRightOption();
    pressRightOption();
    main->runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{"down", "up", "down"}));
    monitor->stop();
  }
  EXPECT_EQ(log.lines().size(), 2u);
}

TEST_F(HotkeyMonitorTest, StopResetsTheHeldState) {
  monitor->start();
  pressRightOption();
  monitor->stop();
  EXPECT_FALSE(monitor->isKeyDown());
}

TEST_F(HotkeyMonitorTest, ChordKeysNeverFirePushToTalk) {
  for (const auto key : {HotkeyKey::optionZ, HotkeyKey::optionSlash, HotkeyKey::optionSpace}) {
    monitor->stop();
    monitor->setKey(key);
    monitor->start();
    taps->flagsChanged(keyCode(key), flags::maskAlternate | flags::deviceLeftAlternate);
    taps->keyDown(keyCode(key), flags::maskAlternate);
    taps->flagsChanged(keyCode(key), 0);
  }
  main->runUntilIdle();
  EXPECT_TRUE(events.empty());
}

TEST_F(HotkeyMonitorTest, OtherKeysFollowTheirOwnFlags) {
  monitor->setKey(HotkeyKey::rightCommand);
  monitor->start();
  taps->flagsChanged(54, flags::maskCommand | flags::deviceRightCommand);
  taps->flagsChanged(54, 0);
  monitor->stop();
  monitor->setKey(HotkeyKey::leftOption);
  monitor->start();
  taps->flagsChanged(58, flags::maskAlternate | flags::deviceLeftAlternate);
  taps->flagsChanged(58, 0);
  main->runUntilIdle();
  EXPECT_EQ(events, (std::vector<std::string>{"down", "up", "down", "up"}));
}

struct ChordRow {
  std::int64_t keyCode;
  std::uint64_t flags;
  bool fires;
};

class RefineChordTable : public HotkeyMonitorTest,
                         public ::testing::WithParamInterface<ChordRow> {};

TEST_P(RefineChordTable, FiresOnlyWithControlAndCommandOnR) {
  const auto &row = GetParam();
  monitor->start();
  taps->keyDown(row.keyCode, row.flags);
  EXPECT_TRUE(events.empty());
  main->runUntilIdle();
  EXPECT_EQ(events, row.fires ? std::vector<std::string>{"refine"} : std::vector<std::string>{});
  EXPECT_FALSE(monitor->isKeyDown());
}

INSTANTIATE_TEST_SUITE_P(
    Chords, RefineChordTable,
    ::testing::Values(ChordRow{15, flags::maskControl | flags::maskCommand, true},
                      ChordRow{15, flags::maskControl | flags::maskCommand | flags::maskShift,
                               true},
                      ChordRow{15,
                               flags::maskControl | flags::maskCommand | flags::maskAlternate |
                                   flags::maskAlphaShift,
                               true},
                      ChordRow{15, flags::maskControl, false},
                      ChordRow{15, flags::maskCommand, false}, ChordRow{15, 0, false},
                      ChordRow{14, flags::maskControl | flags::maskCommand, false},
                      // R is key code 15; 61 is right Option's code, never a refine.
                      ChordRow{61, flags::maskControl | flags::maskCommand, false}));

TEST_F(HotkeyMonitorTest, AutoRepeatedRFiresEachTime) {
  monitor->start();
  for (int i = 0; i < 3; ++i) {
    taps->keyDown(15, flags::maskControl | flags::maskCommand);
  }
  main->runUntilIdle();
  EXPECT_EQ(events.size(), 3u);
}

TEST_F(HotkeyMonitorTest, CallbackIsReadWhenTheQueuedWorkRuns) {
  monitor->start();
  pressRightOption();
  monitor->onKeyDown = [this] { events.push_back("replaced"); };
  main->runUntilIdle();
  EXPECT_EQ(events, (std::vector<std::string>{"replaced"}));
}

TEST_F(HotkeyMonitorTest, DestroyedMonitorDropsQueuedCallbacks) {
  monitor->start();
  pressRightOption();
  monitor.reset();
  EXPECT_EQ(taps->tapCount(), 0u);
  main->runUntilIdle();
  EXPECT_TRUE(events.empty());
}

} // namespace
} // namespace murmurquill
