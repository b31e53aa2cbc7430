#pragma once

#include "platform/services/Workspace.hpp"

#include <set>
#include <vector>

namespace platform {

// A workspace for tests: the test says which applications run and which one is frontmost;
// activations are recorded and make the application frontmost. Not thread-safe.
class InMemoryWorkspace final : public Workspace {
public:
  std::optional<ProcessId> frontmostApplication() const override { return frontmost_; }
  bool activateApplication(ProcessId pid) override;

  // Adds a running application (activation refuses others).
  void launch(ProcessId pid) { running_.insert(pid); }
  void quit(ProcessId pid);
  // Makes `pid` frontmost (launching it), or leaves no application frontmost.
  void setFrontmost(std::optional<ProcessId> pid);
  const std::vector<ProcessId> &activations() const { return activations_; }

private:
  std::optional<ProcessId> frontmost_;
  std::set<ProcessId> running_;
  std::vector<ProcessId> activations_;
};

} // namespace platform
