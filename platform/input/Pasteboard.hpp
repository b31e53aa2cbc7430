#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One representation of the pasteboard's contents: a type name and its bytes.
struct PasteboardItem {
  std::string type; // e.g. Pasteboard::plainTextType, "image/png"
  std::string data; // the bytes; UTF-8 for text types

  friend bool operator==(const PasteboardItem &, const PasteboardItem &) = default;
};

// Everything the pasteboard holds, one item per type, in the order written.
using PasteboardContents = std::vector<PasteboardItem>;

// The system's general pasteboard (the clipboard). Used on the main thread.
class Pasteboard {
public:
  // The type of plain UTF-8 text.
  static constexpr const char *plainTextType = "text/plain;charset=utf-8";

  virtual ~Pasteboard() = default;

  // A count that grows with every change of the owner of the contents (clearing included),
  // by this process or any other. Two equal readings mean nobody wrote in between.
  virtual std::int64_t changeCount() const = 0;
  // Empties the pasteboard and takes ownership; returns the new change count.
  virtual std::int64_t clearContents() = 0;
  // Adds `data` under `type` to the contents written since the last clear. False when the
  // platform refused the write (nothing was added).
  virtual bool setData(const std::string &type, const std::string &data) = 0;
  // The bytes held under `type`, absent when the pasteboard holds no such type.
  virtual std::optional<std::string> data(const std::string &type) const = 0;
  // Every item the pasteboard holds (empty when empty).
  virtual PasteboardContents contents() const = 0;

  bool setString(const std::string &text) { return setData(plainTextType, text); }
  std::optional<std::string> string() const { return data(plainTextType); }
};

} // namespace platform
