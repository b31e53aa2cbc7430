#pragma once

#include "platform/input/Pasteboard.hpp"
#include "platform/x11/X11Connection.hpp"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>

union _XEvent;

namespace platform {

class X11EventThread;

// How the X11 pasteboard connects and how long it waits for other clients.
struct X11PasteboardOptions {
  // The display (default: $DISPLAY).
  X11ConnectionOptions connection = {};
  // How long data() may wait for the owning client in all (every step of a chunked transfer
  // included); what has not arrived by then reads as absent. The app's editors paste through
  // data() on the thread that shows them, so a silent owner holds them up no longer than a save.
  std::chrono::milliseconds replyTimeout = std::chrono::milliseconds(400);
  // How long contents() may take in all, every target together: it runs before each paste, on
  // the thread that also shows the app, so a slow or hostile owner must not hold it up. Targets
  // not read by then are left out (the text is read first).
  std::chrono::milliseconds contentsTimeout = std::chrono::milliseconds(400);
  // Most bytes one call reads, every target of contents() together (chunked transfers
  // included); a target that would pass it reads as absent.
  std::size_t maxReadBytes = std::size_t{64} << 20;
};

// The CLIPBOARD selection of an X11 desktop as the pasteboard.
//
// clearContents() makes this process the selection owner; what setData adds is then served to
// any client that asks: the plain-text type as UTF8_STRING, TEXT, "text/plain;charset=utf-8",
// "text/plain" and STRING (Latin-1, '?' for what it cannot hold), every other type under the
// target named like it, plus TARGETS and TIMESTAMP. While another client owns the selection,
// data() and contents() ask it (following chunked INCR transfers); contents() reads every target
// it offers (text once and first, as the plain-text type), which is what a caller keeps to write
// back later. Text is taken only from an answer of a text type in 8-bit items. A write larger than
// one X request refuses (setData returns false); ownership lost to another client drops what was
// written, and setData then returns false until the next clear.
//
// The change count moves on every change of the selection's owner, seen through XFixes (this
// process's own clears counted when they happen, so a clear followed by changeCount() reads the
// new count at once).
//
// Used on one thread (the main executor's); requests from other clients are answered on an
// internal thread, also while that thread waits.
class X11Pasteboard final : public Pasteboard {
public:
  // Throws X11Error when the display cannot be opened or has no XFixes.
  explicit X11Pasteboard(X11PasteboardOptions options = {});
  ~X11Pasteboard() override;
  X11Pasteboard(const X11Pasteboard &) = delete;
  X11Pasteboard &operator=(const X11Pasteboard &) = delete;

  std::int64_t changeCount() const override { return changeCount_.load(); }
  std::int64_t clearContents() override;
  bool setData(const std::string &type, const std::string &data) override;
  std::optional<std::string> data(const std::string &type) const override;
  PasteboardContents contents() const override;

  // Serves what this process wrote as the PRIMARY selection too, as terminals paste it with
  // Shift+Insert, until the next clear or until another client takes PRIMARY. What PRIMARY held
  // before (read from its owner within contentsTimeout) is given back by the next clear, which
  // serves it as PRIMARY from then on, or gives PRIMARY up when it held nothing. False when this
  // process does not own the clipboard or the server refused.
  bool offerAsPrimary();

  // What PRIMARY holds: this process's offer, else what its owner answers (within
  // contentsTimeout).
  PasteboardContents primaryContents() const;

  // Waits, at most `limit`, until taking the clipboard by the last clear has settled for the
  // client of `window`: the server has told every client of the new owner (its notice reached
  // this process as well), and that client's question of what the clipboard holds (TARGETS) has
  // been answered, or it asked nothing within `quiet` of the notice. Toolkits ask on every
  // change of owner and ignore their paste key until the answer came. False when the limit
  // passed first.
  bool waitUntilSettled(X11Id window, std::chrono::milliseconds quiet,
                        std::chrono::milliseconds limit);

  // The window that owns the selection while this process does.
  X11Id ownerWindow() const;

private:
  struct State;
  // What is left of one call's time and bytes; every read of the call draws on it.
  struct ReadBudget {
    std::chrono::steady_clock::time_point deadline;
    std::size_t bytesLeft = 0;
  };

  // Every target the owner of `selection` offers, read within `budget`.
  PasteboardContents readContents(X11Id selection, ReadBudget &budget) const;
  // The value of `target` as the owner answers it (a chunked transfer read whole).
  std::optional<X11Property> readTarget(X11Id selection, X11Id target, ReadBudget &budget) const;
  // The bytes of `target`, Latin-1 converted to UTF-8.
  std::optional<std::string> readBytes(X11Id selection, X11Id target, ReadBudget &budget) const;
  // The plain text, from the first text target that answers with text.
  std::optional<std::string> readText(X11Id selection, ReadBudget &budget) const;
  // Asks the owner of `selection` for `target`; true once it answered with a value.
  bool requestConversion(X11Id selection, X11Id target, const ReadBudget &budget) const;
  // Reads and deletes the property an owner answers through.
  std::optional<X11Property> takeTransferProperty(const ReadBudget &budget) const;
  // Follows a chunked (INCR) transfer to its end.
  std::optional<X11Property> readIncrementally(const ReadBudget &budget) const;
  bool isNewTransferValue(const _XEvent &event) const;

  X11PasteboardOptions options_;
  std::shared_ptr<State> state_;
  std::unique_ptr<X11EventThread> thread_;
  std::atomic<std::int64_t> changeCount_{0};
};

} // namespace platform
