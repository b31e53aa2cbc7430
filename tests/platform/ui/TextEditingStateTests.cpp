#include "platform/ui/TextEditingState.hpp"

#include "platform/input/InMemoryPasteboard.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace platform::ui {
namespace {

// One thing a person does in the editor: a key (with modifiers) or typed text.
struct Step {
  std::optional<Key> key;
  unsigned modifiers = kNoModifiers;
  std::string typed;
};

Step press(Key::Kind kind, unsigned modifiers = kNoModifiers) {
  return Step{Key::named(kind), modifiers, {}};
}
Step command(char c, unsigned modifiers = kCommand) { return Step{Key::of(c), modifiers, {}}; }
Step type(std::string text) { return Step{std::nullopt, kNoModifiers, std::move(text)}; }

struct Case {
  const char *name;
  std::string text; // the caret starts at its end
  std::vector<Step> steps;
  std::string expected;
  std::size_t caret;
  std::size_t anchor;
  std::optional<std::string> pasteboardBefore = std::nullopt;
  std::optional<std::string> pasteboardAfter = std::nullopt;
};

using K = Key::Kind;

const std::vector<Case> &cases() {
  static const std::vector<Case> table = {
      {"typing goes in at the caret", "", {type("h\xC3\xA9llo")}, "h\xC3\xA9llo", 6, 6},
      {"left steps over a two-byte character",
       "a\xC3\xA9",
       {press(K::left), type("x")},
       "ax\xC3\xA9",
       2,
       2},
      {"backspace removes a whole four-byte character",
       "a\xF0\x9F\x98\x80"
       "b",
       {press(K::left), press(K::deleteKey)},
       "ab",
       1,
       1},
      {"forward delete removes the character after the caret",
       "\xC3\xA9\xF0\x9F\x98\x80",
       {press(K::home), press(K::forwardDelete)},
       "\xF0\x9F\x98\x80",
       0,
       0},
      {"shift-right selects and typing replaces the selection",
       "hello world",
       {press(K::home), press(K::right, kShift), press(K::right, kShift), press(K::right, kShift),
        press(K::right, kShift), press(K::right, kShift), type("HELLO")},
       "HELLO world",
       5,
       5},
      {"left without shift collapses a selection to its start",
       "abc",
       {command('a'), press(K::left)},
       "abc",
       0,
       0},
      {"right without shift collapses a selection to its end",
       "abc",
       {press(K::home), press(K::right, kShift), press(K::right, kShift), press(K::right)},
       "abc",
       2,
       2},
      {"up and down keep the column across a short line",
       "abcdef\nxy\nuvwxyz",
       {press(K::up), press(K::up)},
       "abcdef\nxy\nuvwxyz",
       6,
       6},
      {"down from the short line goes back to the kept column",
       "abcdef\nxy\nuvwxyz",
       {press(K::up), press(K::up), press(K::down), press(K::down)},
       "abcdef\nxy\nuvwxyz",
       16,
       16},
      {"up on the first line goes to the start", "abc", {press(K::up)}, "abc", 0, 0},
      {"home and end stay on the caret's line",
       "one\ntwo\nsix",
       {press(K::up), press(K::home), press(K::end, kShift)},
       "one\ntwo\nsix",
       7,
       4},
      {"command-home and command-end reach the ends of the text",
       "one\ntwo",
       {press(K::home, kCommand), type(">"), press(K::end, kCommand), type("<")},
       ">one\ntwo<",
       9,
       9},
      {"backspace at the start changes nothing",
       "ab",
       {press(K::home), press(K::deleteKey)},
       "ab",
       0,
       0},
      {"shift-home then backspace deletes to the line start",
       "ab\ncd",
       {press(K::home, kShift), press(K::deleteKey)},
       "ab\n",
       3,
       3},
      {"cut takes the selection to the pasteboard and paste puts it back twice",
       "hello",
       {command('a'), command('x'), command('v'), command('v')},
       "hellohello",
       10,
       10,
       std::nullopt,
       "hello"},
      {"copy leaves the text and fills the pasteboard",
       "hello world",
       {press(K::left, kShift), press(K::left, kShift), command('c'), press(K::end)},
       "hello world",
       11,
       11,
       "old",
       "ld"},
      {"copy without a selection leaves the pasteboard alone",
       "hello",
       {command('c')},
       "hello",
       5,
       5,
       "old",
       "old"},
      {"paste replaces the selection with valid UTF-8 only",
       "xyz",
       {command('a'), command('v')},
       "a\xEF\xBF\xBD"
       "b",
       5,
       5,
       "a\xFF"
       "b"},
      {"typed ill-formed bytes are repaired", "", {type("\xC3")}, "\xEF\xBF\xBD", 3, 3},
  };
  return table;
}

TEST(TextEditingState, KeySequencesEditAsAPersonExpects) {
  for (const Case &c : cases()) {
    SCOPED_TRACE(c.name);
    InMemoryPasteboard pasteboard;
    if (c.pasteboardBefore) {
      pasteboard.clearContents();
      pasteboard.setString(*c.pasteboardBefore);
    }
    std::string text = c.text;
    TextEditingState state;
    state.reset(text);
    for (const Step &step : c.steps) {
      if (step.key) {
        EXPECT_TRUE(state.handleKey(text, *step.key, step.modifiers, &pasteboard));
      } else {
        state.insert(text, step.typed);
      }
    }
    EXPECT_EQ(text, c.expected);
    EXPECT_EQ(state.caret(), c.caret);
    EXPECT_EQ(state.anchor(), c.anchor);
    if (c.pasteboardAfter) {
      EXPECT_EQ(pasteboard.string(), c.pasteboardAfter);
    }
  }
}

TEST(TextEditingState, KeysThatAreNotTheEditorsAreLeftToOthers) {
  std::string text = "abc";
  TextEditingState state;
  state.reset(text);
  for (const auto &[key, modifiers] :
       std::vector<std::pair<Key, unsigned>>{{Key::escape(), kNoModifiers},
                                             {Key::returnKey(), kCommand},
                                             {Key::of('q'), kCommand},
                                             {Key::of('a'), kNoModifiers},
                                             {Key::of('v'), kCommand | kOption}}) {
    EXPECT_FALSE(state.handleKey(text, key, modifiers, nullptr)) << key.description();
  }
  EXPECT_EQ(text, "abc");
}

// A cut whose pasteboard write fails keeps the text: nothing is lost.
TEST(TextEditingState, CutKeepsTheTextWhenThePasteboardRefusesIt) {
  InMemoryPasteboard pasteboard;
  pasteboard.failWritesFrom(0);
  std::string text = "keep me";
  TextEditingState state;
  state.reset(text);
  state.selectAll(text);
  EXPECT_TRUE(state.handleKey(text, Key::of('x'), kCommand, &pasteboard));
  EXPECT_EQ(text, "keep me");
  EXPECT_TRUE(state.hasSelection());
}

TEST(TextEditingState, PlacingInsideACharacterSnapsToItsStart) {
  const std::string text = "a\xF0\x9F\x98\x80"
                           "b";
  TextEditingState state;
  state.place(text, 3, false);
  EXPECT_EQ(state.caret(), 1u);
  state.place(text, 99, true);
  EXPECT_EQ(state.caret(), text.size());
  EXPECT_EQ(state.selectedText(text), "\xF0\x9F\x98\x80"
                                      "b");
}

} // namespace
} // namespace platform::ui
