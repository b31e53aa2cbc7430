#include "app/services/TextInjector.hpp"

#include "tests/app/AppTestSupport.hpp"
#include "platform/input/EventTap.hpp"
#include "platform/input/InMemoryAccessibility.hpp"
#include "platform/input/InMemoryKeystrokePoster.hpp"
#include "platform/input/InMemoryPasteboard.hpp"
#include "platform/system/ManualExecutor.hpp"

#include <gtest/gtest.h>

namespace murmurquill {
namespace {

using namespace std::chrono_literals;
using Result = TextInjector::InjectResult;

const platform::PasteboardContents kUserContents{{"image/png", "\x89PNG-bytes"},
                                                 {platform::Pasteboard::plainTextType, "mine"}};

class TextInjectorTest : public ::testing::Test {
protected:
  void SetUp() override { pasteboard->externalWrite(kUserContents); }

  // Command-V (or another key) down and up, as posted.
  static std::vector<std::pair<std::uint16_t, bool>>
  keys(const std::vector<platform::InMemoryKeystrokePoster::Post> &posts) {
    std::vector<std::pair<std::uint16_t, bool>> out;
    for (const auto &post : posts) {
      out.emplace_back(post.keystroke.keyCode, post.keystroke.keyDown);
    }
    return out;
  }

  std::shared_ptr<platform::InMemoryKeystrokePoster> poster =
      std::make_shared<platform::InMemoryKeystrokePoster>();
  std::shared_ptr<platform::InMemoryPasteboard> pasteboard =
      std::make_shared<platform::InMemoryPasteboard>();
  std::shared_ptr<platform::InMemoryAccessibility> accessibility =
      std::make_shared<platform::InMemoryAccessibility>();
  std::shared_ptr<platform::ManualExecutor> main = std::make_shared<platform::ManualExecutor>();
  testing::LogRecorder log;
  std::shared_ptr<TextInjector> injector =
      TextInjector::make(poster, pasteboard, accessibility, main, log.sink());
};

TEST_F(TextInjectorTest, PastesThenRestoresEveryTypeAt150Milliseconds) {
  EXPECT_EQ(injector->inject("hello"), Result::injected);
  EXPECT_EQ(pasteboard->contents(),
            (platform::PasteboardContents{{platform::Pasteboard::plainTextType, "hello"}}));
  EXPECT_EQ(keys(poster->posts()),
            (std::vector<std::pair<std::uint16_t, bool>>{{9, true}, {9, false}}));
  main->advance(149ms);
  EXPECT_EQ(pasteboard->string(), "hello") << "restored too early";
  main->advance(1ms);
  EXPECT_EQ(pasteboard->contents(), kUserContents);
  EXPECT_TRUE(log.lines().empty());
}

// The second dictation's save comes while the pasteboard holds the first dictation: the user's
// contents are those the pending restore holds, and they come back after the second paste.
TEST_F(TextInjectorTest, TwoInsertionsWithinTheRestoreDelayGiveTheUsersContentsBack) {
  EXPECT_EQ(injector->inject("first"), Result::injected);
  main->advance(100ms);
  EXPECT_EQ(injector->inject("second"), Result::injected);
  EXPECT_EQ(pasteboard->string(), "second");
  main->advance(50ms);
  EXPECT_EQ(pasteboard->string(), "second") << "the first restore must not cut the second paste";
  main->advance(100ms);
  EXPECT_EQ(pasteboard->contents(), kUserContents);
  EXPECT_TRUE(log.lines().empty());
}

// Somebody else's write between two insertions is what the user has now: it is what comes back.
TEST_F(TextInjectorTest, AnExternalWriteBetweenTwoInsertionsIsWhatComesBack) {
  injector->inject("first");
  main->advance(50ms);
  pasteboard->externalWrite({{platform::Pasteboard::plainTextType, "copied meanwhile"}});
  injector->inject("second");
  main->advance(300ms);
  EXPECT_EQ(pasteboard->string(), "copied meanwhile");
}

TEST_F(TextInjectorTest, KeystrokesCarryExactlyTheCommandFlagAtTheHidTap) {
  injector->inject("x");
  ASSERT_EQ(poster->posts().size(), 2u);
  for (const auto &post : poster->posts()) {
    EXPECT_EQ(post.keystroke.flags, platform::EventFlags::maskCommand);
    EXPECT_EQ(post.keystroke.sourceState, platform::EventSourceState::hidSystemState);
    EXPECT_EQ(post.location, platform::EventTapLocation::hidEventTap);
  }
}

TEST_F(TextInjectorTest, AnImageOnlyPasteboardGetsItsImageBack) {
  pasteboard->externalWrite({{"image/png", "pixels"}});
  injector->inject("text");
  main->advance(150ms);
  EXPECT_EQ(pasteboard->contents(), (platform::PasteboardContents{{"image/png", "pixels"}}));
}

TEST_F(TextInjectorTest, AnEmptyPasteboardStaysEmpty) {
  pasteboard->clearContents();
  injector->inject("text");
  main->advance(150ms);
  EXPECT_TRUE(pasteboard->contents().empty());
}

TEST_F(TextInjectorTest, AnExternalWriteWithin150MillisecondsIsKept) {
  injector->inject("hello");
  main->advance(100ms);
  pasteboard->externalWrite({{platform::Pasteboard::plainTextType, "theirs"}});
  main->advance(50ms);
  EXPECT_EQ(pasteboard->string(), "theirs");
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"[TextInjector] Pasteboard changed during "
                                                   "paste \xE2\x80\x94 leaving as-is"}));
}

TEST_F(TextInjectorTest, EmptyTextSucceedsWithoutTouchingAnything) {
  const auto count = pasteboard->changeCount();
  EXPECT_EQ(injector->inject(""), Result::injected);
  EXPECT_EQ(pasteboard->changeCount(), count);
  EXPECT_TRUE(poster->posts().empty());
  EXPECT_EQ(main->pendingCount(), 0u);
}

TEST_F(TextInjectorTest, WithoutPermissionNothingIsTouched) {
  poster->setCanPostEvents(false);
  const auto count = pasteboard->changeCount();
  EXPECT_EQ(injector->inject("hello"), Result::notPermitted);
  EXPECT_EQ(pasteboard->changeCount(), count);
  EXPECT_TRUE(poster->posts().empty());
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{
                "[TextInjector] PostEvent not granted \xE2\x80\x94 skipping injection"}));
  // Accessibility trust alone is enough.
  accessibility->setTrusted(true);
  EXPECT_EQ(injector->inject("hello"), Result::injected);
}

TEST_F(TextInjectorTest, AFailedPasteboardWriteReportsFailureAndGivesTheContentsBack) {
  pasteboard->failWritesFrom(pasteboard->writeAttemptCount());
  EXPECT_EQ(injector->inject("hello"), Result::failed);
  EXPECT_TRUE(poster->posts().empty());
  EXPECT_EQ(log.lines().size(), 1u);
  // Nothing was posted, so no restore is pending.
  EXPECT_EQ(main->pendingCount(), 0u);
}

TEST_F(TextInjectorTest, AFailedWriteGivesTheContentsBackWhenThePasteboardRecovers) {
  // Only the first write (our text) fails; the user's items are written back at once.
  struct OnceFailing final : platform::Pasteboard {
    std::shared_ptr<platform::InMemoryPasteboard> inner;
    bool failed = false;
    std::int64_t changeCount() const override { return inner->changeCount(); }
    std::int64_t clearContents() override { return inner->clearContents(); }
    bool setData(const std::string &type, const std::string &data) override {
      if (!failed) {
        failed = true;
        return false;
      }
      return inner->setData(type, data);
    }
    std::optional<std::string> data(const std::string &type) const override {
      return inner->data(type);
    }
    platform::PasteboardContents contents() const override { return inner->contents(); }
  };
  auto once = std::make_shared<OnceFailing>();
  once->inner = pasteboard;
  auto local = TextInjector::make(poster, once, accessibility, main, log.sink());
  EXPECT_EQ(local->inject("hello"), Result::failed);
  EXPECT_EQ(pasteboard->contents(), kUserContents);
  EXPECT_TRUE(poster->posts().empty());
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"[TextInjector] Could not write the "
                                                   "pasteboard \xE2\x80\x94 skipping injection"}));
}

TEST_F(TextInjectorTest, AFailedKeystrokeReportsFailureAndGivesThePasteboardBackAtOnce) {
  poster->failPostsFrom(0);
  EXPECT_EQ(injector->inject("hello"), Result::failed);
  EXPECT_EQ(pasteboard->contents(), kUserContents);
  EXPECT_EQ(main->pendingCount(), 0u);
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"[TextInjector] Could not post the paste keystroke"}));
}

TEST_F(TextInjectorTest, AFailedKeyUpReportsFailureButRestoresOnlyAfterTheDelay) {
  poster->failPostsFrom(1);
  EXPECT_EQ(injector->inject("hello"), Result::failed);
  EXPECT_EQ(pasteboard->string(), "hello") << "the application may still paste";
  main->advance(150ms);
  EXPECT_EQ(pasteboard->contents(), kUserContents);
}

TEST_F(TextInjectorTest, TheRestoreRunsEvenWhenTheInjectorIsGone) {
  injector->inject("hello");
  injector.reset();
  main->advance(150ms);
  EXPECT_EQ(pasteboard->contents(), kUserContents);
}

// Accessibility replacement: a trusted process with a focused text field.
class ReplaceTest : public TextInjectorTest {
protected:
  void SetUp() override {
    TextInjectorTest::SetUp();
    accessibility->setTrusted(true);
    accessibility->setFocusedElement(field);
  }
  std::shared_ptr<platform::InMemoryTextField> field =
      std::make_shared<platform::InMemoryTextField>();
};

struct CaretRow {
  std::u16string value;
  std::int64_t caret;
  std::string oldText;
  std::optional<platform::AccessibilityRange> selected; // absent: the undo route
};

class CaretTable : public ReplaceTest, public ::testing::WithParamInterface<CaretRow> {};

TEST_P(CaretTable, SelectsTheOldTextInUtf16Units) {
  const auto &row = GetParam();
  field->setValue(row.value, row.caret);
  EXPECT_TRUE(injector->replaceLastInjection(row.oldText, "new"));
  if (row.selected) {
    ASSERT_EQ(field->selectionsSet().size(), 1u);
    EXPECT_EQ(field->selectionsSet()[0], *row.selected);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"[TextInjector] Replaced via AX selection"}));
    EXPECT_EQ(pasteboard->string(), "new");
    EXPECT_EQ(keys(poster->posts()),
              (std::vector<std::pair<std::uint16_t, bool>>{{9, true}, {9, false}}));
  } else {
    EXPECT_TRUE(field->selectionsSet().empty());
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"[TextInjector] Replaced via undo + re-inject"}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Carets, CaretTable,
    ::testing::Values(
        // Caret right after the old text.
        CaretRow{u"hello", 5, "hello", platform::AccessibilityRange{0, 5}},
        // Caret before the end of the old text: found by searching the value instead.
        CaretRow{u"hello", 3, "hello", platform::AccessibilityRange{0, 5}},
        // An emoji is two UTF-16 units: "hi 👋" is 5 units long (4 scalars).
        CaretRow{u"say hi \U0001F44B", 8, "hi \U0001F44B", platform::AccessibilityRange{4, 5}},
        CaretRow{u"\U0001F600\U0001F600 ok", 7, "\U0001F600 ok",
                 platform::AccessibilityRange{2, 5}},
        // The caret moved on: the text before it is not the inserted text, so the later
        // occurrence found by searching backwards is selected, not the wrong five units.
        CaretRow{u"hello world abcde", 17, "hello", platform::AccessibilityRange{0, 5}},
        CaretRow{u"hello, and hello again", 22, "hello", platform::AccessibilityRange{11, 5}},
        // Not in the field at all.
        CaretRow{u"something else", 14, "hello", std::nullopt}));

TEST_F(ReplaceTest, ASelectionIsNotACaret) {
  field->setValue(u"hello", 0);
  field->setSelection({0, 5});
  field->setExposesValue(false);
  EXPECT_TRUE(injector->replaceLastInjection("hello", "new"));
  EXPECT_TRUE(field->selectionsSet().empty());
}

TEST_F(ReplaceTest, CaretRouteNeedsTheValueToCheckTheText) {
  field->setValue(u"hello", 5);
  field->setExposesValue(false);
  EXPECT_TRUE(injector->replaceLastInjection("hello", "new"));
  EXPECT_TRUE(field->selectionsSet().empty());
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"[TextInjector] Replaced via undo + re-inject"}));
}

TEST_F(ReplaceTest, ReplacementPasteLeavesAChangedPasteboardSilently) {
  field->setValue(u"hello", 5);
  EXPECT_TRUE(injector->replaceLastInjection("hello", "new"));
  pasteboard->externalWrite({{platform::Pasteboard::plainTextType, "theirs"}});
  main->advance(150ms);
  EXPECT_EQ(pasteboard->string(), "theirs");
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"[TextInjector] Replaced via AX selection"}));
}

TEST_F(ReplaceTest, UndoRouteUndoesAt100MillisecondsAndPastesAt250) {
  accessibility->setTrusted(false);
  EXPECT_TRUE(injector->replaceLastInjection("hello", "new"));
  EXPECT_TRUE(poster->posts().empty());
  main->advance(99ms);
  EXPECT_TRUE(poster->posts().empty());
  main->advance(1ms);
  EXPECT_EQ(keys(poster->posts()),
            (std::vector<std::pair<std::uint16_t, bool>>{{6, true}, {6, false}}));
  main->advance(149ms);
  EXPECT_EQ(poster->posts().size(), 2u);
  main->advance(1ms);
  EXPECT_EQ(keys(poster->posts()), (std::vector<std::pair<std::uint16_t, bool>>{
                                       {6, true}, {6, false}, {9, true}, {9, false}}));
  EXPECT_EQ(pasteboard->string(), "new");
  main->advance(150ms);
  EXPECT_EQ(pasteboard->contents(), kUserContents);
}

TEST_F(ReplaceTest, UndoRouteDoesNothingOnceTheInjectorIsGone) {
  accessibility->setTrusted(false);
  EXPECT_TRUE(injector->replaceLastInjection("hello", "new"));
  injector.reset();
  main->advance(1s);
  EXPECT_TRUE(poster->posts().empty());
}

TEST_F(ReplaceTest, RefusedSetFallsThroughToUndo) {
  field->setValue(u"hello", 5);
  field->setRefusesSets(true);
  EXPECT_TRUE(injector->replaceLastInjection("hello", "new"));
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"[TextInjector] Replaced via undo + re-inject"}));
}

// Undo and paste again in an application whose undo does not take the paste back would leave
// the dictation and its replacement side by side: Apply is refused and nothing is touched.
TEST_F(ReplaceTest, WithOnlyTheUndoRouteLeftAndNoKnownUndoItIsRefused) {
  poster->setFocusedApplicationUndoes(false);
  EXPECT_FALSE(injector->replaceLastInjection("teh", "the"));
  main->advance(1s);
  EXPECT_TRUE(poster->posts().empty());
  EXPECT_EQ(pasteboard->contents(), kUserContents);
}

TEST_F(ReplaceTest, RefusedWhenATextIsEmptyOrPostingIsNotAllowed) {
  EXPECT_FALSE(injector->replaceLastInjection("", "new"));
  EXPECT_FALSE(injector->replaceLastInjection("old", ""));
  poster->setCanPostEvents(false);
  accessibility->setTrusted(false);
  EXPECT_FALSE(injector->replaceLastInjection("old", "new"));
  EXPECT_TRUE(poster->posts().empty());
}

TEST_F(ReplaceTest, AFailedReplacementPasteIsReported) {
  field->setValue(u"hello", 5);
  poster->failPostsFrom(0);
  EXPECT_FALSE(injector->replaceLastInjection("hello", "new"));
  EXPECT_EQ(pasteboard->contents(), kUserContents);
}

} // namespace
} // namespace murmurquill
