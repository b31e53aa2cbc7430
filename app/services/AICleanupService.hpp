#pragma once

#include "app/support/AppLog.hpp"
#include "platform/services/LanguageModel.hpp"
#include "platform/system/Executor.hpp"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace murmurquill {

// Refines the text of the last dictation with the system's on-device language model, driven
// by a fixed instruction that makes it an editor, never an assistant. Whatever goes wrong, a
// refine still answers: on a model error or an empty answer it falls back to the rule-based
// clean-up.
//
// Main thread only. The model's streamed response is read on the worker executor and the
// answer comes back on the main executor. Each prewarmed session serves one refine.
class AICleanupService final {
public:
  using Completion = std::function<void(std::string refined)>;

  // The instruction text given to every session.
  static const std::string &systemPrompt();

  // `model` may be null (a system without one). `worker` runs the blocking stream reads.
  AICleanupService(std::shared_ptr<platform::LanguageModel> model,
                   std::shared_ptr<platform::Executor> main,
                   std::shared_ptr<platform::Executor> worker, LogSink log);

  // Fixed at creation: the model exists and reports itself available.
  bool isAvailable() const { return isAvailable_; }
  // Whether a prewarmed session waits for the next refine.
  bool hasSession() const { return static_cast<bool>(session_); }

  // Makes a session when none is held and asks the model to prewarm it; nothing when the
  // model is unavailable.
  void prewarm();
  // Refines `text`; `completion` runs on the main executor with the result. Never fails.
  void refine(const std::string &text, Completion completion);

  // Removes one conversational opener ("Sure, ", "Okay — ", ...) from the start and
  // upper-cases what then comes first.
  static std::string stripAssistantPreamble(std::string_view text);

private:
  std::shared_ptr<platform::LanguageModel> model_;
  std::shared_ptr<platform::Executor> main_;
  std::shared_ptr<platform::Executor> worker_;
  // What the answers of refines under way use of this service; they come back only while it
  // lives, and the worker holds it weakly.
  struct Shared {
    LogSink log;
  };
  std::shared_ptr<Shared> shared_;
  bool isAvailable_ = false;
  std::shared_ptr<platform::LanguageModelSession> session_;
};

} // namespace murmurquill
