#pragma once

#include "DeduveCore/Support/UnfairLock.hpp"

#include <nlohmann/json.hpp>

#include <memory>
#include <utility>

namespace deduve {

// One value guarded by a lock, for state shared between threads. A copy (made by construction
// or assignment) holds its own copy of the value but shares the lock object with the
// original. Assigning to a PropertyLock is not itself guarded: like any copy, it must not race
// with other uses of the target.
//
// get() returns a copy taken under the lock; set() replaces the value under the lock (the old
// value is destroyed outside it); modify() holds the lock for the whole in-place change, so
// concurrent changes never lose one another's updates. The lock is not recursive: the body of
// modify() must not touch the same PropertyLock.
template <class Value> class PropertyLock {
public:
  PropertyLock() : PropertyLock(Value{}) {}
  PropertyLock(Value wrappedValue)
      : lock_(std::make_shared<UnfairLock>()), value_(std::move(wrappedValue)) {}

  PropertyLock(const PropertyLock &other)
      : lock_(other.lock_), value_(other.lock_->withLock([&] { return other.value_; })) {}
  // Like a copy: the target takes the other's value and from then on shares its lock.
  PropertyLock &operator=(const PropertyLock &other) {
    if (this != &other) {
      Value copy = other.get();
      std::shared_ptr<UnfairLock> lock = other.lock_;
      std::swap(value_, copy);
      lock_ = std::move(lock);
      // `copy` now holds the old value and is destroyed here.
    }
    return *this;
  }
  PropertyLock &operator=(Value newValue) {
    set(std::move(newValue));
    return *this;
  }

  Value get() const {
    return lock_->withLock([&] { return value_; });
  }
  Value wrappedValue() const { return get(); }
  operator Value() const { return get(); }

  void set(Value newValue) {
    lock_->withLock([&] { std::swap(value_, newValue); });
    // `newValue` now holds the old value and is destroyed here, outside the lock.
  }

  // Runs `change(value&)` with the lock held for its whole duration and returns its result.
  template <class Change> decltype(auto) modify(Change &&change) {
    return lock_->withLock(
        [&]() -> decltype(auto) { return std::forward<Change>(change)(value_); });
  }

  // True when both refer to the same lock object (copies do).
  bool sharesLockWith(const PropertyLock &other) const { return lock_ == other.lock_; }

private:
  std::shared_ptr<UnfairLock> lock_;
  Value value_;
};

// In a JSON document a guarded value looks exactly like the bare value.
template <class BasicJson, class Value>
void to_json(BasicJson &document, const PropertyLock<Value> &property) {
  document = property.get();
}

template <class BasicJson, class Value>
void from_json(const BasicJson &document, PropertyLock<Value> &property) {
  property.set(document.template get<Value>());
}

} // namespace deduve
