#pragma once

#include "app/support/AppLog.hpp"
#include "platform/input/Accessibility.hpp"
#include "platform/input/KeystrokePoster.hpp"
#include "platform/input/Pasteboard.hpp"
#include "platform/system/Executor.hpp"

#include <chrono>
#include <memory>
#include <string>

namespace murmurquill {

// Types text into whatever application has the keyboard focus: the text goes on the
// pasteboard, a synthetic Command-V is posted, and shortly afterwards the user's pasteboard
// (every type it held) is given back. It also replaces the text of the last dictation, through
// the accessibility interface when the application exposes its text, else by undo and paste.
//
// Main thread only; both operations return before their delayed steps run on the main
// executor. Made only through make(), as delayed work refers to it weakly.
class TextInjector final : public std::enable_shared_from_this<TextInjector> {
public:
  // What inject() achieved.
  enum class InjectResult {
    injected,     // the paste was posted (or the text was empty)
    notPermitted, // the process may not post keystrokes; nothing was touched
    failed,       // the pasteboard could not be written or the keystrokes not posted; the
                  // pasteboard has been given back
  };

  static constexpr std::uint16_t kKeyCodeV = 9;
  static constexpr std::uint16_t kKeyCodeZ = 6;
  static constexpr std::chrono::milliseconds kRestoreDelay{150};
  static constexpr std::chrono::milliseconds kUndoDelay{100};

  static std::shared_ptr<TextInjector> make(std::shared_ptr<platform::KeystrokePoster> poster,
                                            std::shared_ptr<platform::Pasteboard> pasteboard,
                                            std::shared_ptr<platform::Accessibility> accessibility,
                                            std::shared_ptr<platform::Executor> main, LogSink log);

  // Whether this process may post keystrokes: the post-event permission, else accessibility
  // trust.
  bool canPostEvents() const;

  // Pastes `text` at the cursor and gives the previous pasteboard contents back 150 ms later,
  // unless somebody else wrote the pasteboard meanwhile.
  InjectResult inject(const std::string &text);

  // Replaces `oldText`, just inserted, with `newText`. False when a text is empty, the process
  // may not post keystrokes, the paste of the accessibility route failed, or only the undo route
  // is left and the focused application is not known to undo; true when the replacement was
  // pasted or scheduled through undo.
  bool replaceLastInjection(const std::string &oldText, const std::string &newText);

private:
  TextInjector(std::shared_ptr<platform::KeystrokePoster> poster,
               std::shared_ptr<platform::Pasteboard> pasteboard,
               std::shared_ptr<platform::Accessibility> accessibility,
               std::shared_ptr<platform::Executor> main, LogSink log);

  // Puts `text` on the pasteboard, posts Command-V and schedules the restore. False (with the
  // pasteboard given back) when a write or a post failed. `announceChange` prints the line of
  // a pasteboard somebody else changed.
  bool paste(const std::string &text, bool announceChange);
  // Posts key down and key up of `keyCode` with exactly the Command flag; returns how many of
  // the two were posted (the up is not tried after a failed down).
  int postCommandKey(std::uint16_t keyCode);
  bool selectBySelectedRange(platform::AccessibilityElement &element, const std::u16string &old);
  bool selectBySearchingValue(platform::AccessibilityElement &element, const std::u16string &old);
  void undoAndReinject(const std::string &newText);
  void log(const std::string &line) const;

  // A restore that has not run yet: what it gives back, and the change count it expects.
  struct PendingRestore {
    platform::PasteboardContents saved;
    std::int64_t changeCount = 0;
    bool superseded = false; // a later paste took its contents over
    bool done = false;
  };
  // The contents to give back after a paste: while a restore is pending and nobody else wrote
  // the pasteboard, the user's contents are those the pending restore holds (the pasteboard
  // holds the previous dictation), and that restore is left to the new one.
  platform::PasteboardContents userContents();

  std::shared_ptr<platform::KeystrokePoster> poster_;
  std::shared_ptr<platform::Pasteboard> pasteboard_;
  std::shared_ptr<platform::Accessibility> accessibility_;
  std::shared_ptr<platform::Executor> main_;
  LogSink log_;
  std::shared_ptr<PendingRestore> pendingRestore_;
};

} // namespace murmurquill
