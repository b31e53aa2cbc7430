// The real microphone road: PortAudio's device list on whatever machine runs the tests (an empty
// list on one with no sound card). Nothing here records.

#include "platform/audio/PortAudioInput.hpp"

#include <gtest/gtest.h>

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

} // namespace
