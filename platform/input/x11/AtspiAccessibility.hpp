#pragma once

#include "platform/input/Accessibility.hpp"

#include <chrono>
#include <cstddef>
#include <memory>

namespace platform {

// How the AT-SPI reader searches and waits.
struct AtspiAccessibilityOptions {
  // How long one call into another application may take before it counts as failed.
  std::chrono::milliseconds callTimeout = std::chrono::seconds(1);
  // Most accessible objects visited when looking for the focused one.
  std::size_t maxVisited = 4000;
};

// Accessibility of a Linux desktop through AT-SPI 2, the accessibility bus of the session.
//
// Linux has no per-process trust: the process counts as trusted when the accessibility bus can
// be reached (a session bus with the AT-SPI bus launcher), and no prompt exists. The system-wide
// element's "AXFocusedUIElement" is the focused object of the applications' active windows
// when it is editable text (absent, or a terminal's screen and other read-only text: noValue). An
// element answers "AXValue" (its whole text) and "AXSelectedTextRange" (the first selection, else
// the caret as an empty range) when it offers AT-SPI's Text interface, in UTF-16 units converted
// from AT-SPI's character offsets; setting "AXSelectedTextRange" selects the range, or moves the
// caret for an empty one. Anything else is attributeUnsupported; an application that does not
// answer gives cannotComplete; without the bus, apiDisabled.
//
// Used on the main executor's thread only (the AT-SPI library is not thread-safe); calls block
// for at most the call time-out each.
class AtspiAccessibility final : public Accessibility {
public:
  explicit AtspiAccessibility(AtspiAccessibilityOptions options = {});
  ~AtspiAccessibility() override;
  AtspiAccessibility(const AtspiAccessibility &) = delete;
  AtspiAccessibility &operator=(const AtspiAccessibility &) = delete;

  bool isProcessTrusted() const override;
  bool isProcessTrustedWithOptions(bool prompt) override;
  std::shared_ptr<AccessibilityElement> systemWideElement() override;

private:
  class SystemWide;
  class Element;
  AtspiAccessibilityOptions options_;
  mutable int available_ = -1; // -1 unknown, 0 no, 1 yes
};

} // namespace platform
