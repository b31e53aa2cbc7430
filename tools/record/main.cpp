// record: records the default (or a chosen) input device to a 16 kHz mono WAV file for a
// number of seconds, printing the level as it goes; --list-devices lists the input devices.
//
//   record --list-devices
//   record [--device ID] [--seconds N] OUTPUT.wav
//
// Control-C stops early and keeps what was recorded; a second Control-C quits at once.

#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/system/AtomicFileWriter.hpp"
#include "tools/arguments/ArgumentParser.hpp"
#include "tools/record/TakeRecorder.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
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
  parser.positional("OUTPUT.wav",
                    "the WAV file to write, named .wav (replaced once the take is written;\n"
                    "its folder is checked before recording)");
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
  parser.note("Control-C stops early and keeps what was recorded; a second one quits at once.");
  parser.note("Exit status: 0 recorded (also when stopped early by Control-C); 1 the device\n"
              "could not record, or stopped delivering or stopping (what arrived is kept); 2\n"
              "wrong command line, an unknown device or an output file that cannot be written.");
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

// Why the take cannot be written to `output`, in words; nothing when it can. Checked before
// recording, so a bad path does not cost the take.
std::optional<std::string> outputProblem(const std::string &output) {
  namespace fs = std::filesystem;
  if (output.empty()) {
    return "an empty path is not a file name";
  }
  std::string extension = fs::path(output).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension != ".wav") {
    return "record writes WAV files only; give the file the extension .wav";
  }
  std::error_code error;
  if (fs::is_directory(output, error)) {
    return "is a directory";
  }
  const fs::path parent = fs::path(output).parent_path();
  const std::string folder = parent.empty() ? "." : parent.string();
  if (!fs::is_directory(folder, error)) {
    return "no such folder: " + folder;
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return "cannot write in " + folder + ": " + std::strerror(errno);
  }
  if (::access(output.c_str(), F_OK) == 0 && ::access(output.c_str(), W_OK) != 0) {
    return std::strerror(errno);
  }
  return std::nullopt;
}

// Control-C, caught on a thread of its own while every other thread blocks it (they are all
// started after it). Before a take it quits; during one the first asks the recorder to stop
// early and a second quits at once.
class InterruptWatch {
public:
  InterruptWatch() {
    sigset_t set = signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] { watch(); });
  }
  ~InterruptWatch() {
    finished_ = true;
    pthread_kill(thread_.native_handle(), SIGINT);
    thread_.join();
  }
  InterruptWatch(const InterruptWatch &) = delete;
  InterruptWatch &operator=(const InterruptWatch &) = delete;

  // The recorder the first Control-C stops; nothing: Control-C quits.
  void watch(std::shared_ptr<murmurquill::TakeRecorder> recorder) {
    std::lock_guard lock(mutex_);
    recorder_ = std::move(recorder);
  }

private:
  static sigset_t signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
  }
  void watch() {
    const sigset_t set = signals();
    bool interrupted = false;
    for (int signal = 0; sigwait(&set, &signal) == 0 && !finished_;) {
      std::shared_ptr<murmurquill::TakeRecorder> recorder;
      {
        std::lock_guard lock(mutex_);
        recorder = recorder_;
      }
      if (!recorder || interrupted) {
        std::_Exit(128 + signal);
      }
      interrupted = true;
      recorder->interrupt();
    }
  }

  std::atomic<bool> finished_{false};
  std::mutex mutex_;
  std::shared_ptr<murmurquill::TakeRecorder> recorder_;
  std::thread thread_;
};

void writeTake(const std::string &output, const std::vector<float> &samples) {
  // Written beside the output and renamed over it, so a failed write keeps an earlier file.
  platform::AtomicFileWriter take(output);
  {
    auto file = platform::AudioFile::createForWriting(take.temporaryPath(), {});
    auto buffer = platform::PcmBuffer::make(*platform::AudioFormat::standard(16000, 1),
                                            static_cast<std::uint32_t>(samples.size()));
    std::copy(samples.begin(), samples.end(), buffer->floatChannelData(0));
    buffer->setFrameLength(static_cast<std::uint32_t>(samples.size()));
    file->write(*buffer);
    file->close();
  }
  take.commit();
}

// A device that stops delivering ends the take this long after its time; one that does not
// stop is left behind after this long.
constexpr auto kDeliveryGrace = std::chrono::seconds(5);
constexpr auto kStopBound = std::chrono::seconds(2);

int record(InterruptWatch &interrupts, const std::string &output, double seconds,
           std::optional<divuvovize::DeviceID> device) {
  const auto wanted = static_cast<std::size_t>(seconds * 16000);
  const auto shared = std::make_shared<murmurquill::TakeRecorder>(nullptr, wanted);
  murmurquill::TakeRecorder &recorder = *shared;
  interrupts.watch(shared);
  // Called on the audio thread.
  recorder.start(device, [](const std::vector<float> &buffer) {
    const auto energy = divuvovize::AudioProcessor::calculateEnergy(buffer);
    const float relative = divuvovize::AudioProcessor::calculateRelativeEnergy(buffer);
    std::cout << "\r" << levelLine(relative, energy.avg) << std::flush;
  });
  const auto ending =
      recorder.waitForEnd(std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds)) +
                          kDeliveryGrace);
  const bool stopped = recorder.stop(kStopBound);
  const auto samples = recorder.samples();
  std::cout << "\n";
  writeTake(output, samples);
  const double kept = static_cast<double>(samples.size()) / 16000.0;
  std::cout << "Wrote " << samples.size() << " samples (" << kept << " s) to " << output << "\n";
  int status = 0;
  if (ending == murmurquill::TakeEnding::interrupted) {
    std::cout << "Stopped by Control-C after " << kept << " s of " << seconds << " s.\n";
  } else if (ending == murmurquill::TakeEnding::stalled) {
    std::cerr << "record: the device stopped delivering audio after " << kept << " s of " << seconds
              << " s; the partial take is kept\n";
    status = 1;
  }
  if (!stopped) {
    std::cerr << "record: the device did not stop within "
              << std::chrono::seconds(kStopBound).count() << " s; leaving it\n";
    std::cout.flush();
    std::cerr.flush();
    // The stop still waits on the sound server, and everything that would end the process
    // normally waits for it too.
    std::_Exit(1);
  }
  interrupts.watch(nullptr);
  return status;
}

} // namespace

int main(int argc, char **argv) {
  InterruptWatch interrupts;
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
  if (const auto problem = outputProblem(output)) {
    std::cerr << "record: " << output << ": " << *problem << "\n";
    return 2;
  }
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
    return record(interrupts, output, arguments.seconds, device);
  } catch (const std::exception &error) {
    std::cerr << "record: " << error.what() << "\n";
    return 1;
  }
}
