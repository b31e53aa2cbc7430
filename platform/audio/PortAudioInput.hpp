#pragma once

#include "platform/audio/AudioInputEngine.hpp"

#include <mutex>

namespace platform {

// The machine's microphones through PortAudio (ALSA, and PulseAudio or PipeWire through their
// ALSA plug-ins, JACK). Device ids are PortAudio's device indices. Recording is always
// permitted on Linux. The library is initialised on construction and released on destruction;
// when it cannot be initialised the list is empty and engines fail to start with the reason.
// Thread-safe.
class PortAudioInput : public AudioInputSystem {
public:
  PortAudioInput();
  ~PortAudioInput() override;
  PortAudioInput(const PortAudioInput &) = delete;
  PortAudioInput &operator=(const PortAudioInput &) = delete;

  std::vector<AudioDeviceDescription> devices() override;
  bool requestRecordPermission() override { return true; }
  std::unique_ptr<AudioInputEngine> makeEngine() override;

private:
  class Engine;

  std::mutex mutex_;
  int initError_ = 0; // PortAudio's status of initialisation
};

} // namespace platform
