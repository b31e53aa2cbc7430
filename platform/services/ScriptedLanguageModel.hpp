#pragma once

#include "platform/services/LanguageModel.hpp"

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

// A language model for tests that answers from a script: each prompt takes the next scripted
// response, streams its snapshots, then fails with its error when it has one. A prompt with no
// scripted response left fails. Records sessions, instructions, prewarms and prompts.
// Thread-safe.
class ScriptedLanguageModel final : public LanguageModel {
public:
  struct Response {
    std::vector<std::string> snapshots;   // each the whole response so far
    std::optional<std::string> errorText; // thrown after the snapshots when set
  };

  explicit ScriptedLanguageModel(
      LanguageModelAvailability availability = LanguageModelAvailability::available);

  LanguageModelAvailability availability() const override;
  std::shared_ptr<LanguageModelSession> makeSession(const std::string &instructions) override;

  void setAvailability(LanguageModelAvailability availability);
  void addResponse(Response response);

  std::size_t sessionCount() const;
  std::size_t prewarmCount() const;
  std::vector<std::string> instructions() const;
  std::vector<std::string> prompts() const;

private:
  class Session;
  struct State {
    mutable std::mutex mutex;
    LanguageModelAvailability availability;
    std::deque<Response> responses;
    std::vector<std::string> instructions;
    std::vector<std::string> prompts;
    std::size_t prewarms = 0;
  };
  std::shared_ptr<State> state_;
};

} // namespace platform
