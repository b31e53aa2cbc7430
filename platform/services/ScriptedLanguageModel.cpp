#include "platform/services/ScriptedLanguageModel.hpp"

namespace platform {

class ScriptedLanguageModel::Session final : public LanguageModelSession {
public:
  explicit Session(std::shared_ptr<State> state) : state_(std::move(state)) {}

  void prewarm() override {
    std::lock_guard lock(state_->mutex);
    ++state_->prewarms;
  }

  void streamResponse(const std::string &prompt, const SnapshotHandler &onSnapshot) override {
    Response response;
    {
      std::lock_guard lock(state_->mutex);
      state_->prompts.push_back(prompt);
      if (state_->responses.empty()) {
        throw LanguageModelError("scripted language model: no response left for the prompt");
      }
      response = std::move(state_->responses.front());
      state_->responses.pop_front();
    }
    for (const auto &snapshot : response.snapshots) {
      if (onSnapshot) {
        onSnapshot(snapshot);
      }
    }
    if (response.errorText) {
      throw LanguageModelError(*response.errorText);
    }
  }

private:
  std::shared_ptr<State> state_;
};

ScriptedLanguageModel::ScriptedLanguageModel(LanguageModelAvailability availability)
    : state_(std::make_shared<State>()) {
  state_->availability = availability;
}

LanguageModelAvailability ScriptedLanguageModel::availability() const {
  std::lock_guard lock(state_->mutex);
  return state_->availability;
}

std::shared_ptr<LanguageModelSession>
ScriptedLanguageModel::makeSession(const std::string &instructions) {
  {
    std::lock_guard lock(state_->mutex);
    state_->instructions.push_back(instructions);
  }
  return std::make_shared<Session>(state_);
}

void ScriptedLanguageModel::setAvailability(LanguageModelAvailability availability) {
  std::lock_guard lock(state_->mutex);
  state_->availability = availability;
}

void ScriptedLanguageModel::addResponse(Response response) {
  std::lock_guard lock(state_->mutex);
  state_->responses.push_back(std::move(response));
}

std::size_t ScriptedLanguageModel::sessionCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->instructions.size();
}

std::size_t ScriptedLanguageModel::prewarmCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->prewarms;
}

std::vector<std::string> ScriptedLanguageModel::instructions() const {
  std::lock_guard lock(state_->mutex);
  return state_->instructions;
}

std::vector<std::string> ScriptedLanguageModel::prompts() const {
  std::lock_guard lock(state_->mutex);
  return state_->prompts;
}

} // namespace platform
