#pragma once

#include <filesystem>
#include <string>

namespace deduve {

// Hardware identification of this machine, read on first use (thread-safe) and cached for the
// life of the process. On Linux: hwModel from the firmware's DMI product name (or the device
// tree's model on boards without DMI, else the machine architecture), the CPU fields from
// /proc/cpuinfo. A value the system does not have is empty.
struct ProcessInfo {
  static const std::string &hwModel();
  static const std::string &cpuBrand();
  static const std::string &cpuCoreCount();   // physical cores, as decimal text
  static const std::string &cpuThreadCount(); // logical processors, as decimal text
  static const std::string &cpuVendor();
  static const std::string &cpuFamily();
};

// The same values read from a file-system root (normally "/"), uncached; for tests and tools.
struct HardwareInfo {
  std::string hwModel;
  std::string cpuBrand;
  std::string cpuCoreCount;
  std::string cpuThreadCount;
  std::string cpuVendor;
  std::string cpuFamily;

  static HardwareInfo read(const std::filesystem::path &root = "/");
};

} // namespace deduve
