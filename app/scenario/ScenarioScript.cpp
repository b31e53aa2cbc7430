#include "app/scenario/ScenarioScript.hpp"

#include "platform/audio/AudioFile.hpp"
#include "platform/system/FileContents.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <sstream>

namespace murmurquill {
namespace {

using Statement = ScenarioScript::Statement;
using Kind = Statement::Kind;

constexpr const char *kExpected = "expected: at SECONDS keydown|keyup|audio PATH|load-finishes|"
                                  "refine|permission NAME granted|denied|key NAME, or field "
                                  "\"TEXT\"";

std::string trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

// The scenario's WAV files, each read once, within one bound on all their samples.
class AudioFiles {
public:
  AudioFiles(std::filesystem::path folder, std::size_t maxSamples)
      : folder_(std::move(folder)), maxSamples_(maxSamples) {}

  std::shared_ptr<const platform::PcmBuffer> read(const std::string &name) {
    const std::filesystem::path path = (folder_ / name).lexically_normal();
    if (const auto found = files_.find(path); found != files_.end()) {
      return found->second;
    }
    const auto file = platform::AudioFile::openForReading(path);
    const double rate = file->processingFormat().sampleRate();
    if (!(rate >= ScenarioScript::kLowestSampleRate &&
          rate <= ScenarioScript::kHighestSampleRate)) {
      throw ScenarioError(path.string() + ": a sample rate of " + std::to_string(rate) +
                          " Hz; a microphone's lies between " +
                          std::to_string(static_cast<int>(ScenarioScript::kLowestSampleRate)) +
                          " and " +
                          std::to_string(static_cast<int>(ScenarioScript::kHighestSampleRate)));
    }
    const std::int64_t length = file->length();
    const std::uint64_t channels = file->processingFormat().channelCount();
    if (length <= 0 || length > std::int64_t{UINT32_MAX} || channels == 0 ||
        static_cast<std::uint64_t>(length) > (maxSamples_ - samples_) / channels) {
      throw ScenarioError(path.string() + ": no audio frames, or more than a scenario may hold (" +
                          std::to_string(maxSamples_) + " samples in all its files)");
    }
    const auto frames = static_cast<std::uint32_t>(length);
    auto buffer = platform::PcmBuffer::make(file->processingFormat(), frames);
    file->read(*buffer, frames);
    samples_ += static_cast<std::size_t>(length) * channels;
    if (first_ && (first_->format().sampleRate() != buffer->format().sampleRate() ||
                   first_->format().channelCount() != buffer->format().channelCount())) {
      throw ScenarioError("every audio file of a scenario must have the same rate and channel "
                          "count");
    }
    if (!first_) {
      first_ = buffer;
    }
    files_.emplace(path, buffer);
    return buffer;
  }

private:
  std::filesystem::path folder_;
  std::map<std::filesystem::path, std::shared_ptr<const platform::PcmBuffer>> files_;
  std::shared_ptr<const platform::PcmBuffer> first_;
  std::size_t maxSamples_;
  std::size_t samples_ = 0;
};

// The seconds of an `at` line, refused outside 0...kLongestSeconds.
double parseSeconds(const std::string &text) {
  double seconds = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw ScenarioError(kExpected);
  }
  if (!std::isfinite(seconds) || seconds < 0.0 || seconds > ScenarioScript::kLongestSeconds) {
    throw ScenarioError("time out of range: " + text + " (0 to " +
                        std::to_string(static_cast<int>(ScenarioScript::kLongestSeconds)) +
                        " seconds)");
  }
  return seconds;
}

void parsePermission(const std::string &rest, Statement &statement) {
  static const std::map<std::string, ScenarioScript::Permission> names{
      {"microphone", ScenarioScript::Permission::microphone},
      {"accessibility", ScenarioScript::Permission::accessibility},
      {"input-monitoring", ScenarioScript::Permission::inputMonitoring}};
  std::istringstream words(rest);
  std::string name, state, extra;
  words >> name >> state >> extra;
  const auto found = names.find(name);
  if (found == names.end() || (state != "granted" && state != "denied") || !extra.empty()) {
    throw ScenarioError("expected: permission microphone|accessibility|input-monitoring "
                        "granted|denied");
  }
  statement.permission = found->second;
  statement.granted = state == "granted";
}

void parseKey(const std::string &rest, Statement &statement) {
  const auto key = hotkeyKeyFromRawValue(rest);
  if (!key || std::find(offeredHotkeyKeys.begin(), offeredHotkeyKeys.end(), *key) ==
                  offeredHotkeyKeys.end()) {
    throw ScenarioError("expected: key rightOption|rightCommand|leftOption");
  }
  statement.key = *key;
}

// One `at` line's action and its argument text.
Statement parseAction(const std::string &verb, const std::string &rest, AudioFiles &files) {
  static const std::map<std::string, Kind> bare{{"keydown", Kind::keyDown},
                                                {"keyup", Kind::keyUp},
                                                {"load-finishes", Kind::loadFinishes},
                                                {"refine", Kind::refine}};
  Statement statement;
  if (const auto found = bare.find(verb); found != bare.end()) {
    if (!rest.empty()) {
      throw ScenarioError("unexpected text after " + verb);
    }
    statement.kind = found->second;
  } else if (verb == "audio") {
    if (rest.empty()) {
      throw ScenarioError("audio needs a WAV file path");
    }
    statement.kind = Kind::audio;
    statement.audio = files.read(rest);
  } else if (verb == "permission") {
    statement.kind = Kind::permission;
    parsePermission(rest, statement);
  } else if (verb == "key") {
    statement.kind = Kind::chooseKey;
    parseKey(rest, statement);
  } else {
    throw ScenarioError("unknown action '" + verb +
                        "' (keydown, keyup, audio, load-finishes, refine, permission or key)");
  }
  return statement;
}

std::string parseField(const std::string &line) {
  const auto open = line.find('"');
  const auto close = line.rfind('"');
  if (open == std::string::npos || close == open || trim(line.substr(0, open)) != "field" ||
      close + 1 != line.size()) {
    throw ScenarioError("expected field \"TEXT\"");
  }
  return line.substr(open + 1, close - open - 1);
}

// Adds one non-empty, non-comment line to `script`.
void parseLine(const std::string &line, ScenarioScript &script, AudioFiles &files) {
  if (line.rfind("field", 0) == 0) {
    script.field = parseField(line);
    return;
  }
  std::istringstream words(line);
  std::string at, time, verb, rest;
  words >> at >> time >> verb;
  if (at != "at" || verb.empty()) {
    throw ScenarioError(kExpected);
  }
  const double seconds = parseSeconds(time);
  if (!script.statements.empty() && seconds < script.statements.back().seconds) {
    throw ScenarioError("times must not decrease");
  }
  if (script.statements.size() >= ScenarioScript::kMaxStatements) {
    throw ScenarioError("more than " + std::to_string(ScenarioScript::kMaxStatements) +
                        " statements");
  }
  std::getline(words, rest);
  Statement statement = parseAction(verb, trim(rest), files);
  statement.seconds = seconds;
  if (statement.kind == Kind::loadFinishes) {
    if (script.holdsLoad) {
      throw ScenarioError("the load finishes once: a second load-finishes");
    }
    script.holdsLoad = true;
  }
  script.statements.push_back(std::move(statement));
}

} // namespace

ScenarioScript ScenarioScript::parse(const std::filesystem::path &path,
                                     std::size_t maxAudioSamples) {
  const platform::FileContents contents = platform::FileContents::read(path, kMaxFileBytes);
  if (contents.notRegular) {
    throw ScenarioError(path.string() + ": the scenario is not a regular file");
  }
  if (!contents.opened || contents.failed) {
    throw ScenarioError("Cannot read the scenario file " + path.string());
  }
  if (contents.tooLarge) {
    throw ScenarioError(path.string() + ": the scenario file is larger than " +
                        std::to_string(kMaxFileBytes) + " bytes");
  }
  std::istringstream in(contents.bytes);
  AudioFiles files(path.parent_path(), maxAudioSamples);
  ScenarioScript script;
  std::string raw;
  int lineNumber = 0;
  while (std::getline(in, raw)) {
    ++lineNumber;
    const std::string line = trim(raw);
    if (line.empty() || line.front() == '#') {
      continue;
    }
    try {
      parseLine(line, script, files);
    } catch (const std::exception &error) {
      throw ScenarioError(path.string() + ":" + std::to_string(lineNumber) + ": " + error.what());
    }
  }
  return script;
}

} // namespace murmurquill
