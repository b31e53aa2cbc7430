#include "DivuvovIze/Logging/Signposts.hpp"

namespace divuvovize {

Signposter::Signposter(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

bool Signposter::isEnabled() const {
  std::lock_guard lock(mutex_);
  return hook_ != nullptr;
}

void Signposter::setHook(std::function<void(const SignpostEvent &)> hook) {
  auto shared =
      hook ? std::make_shared<const std::function<void(const SignpostEvent &)>>(std::move(hook))
           : nullptr;
  std::lock_guard lock(mutex_);
  hook_ = std::move(shared);
}

std::uint64_t Signposter::makeSignpostID() { return nextID_.fetch_add(1); }

void Signposter::emit(const SignpostEvent &event) const {
  std::shared_ptr<const std::function<void(const SignpostEvent &)>> hook;
  {
    std::lock_guard lock(mutex_);
    hook = hook_;
  }
  if (hook) {
    (*hook)(event);
  }
}

Signposter &Signposter::audioEncoding() {
  static Signposter *const shared = new Signposter(std::string(engineSubsystem), "AudioEncoding");
  return *shared;
}

Signposter &Signposter::featureExtractor() {
  static Signposter *const shared =
      new Signposter(std::string(engineSubsystem), "FeatureExtractor");
  return *shared;
}

Signposter &Signposter::transcribeTask() {
  static Signposter *const shared = new Signposter(std::string(engineSubsystem), "TranscribeTask");
  return *shared;
}

SignpostIntervalState beginSignpostInterval(std::string_view name, Signposter &signposter) {
  SignpostIntervalState state;
  state.signposter_ = &signposter;
  state.id_ = signposter.makeSignpostID();
  state.ended_ = std::make_shared<std::atomic<bool>>(false);
  if (signposter.isEnabled()) {
    signposter.emit({SignpostEvent::Kind::begin, signposter.subsystem(), signposter.category(),
                     std::string(name), state.id_, ""});
  }
  return state;
}

void endSignpostInterval(std::string_view name, const SignpostIntervalState &state) {
  if (state.signposter_ == nullptr || !state.ended_) {
    return;
  }
  const bool alreadyEnded = state.ended_->exchange(true);
  Signposter &signposter = *state.signposter_;
  if (signposter.isEnabled()) {
    signposter.emit({SignpostEvent::Kind::end, signposter.subsystem(), signposter.category(),
                     std::string(name), state.id_,
                     alreadyEnded ? "[Error] Interval already ended" : ""});
  }
}

} // namespace divuvovize
