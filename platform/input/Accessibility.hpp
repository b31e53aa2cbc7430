#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

namespace platform {

class AccessibilityElement;

// A range of text in UTF-16 code units, as accessibility interfaces count text.
struct AccessibilityRange {
  std::int64_t location = 0;
  std::int64_t length = 0;

  friend bool operator==(const AccessibilityRange &, const AccessibilityRange &) = default;
};

// Results of accessibility calls, with the platform's numeric values.
enum class AccessibilityError : std::int32_t {
  success = 0,
  failure = -25200,
  illegalArgument = -25201,
  invalidElement = -25202,
  cannotComplete = -25204,
  attributeUnsupported = -25205,
  apiDisabled = -25211,
  noValue = -25212,
};

// The value of an attribute: nothing, a text (UTF-16, as the interfaces hand text over), a
// range, or another element.
using AccessibilityValue = std::variant<std::monostate, std::u16string, AccessibilityRange,
                                        std::shared_ptr<AccessibilityElement>>;

// Attribute names used by this system.
namespace AccessibilityAttribute {
inline constexpr const char *focusedElement = "AXFocusedUIElement";
inline constexpr const char *selectedTextRange = "AXSelectedTextRange";
inline constexpr const char *value = "AXValue";
} // namespace AccessibilityAttribute

// An element of another application's interface (a window, a text field, ...) or the
// system-wide element. Used on the main thread; calls may block briefly on the other
// application.
class AccessibilityElement {
public:
  virtual ~AccessibilityElement() = default;
  // Reads `attribute` into `value`; anything but success leaves `value` unspecified.
  virtual AccessibilityError copyAttributeValue(const std::string &attribute,
                                                AccessibilityValue &value) const = 0;
  // Asks the application to set `attribute`; success when it accepted.
  virtual AccessibilityError setAttributeValue(const std::string &attribute,
                                               const AccessibilityValue &value) = 0;
};

// The platform's accessibility interface.
class Accessibility {
public:
  virtual ~Accessibility() = default;
  // Whether the user trusts this process to control other applications.
  virtual bool isProcessTrusted() const = 0;
  // The same, and with `prompt` asks the platform to show its trust prompt when not trusted.
  virtual bool isProcessTrustedWithOptions(bool prompt) = 0;
  // The system-wide element (its focused element is the keyboard focus of the frontmost
  // application); nullptr when the platform has none.
  virtual std::shared_ptr<AccessibilityElement> systemWideElement() = 0;
};

} // namespace platform
