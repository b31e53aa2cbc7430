#include "platform/input/x11/X11Pasteboard.hpp"

#include "platform/x11/X11EventThread.hpp"
#include "tests/platform/input/x11/TestWindow.hpp"
#include "tests/platform/x11/DesktopTest.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>

namespace platform {
namespace {

using namespace std::chrono_literals;

// Asks the CLIPBOARD owner for `target` as a client would; absent when refused.
std::optional<std::string> request(X11Connection &connection, const std::string &target) {
  return testing::requestSelection(connection, "CLIPBOARD", target);
}

// How a test owner misbehaves.
struct Misbehaviour {
  bool answersNothing = false;  // lists its targets but never answers a request for one
  bool neverEndsChunks = false; // a chunked transfer goes on with more chunks for ever
  bool answersIntegers = false; // answers every target with an INTEGER (format 32)
};

// Another application owning the clipboard, answering on a thread of its own; with `chunk` set,
// it hands every item over in chunks of that many bytes (the INCR protocol).
class TestOwner {
public:
  TestOwner(const X11ConnectionOptions &options, std::map<std::string, std::string> items,
            std::size_t chunk = 0, Misbehaviour misbehaviour = {})
      : connection_(X11Connection::open(options)), items_(std::move(items)), chunk_(chunk),
        misbehaviour_(misbehaviour) {
    clipboard_ = connection_->atom("CLIPBOARD");
    targets_ = connection_->atom("TARGETS");
    for (const auto &[name, bytes] : items_) {
      connection_->atom(name);
    }
    XSetSelectionOwner(connection_->display(), clipboard_, connection_->ownWindow(),
                       connection_->serverTime());
    XSync(connection_->display(), False);
    thread_ = std::make_unique<X11EventThread>(
        connection_, [this](XEvent &event) { onEvent(event); }, nullptr);
  }
  bool lostOwnership() const { return cleared_.load(); }

private:
  void onEvent(XEvent &event) {
    if (event.type == SelectionClear) {
      cleared_ = true;
      return;
    }
    if (event.type == PropertyNotify && event.xproperty.state == PropertyDelete &&
        transfer_.requestor == event.xproperty.window &&
        transfer_.property == event.xproperty.atom && transfer_.active) {
      // The requestor took the last chunk: the next one, an empty one at the end.
      if (misbehaviour_.neverEndsChunks && transfer_.offset == transfer_.bytes.size()) {
        transfer_.offset = 0;
      }
      const std::size_t size = std::min(chunk_, transfer_.bytes.size() - transfer_.offset);
      XChangeProperty(connection_->display(), transfer_.requestor, transfer_.property,
                      transfer_.type, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char *>(transfer_.bytes.data()) +
                          transfer_.offset,
                      static_cast<int>(size));
      transfer_.offset += size;
      transfer_.active = size > 0;
      return;
    }
    if (event.type != SelectionRequest) {
      return;
    }
    const XSelectionRequestEvent &r = event.xselectionrequest;
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.requestor = r.requestor;
    reply.selection = r.selection;
    reply.target = r.target;
    reply.time = r.time;
    Display *display = connection_->display();
    if (r.target == targets_) {
      std::vector<long> atoms{static_cast<long>(targets_)};
      for (const auto &[name, bytes] : items_) {
        atoms.push_back(static_cast<long>(connection_->atom(name)));
      }
      XChangeProperty(display, r.requestor, r.property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char *>(atoms.data()),
                      static_cast<int>(atoms.size()));
      reply.property = r.property;
    } else if (misbehaviour_.answersNothing) {
      return;
    } else if (misbehaviour_.answersIntegers) {
      long value = 0x41424344;
      XChangeProperty(display, r.requestor, r.property, XA_INTEGER, 32, PropModeReplace,
                      reinterpret_cast<unsigned char *>(&value), 1);
      reply.property = r.property;
    } else {
      for (const auto &[name, bytes] : items_) {
        if (connection_->atom(name) == r.target && chunk_ > 0) {
          XSelectInput(display, r.requestor, PropertyChangeMask);
          transfer_ = {true, r.requestor, r.property, r.target, bytes, 0};
          long size = static_cast<long>(bytes.size());
          XChangeProperty(display, r.requestor, r.property, connection_->atom("INCR"), 32,
                          PropModeReplace, reinterpret_cast<unsigned char *>(&size), 1);
          reply.property = r.property;
        } else if (connection_->atom(name) == r.target) {
          XChangeProperty(display, r.requestor, r.property, r.target, 8, PropModeReplace,
                          reinterpret_cast<const unsigned char *>(bytes.data()),
                          static_cast<int>(bytes.size()));
          reply.property = r.property;
        }
      }
    }
    XSendEvent(display, r.requestor, False, NoEventMask, reinterpret_cast<XEvent *>(&reply));
  }

  std::shared_ptr<X11Connection> connection_;
  std::map<std::string, std::string> items_;
  std::size_t chunk_ = 0;
  Misbehaviour misbehaviour_;
  struct Transfer {
    bool active = false;
    Window requestor = None;
    Atom property = None;
    Atom type = None;
    std::string bytes;
    std::size_t offset = 0;
  } transfer_;
  Atom clipboard_ = None;
  Atom targets_ = None;
  std::atomic<bool> cleared_{false};
  std::unique_ptr<X11EventThread> thread_;
};

class X11PasteboardTest : public testing::DesktopTest {
protected:
  void SetUp() override {
    DesktopTest::SetUp();
    if (!IsSkipped()) {
      pasteboard = std::make_unique<X11Pasteboard>(X11PasteboardOptions{options});
    }
  }

  // Waits (bounded) until the change count differs from `from`.
  std::int64_t countAfter(std::int64_t from) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (pasteboard->changeCount() == from && std::chrono::steady_clock::now() < deadline) {
      XSync(peer->display(), False);
    }
    return pasteboard->changeCount();
  }

  std::unique_ptr<X11Pasteboard> pasteboard;
};

TEST_F(X11PasteboardTest, ServesUtf8TextAndItsTargetsToARequestingClient) {
  const std::int64_t count = pasteboard->clearContents();
  EXPECT_EQ(pasteboard->changeCount(), count);
  ASSERT_TRUE(pasteboard->setString("dictated \xE2\x9C\x93 caf\xC3\xA9"));
  ASSERT_TRUE(pasteboard->setData("text/html", "<b>x</b>"));
  EXPECT_EQ(request(*peer, "UTF8_STRING"), "dictated \xE2\x9C\x93 caf\xC3\xA9");
  EXPECT_EQ(request(*peer, "text/plain;charset=utf-8"), "dictated \xE2\x9C\x93 caf\xC3\xA9");
  EXPECT_EQ(request(*peer, "STRING"), "dictated ? caf\xE9");
  EXPECT_EQ(request(*peer, "text/html"), "<b>x</b>");
  EXPECT_EQ(request(*peer, "image/png"), std::nullopt);
  const auto targets = request(*peer, "TARGETS");
  ASSERT_TRUE(targets);
  EXPECT_NE(targets->find("UTF8_STRING\n"), std::string::npos);
  EXPECT_NE(targets->find("text/html\n"), std::string::npos);
  EXPECT_EQ(pasteboard->string(), "dictated \xE2\x9C\x93 caf\xC3\xA9");
  EXPECT_EQ(pasteboard->changeCount(), count);
}

// A malformed byte in the text is one '?' in Latin-1: the characters after it are kept.
TEST_F(X11PasteboardTest, ServesTextWithAMalformedByteAsLatin1KeepingWhatFollows) {
  pasteboard->clearContents();
  ASSERT_TRUE(pasteboard->setString("a\x80"
                                    "bcd \xFF"
                                    "ef"));
  EXPECT_EQ(request(*peer, "STRING"), "a?bcd ?ef");
}

// Every write wakes the pasteboard's event thread, and the request that follows reaches it
// while it goes back to sleep: a request read into Xlib's queue on the way there would wait
// unanswered until some later event woke the thread.
TEST_F(X11PasteboardTest, AnswersARequestSentRightAfterEachWrite) {
  pasteboard->clearContents();
  for (int i = 0; i < 300; ++i) {
    const std::string text = "write " + std::to_string(i);
    ASSERT_TRUE(pasteboard->setString(text));
    ASSERT_EQ(request(*peer, "UTF8_STRING"), text);
  }
}

TEST_F(X11PasteboardTest, ReadsThePreviousOwnerAndRestoresItsContentsAfterAPaste) {
  const std::int64_t start = pasteboard->changeCount();
  TestOwner previous(options, {{"UTF8_STRING", "before \xC3\xA9"}, {"text/html", "<i>b</i>"}});
  const std::int64_t afterOwner = countAfter(start);
  EXPECT_EQ(afterOwner, start + 1);
  EXPECT_EQ(pasteboard->string(), "before \xC3\xA9");
  const PasteboardContents saved = pasteboard->contents();
  // In the order the owner offers its targets (the test owner's: by name).
  const PasteboardContents expected{{Pasteboard::plainTextType, "before \xC3\xA9"},
                                    {"text/html", "<i>b</i>"}};
  EXPECT_EQ(saved, expected);

  const std::int64_t written = pasteboard->clearContents();
  EXPECT_EQ(written, afterOwner + 1);
  ASSERT_TRUE(pasteboard->setString("dictated"));
  EXPECT_EQ(request(*peer, "UTF8_STRING"), "dictated");
  EXPECT_EQ(pasteboard->changeCount(), written);

  pasteboard->clearContents();
  for (const auto &item : saved) {
    ASSERT_TRUE(pasteboard->setData(item.type, item.data));
  }
  EXPECT_EQ(request(*peer, "UTF8_STRING"), "before \xC3\xA9");
  EXPECT_EQ(request(*peer, "text/html"), "<i>b</i>");
  EXPECT_TRUE(previous.lostOwnership());
  EXPECT_EQ(pasteboard->changeCount(), written + 1);
}

TEST_F(X11PasteboardTest, AnotherOwnerMovesTheCountAndEndsWritesUntilTheNextClear) {
  const std::int64_t mine = pasteboard->clearContents();
  ASSERT_TRUE(pasteboard->setString("mine"));
  TestOwner other(options, {{"UTF8_STRING", "theirs"}});
  EXPECT_EQ(countAfter(mine), mine + 1);
  EXPECT_FALSE(pasteboard->setString("late"));
  EXPECT_EQ(pasteboard->string(), "theirs");
  EXPECT_EQ(pasteboard->clearContents(), mine + 2);
  EXPECT_TRUE(pasteboard->setString("again"));
  EXPECT_EQ(pasteboard->string(), "again");
}

TEST_F(X11PasteboardTest, ReadsAChunkedTransferWhole) {
  std::string payload(300000, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) {
    payload[i] = static_cast<char>('a' + i % 26);
  }
  TestOwner owner(options, {{"application/octet-stream", payload}, {"UTF8_STRING", "chunked"}},
                  65536);
  const auto read = pasteboard->data("application/octet-stream");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->size(), payload.size());
  EXPECT_TRUE(*read == payload);
  EXPECT_EQ(pasteboard->string(), "chunked");
}

TEST_F(X11PasteboardTest, AChunkedTransferLargerThanTheCapReadsAsAbsent) {
  X11PasteboardOptions capped{options};
  capped.maxReadBytes = 100000;
  X11Pasteboard small(capped);
  TestOwner owner(options, {{"application/octet-stream", std::string(300000, 'x')}}, 65536);
  EXPECT_EQ(small.data("application/octet-stream"), std::nullopt);
}

// The save before a paste runs where the app shows itself: an owner that lists many targets and
// answers none may hold it up for the save's overall deadline, not a timeout per target.
TEST_F(X11PasteboardTest, AnOwnerThatAnswersNothingHoldsTheSaveOnlyToItsOverallDeadline) {
  std::map<std::string, std::string> items;
  for (int i = 0; i < 20; ++i) {
    items["application/x-silent-" + std::to_string(i)] = "never sent";
  }
  items["UTF8_STRING"] = "never sent";
  TestOwner owner(options, items, 0, Misbehaviour{.answersNothing = true});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(pasteboard->contents().empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

// The editors of the app paste through data() on the thread that shows them: an owner that
// never answers holds a read for the same 400 ms as a save, not a second.
TEST_F(X11PasteboardTest, AnOwnerThatAnswersNothingHoldsATextReadOnlyAsLongAsASave) {
  TestOwner owner(options, {{"UTF8_STRING", "never sent"}}, 0,
                  Misbehaviour{.answersNothing = true});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(pasteboard->string(), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 800ms);
}

// A paste offers its text as PRIMARY too; the next clear gives back what the user had selected,
// served by this process from then on, until the user selects something else.
TEST_F(X11PasteboardTest, PrimaryComesBackAfterAPasteThatOfferedIt) {
  X11Pasteboard selecting(X11PasteboardOptions{options});
  selecting.clearContents();
  ASSERT_TRUE(selecting.setString("selected words"));
  ASSERT_TRUE(selecting.offerAsPrimary());
  X11Pasteboard reader(X11PasteboardOptions{options});
  const auto primaryText = [&] {
    const PasteboardContents primary = reader.primaryContents();
    return primary.empty() ? std::string("(none)") : primary.front().data;
  };
  pasteboard->clearContents();
  ASSERT_TRUE(pasteboard->setString("dictated"));
  ASSERT_TRUE(pasteboard->offerAsPrimary());
  EXPECT_EQ(primaryText(), "dictated");
  // Two pastes in a row: the second keeps the user's selection to give back.
  pasteboard->clearContents();
  ASSERT_TRUE(pasteboard->setString("dictated again"));
  ASSERT_TRUE(pasteboard->offerAsPrimary());
  EXPECT_EQ(primaryText(), "dictated again");
  pasteboard->clearContents(); // the restore
  EXPECT_EQ(primaryText(), "selected words");
  // With nothing selected before, the restore leaves PRIMARY empty.
  pasteboard->clearContents();
  ASSERT_TRUE(pasteboard->setString("dictated"));
  XSetSelectionOwner(peer->display(), XA_PRIMARY, None, CurrentTime);
  XSync(peer->display(), False);
  ASSERT_TRUE(pasteboard->offerAsPrimary());
  pasteboard->clearContents();
  EXPECT_EQ(primaryText(), "(none)");
}

// One deadline for the whole transfer: an owner whose chunks never end cannot keep a read going
// by answering each chunk in time.
TEST_F(X11PasteboardTest, AChunkedTransferThatNeverEndsStopsAtTheDeadline) {
  X11PasteboardOptions quick{options};
  quick.replyTimeout = 300ms;
  X11Pasteboard reader(quick);
  TestOwner owner(options, {{"application/octet-stream", std::string(16, 'x')}}, 16,
                  Misbehaviour{.neverEndsChunks = true});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(reader.data("application/octet-stream"), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

// The byte budget covers every target of a save together: several large targets that each fit
// do not all fit at once.
TEST_F(X11PasteboardTest, TheByteBudgetCoversEveryTargetOfTheSaveTogether) {
  X11PasteboardOptions capped{options};
  capped.maxReadBytes = 2500000;
  capped.contentsTimeout = 10s;
  X11Pasteboard reader(capped);
  TestOwner owner(options, {{"application/x-a", std::string(1000000, 'a')},
                            {"application/x-b", std::string(1000000, 'b')},
                            {"application/x-c", std::string(1000000, 'c')}});
  std::size_t total = 0;
  const auto contents = reader.contents();
  for (const auto &item : contents) {
    total += item.data.size();
  }
  EXPECT_EQ(contents.size(), 2u);
  EXPECT_LE(total, capped.maxReadBytes);
}

// A number where text was asked for is not text, whatever target it answers.
TEST_F(X11PasteboardTest, AnAnswerOfAnotherTypeIsNeverTakenAsText) {
  TestOwner owner(options, {{"UTF8_STRING", "ignored"}, {"STRING", "ignored"}}, 0,
                  Misbehaviour{.answersIntegers = true});
  EXPECT_EQ(pasteboard->string(), std::nullopt);
  for (const auto &item : pasteboard->contents()) {
    EXPECT_NE(item.type, Pasteboard::plainTextType);
  }
}

TEST_F(X11PasteboardTest, QuickSuccessiveClearsCountOnceEach) {
  const std::int64_t first = pasteboard->clearContents();
  EXPECT_EQ(pasteboard->clearContents(), first + 1);
  EXPECT_EQ(pasteboard->clearContents(), first + 2);
  // Once the notices of the clears have arrived, another owner moves the count by one.
  TestOwner other(options, {{"UTF8_STRING", "theirs"}});
  EXPECT_EQ(countAfter(first + 2), first + 3);
  EXPECT_EQ(pasteboard->string(), "theirs");
  EXPECT_EQ(pasteboard->changeCount(), first + 3);
}

TEST_F(X11PasteboardTest, EmptyClipboardReadsAsNothing) {
  EXPECT_EQ(pasteboard->string(), std::nullopt);
  EXPECT_TRUE(pasteboard->contents().empty());
}

TEST_F(X11PasteboardTest, WriteLargerThanOneRequestIsRefused) {
  pasteboard->clearContents();
  const long units = XExtendedMaxRequestSize(peer->display()) > 0
                         ? XExtendedMaxRequestSize(peer->display())
                         : XMaxRequestSize(peer->display());
  EXPECT_FALSE(pasteboard->setData("text/plain;charset=utf-8",
                                   std::string(static_cast<std::size_t>(units) * 4 + 1, 'x')));
  EXPECT_EQ(pasteboard->string(), std::nullopt);
}

TEST(X11PasteboardNoServerTest, ThrowsNamingTheDisplay) {
  X11PasteboardOptions options;
  options.connection.displayName = ":4711";
  EXPECT_THROW(X11Pasteboard{options}, X11Error);
}

} // namespace
} // namespace platform
