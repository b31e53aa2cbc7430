#include "platform/services/AutostartLoginItemService.hpp"

#include <fstream>
#include <system_error>

#include "platform/system/AtomicFileWriter.hpp"

namespace platform {
namespace {

// One argument of a desktop entry's Exec line: quoted with the reserved characters escaped,
// then escaped again at the string level (the file's reader undoes that first) and with '%'
// doubled (field codes).
std::string execArgument(const std::string &value) {
  std::string quoted = "\"";
  for (const char c : value) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') {
      quoted += '\\';
    }
    quoted += c;
  }
  quoted += '"';
  std::string line;
  for (const char c : quoted) {
    if (c == '\\') {
      line += "\\\\";
    } else if (c == '%') {
      line += "%%";
    } else {
      line += c;
    }
  }
  return line;
}

bool switchedOff(const std::filesystem::path &entry) {
  std::ifstream in(entry);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") {
      return true;
    }
  }
  return false;
}

} // namespace

AutostartLoginItemService::AutostartLoginItemService(Options options)
    : options_(std::move(options)) {}

std::string AutostartLoginItemService::execLine() const {
  std::string line = execArgument(options_.executable.string());
  for (const std::string &argument : options_.arguments) {
    line += " " + execArgument(argument);
  }
  return line;
}

std::filesystem::path AutostartLoginItemService::entryPath() const {
  return options_.autostartDirectory / options_.fileName;
}

LoginItemStatus AutostartLoginItemService::status() const {
  std::error_code error;
  if (!std::filesystem::exists(options_.executable, error)) {
    return LoginItemStatus::notFound;
  }
  const auto entry = entryPath();
  if (!std::filesystem::is_regular_file(entry, error) || switchedOff(entry)) {
    return LoginItemStatus::notRegistered;
  }
  return LoginItemStatus::enabled;
}

void AutostartLoginItemService::registerItem() {
  const auto entry = entryPath();
  std::error_code error;
  std::filesystem::create_directories(options_.autostartDirectory, error);
  if (error) {
    throw LoginItemError(options_.autostartDirectory.string() +
                         ": cannot create the folder: " + error.message());
  }
  const std::string text = "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=" +
                           options_.name + "\nExec=" + execLine() +
                           "\n"
                           "Terminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n";
  try {
    replaceFileAtomically(entry, text);
  } catch (const std::system_error &failure) {
    throw LoginItemError(entry.string() + ": cannot write: " + failure.code().message());
  }
}

void AutostartLoginItemService::unregisterItem() {
  std::error_code error;
  std::filesystem::remove(entryPath(), error);
  if (error) {
    throw LoginItemError(entryPath().string() + ": cannot remove: " + error.message());
  }
}

} // namespace platform
