#pragma once

#include "platform/ui/Observation.hpp"

#include <functional>
#include <memory>
#include <utility>

namespace murmurquill {

// The controller's observed properties, as change notices name them.
enum class AppChange {
  isRecording,
  isTranscribing,
  isMicrophoneMissing,
  isModelReady,
  isModelLoadFailed,
  modelStatus,
  loadProgress,
  loadDetailText,
  userIsWaitingForModel,
  modelInitStartedAt,
  loadPhaseOrdinal,
  micStatus,
  accessibilityGranted,
  inputMonitoringGranted,
  refineEnabled,
  lastInjectedText,
  lastInjectedAt,
  lastInjectedAppPID,
  hotkeyKey,
  hotkeyPermitted,
};

// Where the controllers' change notices go: one listener, called after an assignment changed a
// property (never for an equal value). Main thread only.
class ChangeNotices {
public:
  std::function<void(AppChange)> listener;

  void notify(AppChange change) const {
    if (listener) {
      listener(change);
    }
  }
};

// An observed property that names itself in change notices: views that read it through get()
// redraw when it changes, and the notices' listener hears which property it was. Main thread
// only; the notices are shared by the controllers that publish into them.
template <class T> class Published {
public:
  Published(std::shared_ptr<ChangeNotices> notices, AppChange name, T initial = T{})
      : notices_(std::move(notices)), name_(name), value_(std::move(initial)) {}
  Published(const Published &) = delete;
  Published &operator=(const Published &) = delete;

  const T &get() const { return value_.get(); }
  // Reads without registering an access.
  const T &peek() const { return value_.peek(); }

  template <class V> void set(V &&value) {
    T next(std::forward<V>(value));
    const bool changed = !(value_.peek() == next);
    value_.set(std::move(next));
    if (changed) {
      notices_->notify(name_);
    }
  }

private:
  std::shared_ptr<ChangeNotices> notices_;
  AppChange name_;
  platform::ui::Observable<T> value_;
};

} // namespace murmurquill
