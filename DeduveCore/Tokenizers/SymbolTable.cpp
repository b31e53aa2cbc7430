#include "DeduveCore/Tokenizers/SymbolTable.hpp"

#include "DeduveCore/Support/KeyedHash.hpp"

namespace deduve {

namespace {

// Keyed per process: vocabulary texts come from outside documents (see KeyedHash.hpp).
std::size_t hashOf(std::string_view text) { return keyedHash(text); }

std::size_t slotCountFor(std::size_t symbols) {
  std::size_t count = 16;
  while (count < symbols * 2)
    count *= 2;
  return count;
}

} // namespace

void SymbolTable::reserve(std::size_t count) {
  ends_.reserve(count);
  if (slotCountFor(count) > slots_.size())
    rebuildIndex(slotCountFor(count));
}

std::string_view SymbolTable::text(std::int32_t id) const {
  const auto index = static_cast<std::size_t>(id);
  const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
  return std::string_view(bytes_).substr(begin, ends_[index] - begin);
}

std::size_t SymbolTable::slotOf(std::string_view text, std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const auto shortHash = static_cast<std::uint32_t>(hash);
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    const Slot &slot = slots_[at];
    if (slot.id < 0 || (slot.hash == shortHash && this->text(slot.id) == text))
      return at;
  }
}

std::int32_t SymbolTable::find(std::string_view text) const {
  if (slots_.empty())
    return -1;
  return slots_[slotOf(text, hashOf(text))].id;
}

std::int32_t SymbolTable::intern(std::string_view text) {
  if ((ends_.size() + 1) * 2 > slots_.size())
    rebuildIndex(slotCountFor(ends_.size() + 1));
  const std::size_t hash = hashOf(text);
  Slot &slot = slots_[slotOf(text, hash)];
  if (slot.id >= 0)
    return slot.id;
  slot = Slot{static_cast<std::uint32_t>(hash), static_cast<std::int32_t>(ends_.size())};
  bytes_.append(text);
  ends_.push_back(bytes_.size());
  return slot.id;
}

void SymbolTable::rebuildIndex(std::size_t slotCount) {
  slots_.assign(slotCount, Slot{});
  const std::size_t mask = slotCount - 1;
  for (std::size_t id = 0; id < ends_.size(); ++id) {
    const std::size_t hash = hashOf(text(static_cast<std::int32_t>(id)));
    std::size_t at = hash & mask;
    while (slots_[at].id >= 0)
      at = (at + 1) & mask;
    slots_[at] = Slot{static_cast<std::uint32_t>(hash), static_cast<std::int32_t>(id)};
  }
}

} // namespace deduve
