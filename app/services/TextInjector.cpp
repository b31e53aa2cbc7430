#include "app/services/TextInjector.hpp"

#include "DeduveCore/Text/Utf8.hpp"
#include "platform/input/EventTap.hpp"

namespace murmurquill {
namespace {

// Clears the pasteboard and writes `contents` back. False when a write failed.
bool writeBack(platform::Pasteboard &pasteboard, const platform::PasteboardContents &contents) {
  pasteboard.clearContents();
  bool complete = true;
  for (const auto &item : contents) {
    complete = pasteboard.setData(item.type, item.data) && complete;
  }
  return complete;
}

} // namespace

std::shared_ptr<TextInjector>
TextInjector::make(std::shared_ptr<platform::KeystrokePoster> poster,
                   std::shared_ptr<platform::Pasteboard> pasteboard,
                   std::shared_ptr<platform::Accessibility> accessibility,
                   std::shared_ptr<platform::Executor> main, LogSink log) {
  return std::shared_ptr<TextInjector>(new TextInjector(std::move(poster), std::move(pasteboard),
                                                        std::move(accessibility), std::move(main),
                                                        std::move(log)));
}

TextInjector::TextInjector(std::shared_ptr<platform::KeystrokePoster> poster,
                           std::shared_ptr<platform::Pasteboard> pasteboard,
                           std::shared_ptr<platform::Accessibility> accessibility,
                           std::shared_ptr<platform::Executor> main, LogSink log)
    : poster_(std::move(poster)), pasteboard_(std::move(pasteboard)),
      accessibility_(std::move(accessibility)), main_(std::move(main)), log_(std::move(log)) {}

bool TextInjector::canPostEvents() const {
  return poster_->canPostEvents() || accessibility_->isProcessTrusted();
}

TextInjector::InjectResult TextInjector::inject(const std::string &text) {
  if (text.empty()) {
    return InjectResult::injected;
  }
  if (!canPostEvents()) {
    log("[TextInjector] PostEvent not granted \xE2\x80\x94 skipping injection");
    return InjectResult::notPermitted;
  }
  return paste(text, /*announceChange=*/true) ? InjectResult::injected : InjectResult::failed;
}

platform::PasteboardContents TextInjector::userContents() {
  const auto pending = pendingRestore_;
  if (pending && !pending->done && pending->changeCount == pasteboard_->changeCount()) {
    pending->superseded = true;
    return pending->saved;
  }
  return pasteboard_->contents();
}

bool TextInjector::paste(const std::string &text, bool announceChange) {
  platform::Pasteboard &pasteboard = *pasteboard_;
  platform::PasteboardContents saved = userContents();
  pasteboard.clearContents();
  if (!pasteboard.setString(text)) {
    log("[TextInjector] Could not write the pasteboard \xE2\x80\x94 skipping injection");
    writeBack(pasteboard, saved);
    return false;
  }
  const std::int64_t changeCount = pasteboard.changeCount();
  const int posted = postCommandKey(kKeyCodeV);
  if (posted == 0) {
    // Nothing reached the application: give the pasteboard back at once.
    log("[TextInjector] Could not post the paste keystroke");
    writeBack(pasteboard, saved);
    return false;
  }
  if (posted == 1) {
    // The key went down but not up: the application may still paste, so the restore waits.
    log("[TextInjector] Could not post the paste keystroke");
  }
  // The restore holds the pasteboard and what it held, not the injector: it must run even if
  // the injector goes away, or the user's clipboard would be lost.
  auto pending = std::make_shared<PendingRestore>(PendingRestore{std::move(saved), changeCount});
  pendingRestore_ = pending;
  main_->after(kRestoreDelay, [pasteboard = pasteboard_, pending, announceChange, log = log_] {
    pending->done = true;
    if (pending->superseded) {
      return; // the later paste gives the same contents back after its own paste
    }
    if (pasteboard->changeCount() != pending->changeCount) {
      if (announceChange && log) {
        log("[TextInjector] Pasteboard changed during paste \xE2\x80\x94 leaving as-is");
      }
      return;
    }
    if (!writeBack(*pasteboard, pending->saved) && log) {
      log("[TextInjector] Could not restore the pasteboard");
    }
  });
  return posted == 2;
}

int TextInjector::postCommandKey(std::uint16_t keyCode) {
  int posted = 0;
  for (const bool down : {true, false}) {
    platform::Keystroke keystroke;
    keystroke.keyCode = keyCode;
    keystroke.keyDown = down;
    keystroke.flags = platform::EventFlags::maskCommand;
    keystroke.sourceState = platform::EventSourceState::hidSystemState;
    if (!poster_->post(keystroke, platform::EventTapLocation::hidEventTap)) {
      break;
    }
    ++posted;
  }
  return posted;
}

bool TextInjector::replaceLastInjection(const std::string &oldText, const std::string &newText) {
  if (oldText.empty() || newText.empty() || !canPostEvents()) {
    return false;
  }
  if (accessibility_->isProcessTrusted()) {
    const auto systemWide = accessibility_->systemWideElement();
    platform::AccessibilityValue focused;
    if (systemWide &&
        systemWide->copyAttributeValue(platform::AccessibilityAttribute::focusedElement, focused) ==
            platform::AccessibilityError::success) {
      const auto *element = std::get_if<std::shared_ptr<platform::AccessibilityElement>>(&focused);
      if (element != nullptr && *element) {
        const std::u16string old = deduve::toUtf16(oldText);
        if (selectBySelectedRange(**element, old) || selectBySearchingValue(**element, old)) {
          if (!paste(newText, /*announceChange=*/false)) {
            return false;
          }
          log("[TextInjector] Replaced via AX selection");
          return true;
        }
      }
    }
  }
  // Where undo is not known to take the paste back, undo and paste again would leave the
  // dictation and its replacement side by side: Apply is refused instead.
  if (!poster_->focusedApplicationUndoes()) {
    return false;
  }
  undoAndReinject(newText);
  return true;
}

bool TextInjector::selectBySelectedRange(platform::AccessibilityElement &element,
                                         const std::u16string &old) {
  platform::AccessibilityValue value;
  if (element.copyAttributeValue(platform::AccessibilityAttribute::selectedTextRange, value) !=
      platform::AccessibilityError::success) {
    return false;
  }
  const auto *range = std::get_if<platform::AccessibilityRange>(&value);
  if (range == nullptr || range->length != 0) {
    return false;
  }
  const auto length = static_cast<std::int64_t>(old.size());
  if (range->location < length) {
    return false;
  }
  // The caret may have moved since the insertion: select only when the text before it is the
  // inserted text, or the replacement would overwrite the user's other words.
  platform::AccessibilityValue text;
  if (element.copyAttributeValue(platform::AccessibilityAttribute::value, text) !=
      platform::AccessibilityError::success) {
    return false;
  }
  const auto *field = std::get_if<std::u16string>(&text);
  const std::int64_t start = range->location - length;
  if (field == nullptr || range->location > static_cast<std::int64_t>(field->size()) ||
      field->compare(static_cast<std::size_t>(start), old.size(), old) != 0) {
    return false;
  }
  return element.setAttributeValue(platform::AccessibilityAttribute::selectedTextRange,
                                   platform::AccessibilityRange{start, length}) ==
         platform::AccessibilityError::success;
}

bool TextInjector::selectBySearchingValue(platform::AccessibilityElement &element,
                                          const std::u16string &old) {
  platform::AccessibilityValue value;
  if (element.copyAttributeValue(platform::AccessibilityAttribute::value, value) !=
      platform::AccessibilityError::success) {
    return false;
  }
  const auto *field = std::get_if<std::u16string>(&value);
  if (field == nullptr) {
    return false;
  }
  const std::size_t found = field->rfind(old);
  if (found == std::u16string::npos) {
    return false;
  }
  return element.setAttributeValue(
             platform::AccessibilityAttribute::selectedTextRange,
             platform::AccessibilityRange{static_cast<std::int64_t>(found),
                                          static_cast<std::int64_t>(old.size())}) ==
         platform::AccessibilityError::success;
}

void TextInjector::undoAndReinject(const std::string &newText) {
  // Work queued on the executor holds it weakly: a strong reference would keep the executor
  // alive through its own queue.
  main_->after(kUndoDelay, [weak = weak_from_this(),
                            weakMain = std::weak_ptr<platform::Executor>(main_), newText] {
    if (const auto injector = weak.lock()) {
      if (injector->postCommandKey(kKeyCodeZ) != 2) {
        injector->log("[TextInjector] Could not post the undo keystroke");
      }
    }
    const auto main = weakMain.lock();
    if (!main) {
      return;
    }
    main->after(kRestoreDelay, [weak, newText] {
      if (const auto injector = weak.lock()) {
        injector->inject(newText);
      }
    });
  });
  log("[TextInjector] Replaced via undo + re-inject");
}

void TextInjector::log(const std::string &line) const {
  if (log_) {
    log_(line);
  }
}

} // namespace murmurquill
