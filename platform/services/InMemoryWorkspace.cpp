#include "platform/services/InMemoryWorkspace.hpp"

namespace platform {

bool InMemoryWorkspace::activateApplication(ProcessId pid) {
  if (running_.count(pid) == 0) {
    return false;
  }
  activations_.push_back(pid);
  frontmost_ = pid;
  return true;
}

void InMemoryWorkspace::quit(ProcessId pid) {
  running_.erase(pid);
  if (frontmost_ == pid) {
    frontmost_.reset();
  }
}

void InMemoryWorkspace::setFrontmost(std::optional<ProcessId> pid) {
  if (pid) {
    running_.insert(*pid);
  }
  frontmost_ = pid;
}

} // namespace platform
