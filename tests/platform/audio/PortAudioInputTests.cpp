// The real microphone road: PortAudio's device list on whatever machine runs the tests (an empty
// list on one with no sound card). Nothing here records.

#include "platform/audio/PortAudioInput.hpp"

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

TEST(PortAudioInputTest, ListsTheMachinesDevicesAndRefusesToStartWithoutAnInput) {
  platform::PortAudioInput input;
  std::vector<platform::AudioDeviceDescription> devices;
  ASSERT_NO_THROW(devices = input.devices());
  bool anyInput = false;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    EXPECT_EQ(devices[i].id, i);
    EXPECT_GT(devices[i].defaultSampleRate, 0) << devices[i].name;
    anyInput = anyInput || devices[i].inputChannelCount > 0;
  }
  EXPECT_TRUE(input.requestRecordPermission());
  auto engine = input.makeEngine();
  // Ids beyond the list are refused, and the engine stays where it was.
  EXPECT_NE(engine->selectInputDevice(static_cast<std::uint32_t>(devices.size()) + 5), 0);
  if (!anyInput) {
    EXPECT_FALSE(engine->inputFormat().has_value());
    EXPECT_THROW(engine->start(), platform::AudioEngineError);
  }
}

// The sound libraries' own probing failures (ALSA's "ALSA lib ...", JACK's "Cannot connect to
// server ...") must not reach standard error: a machine without a sound card printed 100 lines.
TEST(PortAudioInputTest, TheSoundLibrariesPrintNothingWhileProbing) {
  mqtest::TempDir temp;
  const auto file = temp / "stderr.txt";
  std::fflush(stderr);
  const int saved = dup(2);
  const int captured = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(captured, 0);
  dup2(captured, 2);
  {
    platform::PortAudioInput input;
    (void)input.devices();
    auto engine = input.makeEngine();
    (void)engine->inputFormat();
    try {
      engine->start();
      engine->stop();
    } catch (const platform::AudioEngineError &) {
    }
  }
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(captured);
  const std::string printed = mqtest::TempDir::read(file);
  EXPECT_EQ(printed.find("ALSA lib"), std::string::npos) << printed;
  EXPECT_EQ(printed.find("server"), std::string::npos) << printed;
}

} // namespace
