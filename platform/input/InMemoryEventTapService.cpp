#include "platform/input/InMemoryEventTapService.hpp"

#include <algorithm>

namespace platform {

struct InMemoryEventTapService::Registry {
  std::vector<Tap *> taps;
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

  const EventTapOptions &options() const { return options_; }
  void deliver(const KeyEvent &event) const { callback_(event); }

private:
  std::shared_ptr<Registry> registry_;
  EventTapOptions options_;
  Callback callback_;
  bool enabled_ = false;
};

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
