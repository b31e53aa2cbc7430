#pragma once

#include "platform/input/EventTap.hpp"

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

// Event taps for tests: the test types keys with emit() and plays the platform's part in
// refusing or disabling taps. Everything runs on the calling thread, which stands for the main
// thread; not thread-safe.
class InMemoryEventTapService final : public EventTapService {
public:
  InMemoryEventTapService();
  ~InMemoryEventTapService() override;

  std::unique_ptr<EventTap> createTap(const EventTapOptions &options, Callback callback) override;

  // While refused, createTap returns nullptr (as without the input-watching permission).
  void setRefusesTaps(bool refuses);

  // Delivers the event to every enabled tap whose mask holds its type, in creation order.
  void emit(const KeyEvent &event);
  // Shorthands for emit().
  void flagsChanged(std::int64_t keyCode, std::uint64_t flags);
  void keyDown(std::int64_t keyCode, std::uint64_t flags);

  // Switches every enabled tap off and sends it `notice` (one of the disabled types).
  void disableTaps(EventType notice);

  // Taps that exist, and those of them enabled.
  std::size_t tapCount() const;
  std::size_t enabledTapCount() const;
  // The modifier the existing taps mask (-1: none), and the chords they reserved.
  std::int64_t maskedModifier() const;
  std::vector<std::pair<std::int64_t, std::uint64_t>> reservedChords() const;
  // While set, reserving a chord fails, as when another program holds it.
  void setChordsHeldElsewhere(bool held);

  // The options of the most recently created tap; default options when none was made.
  EventTapOptions lastOptions() const { return lastOptions_; }

private:
  struct Registry;
  class Tap;
  std::shared_ptr<Registry> registry_;
  bool refuses_ = false;
  EventTapOptions lastOptions_;
};

} // namespace platform
