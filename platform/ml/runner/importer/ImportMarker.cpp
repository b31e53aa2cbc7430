#include "platform/ml/runner/importer/ImportMarker.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/system/FileContents.hpp"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>

namespace platform::runner::importer {

namespace fs = std::filesystem;

namespace {

// The first line of the marker, saying what wrote the folder.
constexpr std::string_view kMarkerHeading = "Murmurquill checkpoint import";
// Markers are a few hundred bytes; a larger file is not one.
constexpr std::uintmax_t kMaxMarkerBytes = 64 * 1024;

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    result.push_back(line);
  }
  return result;
}

bool isSourceFileName(std::string_view name) {
  for (const char *known :
       {"config.json", "model.safetensors", "generation_config.json", "preprocessor_config.json"}) {
    if (name == known) {
      return true;
    }
  }
  return std::find(std::begin(kTokenizerFiles), std::end(kTokenizerFiles), name) !=
         std::end(kTokenizerFiles);
}

// A line of a source stamp: a source file's name, its size and its time, and nothing else.
std::optional<std::string> stampedName(const std::string &line) {
  std::istringstream in(line);
  std::string name;
  std::uintmax_t size = 0;
  long long time = 0;
  std::string rest;
  if (!(in >> name >> size >> time) || (in >> rest) || !isSourceFileName(name)) {
    return std::nullopt;
  }
  return name;
}

// A file the marker says the import wrote: one of the names an import writes, nothing else.
bool isImportFileName(std::string_view name) {
  return std::find(std::begin(kModelFiles), std::end(kModelFiles), name) != std::end(kModelFiles) ||
         std::find(std::begin(kTokenizerFiles), std::end(kTokenizerFiles), name) !=
             std::end(kTokenizerFiles);
}

} // namespace

std::string sourceStamp(const fs::path &source) {
  std::string stamp;
  const char *const decisive[] = {"config.json", "model.safetensors", "generation_config.json",
                                  "preprocessor_config.json"};
  auto addFile = [&](const char *name) {
    std::error_code error;
    const fs::path file = source / name;
    if (!fs::exists(file, error)) {
      return;
    }
    const auto size = fs::file_size(file, error);
    const auto time = fs::last_write_time(file, error).time_since_epoch().count();
    stamp += std::string(name) + " " + std::to_string(size) + " " + std::to_string(time) + "\n";
  };
  for (const char *name : decisive) {
    addFile(name);
  }
  for (const char *name : kTokenizerFiles) {
    addFile(name);
  }
  return stamp;
}

std::optional<Marker> readMarker(const fs::path &folder) {
  std::error_code error;
  const fs::path file = folder / kStampName;
  if (!fs::is_directory(fs::symlink_status(folder, error)) ||
      !fs::is_regular_file(fs::symlink_status(file, error))) {
    return std::nullopt;
  }
  const FileContents contents = FileContents::read(file, kMaxMarkerBytes);
  if (!contents.opened || contents.failed || contents.tooLarge) {
    return std::nullopt;
  }
  const std::vector<std::string> text = lines(contents.bytes);
  Marker marker;
  if (!text.empty() && text.front() == kMarkerHeading) {
    marker.current = true;
    for (std::size_t i = 1; i < text.size(); ++i) {
      const std::string &line = text[i];
      if (line.starts_with("source ") && stampedName(line.substr(7))) {
        marker.sourceStamp += line.substr(7) + "\n";
      } else if (line.starts_with("wrote ") && isImportFileName(line.substr(6))) {
        marker.wrote.push_back(line.substr(6));
      } else {
        return std::nullopt;
      }
    }
    return marker;
  }
  // An earlier version's marker: stamp lines only, and at least the two required files.
  marker.wrote.assign(std::begin(kModelFiles), std::end(kModelFiles));
  for (const std::string &line : text) {
    const auto name = stampedName(line);
    if (!name) {
      return std::nullopt;
    }
    marker.sourceStamp += line + "\n";
    if (isImportFileName(*name)) {
      marker.wrote.push_back(*name);
    }
  }
  if (marker.sourceStamp.find("config.json ") != 0) {
    return std::nullopt;
  }
  return marker;
}

void writeStamp(const fs::path &folder, const fs::path &source,
                const std::vector<std::string> &wrote) {
  std::string text = std::string(kMarkerHeading) + "\n";
  for (const std::string &line : lines(sourceStamp(source))) {
    text += "source " + line + "\n";
  }
  for (const std::string &name : wrote) {
    text += "wrote " + name + "\n";
  }
  std::ofstream out(folder / kStampName, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) {
    throw MLModelError(MLModelError::Code::io,
                       (folder / kStampName).string() + ": cannot be written");
  }
}

} // namespace platform::runner::importer
