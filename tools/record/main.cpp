// record: records the default (or a chosen) input device to a 16 kHz mono WAV file for a
// number of seconds, printing the level as it goes; --list-devices lists the input devices.
//
//   record --list-devices
//   record [--device ID] [--seconds N] OUTPUT.wav

#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "platform/audio/AudioFile.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

int usage() {
  std::cerr << "usage: record --list-devices\n"
               "       record [--device ID] [--seconds N] OUTPUT.wav\n";
  return 2;
}

int listDevices() {
  const auto devices = divuvovize::AudioProcessor::getAudioDevices();
  if (devices.empty()) {
    std::cout << "No input devices.\n";
  }
  for (const auto &device : devices) {
    std::cout << device.id << "\t" << (device.name.empty() ? "(unnamed)" : device.name) << "\n";
  }
  return 0;
}

// A bar of the buffer's relative level, e.g. "[#########           ] -23.4 dB".
std::string levelLine(float relative, float rms) {
  const int filled = static_cast<int>(std::lround(relative * 30));
  char decibels[32];
  std::snprintf(decibels, sizeof(decibels), "%6.1f dB",
                rms > 0 ? 20 * std::log10(rms) : -std::numeric_limits<float>::infinity());
  return "[" + std::string(filled, '#') + std::string(30 - filled, ' ') + "] " + decibels;
}

} // namespace

int main(int argc, char **argv) {
  std::optional<divuvovize::DeviceID> device;
  double seconds = 5;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--list-devices") {
      return listDevices();
    }
    if (argument == "--device" && i + 1 < argc) {
      device = static_cast<divuvovize::DeviceID>(std::strtoul(argv[++i], nullptr, 10));
    } else if (argument == "--seconds" && i + 1 < argc) {
      seconds = std::strtod(argv[++i], nullptr);
    } else if (!argument.empty() && argument[0] != '-' && output.empty()) {
      output = argument;
    } else {
      return usage();
    }
  }
  if (output.empty() || !(seconds > 0) || seconds > 24 * 3600) {
    return usage();
  }

  try {
    if (!device && divuvovize::AudioProcessor::getAudioDevices().empty()) {
      std::cerr << "record: no input device to record from\n";
      return 1;
    }
    divuvovize::AudioProcessor processor;
    const auto wanted = static_cast<std::size_t>(seconds * 16000);
    std::mutex mutex;
    std::condition_variable enough;
    std::size_t recorded = 0;
    // Called on the audio thread: print the level, count the samples.
    processor.startRecordingLive(device, [&](const std::vector<float> &buffer) {
      const auto energy = divuvovize::AudioProcessor::calculateEnergy(buffer);
      const float relative = divuvovize::AudioProcessor::calculateRelativeEnergy(buffer);
      std::cout << "\r" << levelLine(relative, energy.avg) << std::flush;
      std::lock_guard lock(mutex);
      recorded += buffer.size();
      enough.notify_all();
    });
    bool complete = false;
    {
      // A device that stops delivering ends the recording a few seconds after its time.
      std::unique_lock lock(mutex);
      complete = enough.wait_for(lock, std::chrono::duration<double>(seconds + 5),
                                 [&] { return recorded >= wanted; });
    }
    processor.stopRecording();
    std::cout << "\n";
    if (!complete) {
      std::cerr << "record: the device stopped delivering audio; keeping what arrived\n";
    }

    auto samples = processor.audioSamples();
    samples.resize(std::min(samples.size(), wanted));
    auto file = platform::AudioFile::createForWriting(output, {});
    auto buffer = platform::PcmBuffer::make(*platform::AudioFormat::standard(16000, 1),
                                            static_cast<std::uint32_t>(samples.size()));
    std::copy(samples.begin(), samples.end(), buffer->floatChannelData(0));
    buffer->setFrameLength(static_cast<std::uint32_t>(samples.size()));
    file->write(*buffer);
    file->close();
    std::cout << "Wrote " << samples.size() << " samples (" << samples.size() / 16000.0 << " s) to "
              << output << "\n";
    return 0;
  } catch (const std::exception &error) {
    std::cerr << "record: " << error.what() << "\n";
    return 1;
  }
}
