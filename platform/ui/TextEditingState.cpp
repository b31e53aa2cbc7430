#include "platform/ui/TextEditingState.hpp"

#include "platform/input/Pasteboard.hpp"
#include "platform/text/Utf8.hpp"

#include <algorithm>

namespace platform::ui {

namespace {

bool isContinuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The scalar boundary at or before `offset`.
std::size_t boundaryAtOrBefore(const std::string &text, std::size_t offset) {
  offset = std::min(offset, text.size());
  std::size_t back = 0;
  // A lead byte is at most three bytes back; ill-formed runs are stepped one byte at a time.
  while (offset > 0 && offset < text.size() && isContinuation(text[offset]) && back < 3) {
    --offset;
    ++back;
  }
  return offset;
}

std::size_t previousBoundary(const std::string &text, std::size_t offset) {
  return offset == 0 ? 0 : boundaryAtOrBefore(text, offset - 1);
}

std::size_t nextBoundary(const std::string &text, std::size_t offset) {
  if (offset >= text.size()) {
    return text.size();
  }
  platform::nextScalar(text, offset);
  return offset;
}

std::size_t scalarsBetween(const std::string &text, std::size_t from, std::size_t to) {
  std::size_t count = 0;
  while (from < to) {
    from = nextBoundary(text, from);
    ++count;
  }
  return count;
}

} // namespace

std::pair<std::size_t, std::size_t> TextEditingState::selection() const {
  return {std::min(caret_, anchor_), std::max(caret_, anchor_)};
}

std::string TextEditingState::selectedText(const std::string &text) const {
  const auto [from, to] = selection();
  return from < text.size() ? text.substr(from, to - from) : std::string();
}

void TextEditingState::reset(const std::string &text) {
  caret_ = anchor_ = text.size();
  goalColumn_.reset();
}

void TextEditingState::moveTo(std::size_t offset, bool extend) {
  caret_ = offset;
  if (!extend) {
    anchor_ = offset;
  }
}

std::size_t TextEditingState::lineStart(const std::string &text, std::size_t offset) const {
  const std::size_t newline = offset == 0 ? std::string::npos : text.rfind('\n', offset - 1);
  return newline == std::string::npos ? 0 : newline + 1;
}

std::size_t TextEditingState::lineEnd(const std::string &text, std::size_t offset) const {
  const std::size_t newline = text.find('\n', offset);
  return newline == std::string::npos ? text.size() : newline;
}

std::size_t TextEditingState::verticalTarget(const std::string &text, bool down) {
  const std::size_t start = lineStart(text, caret_);
  if (!goalColumn_) {
    goalColumn_ = scalarsBetween(text, start, caret_);
  }
  std::size_t target = 0;
  if (down) {
    const std::size_t end = lineEnd(text, caret_);
    if (end == text.size()) {
      return text.size();
    }
    target = end + 1;
  } else {
    if (start == 0) {
      return 0;
    }
    target = lineStart(text, start - 1);
  }
  const std::size_t end = lineEnd(text, target);
  for (std::size_t column = 0; column < *goalColumn_ && target < end; ++column) {
    target = nextBoundary(text, target);
  }
  return target;
}

void TextEditingState::move(const std::string &text, Motion motion, bool extend) {
  caret_ = boundaryAtOrBefore(text, caret_);
  anchor_ = boundaryAtOrBefore(text, anchor_);
  const bool vertical = motion == Motion::up || motion == Motion::down;
  if (!vertical) {
    goalColumn_.reset();
  }
  const auto [from, to] = selection();
  switch (motion) {
  case Motion::left:
    // Without Shift a selection collapses to its start rather than moving past it.
    moveTo(hasSelection() && !extend ? from : previousBoundary(text, caret_), extend);
    return;
  case Motion::right:
    moveTo(hasSelection() && !extend ? to : nextBoundary(text, caret_), extend);
    return;
  case Motion::up:
  case Motion::down:
    moveTo(verticalTarget(text, motion == Motion::down), extend);
    return;
  case Motion::lineStart:
    moveTo(lineStart(text, caret_), extend);
    return;
  case Motion::lineEnd:
    moveTo(lineEnd(text, caret_), extend);
    return;
  case Motion::documentStart:
    moveTo(0, extend);
    return;
  case Motion::documentEnd:
    moveTo(text.size(), extend);
    return;
  }
}

void TextEditingState::place(const std::string &text, std::size_t offset, bool extend) {
  goalColumn_.reset();
  moveTo(boundaryAtOrBefore(text, offset), extend);
  anchor_ = boundaryAtOrBefore(text, anchor_);
}

void TextEditingState::selectAll(const std::string &text) {
  goalColumn_.reset();
  anchor_ = 0;
  caret_ = text.size();
}

void TextEditingState::replaceSelection(std::string &text, std::string_view with) {
  caret_ = boundaryAtOrBefore(text, caret_);
  anchor_ = boundaryAtOrBefore(text, anchor_);
  const auto [from, to] = selection();
  text.replace(from, to - from, with);
  caret_ = anchor_ = from + with.size();
  goalColumn_.reset();
}

void TextEditingState::insert(std::string &text, std::string_view typed) {
  replaceSelection(text, platform::repairUtf8(typed));
}

void TextEditingState::deleteBackward(std::string &text) {
  if (!hasSelection()) {
    anchor_ = previousBoundary(text, boundaryAtOrBefore(text, caret_));
  }
  replaceSelection(text, {});
}

void TextEditingState::deleteForward(std::string &text) {
  if (!hasSelection()) {
    anchor_ = nextBoundary(text, boundaryAtOrBefore(text, caret_));
  }
  replaceSelection(text, {});
}

bool TextEditingState::handleKey(std::string &text, Key key, unsigned modifiers,
                                 Pasteboard *pasteboard) {
  const bool extend = (modifiers & kShift) != 0;
  const bool command = (modifiers & kCommand) != 0;
  using Kind = Key::Kind;
  switch (key.kind) {
  case Kind::left:
    move(text, Motion::left, extend);
    return true;
  case Kind::right:
    move(text, Motion::right, extend);
    return true;
  case Kind::up:
    move(text, Motion::up, extend);
    return true;
  case Kind::down:
    move(text, Motion::down, extend);
    return true;
  case Kind::home:
    move(text, command ? Motion::documentStart : Motion::lineStart, extend);
    return true;
  case Kind::end:
    move(text, command ? Motion::documentEnd : Motion::lineEnd, extend);
    return true;
  case Kind::deleteKey:
    deleteBackward(text);
    return true;
  case Kind::forwardDelete:
    deleteForward(text);
    return true;
  case Kind::character:
    break;
  default:
    return false;
  }
  if (!command || (modifiers & ~(kCommand | kShift)) != 0) {
    return false;
  }
  switch (key.character) {
  case 'a':
    selectAll(text);
    return true;
  case 'c':
  case 'x':
    if (hasSelection() && pasteboard != nullptr) {
      pasteboard->clearContents();
      if (pasteboard->setString(selectedText(text)) && key.character == 'x') {
        replaceSelection(text, {});
      }
    }
    return true;
  case 'v':
    if (pasteboard != nullptr) {
      if (const auto pasted = pasteboard->string()) {
        insert(text, *pasted);
      }
    }
    return true;
  default:
    return false;
  }
}

void TextEditorState::sync(const std::string &text) {
  if (!seenText || *seenText != text) {
    editing.reset(text);
    seenText = text;
  }
}

} // namespace platform::ui
