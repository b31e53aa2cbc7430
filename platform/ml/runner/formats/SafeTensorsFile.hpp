#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system/MemoryMapping.hpp"

namespace platform::runner {

// A read-only, memory-mapped safetensors file: an 8-byte little-endian header length, a JSON
// header naming every tensor with its element type, shape and byte range, then the data.
// Every range is checked against the file size when the file is opened, so reading a tensor
// never touches memory past the end of a truncated file. Errors are MLModelError values whose
// message names the file and, where one is involved, the tensor. Immutable after construction:
// safe to read from several threads.
class SafeTensorsFile {
public:
  enum class ElementType { float16, float32 };

  // Tensors one file may list: several times the largest published checkpoints of the speech
  // models (about 1,400), so a header of many tiny tensors cannot cost minutes or gigabytes.
  static constexpr std::size_t kMaxTensors = 16384;

  struct Tensor {
    ElementType type = ElementType::float32;
    std::vector<std::size_t> shape;
    std::size_t offset = 0; // from the start of the data section
    std::size_t byteCount = 0;
    std::size_t elementCount() const;
  };

  explicit SafeTensorsFile(const std::filesystem::path &path);
  ~SafeTensorsFile();
  SafeTensorsFile(const SafeTensorsFile &) = delete;
  SafeTensorsFile &operator=(const SafeTensorsFile &) = delete;

  const std::filesystem::path &path() const { return path_; }
  const std::map<std::string, Tensor, std::less<>> &tensors() const { return tensors_; }
  bool contains(std::string_view name) const { return tensors_.find(name) != tensors_.end(); }

  // The named tensor's entry; throws MLModelError when it is missing or its shape differs from
  // `expectedShape`.
  const Tensor &tensor(std::string_view name, const std::vector<std::size_t> &expectedShape) const {
    return checkedTensor(name, expectedShape);
  }

  // The tensor's elements widened to float32. Throws MLModelError when the tensor is missing or
  // its shape differs from `expectedShape`.
  std::vector<float> readFloats(std::string_view name,
                                const std::vector<std::size_t> &expectedShape) const;
  // Widens into caller storage of exactly the tensor's element count (same checks).
  void readFloatsInto(std::string_view name, const std::vector<std::size_t> &expectedShape,
                      float *destination) const;

  // The tensor's bytes as stored (little-endian, aligned only as the file places them), valid
  // while the mapping lives.
  const std::uint8_t *bytes(const Tensor &tensor) const {
    return mapping_->data() + dataStart_ + tensor.offset;
  }
  // The file's mapping, shared so that weights read in place can outlive this object.
  std::shared_ptr<const platform::MemoryMapping> mapping() const { return mapping_; }

private:
  // Maps the whole file; throws (io) when it cannot be opened or mapped.
  void map();
  // Reads the header's entries; called with the file mapped.
  void readHeader();
  Tensor readEntry(const std::string &name, const nlohmann::json &entry,
                   std::size_t dataSize) const;

  const Tensor &checkedTensor(std::string_view name,
                              const std::vector<std::size_t> &expectedShape) const;

  std::filesystem::path path_;
  std::shared_ptr<const platform::MemoryMapping> mapping_;
  std::size_t dataStart_ = 0;
  std::map<std::string, Tensor, std::less<>> tensors_;
};

// "[a, b, c]" for messages.
std::string formatShape(const std::vector<std::size_t> &shape);

} // namespace platform::runner
