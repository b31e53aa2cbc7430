#pragma once

#include "platform/ml/runner/formats/SafeTensorsFile.hpp"

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace platform::runner {

// Collects named tensors and writes them as one safetensors file. Tensors are written in the
// order added; the header is padded so the data section starts 8-byte aligned.
class SafeTensorsWriter {
public:
  // Stores `values` (row-major, as many as the shape holds) to be written as `type`.
  void add(const std::string &name, std::vector<std::size_t> shape,
           const std::vector<float> &values, SafeTensorsFile::ElementType type);

  // Appends every tensor of `other`, in its order.
  void append(const SafeTensorsWriter &other);

  // Writes the file; throws std::runtime_error when it cannot be written.
  void write(const std::filesystem::path &path) const;

private:
  struct Entry {
    std::string name;
    std::vector<std::size_t> shape;
    SafeTensorsFile::ElementType type;
    std::vector<unsigned char> bytes;
  };
  std::vector<Entry> entries_;
};

} // namespace platform::runner
