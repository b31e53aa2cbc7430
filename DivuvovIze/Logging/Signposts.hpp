#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace divuvovize {

// One begin or end event of a named interval, as a profiling hook receives it.
struct SignpostEvent {
  enum class Kind { begin, end };
  Kind kind = Kind::begin;
  std::string subsystem;
  std::string category;
  std::string name;     // "EncodeAudio", "Decode", ...
  std::uint64_t id = 0; // pairs an end with its begin
  std::string message;  // empty, or "[Error] Interval already ended" on a double end
};

// Marks intervals of the engine's work for profiling tools. Off the platform the events go to
// an optional hook; with no hook installed signposts are disabled and cost one check.
// Thread-safe; the hook runs on the thread that begins or ends the interval.
class Signposter {
public:
  Signposter(std::string subsystem, std::string category);

  const std::string &subsystem() const { return subsystem_; }
  const std::string &category() const { return category_; }

  bool isEnabled() const;
  void setHook(std::function<void(const SignpostEvent &)> hook);
  std::uint64_t makeSignpostID();
  void emit(const SignpostEvent &event) const;

  // The process-wide signposters of the audio encoder, the feature extractor and the
  // transcription task, made once on first use and never released.
  static Signposter &audioEncoding();
  static Signposter &featureExtractor();
  static Signposter &transcribeTask();
  // The fixed subsystem identifier of the engine's loggers.
  static constexpr std::string_view engineSubsystem = "com.divuvovize.engine";

private:
  std::string subsystem_;
  std::string category_;
  std::atomic<std::uint64_t> nextID_{1};
  mutable std::mutex mutex_;
  std::shared_ptr<const std::function<void(const SignpostEvent &)>> hook_;
};

// An open interval. Copies share one "ended" mark, so ending any copy ends the interval.
class SignpostIntervalState {
public:
  SignpostIntervalState() = default;
  std::uint64_t id() const { return id_; }
  bool hasEnded() const { return ended_ && ended_->load(); }

private:
  friend SignpostIntervalState beginSignpostInterval(std::string_view, Signposter &);
  friend void endSignpostInterval(std::string_view, const SignpostIntervalState &);

  Signposter *signposter_ = nullptr;
  std::uint64_t id_ = 0;
  std::shared_ptr<std::atomic<bool>> ended_;
};

// Opens the interval `name` ("ExtractAudioFeatures", "EncodeAudio", "TranscribeAudio",
// "Decode") on `signposter`, which must outlive the returned state.
SignpostIntervalState beginSignpostInterval(std::string_view name, Signposter &signposter);
// Closes it. A second end emits another end event with the message
// "[Error] Interval already ended" and is otherwise harmless.
void endSignpostInterval(std::string_view name, const SignpostIntervalState &state);

// An interval open for the life of this object: begun on construction, ended on destruction,
// whether the scope is left normally or by an exception. `name` must outlive the object (the
// names are literals).
class ScopedSignpostInterval {
public:
  ScopedSignpostInterval(std::string_view name, Signposter &signposter)
      : name_(name), state_(beginSignpostInterval(name, signposter)) {}
  ~ScopedSignpostInterval() { endSignpostInterval(name_, state_); }
  ScopedSignpostInterval(const ScopedSignpostInterval &) = delete;
  ScopedSignpostInterval &operator=(const ScopedSignpostInterval &) = delete;

private:
  std::string_view name_;
  SignpostIntervalState state_;
};

} // namespace divuvovize
