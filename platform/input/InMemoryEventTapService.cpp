#include "platform/input/InMemoryEventTapService.hpp"

#include <algorithm>

namespace platform {

struct InMemoryEventTapService::Registry {
  std::vector<Tap *> taps;
  bool chordsHeldElsewhere = false;
};

class InMemoryEventTapService::Tap final : public EventTap {
public:
  Tap(std::shared_ptr<Registry> registry, EventTapOptions options, Callback callback)
      : registry_(std::move(registry)), options_(options), callback_(std::move(callback)) {
    registry_->taps.push_back(this);
  }
  ~Tap() override {
    auto &taps = registry_->taps;
    taps.erase(std::remove(taps.begin(), taps.end(), this), taps.end());
  }

  void setEnabled(bool enabled) override { enabled_ = enabled; }
  bool isEnabled() const override { return enabled_; }

  void setMaskedModifier(std::int64_t keyCode) override { masked_ = keyCode; }
  bool reserveChord(std::int64_t keyCode, std::uint64_t flags) override {
    if (registry_->chordsHeldElsewhere) {
      return false;
    }
    reserved_.push_back({keyCode, flags});
    return true;
  }
  std::int64_t masked() const { return masked_; }
  const std::vector<std::pair<std::int64_t, std::uint64_t>> &reserved() const { return reserved_; }

  const EventTapOptions &options() const { return options_; }
  void deliver(const KeyEvent &event) const { callback_(event); }

private:
  std::shared_ptr<Registry> registry_;
  EventTapOptions options_;
  Callback callback_;
  bool enabled_ = false;
  std::int64_t masked_ = -1;
  std::vector<std::pair<std::int64_t, std::uint64_t>> reserved_;
};

std::int64_t InMemoryEventTapService::maskedModifier() const {
  for (const Tap *tap : registry_->taps) {
    if (tap->masked() >= 0) {
      return tap->masked();
    }
  }
  return -1;
}

std::vector<std::pair<std::int64_t, std::uint64_t>>
InMemoryEventTapService::reservedChords() const {
  std::vector<std::pair<std::int64_t, std::uint64_t>> chords;
  for (const Tap *tap : registry_->taps) {
    chords.insert(chords.end(), tap->reserved().begin(), tap->reserved().end());
  }
  return chords;
}

void InMemoryEventTapService::setChordsHeldElsewhere(bool held) {
  registry_->chordsHeldElsewhere = held;
}

InMemoryEventTapService::InMemoryEventTapService() : registry_(std::make_shared<Registry>()) {}

InMemoryEventTapService::~InMemoryEventTapService() = default;

std::unique_ptr<EventTap> InMemoryEventTapService::createTap(const EventTapOptions &options,
                                                             Callback callback) {
  if (refuses_) {
    return nullptr;
  }
  lastOptions_ = options;
  return std::make_unique<Tap>(registry_, options, std::move(callback));
}

void InMemoryEventTapService::setRefusesTaps(bool refuses) { refuses_ = refuses; }

void InMemoryEventTapService::emit(const KeyEvent &event) {
  // A callback may create or remove taps; deliver to the taps present when the event arrived.
  const std::vector<Tap *> taps = registry_->taps;
  for (Tap *tap : taps) {
    const auto &live = registry_->taps;
    if (std::find(live.begin(), live.end(), tap) == live.end()) {
      continue;
    }
    if (tap->isEnabled() && (tap->options().eventMask & eventMaskBit(event.type)) != 0) {
      tap->deliver(event);
    }
  }
}

void InMemoryEventTapService::flagsChanged(std::int64_t keyCode, std::uint64_t flags) {
  emit({EventType::flagsChanged, keyCode, flags});
}

void InMemoryEventTapService::keyDown(std::int64_t keyCode, std::uint64_t flags) {
  emit({EventType::keyDown, keyCode, flags});
}

void InMemoryEventTapService::disableTaps(EventType notice) {
  const std::vector<Tap *> taps = registry_->taps;
  for (Tap *tap : taps) {
    const auto &live = registry_->taps;
    if (std::find(live.begin(), live.end(), tap) == live.end() || !tap->isEnabled()) {
      continue;
    }
    tap->setEnabled(false);
    tap->deliver({notice, 0, 0});
  }
}

std::size_t InMemoryEventTapService::tapCount() const { return registry_->taps.size(); }

std::size_t InMemoryEventTapService::enabledTapCount() const {
  return static_cast<std::size_t>(std::count_if(registry_->taps.begin(), registry_->taps.end(),
                                                [](const Tap *tap) { return tap->isEnabled(); }));
}

} // namespace platform
