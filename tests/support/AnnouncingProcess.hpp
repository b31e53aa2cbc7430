#pragma once

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace mqtest {

// A helper server the test process starts for itself (a virtual X server, a session bus)
// that announces itself with one line, its display number or its address, written to a
// descriptor named on its command line. Stopped when destroyed.
class AnnouncingProcess {
public:
  // `arguments(fd)` is the command line, the program first, naming descriptor `fd` as the
  // one to announce on. Without the program, or without a line within 20 s, line() is absent.
  AnnouncingProcess(
      const std::function<std::vector<std::string>(const std::string &fd)> &arguments);
  ~AnnouncingProcess();
  AnnouncingProcess(const AnnouncingProcess &) = delete;
  AnnouncingProcess &operator=(const AnnouncingProcess &) = delete;

  const std::optional<std::string> &line() const { return line_; }

private:
  void stop();

  pid_t pid_ = 0;
  std::optional<std::string> line_;
};

} // namespace mqtest
