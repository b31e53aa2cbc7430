#include "platform/input/InMemoryPasteboard.hpp"

namespace platform {

std::int64_t InMemoryPasteboard::clearContents() {
  items_.clear();
  return ++changeCount_;
}

bool InMemoryPasteboard::setData(const std::string &type, const std::string &data) {
  const std::size_t attempt = attempts_++;
  if (attempt >= failFrom_) {
    return false;
  }
  for (auto &item : items_) {
    if (item.type == type) {
      item.data = data;
      return true;
    }
  }
  items_.push_back({type, data});
  return true;
}

std::optional<std::string> InMemoryPasteboard::data(const std::string &type) const {
  for (const auto &item : items_) {
    if (item.type == type) {
      return item.data;
    }
  }
  return std::nullopt;
}

void InMemoryPasteboard::externalWrite(PasteboardContents contents) {
  items_ = std::move(contents);
  ++changeCount_;
}

} // namespace platform
