#pragma once

#include <optional>
#include <string>

namespace mqtest {

// A private session bus (dbus-daemon --session) for the test process: started on first use,
// stopped when the process ends, so bus tests never touch a person's session.
class SessionBus {
public:
  // The bus address; absent without the dbus-daemon program, and the caller should skip.
  static std::optional<std::string> address();
};

} // namespace mqtest
