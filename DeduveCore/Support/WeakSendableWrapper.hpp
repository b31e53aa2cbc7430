#pragma once

#include <memory>

namespace deduve {

// Holds one object weakly, so work handed to other threads can refer to it without keeping
// it alive. value() is the object, or nullptr once every owner has released it. Reads and
// writes of one wrapper are not synchronised with each other.
template <class T> class WeakSendableWrapper {
public:
  WeakSendableWrapper() = default;
  explicit WeakSendableWrapper(const std::shared_ptr<T> &value) : value_(value) {}

  std::shared_ptr<T> value() const { return value_.lock(); }
  void setValue(const std::shared_ptr<T> &value) { value_ = value; }

private:
  std::weak_ptr<T> value_;
};

} // namespace deduve
