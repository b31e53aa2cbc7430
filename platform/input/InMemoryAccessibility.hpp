#pragma once

#include "platform/input/Accessibility.hpp"

#include <cstddef>
#include <memory>
#include <vector>

namespace platform {

// A text field of a stand-in application: a UTF-16 value and a selection. The test decides
// which attributes it exposes and whether it accepts sets. Not thread-safe.
class InMemoryTextField final : public AccessibilityElement {
public:
  explicit InMemoryTextField(std::u16string value = {});

  AccessibilityError copyAttributeValue(const std::string &attribute,
                                        AccessibilityValue &value) const override;
  // Accepts "AXSelectedTextRange" (a range within the value) unless sets are refused.
  AccessibilityError setAttributeValue(const std::string &attribute,
                                       const AccessibilityValue &value) override;

  const std::u16string &value() const { return value_; }
  AccessibilityRange selection() const { return selection_; }
  // Replaces the value and puts the caret at `caret` (clamped to the value).
  void setValue(std::u16string value, std::int64_t caret);
  void setSelection(AccessibilityRange range) { selection_ = range; }
  // Types `text` over the selection and leaves the caret after it (what a paste does).
  void insertText(const std::u16string &text);

  void setExposesValue(bool exposes) { exposesValue_ = exposes; }
  void setRefusesSets(bool refuses) { refusesSets_ = refuses; }
  // Ranges accepted through setAttributeValue, in order.
  const std::vector<AccessibilityRange> &selectionsSet() const { return selectionsSet_; }

private:
  std::u16string value_;
  AccessibilityRange selection_;
  bool exposesValue_ = true;
  bool refusesSets_ = false;
  std::vector<AccessibilityRange> selectionsSet_;
};

// Accessibility for tests: trust is set by the test; the system-wide element reports the
// focused element the test chose (none by default). Not thread-safe.
class InMemoryAccessibility final : public Accessibility {
public:
  InMemoryAccessibility();

  bool isProcessTrusted() const override { return trusted_; }
  bool isProcessTrustedWithOptions(bool prompt) override;
  std::shared_ptr<AccessibilityElement> systemWideElement() override;

  void setTrusted(bool trusted) { trusted_ = trusted; }
  void setFocusedElement(std::shared_ptr<AccessibilityElement> element);
  // How many times the trust prompt was asked for.
  std::size_t promptCount() const { return prompts_; }

private:
  class SystemWide;
  bool trusted_ = false;
  std::size_t prompts_ = 0;
  std::shared_ptr<SystemWide> systemWide_;
};

} // namespace platform
