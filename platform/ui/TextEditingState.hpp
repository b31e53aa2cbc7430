#pragma once

#include "platform/ui/View.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace platform {
class Pasteboard;
}

namespace platform::ui {

// The editing model of a text editor: a caret and a selection anchor as byte offsets into
// UTF-8 text, always on scalar boundaries, and the edits and moves a person makes with the
// keyboard. The text itself belongs to the caller (the editor's binding); every call takes it.
// Lines are the text's own lines ('\n'), not the wrapped lines on screen.
class TextEditingState {
public:
  enum class Motion { left, right, up, down, lineStart, lineEnd, documentStart, documentEnd };

  std::size_t caret() const { return caret_; }
  std::size_t anchor() const { return anchor_; }
  bool hasSelection() const { return caret_ != anchor_; }
  // The selected byte range, lower offset first (empty: just the caret).
  std::pair<std::size_t, std::size_t> selection() const;
  std::string selectedText(const std::string &text) const;

  // The text was replaced from elsewhere: the caret goes to its end, nothing is selected.
  void reset(const std::string &text);
  void move(const std::string &text, Motion motion, bool extend);
  // Puts the caret at `offset` (a pointer press), moved back to a scalar boundary; with
  // `extend` the anchor stays, selecting what lies between.
  void place(const std::string &text, std::size_t offset, bool extend);
  void selectAll(const std::string &text);
  // Replaces the selection (or inserts at the caret) with `typed`, repaired to valid UTF-8.
  void insert(std::string &text, std::string_view typed);
  // Removes the selection, or the scalar before (after) the caret.
  void deleteBackward(std::string &text);
  void deleteForward(std::string &text);

  // A key a person pressed in the editor: moves (Shift extends the selection; Command with
  // Home/End goes to the ends of the text), deletions and Command-A/C/X/V with `pasteboard`
  // (may be null: nothing is copied or pasted). Typed characters are not keys here; they come
  // through insert(). Returns whether the key was the editor's.
  bool handleKey(std::string &text, Key key, unsigned modifiers, Pasteboard *pasteboard);

private:
  std::size_t lineStart(const std::string &text, std::size_t offset) const;
  std::size_t lineEnd(const std::string &text, std::size_t offset) const;
  // Moves to the line above or below at the same column (counted in scalars).
  std::size_t verticalTarget(const std::string &text, bool down);
  void moveTo(std::size_t offset, bool extend);
  void replaceSelection(std::string &text, std::string_view with);

  std::size_t caret_ = 0;
  std::size_t anchor_ = 0;
  // The column kept through a run of up and down moves, so a short line between long ones
  // does not pull the caret to the left for good.
  std::optional<std::size_t> goalColumn_;
};

// What a hosting view keeps for each text editor on show: the editing model, how far its
// text is scrolled and the text it last saw (a different text means an outside change).
struct TextEditorState {
  TextEditingState editing;
  double scrollOffset = 0;
  bool revealCaret = false;
  // The x the caret keeps through a run of Up and Down over wrapped lines.
  std::optional<double> goalX;
  std::optional<std::string> seenText;

  // Follows an outside change of the text (the first sight included).
  void sync(const std::string &text);
};

} // namespace platform::ui
