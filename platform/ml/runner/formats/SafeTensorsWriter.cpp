#include "platform/ml/runner/formats/SafeTensorsWriter.hpp"

#include "platform/ml/runner/kernels/Half.hpp"

#include <nlohmann/json.hpp>

#include <cstring>
#include <fstream>
#include <stdexcept>

namespace platform::runner {

void SafeTensorsWriter::add(const std::string &name, std::vector<std::size_t> shape,
                            const std::vector<float> &values, SafeTensorsFile::ElementType type) {
  std::size_t count = 1;
  for (auto d : shape) {
    count *= d;
  }
  if (values.size() != count) {
    throw std::invalid_argument("SafeTensorsWriter: tensor " + name + " has " +
                                std::to_string(values.size()) + " values for shape " +
                                formatShape(shape));
  }
  Entry entry{name, std::move(shape), type, {}};
  if (type == SafeTensorsFile::ElementType::float32) {
    entry.bytes.resize(count * 4);
    if (count != 0) { // an empty vector's data may be null, which memcpy may not be given
      std::memcpy(entry.bytes.data(), values.data(), count * 4);
    }
  } else {
    entry.bytes.resize(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint16_t bits = floatToHalf(values[i]);
      entry.bytes[2 * i] = static_cast<unsigned char>(bits & 0xff);
      entry.bytes[2 * i + 1] = static_cast<unsigned char>(bits >> 8);
    }
  }
  entries_.push_back(std::move(entry));
}

void SafeTensorsWriter::append(const SafeTensorsWriter &other) {
  entries_.insert(entries_.end(), other.entries_.begin(), other.entries_.end());
}

void SafeTensorsWriter::write(const std::filesystem::path &path) const {
  nlohmann::ordered_json header = nlohmann::ordered_json::object();
  header["__metadata__"] = {{"format", "pt"}};
  std::size_t offset = 0;
  for (const auto &entry : entries_) {
    header[entry.name] = {
        {"dtype", entry.type == SafeTensorsFile::ElementType::float32 ? "F32" : "F16"},
        {"shape", entry.shape},
        {"data_offsets", {offset, offset + entry.bytes.size()}}};
    offset += entry.bytes.size();
  }
  std::string text = header.dump();
  while ((8 + text.size()) % 8 != 0) {
    text.push_back(' ');
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
  unsigned char length[8];
  std::uint64_t size = text.size();
  for (int i = 0; i < 8; ++i) {
    length[i] = static_cast<unsigned char>(size >> (8 * i));
  }
  out.write(reinterpret_cast<const char *>(length), 8);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  for (const auto &entry : entries_) {
    out.write(reinterpret_cast<const char *>(entry.bytes.data()),
              static_cast<std::streamsize>(entry.bytes.size()));
  }
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

} // namespace platform::runner
