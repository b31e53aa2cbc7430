// record: records the default (or a chosen) input device to a 16 kHz mono WAV file for a
// number of seconds, printing the level as it goes; --list-devices lists the input devices.
//
//   record --list-devices
//   record [--device ID] [--seconds N] OUTPUT.wav

#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "platform/audio/AudioFile.hpp"
#include "tools/arguments/ArgumentParser.hpp"

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

using murmurquill::ArgumentParser;

std::string deviceList(const std::vector<divuvovize::AudioDevice> &devices) {
  if (devices.empty()) {
    return "No input devices.\n";
  }
  std::string list;
  for (const auto &device : devices) {
    list +=
        std::to_string(device.id) + "\t" + (device.name.empty() ? "(unnamed)" : device.name) + "\n";
  }
  return list;
}

// A bar of the buffer's relative level, e.g. "[#########           ] -23.4 dB".
std::string levelLine(float relative, float rms) {
  const int filled = static_cast<int>(std::lround(relative * 30));
  char decibels[32];
  std::snprintf(decibels, sizeof(decibels), "%6.1f dB",
                rms > 0 ? 20 * std::log10(rms) : -std::numeric_limits<float>::infinity());
  return "[" + std::string(filled, '#') + std::string(30 - filled, ' ') + "] " + decibels;
}

struct Arguments {
  bool listDevices = false;
  std::optional<std::string> device;
  double seconds = 5;
  std::vector<std::string> outputs;
};

ArgumentParser makeParser(Arguments &arguments) {
  ArgumentParser parser("record",
                        {"record --list-devices", "record [--device ID] [--seconds N] OUTPUT.wav"},
                        "Records an input device to a 16 kHz mono WAV file, printing the level\n"
                        "as it goes.");
  parser.positional("OUTPUT.wav", "the file to write (replaced when it exists)");
  parser.flag("--list-devices", "list the input devices (ID and name) and exit",
              [&arguments] { arguments.listDevices = true; });
  parser.option("--device", "ID",
                "the input device to record from, by the ID --list-devices shows\n"
                "(default: the system's default input)",
                [&arguments](const std::string &value) -> std::optional<std::string> {
                  arguments.device = value;
                  return std::nullopt;
                });
  parser.option("--seconds", "N",
                "how long to record, in seconds, above 0 and up to a day (default 5)",
                [&arguments](const std::string &value) -> std::optional<std::string> {
                  char *end = nullptr;
                  const double seconds = std::strtod(value.c_str(), &end);
                  if (value.empty() || *end != '\0' || !(seconds > 0) || seconds > 24 * 3600) {
                    return "not a number of seconds above 0 and up to 86400";
                  }
                  arguments.seconds = seconds;
                  return std::nullopt;
                });
  parser.note("Exit status: 0 recorded; 1 the device could not record; 2 wrong command line or\n"
              "an unknown device.");
  return parser;
}

// The device the user named, when it is one of the input devices; else the error is printed.
std::optional<divuvovize::DeviceID> chosenDevice(const std::string &text) {
  const auto devices = divuvovize::AudioProcessor::getAudioDevices();
  const auto id = murmurquill::parseWholeNumber(text, 0, std::numeric_limits<std::uint32_t>::max());
  if (id && std::any_of(devices.begin(), devices.end(),
                        [&](const auto &device) { return device.id == *id; })) {
    return static_cast<divuvovize::DeviceID>(*id);
  }
  std::cerr << "record: --device " << text << ": not the ID of an input device; input devices:\n"
            << deviceList(devices);
  return std::nullopt;
}

} // namespace

int main(int argc, char **argv) {
  Arguments arguments;
  const ArgumentParser parser = makeParser(arguments);
  const auto outcome = parser.parse(argc, argv, arguments.outputs, std::cout, std::cerr);
  if (outcome != ArgumentParser::Outcome::run) {
    return murmurquill::exitStatus(outcome);
  }
  if (arguments.listDevices) {
    std::cout << deviceList(divuvovize::AudioProcessor::getAudioDevices());
    return 0;
  }
  if (arguments.outputs.size() != 1) {
    parser.refuse(arguments.outputs.empty() ? "no output file given" : "more than one output file",
                  std::cerr);
    return 2;
  }
  const std::string output = arguments.outputs.front();
  const double seconds = arguments.seconds;
  std::optional<divuvovize::DeviceID> device;
  if (arguments.device) {
    device = chosenDevice(*arguments.device);
    if (!device) {
      return 2;
    }
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
