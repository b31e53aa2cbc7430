#pragma once

#include "platform/input/Pasteboard.hpp"

#include <cstddef>
#include <limits>

namespace platform {

// A pasteboard for tests. externalWrite() plays another program writing it; the test can make
// writes fail. Not thread-safe.
class InMemoryPasteboard final : public Pasteboard {
public:
  std::int64_t changeCount() const override { return changeCount_; }
  std::int64_t clearContents() override;
  bool setData(const std::string &type, const std::string &data) override;
  std::optional<std::string> data(const std::string &type) const override;
  PasteboardContents contents() const override { return items_; }

  // Another program replaces the contents (the change count moves).
  void externalWrite(PasteboardContents contents);
  // Every setData from the `index`-th on (counting from 0 over all attempts) fails.
  void failWritesFrom(std::size_t index) { failFrom_ = index; }
  std::size_t writeAttemptCount() const { return attempts_; }

private:
  std::int64_t changeCount_ = 0;
  PasteboardContents items_;
  std::size_t failFrom_ = std::numeric_limits<std::size_t>::max();
  std::size_t attempts_ = 0;
};

} // namespace platform
