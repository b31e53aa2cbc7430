#include "platform/ml/runner/formats/SafeTensorsFile.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/formats/BoundedJson.hpp"
#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/system/FileDescriptor.hpp"
#include "platform/text/Excerpt.hpp"

#include <nlohmann/json.hpp>

#include <stdexcept>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::runner {
namespace {

// Headers are small JSON documents; a larger length is a corrupt or hostile file.
constexpr std::uint64_t kMaxHeaderBytes = 100u * 1024u * 1024u;

[[noreturn]] void fail(const std::filesystem::path &path, const std::string &what,
                       MLModelError::Code code = MLModelError::Code::invalidModel) {
  throw MLModelError(code, path.string() + ": " + what);
}

bool multiplyChecked(std::size_t a, std::size_t b, std::size_t &out) {
  if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) {
    return false;
  }
  out = a * b;
  return true;
}

} // namespace

std::string formatShape(const std::vector<std::size_t> &shape) {
  std::string text = "[";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    text += (i == 0 ? "" : ", ") + std::to_string(shape[i]);
  }
  return text + "]";
}

std::size_t SafeTensorsFile::Tensor::elementCount() const {
  std::size_t count = 1;
  for (auto d : shape) {
    count *= d;
  }
  return count;
}

SafeTensorsFile::SafeTensorsFile(const std::filesystem::path &path) : path_(path) {
  map();
  readHeader(); // an error unmaps the file with the half-built object
}

void SafeTensorsFile::map() {
  const platform::FileDescriptor fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.isOpen()) {
    fail(path_, std::string("cannot open: ") + std::strerror(errno), MLModelError::Code::io);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    fail(path_, "not a regular file", MLModelError::Code::io);
  }
  const auto fileSize = static_cast<std::size_t>(info.st_size);
  if (fileSize < 8) {
    fail(path_,
         "file is " + std::to_string(fileSize) + " bytes, too short for a safetensors header");
  }
  void *mapped = ::mmap(nullptr, fileSize, PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (mapped == MAP_FAILED) {
    fail(path_, std::string("cannot map: ") + std::strerror(errno), MLModelError::Code::io);
  }
  mapping_ = std::make_shared<const platform::MemoryMapping>(mapped, fileSize);
  // Float16 weights are read in place, so the first prediction would otherwise fault the file in
  // page by page; reading ahead now starts that while the model loads. Only a hint.
  ::madvise(mapped, fileSize, MADV_WILLNEED);
}

void SafeTensorsFile::readHeader() {
  std::uint64_t headerLength = 0;
  for (int i = 7; i >= 0; --i) {
    headerLength = headerLength << 8 | mapping_->data()[i];
  }
  if (headerLength > kMaxHeaderBytes || headerLength > mapping_->size() - 8) {
    fail(path_, "header length " + std::to_string(headerLength) + " exceeds the file size " +
                    std::to_string(mapping_->size()));
  }
  dataStart_ = 8 + static_cast<std::size_t>(headerLength);
  nlohmann::json header;
  try {
    // One member beyond the tensors for "__metadata__".
    header = parseBoundedJson(
        std::string_view(reinterpret_cast<const char *>(mapping_->data() + 8), headerLength),
        JsonLimits{.maxMembers = kMaxTensors + 1});
  } catch (const nlohmann::json::exception &error) {
    fail(path_, "malformed header: " + boundedMessage(error.what()));
  } catch (const std::length_error &error) {
    fail(path_, "malformed header: " + boundedMessage(error.what()));
  }
  if (!header.is_object()) {
    fail(path_, "malformed header: not a JSON object");
  }
  const std::size_t tensorCount = header.size() - (header.contains("__metadata__") ? 1 : 0);
  if (tensorCount > kMaxTensors) {
    fail(path_, "header lists " + std::to_string(tensorCount) + " tensors, above the bound " +
                    std::to_string(kMaxTensors));
  }
  for (const auto &[name, entry] : header.items()) {
    if (name != "__metadata__") {
      tensors_.emplace(name, readEntry(name, entry, mapping_->size() - dataStart_));
    }
  }
}

SafeTensorsFile::Tensor SafeTensorsFile::readEntry(const std::string &name,
                                                   const nlohmann::json &entry,
                                                   std::size_t dataSize) const {
  auto bad = [&](const std::string &why) { fail(path_, "tensor " + name + ": " + why); };
  if (!entry.is_object() || !entry.contains("dtype") || !entry.contains("shape") ||
      !entry.contains("data_offsets")) {
    bad("entry needs dtype, shape and data_offsets");
  }
  Tensor tensor;
  const auto &dtype = entry.at("dtype");
  std::size_t elementBytes = 0;
  if (dtype == "F16") {
    tensor.type = ElementType::float16;
    elementBytes = 2;
  } else if (dtype == "F32") {
    tensor.type = ElementType::float32;
    elementBytes = 4;
  } else {
    bad("unsupported element type " + describeJson(dtype) + " (F16 or F32 expected)");
  }
  const auto &shape = entry.at("shape");
  const auto &offsets = entry.at("data_offsets");
  if (!shape.is_array() || !offsets.is_array() || offsets.size() != 2) {
    bad("malformed shape or data_offsets");
  }
  std::size_t count = 1;
  for (const auto &d : shape) {
    if (!d.is_number_unsigned() && !(d.is_number_integer() && d.get<std::int64_t>() >= 0)) {
      bad("malformed shape: a dimension is " + describeJson(d));
    }
    const auto dimension = d.get<std::uint64_t>();
    tensor.shape.push_back(static_cast<std::size_t>(dimension));
    if (!multiplyChecked(count, static_cast<std::size_t>(dimension), count)) {
      bad("shape " + formatShape(tensor.shape) + "... is too large");
    }
  }
  if (!offsets[0].is_number_unsigned() || !offsets[1].is_number_unsigned()) {
    bad("malformed data_offsets: " + describeJson(offsets[0]) + " and " + describeJson(offsets[1]));
  }
  const auto begin = offsets[0].get<std::uint64_t>();
  const auto end = offsets[1].get<std::uint64_t>();
  std::size_t expectedBytes = 0;
  if (!multiplyChecked(count, elementBytes, expectedBytes) || end < begin ||
      end - begin != expectedBytes) {
    bad("data_offsets [" + std::to_string(begin) + ", " + std::to_string(end) +
        "] do not hold shape " + formatShape(tensor.shape));
  }
  if (end > dataSize) {
    bad("data ends at byte " + std::to_string(end) + " but the file holds only " +
        std::to_string(dataSize) + " bytes of data (truncated file?)");
  }
  tensor.offset = static_cast<std::size_t>(begin);
  tensor.byteCount = expectedBytes;
  return tensor;
}

SafeTensorsFile::~SafeTensorsFile() = default;

const SafeTensorsFile::Tensor &
SafeTensorsFile::checkedTensor(std::string_view name,
                               const std::vector<std::size_t> &expectedShape) const {
  const auto found = tensors_.find(name);
  if (found == tensors_.end()) {
    fail(path_, "missing tensor " + std::string(name));
  }
  if (found->second.shape != expectedShape) {
    fail(path_, "tensor " + std::string(name) + " has shape " + formatShape(found->second.shape) +
                    ", expected " + formatShape(expectedShape));
  }
  return found->second;
}

std::vector<float>
SafeTensorsFile::readFloats(std::string_view name,
                            const std::vector<std::size_t> &expectedShape) const {
  const Tensor &tensor = checkedTensor(name, expectedShape);
  std::vector<float> values(tensor.elementCount());
  readFloatsInto(name, expectedShape, values.data());
  return values;
}

void SafeTensorsFile::readFloatsInto(std::string_view name,
                                     const std::vector<std::size_t> &expectedShape,
                                     float *destination) const {
  const Tensor &tensor = checkedTensor(name, expectedShape);
  const std::uint8_t *source = bytes(tensor);
  const std::size_t count = tensor.elementCount();
  // The data section need not be aligned for the element type, so elements are copied bytewise.
  // An empty tensor's destination may be null, which memcpy may not be given even for no bytes.
  if (count == 0) {
    return;
  }
  if (tensor.type == ElementType::float32) {
    std::memcpy(destination, source, count * sizeof(float));
  } else {
    const float *table = halfToFloatTable();
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint16_t bits =
          static_cast<std::uint16_t>(source[2 * i] | (source[2 * i + 1] << 8));
      destination[i] = table[bits];
    }
  }
}

} // namespace platform::runner
