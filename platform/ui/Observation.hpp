#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace platform::ui {

// Observation in the manner of the platform's observation framework: while a body of code
// runs under an ObservationTracking, every Observable it reads registers itself; the first
// later change of any of them calls the tracking's change handler. Everything here belongs to
// one thread (the main actor); it holds no locks.

namespace detail {

struct Tracker {
  std::function<void()> onChange;
  std::weak_ptr<Tracker> self;
};

// The registrar of one observable value.
class ObservationSubject {
public:
  ObservationSubject() = default;
  ObservationSubject(const ObservationSubject &) = delete;
  ObservationSubject &operator=(const ObservationSubject &) = delete;

  // Registers the value with the tracking running on this thread, if any.
  void accessed() const;
  // Calls every live tracker that read the value since its last change, once.
  void changed();

private:
  mutable std::vector<std::weak_ptr<Tracker>> trackers_;
};

} // namespace detail

// Runs bodies of code with access tracking. Each track() starts a new generation: reads made
// in earlier generations no longer trigger the handler. The handler runs synchronously in
// the setter that made the change; it must not destroy this object.
class ObservationTracking {
public:
  explicit ObservationTracking(std::function<void()> onChange);
  ObservationTracking(const ObservationTracking &) = delete;
  ObservationTracking &operator=(const ObservationTracking &) = delete;

  template <class Body> decltype(auto) track(Body &&body) {
    restart();
    Scope scope(tracker_.get());
    return std::forward<Body>(body)();
  }

  // Stops reacting to everything read so far.
  void cancel();

private:
  friend class detail::ObservationSubject;
  struct Scope {
    explicit Scope(detail::Tracker *tracker);
    ~Scope();
    detail::Tracker *previous;
  };
  void restart();

  std::function<void()> onChange_;
  std::shared_ptr<detail::Tracker> tracker_;
};

// A value whose reads are tracked and whose changes are announced. A write of a value equal
// to the current one stores it silently.
template <class T> class Observable {
public:
  Observable() = default;
  explicit Observable(T value) : value_(std::move(value)) {}
  Observable(const Observable &) = delete;
  Observable &operator=(const Observable &) = delete;

  const T &get() const {
    subject_.accessed();
    return value_;
  }
  // Reads without registering an access.
  const T &peek() const { return value_; }

  void set(T value) {
    const bool same = value_ == value;
    value_ = std::move(value);
    if (!same) {
      subject_.changed();
    }
  }

private:
  T value_{};
  detail::ObservationSubject subject_;
};

// A two-way connection to a value owned elsewhere (a text editor's text, a picker's choice).
template <class T> struct Binding {
  std::function<T()> get;
  std::function<void(T)> set;
};

template <class T> Binding<T> bind(Observable<T> &value) {
  return Binding<T>{[&value] { return value.get(); }, [&value](T v) { value.set(std::move(v)); }};
}

} // namespace platform::ui
