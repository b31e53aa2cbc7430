#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace platform {

// Whether the system's on-device language model can be used.
enum class LanguageModelAvailability {
  available,
  deviceNotEligible, // the hardware cannot run it
  notEnabled,        // the user has not switched it on
  modelNotReady,     // still downloading or preparing
  unsupportedSystem, // the operating system has no such model
};

// A failure of a language-model response (guardrail, context size, model gone, ...).
class LanguageModelError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One conversation with the model under fixed instructions. A session answers one prompt at a
// time; it may be handed between threads but is used by one at a time.
class LanguageModelSession {
public:
  // Receives the whole response so far, each time it grows.
  using SnapshotHandler = std::function<void(const std::string &content)>;

  virtual ~LanguageModelSession() = default;
  // Loads what the model needs ahead of a prompt, so the first response starts sooner. Returns
  // at once; never fails.
  virtual void prewarm() = 0;
  // Streams the response to `prompt` with default generation options: blocks the calling
  // thread (a worker, never the main thread) until the response is complete, calling
  // `onSnapshot` on that thread for each snapshot. Throws LanguageModelError.
  virtual void streamResponse(const std::string &prompt, const SnapshotHandler &onSnapshot) = 0;
};

// The system's default on-device language model.
class LanguageModel {
public:
  virtual ~LanguageModel() = default;
  virtual LanguageModelAvailability availability() const = 0;
  // A new session with no tools and the given instructions.
  virtual std::shared_ptr<LanguageModelSession> makeSession(const std::string &instructions) = 0;
};

} // namespace platform
