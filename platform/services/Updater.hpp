#pragma once

namespace platform {

// What a user-initiated update check did.
enum class UpdateCheck {
  started,     // the check runs and reports its outcome in the updater's own interface
  unavailable, // this installation has no update service; nothing was checked
};

// The software-update service of the application: started once when the application starts,
// and asked for a check when the user picks "Check for Updates…". Main thread only.
class Updater {
public:
  virtual ~Updater() = default;
  // Starts the updater (its scheduled checks, when it has any). Called once.
  virtual void start() = 0;
  virtual bool isStarted() const = 0;
  // A user-initiated check. Never fails: the updater reports the outcome itself.
  virtual UpdateCheck checkForUpdates() = 0;
};

// The updater of an installation without an update service (Linux packages are updated by
// the package manager): it starts, and every check answers `unavailable` without any I/O.
class UnavailableUpdater final : public Updater {
public:
  void start() override { started_ = true; }
  bool isStarted() const override { return started_; }
  UpdateCheck checkForUpdates() override { return UpdateCheck::unavailable; }

private:
  bool started_ = false;
};

// An updater for tests: counts starts and checks, answers with `answer`.
class InMemoryUpdater final : public Updater {
public:
  explicit InMemoryUpdater(UpdateCheck answer = UpdateCheck::started) : answer_(answer) {}

  void start() override { ++starts_; }
  bool isStarted() const override { return starts_ > 0; }
  UpdateCheck checkForUpdates() override {
    ++checks_;
    return answer_;
  }

  int startCount() const { return starts_; }
  int checkCount() const { return checks_; }

private:
  UpdateCheck answer_;
  int starts_ = 0;
  int checks_ = 0;
};

} // namespace platform
