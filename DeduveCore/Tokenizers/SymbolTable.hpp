#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace deduve {

// Texts numbered 0, 1, ... in the order they are first interned, found again by their bytes.
// The texts live in one buffer and the index is open addressing over (hash, id) pairs, so a
// vocabulary of hundreds of thousands of symbols is built without an allocation per symbol and
// a lookup touches one slot run and one text.
class SymbolTable {
public:
  // Room for `count` symbols without growing the index.
  void reserve(std::size_t count);
  // The id of `text`, numbering it next when it is new.
  std::int32_t intern(std::string_view text);
  // The id of `text`; -1 when it was never interned.
  std::int32_t find(std::string_view text) const;
  // The text of symbol `id` (0 <= id < size()); valid until the next intern.
  std::string_view text(std::int32_t id) const;
  std::size_t size() const { return ends_.size(); }

private:
  struct Slot {
    std::uint32_t hash = 0;
    std::int32_t id = -1; // -1: empty
  };
  // The slot holding `text` (hash `hash`), or the empty slot where it would go.
  std::size_t slotOf(std::string_view text, std::size_t hash) const;
  void rebuildIndex(std::size_t slotCount);

  std::string bytes_;             // every text, one after another
  std::vector<std::size_t> ends_; // end of each text in bytes_, by id
  std::vector<Slot> slots_;       // a power of two, at most half full
};

} // namespace deduve
