#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>

namespace platform {

// How far taking a selection by the last clear has settled (see X11Pasteboard::waitUntilSettled):
// whether the server's notice of the new owner has reached this process, and which clients have
// been told what the selection holds (their TARGETS request answered) since. Noted on the event
// thread and by the clear, waited for on another thread, so it keeps a lock of its own: the
// waiter does not hold the event thread's.
class SelectionSettling {
public:
  // A clear took the selection at `time`: nothing of it has settled yet.
  void restart(unsigned long time);
  // The server's notice that this process took the selection at `time` arrived.
  void noteOwnerNotified(unsigned long time);
  // The TARGETS request of `client` (a resource id's client part) was answered and flushed.
  void noteTargetsAnswered(unsigned long client);
  // Waits, at most `limit`, until the notice has arrived and `client` has been answered, or asked
  // nothing within `quiet` of the notice. False when the limit passed first.
  bool waitFor(unsigned long client, std::chrono::milliseconds quiet,
               std::chrono::milliseconds limit);

private:
  void note(const std::function<void()> &change);

  std::mutex mutex_;
  std::condition_variable changed_;
  unsigned long time_ = 0;     // the clear's time
  bool ownerNotified_ = false; // its XFixes notice arrived
  std::chrono::steady_clock::time_point notifiedAt_;
  std::set<unsigned long> answered_; // clients whose TARGETS request was answered since
};

} // namespace platform
