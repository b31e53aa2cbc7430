#include "app/ScenarioRunner.hpp"

#include "DeduveCore/Text/Utf8.hpp"
#include "app/controller/AppCore.hpp"
#include "app/services/DivuvovIzeSpeechModule.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/InMemoryMicrophoneEngine.hpp"
#include "platform/input/EventTap.hpp"
#include "platform/input/InMemoryAccessibility.hpp"
#include "platform/input/InMemoryEventTapService.hpp"
#include "platform/input/InMemoryKeystrokePoster.hpp"
#include "platform/input/InMemoryPasteboard.hpp"
#include "platform/system/InMemoryMicrophoneAuthorization.hpp"
#include "platform/system/InMemorySettings.hpp"
#include "platform/system/InMemoryWorkspace.hpp"
#include "platform/system/ManualExecutor.hpp"
#include "platform/system/ThreadPool.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>

namespace murmurquill {
namespace {

using namespace std::chrono_literals;

// The push-to-talk key's code and its flags while down (Right Option, the default key).
constexpr std::uint16_t kHotkeyCode = 61;
constexpr std::uint64_t kHotkeyDownFlags =
    platform::EventFlags::maskAlternate | platform::EventFlags::deviceRightAlternate;
// The microphone's format when the scenario has no audio.
constexpr double kDefaultMicrophoneRate = 48000.0;
// Virtual time given after the last statement for delayed work (the pasteboard's restore).
constexpr auto kSettleTime = 1s;

struct Statement {
  enum class Kind { keyDown, keyUp, audio };
  Kind kind = Kind::keyDown;
  double seconds = 0.0;
  std::shared_ptr<platform::PcmBuffer> audio; // audio only: the whole file
};

struct Scenario {
  std::optional<std::string> field;
  std::vector<Statement> statements;
};

std::string trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

std::shared_ptr<platform::PcmBuffer> readWholeFile(const std::filesystem::path &path) {
  const auto file = platform::AudioFile::openForReading(path);
  const std::int64_t length = file->length();
  if (length <= 0 || length > std::int64_t{UINT32_MAX}) {
    throw ScenarioError(path.string() + ": no audio frames, or too many");
  }
  const auto frames = static_cast<std::uint32_t>(length);
  auto buffer = platform::PcmBuffer::make(file->processingFormat(), frames);
  file->read(*buffer, frames);
  return buffer;
}

Scenario parse(const std::filesystem::path &path) {
  std::ifstream in(path);
  if (!in) {
    throw ScenarioError("Cannot read the scenario file " + path.string());
  }
  const std::filesystem::path folder = path.parent_path();
  Scenario scenario;
  std::string raw;
  int lineNumber = 0;
  double previous = 0.0;
  while (std::getline(in, raw)) {
    ++lineNumber;
    const std::string line = trim(raw);
    const auto fail = [&](const std::string &what) {
      return ScenarioError(path.string() + ":" + std::to_string(lineNumber) + ": " + what);
    };
    if (line.empty() || line.front() == '#') {
      continue;
    }
    if (line.rfind("field", 0) == 0) {
      const auto open = line.find('"');
      const auto close = line.rfind('"');
      if (open == std::string::npos || close == open || trim(line.substr(0, open)) != "field") {
        throw fail("expected field \"TEXT\"");
      }
      scenario.field = line.substr(open + 1, close - open - 1);
      continue;
    }
    std::istringstream words(line);
    std::string at, time, verb;
    words >> at >> time >> verb;
    Statement statement;
    const auto [end, error] =
        std::from_chars(time.data(), time.data() + time.size(), statement.seconds);
    if (at != "at" || error != std::errc() || end != time.data() + time.size() ||
        !std::isfinite(statement.seconds) || statement.seconds < 0.0) {
      throw fail("expected: at SECONDS keydown|keyup|audio PATH, or field \"TEXT\"");
    }
    if (statement.seconds < previous) {
      throw fail("times must not decrease");
    }
    previous = statement.seconds;
    std::string rest;
    std::getline(words, rest);
    rest = trim(rest);
    if (verb == "keydown" || verb == "keyup") {
      if (!rest.empty()) {
        throw fail("unexpected text after " + verb);
      }
      statement.kind = verb == "keydown" ? Statement::Kind::keyDown : Statement::Kind::keyUp;
    } else if (verb == "audio") {
      if (rest.empty()) {
        throw fail("audio needs a WAV file path");
      }
      statement.kind = Statement::Kind::audio;
      try {
        statement.audio = readWholeFile(folder / rest);
      } catch (const std::exception &caught) {
        throw fail(caught.what());
      }
      const auto first = std::find_if(scenario.statements.begin(), scenario.statements.end(),
                                      [](const Statement &s) { return s.audio != nullptr; });
      if (first != scenario.statements.end() &&
          (first->audio->format().sampleRate() != statement.audio->format().sampleRate() ||
           first->audio->format().channelCount() != statement.audio->format().channelCount())) {
        throw fail("every audio file of a scenario must have the same rate and channel count");
      }
    } else {
      throw fail("unknown action '" + verb + "' (keydown, keyup or audio)");
    }
    scenario.statements.push_back(std::move(statement));
  }
  return scenario;
}

// A serial worker that counts its unfinished items, so the runner can wait for it to drain.
class CountingWorker final : public platform::Executor {
public:
  CountingWorker() : pool_(platform::ThreadPool::Options{.threadCount = 1, .maxThreadCount = 1}) {}

  void post(Work work) override {
    begin();
    pool_.post([this, work = std::move(work)]() mutable { runCounted(std::move(work)); });
  }
  platform::TimerHandle after(Clock::duration delay, Work work) override {
    begin();
    return pool_.after(delay,
                       [this, work = std::move(work)]() mutable { runCounted(std::move(work)); });
  }
  Clock::time_point now() const override { return pool_.now(); }
  bool isCurrent() const override { return pool_.isCurrent(); }

  void waitUntilIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return pending_ == 0; });
  }

private:
  struct Finisher {
    CountingWorker &worker;
    ~Finisher() { worker.finish(); }
  };
  // The item counts as finished only once it and everything it captured are gone, so what it
  // held is never released on this thread after the runner has moved on.
  void runCounted(Work work) {
    Finisher finisher{*this};
    const Work item = std::move(work);
    item();
  }
  void begin() {
    std::lock_guard lock(mutex_);
    ++pending_;
  }
  void finish() {
    std::lock_guard lock(mutex_);
    if (--pending_ == 0) {
      idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable idle_;
  std::size_t pending_ = 0;
  platform::ThreadPool pool_; // last: its threads stop before the counters go
};

// The HUD and refine panel of a run without a desktop: they show nothing.
class HeadlessHUD final : public HUDPresenter {
public:
  void show(const HUDMode &mode) override { mode_ = mode; }
  void setMode(const HUDMode &mode) override { mode_ = mode; }
  HUDMode mode() const override { return mode_; }
  bool isPanelVisible() const override { return mode_.kind != HUDMode::Kind::hidden; }

private:
  HUDMode mode_;
};

class HeadlessRefinePanel final : public RefinePresenter {
public:
  PanelToken show(ApplyAction, CopyAction) override { return ++token_; }
  void showResult(const std::string &, PanelToken) override {}

private:
  PanelToken token_ = 0;
};

} // namespace

ScenarioRunner::Result ScenarioRunner::run(const Options &options) {
  const Scenario scenario = parse(options.scenario);
  platform::AudioFormat micFormat = *platform::AudioFormat::standard(kDefaultMicrophoneRate, 1);
  for (const Statement &statement : scenario.statements) {
    if (statement.audio) {
      micFormat = statement.audio->format();
      break;
    }
  }

  const auto main = std::make_shared<platform::ManualExecutor>();
  const auto worker = std::make_shared<CountingWorker>();
  const auto settings = std::make_shared<platform::InMemorySettings>();
  settings->setBool("onboardingComplete", true);
  const auto taps = std::make_shared<platform::InMemoryEventTapService>();
  const auto microphone = std::make_shared<platform::InMemoryMicrophoneEngine>(micFormat);
  const auto poster = std::make_shared<platform::InMemoryKeystrokePoster>();
  const auto pasteboard = std::make_shared<platform::InMemoryPasteboard>();
  const auto accessibility = std::make_shared<platform::InMemoryAccessibility>();
  const auto workspace = std::make_shared<platform::InMemoryWorkspace>();
  workspace->setFrontmost(1);

  std::shared_ptr<platform::InMemoryTextField> field;
  if (scenario.field) {
    const std::u16string value = deduve::toUtf16(*scenario.field);
    field = std::make_shared<platform::InMemoryTextField>();
    field->setValue(value, static_cast<std::int64_t>(value.size()));
    accessibility->setFocusedElement(field);
  }
  Result result;
  // A paste keystroke "types" what the pasteboard holds at that moment into the field.
  poster->setObserver([&](const platform::InMemoryKeystrokePoster::Post &post) {
    if (post.keystroke.keyDown && post.keystroke.keyCode == TextInjector::kKeyCodeV &&
        (post.keystroke.flags & platform::EventFlags::maskCommand) != 0) {
      const std::string text = pasteboard->string().value_or("");
      result.typed.push_back(text);
      if (field) {
        field->insertText(deduve::toUtf16(text));
      }
    }
  });

  AppCore::Services services;
  services.main = main;
  services.engineWorker = worker;
  services.languageWorker = worker;
  services.steadyClock = main;
  services.wallClock = std::make_shared<platform::ManualWallClock>();
  services.settings = settings;
  services.environment = options.environment;
  services.eventTaps = taps;
  services.microphone = microphone;
  services.microphoneAuthorization = std::make_shared<platform::InMemoryMicrophoneAuthorization>();
  services.speech = std::make_shared<DivuvovIzeSpeechModule>(options.modelFolder);
  services.keystrokes = poster;
  services.pasteboard = pasteboard;
  services.accessibility = accessibility;
  services.workspace = workspace;
  services.hud = std::make_shared<HeadlessHUD>();
  services.refinePanel = std::make_shared<HeadlessRefinePanel>();
  services.log = options.log;
  const std::uint32_t tapFrames = services.captureOptions.tapBufferSize;

  // Lets the worker finish and the main queue run until neither has anything left.
  const auto drain = [&] {
    for (;;) {
      worker->waitUntilIdle();
      if (main->runUntilIdle() == 0) {
        return;
      }
    }
  };
  auto now = 0.0s;
  const auto moveTo = [&](std::chrono::duration<double> to) {
    drain();
    if (to > now) {
      main->advance(std::chrono::duration_cast<platform::Executor::Clock::duration>(to - now));
      now = to;
    }
    drain();
  };

  const std::shared_ptr<AppCore> core = AppCore::make(std::move(services));
  for (const Statement &statement : scenario.statements) {
    moveTo(std::chrono::duration<double>(statement.seconds));
    switch (statement.kind) {
    case Statement::Kind::keyDown:
      taps->flagsChanged(kHotkeyCode, kHotkeyDownFlags);
      break;
    case Statement::Kind::keyUp:
      taps->flagsChanged(kHotkeyCode, 0);
      break;
    case Statement::Kind::audio: {
      const platform::PcmBuffer &audio = *statement.audio;
      for (std::uint32_t start = 0; start < audio.frameLength(); start += tapFrames) {
        const std::uint32_t frames = std::min(tapFrames, audio.frameLength() - start);
        auto chunk = platform::PcmBuffer::make(audio.format(), frames);
        for (std::uint32_t channel = 0; channel < audio.format().channelCount(); ++channel) {
          std::copy_n(audio.floatChannelData(channel) + start, frames,
                      chunk->floatChannelData(channel));
        }
        chunk->setFrameLength(frames);
        microphone->push(*chunk);
      }
      break;
    }
    }
    drain();
  }
  moveTo(now + kSettleTime);
  if (field) {
    result.field = deduve::toUtf8(field->value());
  }
  return result;
}

} // namespace murmurquill
