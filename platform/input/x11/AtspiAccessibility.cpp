#include "platform/input/x11/AtspiAccessibility.hpp"

#include "platform/input/x11/TextOffsets.hpp"

#include <atspi/atspi.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace platform {
namespace {

// Owns one GObject reference.
template <typename T> class Ref {
public:
  Ref() = default;
  explicit Ref(T *object) : object_(object) {}
  Ref(const Ref &other) : object_(other.object_) {
    if (object_ != nullptr) {
      g_object_ref(object_);
    }
  }
  Ref &operator=(Ref other) {
    std::swap(object_, other.object_);
    return *this;
  }
  ~Ref() {
    if (object_ != nullptr) {
      g_object_unref(object_);
    }
  }
  T *get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

private:
  T *object_ = nullptr;
};

// Clears a GError on scope exit and says whether one was set.
class Error {
public:
  ~Error() {
    if (error_ != nullptr) {
      g_error_free(error_);
    }
  }
  GError **out() { return &error_; }
  bool failed() const { return error_ != nullptr; }

private:
  GError *error_ = nullptr;
};

bool hasState(AtspiAccessible *object, AtspiStateType state) {
  Ref<AtspiStateSet> states(atspi_accessible_get_state_set(object));
  return states && atspi_state_set_contains(states.get(), state);
}

// The whole text of `text`; absent when the application does not answer.
std::optional<std::string> wholeText(AtspiText *text) {
  Error error;
  gchar *value = atspi_text_get_text(text, 0, -1, error.out());
  if (error.failed() || value == nullptr) {
    g_free(value);
    return std::nullopt;
  }
  std::string result = value;
  g_free(value);
  return result;
}

// An element's text interface and whole text, which reading and moving the selection both start
// from; `success` only when the application gave both.
struct ElementText {
  Ref<AtspiText> text;
  std::string content;

  AccessibilityError read(AtspiAccessible *object) {
    text = Ref<AtspiText>(atspi_accessible_get_text_iface(object));
    if (!text) {
      return AccessibilityError::attributeUnsupported;
    }
    auto whole = wholeText(text.get());
    if (!whole) {
      return AccessibilityError::cannotComplete;
    }
    content = std::move(*whole);
    return AccessibilityError::success;
  }
};

} // namespace

class AtspiAccessibility::Element final : public AccessibilityElement {
public:
  explicit Element(Ref<AtspiAccessible> object) : object_(std::move(object)) {}

  AccessibilityError copyAttributeValue(const std::string &attribute,
                                        AccessibilityValue &value) const override {
    const bool isValue = attribute == AccessibilityAttribute::value;
    if (!isValue && attribute != AccessibilityAttribute::selectedTextRange) {
      return AccessibilityError::attributeUnsupported;
    }
    ElementText element;
    if (const auto error = element.read(object_.get()); error != AccessibilityError::success) {
      return error;
    }
    const Ref<AtspiText> &text = element.text;
    const std::string &content = element.content;
    if (isValue) {
      value = utf16FromUtf8(content);
      return AccessibilityError::success;
    }
    Error error;
    const gint selections = atspi_text_get_n_selections(text.get(), error.out());
    gint start = 0;
    gint end = 0;
    if (!error.failed() && selections > 0) {
      Error rangeError;
      AtspiRange *range = atspi_text_get_selection(text.get(), 0, rangeError.out());
      if (rangeError.failed() || range == nullptr) {
        g_free(range);
        return AccessibilityError::cannotComplete;
      }
      start = std::min(range->start_offset, range->end_offset);
      end = std::max(range->start_offset, range->end_offset);
      g_free(range);
    } else {
      Error caretError;
      start = end = atspi_text_get_caret_offset(text.get(), caretError.out());
      if (caretError.failed() || start < 0) {
        return AccessibilityError::cannotComplete;
      }
    }
    const std::int64_t location = utf16OffsetOfCharacter(content, start);
    value = AccessibilityRange{location, utf16OffsetOfCharacter(content, end) - location};
    return AccessibilityError::success;
  }

  AccessibilityError setAttributeValue(const std::string &attribute,
                                       const AccessibilityValue &value) override {
    if (attribute != AccessibilityAttribute::selectedTextRange) {
      return AccessibilityError::attributeUnsupported;
    }
    const auto *range = std::get_if<AccessibilityRange>(&value);
    if (range == nullptr || range->location < 0 || range->length < 0) {
      return AccessibilityError::illegalArgument;
    }
    ElementText element;
    if (const auto error = element.read(object_.get()); error != AccessibilityError::success) {
      return error;
    }
    const Ref<AtspiText> &text = element.text;
    const std::string &content = element.content;
    if (range->location + range->length >
        static_cast<std::int64_t>(utf16FromUtf8(content).size())) {
      return AccessibilityError::illegalArgument;
    }
    const auto start = static_cast<gint>(characterOffsetOfUtf16(content, range->location));
    const auto end =
        static_cast<gint>(characterOffsetOfUtf16(content, range->location + range->length));
    Error error;
    gboolean done = FALSE;
    if (start == end) {
      done = atspi_text_set_caret_offset(text.get(), start, error.out());
    } else {
      Error countError;
      const gint selections = atspi_text_get_n_selections(text.get(), countError.out());
      done = selections > 0 ? atspi_text_set_selection(text.get(), 0, start, end, error.out())
                            : atspi_text_add_selection(text.get(), start, end, error.out());
    }
    return !error.failed() && done ? AccessibilityError::success
                                   : AccessibilityError::cannotComplete;
  }

private:
  Ref<AtspiAccessible> object_;
};

class AtspiAccessibility::SystemWide final : public AccessibilityElement {
public:
  SystemWide(AtspiAccessibility &owner) : owner_(owner) {}

  AccessibilityError copyAttributeValue(const std::string &attribute,
                                        AccessibilityValue &value) const override {
    if (attribute != AccessibilityAttribute::focusedElement) {
      return AccessibilityError::attributeUnsupported;
    }
    if (!owner_.isProcessTrusted()) {
      return AccessibilityError::apiDisabled;
    }
    Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) {
      return AccessibilityError::cannotComplete;
    }
    std::size_t visited = 0;
    Error error;
    const gint apps = atspi_accessible_get_child_count(desktop.get(), error.out());
    for (gint a = 0; !error.failed() && a < apps; ++a) {
      Error childError;
      Ref<AtspiAccessible> app(
          atspi_accessible_get_child_at_index(desktop.get(), a, childError.out()));
      if (!app) {
        continue;
      }
      Error windowsError;
      const gint windows = atspi_accessible_get_child_count(app.get(), windowsError.out());
      for (gint w = 0; !windowsError.failed() && w < windows; ++w) {
        Error windowError;
        Ref<AtspiAccessible> window(
            atspi_accessible_get_child_at_index(app.get(), w, windowError.out()));
        // Only the active window holds the keyboard focus.
        if (!window || !hasState(window.get(), ATSPI_STATE_ACTIVE)) {
          continue;
        }
        if (auto focused = findFocused(window, visited)) {
          // Only editable text takes a replacement: a terminal exposes its screen as text too,
          // but selecting there only highlights and the paste is appended at its prompt.
          if (!hasState(focused->get(), ATSPI_STATE_EDITABLE)) {
            return AccessibilityError::noValue;
          }
          value = std::shared_ptr<AccessibilityElement>(std::make_shared<Element>(*focused));
          return AccessibilityError::success;
        }
      }
    }
    return AccessibilityError::noValue;
  }

  AccessibilityError setAttributeValue(const std::string &, const AccessibilityValue &) override {
    return AccessibilityError::attributeUnsupported;
  }

private:
  std::optional<Ref<AtspiAccessible>> findFocused(const Ref<AtspiAccessible> &object,
                                                  std::size_t &visited) const {
    if (++visited > owner_.options_.maxVisited) {
      return std::nullopt;
    }
    Ref<AtspiStateSet> states(atspi_accessible_get_state_set(object.get()));
    if (!states) {
      return std::nullopt;
    }
    if (atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED)) {
      return object;
    }
    // Hidden subtrees hold no focus.
    if (!atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING) &&
        atspi_accessible_get_role(object.get(), nullptr) != ATSPI_ROLE_FRAME) {
      return std::nullopt;
    }
    Error error;
    const gint children = atspi_accessible_get_child_count(object.get(), error.out());
    for (gint i = 0; !error.failed() && i < children; ++i) {
      Error childError;
      Ref<AtspiAccessible> child(
          atspi_accessible_get_child_at_index(object.get(), i, childError.out()));
      if (!child) {
        continue;
      }
      if (auto found = findFocused(child, visited)) {
        return found;
      }
    }
    return std::nullopt;
  }

  AtspiAccessibility &owner_;
};

AtspiAccessibility::AtspiAccessibility(AtspiAccessibilityOptions options) : options_(options) {}

AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::isProcessTrusted() const {
  if (available_ < 0) {
    available_ = 0;
    // Without a session bus the library would try to reach one through X and warn; there is
    // nothing to find then.
    const char *bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus != nullptr && *bus != '\0' && atspi_init() <= 1) {
      atspi_set_timeout(static_cast<gint>(options_.callTimeout.count()),
                        static_cast<gint>(options_.callTimeout.count()));
      Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
      if (desktop) {
        Error error;
        atspi_accessible_get_child_count(desktop.get(), error.out());
        available_ = error.failed() ? 0 : 1;
      }
    }
  }
  return available_ == 1;
}

bool AtspiAccessibility::isProcessTrustedWithOptions(bool) { return isProcessTrusted(); }

std::shared_ptr<AccessibilityElement> AtspiAccessibility::systemWideElement() {
  return std::make_shared<SystemWide>(*this);
}

} // namespace platform
