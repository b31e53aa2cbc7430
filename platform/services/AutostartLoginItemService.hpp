#pragma once

#include "platform/services/LoginItemService.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// The login item of a Linux desktop session: a desktop entry in the user's autostart folder
// ($XDG_CONFIG_HOME/autostart, else ~/.config/autostart) that starts `executable`.
//
// Status: enabled while the entry exists and is not switched off ("Hidden=true" or
// "X-GNOME-Autostart-enabled=false", as desktop settings write it); not found when the
// executable is gone; not registered otherwise.
class AutostartLoginItemService final : public LoginItemService {
public:
  struct Options {
    // The autostart folder, e.g. Environment::configDirectory() / "autostart".
    std::filesystem::path autostartDirectory;
    // The entry's file name.
    std::string fileName = "murmurquill.desktop";
    // The program the session starts: an absolute path.
    std::filesystem::path executable;
    // The arguments it is started with (the app's own options, such as "--model-folder" and
    // its folder), each quoted on the entry's Exec line.
    std::vector<std::string> arguments;
    // The entry's "Name=".
    std::string name = "Murmurquill";
  };

  explicit AutostartLoginItemService(Options options);

  LoginItemStatus status() const override;
  // Writes the entry (replacing a switched-off one) through a temporary file and a rename.
  void registerItem() override;
  // Removes the entry; an absent entry is no error.
  void unregisterItem() override;

  std::filesystem::path entryPath() const;

private:
  std::string execLine() const;

  Options options_;
};

} // namespace platform
