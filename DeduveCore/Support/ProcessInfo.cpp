#include "DeduveCore/Support/ProcessInfo.hpp"

#include "DeduveCore/Support/BinaryDistinctString.hpp"

#include <sys/utsname.h>

#include <fstream>
#include <set>
#include <sstream>
#include <utility>

namespace deduve {

namespace {

namespace fs = std::filesystem;

// A whole file's text up to its first zero byte, malformed UTF-8 replaced, end trimmed.
std::string readText(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return {};
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  if (auto zero = text.find('\0'); zero != std::string::npos) {
    text.resize(zero);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) {
    text.pop_back();
  }
  return utf8(utf16(text));
}

std::string trim(const std::string &text) {
  const auto begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) {
    return {};
  }
  const auto end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

} // namespace

HardwareInfo HardwareInfo::read(const fs::path &root) {
  HardwareInfo info;
  const fs::path dmi = root / "sys/devices/virtual/dmi/id";
  for (const char *field : {"product_name", "product_family", "board_name"}) {
    info.hwModel = readText(dmi / field);
    if (!info.hwModel.empty()) {
      break;
    }
  }
  if (info.hwModel.empty()) {
    info.hwModel = readText(root / "proc/device-tree/model");
  }
  if (info.hwModel.empty() && root == "/") {
    utsname name{};
    if (uname(&name) == 0) {
      info.hwModel = name.machine;
    }
  }

  std::istringstream cpuinfo(readText(root / "proc/cpuinfo"));
  int processors = 0;
  std::set<std::pair<std::string, std::string>> cores; // (physical id, core id)
  std::string physicalId;
  for (std::string line; std::getline(cpuinfo, line);) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) {
      continue;
    }
    const std::string key = trim(line.substr(0, colon));
    const std::string value = trim(line.substr(colon + 1));
    if (key == "processor") {
      ++processors;
    } else if (key == "model name" && info.cpuBrand.empty()) {
      info.cpuBrand = value;
    } else if (key == "vendor_id" && info.cpuVendor.empty()) {
      info.cpuVendor = value;
    } else if (key == "cpu family" && info.cpuFamily.empty()) {
      info.cpuFamily = value;
    } else if (key == "CPU implementer" && info.cpuVendor.empty()) {
      info.cpuVendor = value; // ARM: the implementer code
    } else if (key == "CPU architecture" && info.cpuFamily.empty()) {
      info.cpuFamily = value;
    } else if (key == "physical id") {
      physicalId = value;
    } else if (key == "core id") {
      cores.emplace(physicalId, value);
    }
  }
  if (processors > 0) {
    info.cpuThreadCount = std::to_string(processors);
    info.cpuCoreCount = std::to_string(cores.empty() ? processors : static_cast<int>(cores.size()));
  }
  return info;
}

namespace {

const HardwareInfo &cached() {
  static const HardwareInfo info = HardwareInfo::read("/");
  return info;
}

} // namespace

const std::string &ProcessInfo::hwModel() { return cached().hwModel; }
const std::string &ProcessInfo::cpuBrand() { return cached().cpuBrand; }
const std::string &ProcessInfo::cpuCoreCount() { return cached().cpuCoreCount; }
const std::string &ProcessInfo::cpuThreadCount() { return cached().cpuThreadCount; }
const std::string &ProcessInfo::cpuVendor() { return cached().cpuVendor; }
const std::string &ProcessInfo::cpuFamily() { return cached().cpuFamily; }

} // namespace deduve
