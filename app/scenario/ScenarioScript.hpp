#pragma once

#include "app/services/HotkeyKey.hpp"
#include "platform/audio/PcmBuffer.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace murmurquill {

// A scenario file is not readable or not well formed; the text names the file and line.
class ScenarioError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A parsed scenario file: the focused field's text and the timed statements, in order. Each
// WAV file is read once, however many lines name it.
struct ScenarioScript {
  // The latest time a statement may name, in seconds of virtual time.
  static constexpr double kLongestSeconds = 86400.0;
  // The most audio samples (frames times channels) the files of one scenario may hold: 32 Mi
  // floats, 128 MiB.
  static constexpr std::size_t kMaxAudioSamples = std::size_t{1} << 25;
  // The largest scenario file read.
  static constexpr std::uintmax_t kMaxFileBytes = 16u << 20;
  // The most statements one scenario may hold.
  static constexpr std::size_t kMaxStatements = 100000;
  // The sample rates a scenario's WAV files may have: a microphone's (the capture sizes its
  // buffers by the ratio to 16 kHz).
  static constexpr double kLowestSampleRate = 8000;
  static constexpr double kHighestSampleRate = 384000;

  enum class Permission { microphone, accessibility, inputMonitoring };

  struct Statement {
    enum class Kind { keyDown, keyUp, audio, loadFinishes, refine, permission, chooseKey };
    Kind kind = Kind::keyDown;
    double seconds = 0.0;
    std::shared_ptr<const platform::PcmBuffer> audio; // audio: the whole file
    Permission permission = Permission::microphone;   // permission: which one
    bool granted = false;                             // permission: granted or denied
    HotkeyKey key = HotkeyKey::rightOption;           // chooseKey: the key chosen
  };

  std::optional<std::string> field;
  std::vector<Statement> statements;
  // Whether a `load-finishes` line holds the model load until its time.
  bool holdsLoad = false;

  // Reads and checks `path` (throws ScenarioError naming the file and line). WAV paths are
  // relative to the scenario file's folder; their files hold at most `maxAudioSamples` samples
  // together.
  static ScenarioScript parse(const std::filesystem::path &path,
                              std::size_t maxAudioSamples = kMaxAudioSamples);
};

} // namespace murmurquill
