#include "platform/input/InMemoryAccessibility.hpp"

#include <algorithm>

namespace platform {

InMemoryTextField::InMemoryTextField(std::u16string value)
    : value_(std::move(value)), selection_{static_cast<std::int64_t>(value_.size()), 0} {}

AccessibilityError InMemoryTextField::copyAttributeValue(const std::string &attribute,
                                                         AccessibilityValue &value) const {
  if (attribute == AccessibilityAttribute::selectedTextRange) {
    value = selection_;
    return AccessibilityError::success;
  }
  if (attribute == AccessibilityAttribute::value && exposesValue_) {
    value = value_;
    return AccessibilityError::success;
  }
  return AccessibilityError::attributeUnsupported;
}

AccessibilityError InMemoryTextField::setAttributeValue(const std::string &attribute,
                                                        const AccessibilityValue &value) {
  if (attribute != AccessibilityAttribute::selectedTextRange) {
    return AccessibilityError::attributeUnsupported;
  }
  const auto *range = std::get_if<AccessibilityRange>(&value);
  if (range == nullptr) {
    return AccessibilityError::illegalArgument;
  }
  const auto size = static_cast<std::int64_t>(value_.size());
  if (range->location < 0 || range->length < 0 || range->location > size ||
      range->length > size - range->location) {
    return AccessibilityError::illegalArgument;
  }
  if (refusesSets_) {
    return AccessibilityError::cannotComplete;
  }
  selection_ = *range;
  selectionsSet_.push_back(*range);
  return AccessibilityError::success;
}

void InMemoryTextField::setValue(std::u16string value, std::int64_t caret) {
  value_ = std::move(value);
  selection_ = {std::clamp<std::int64_t>(caret, 0, static_cast<std::int64_t>(value_.size())), 0};
}

void InMemoryTextField::insertText(const std::u16string &text) {
  const auto size = static_cast<std::int64_t>(value_.size());
  const auto start = std::clamp<std::int64_t>(selection_.location, 0, size);
  const auto length = std::clamp<std::int64_t>(selection_.length, 0, size - start);
  value_.replace(static_cast<std::size_t>(start), static_cast<std::size_t>(length), text);
  selection_ = {start + static_cast<std::int64_t>(text.size()), 0};
}

class InMemoryAccessibility::SystemWide final : public AccessibilityElement {
public:
  AccessibilityError copyAttributeValue(const std::string &attribute,
                                        AccessibilityValue &value) const override {
    if (attribute != AccessibilityAttribute::focusedElement) {
      return AccessibilityError::attributeUnsupported;
    }
    if (!focused) {
      return AccessibilityError::noValue;
    }
    value = focused;
    return AccessibilityError::success;
  }
  AccessibilityError setAttributeValue(const std::string &, const AccessibilityValue &) override {
    return AccessibilityError::attributeUnsupported;
  }

  std::shared_ptr<AccessibilityElement> focused;
};

InMemoryAccessibility::InMemoryAccessibility() : systemWide_(std::make_shared<SystemWide>()) {}

bool InMemoryAccessibility::isProcessTrustedWithOptions(bool prompt) {
  if (prompt && !trusted_) {
    ++prompts_;
  }
  return trusted_;
}

std::shared_ptr<AccessibilityElement> InMemoryAccessibility::systemWideElement() {
  return systemWide_;
}

void InMemoryAccessibility::setFocusedElement(std::shared_ptr<AccessibilityElement> element) {
  systemWide_->focused = std::move(element);
}

} // namespace platform
