#include "DeduveCore/Support/Config.hpp"

#include "DeduveCore/Support/KeyedHash.hpp"

#include <algorithm>

namespace deduve {

struct Config::Dictionary::Storage {
  std::vector<Entry> entries;
  // Open addressing with linear probing over positions in `entries` (kEmpty for a free slot):
  // one flat allocation instead of a node per key, which matters for vocabularies of
  // hundreds of thousands of keys, built and freed with every tokenizer. The keys come from
  // outside documents, so their hash is keyed per process: keys crafted to share slots under a
  // fixed hash would make building the table quadratic.
  std::vector<std::uint32_t> slots;
  static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};

  explicit Storage(std::vector<Entry> given) : entries(std::move(given)) {
    // A repeated key hands its value to the first occurrence and its own entry is dropped
    // afterwards (rare: only literals repeat keys).
    if (!index()) {
      dropRepeatedKeys();
    }
  }

  const Config *find(std::u16string_view key) const {
    if (slots.empty()) {
      return nullptr;
    }
    const std::size_t mask = slots.size() - 1;
    for (std::size_t at = keyedHash(key) & mask;; at = (at + 1) & mask) {
      if (slots[at] == kEmpty) {
        return nullptr;
      }
      const Entry &entry = entries[slots[at]];
      if (std::u16string_view(entry.first.value) == key) {
        return &entry.second;
      }
    }
  }

  std::size_t longestProbe() const {
    const std::size_t mask = slots.size() - 1;
    std::size_t longest = 0;
    for (std::size_t at = 0; at < slots.size(); ++at) {
      if (slots[at] != kEmpty) {
        const std::size_t home = keyedHash(std::u16string_view(entries[slots[at]].first.value));
        longest = std::max(longest, ((at - home) & mask) + 1);
      }
    }
    return longest;
  }

private:
  // Fills `slots`; false when a key repeats (its value then already sits in the first entry).
  bool index() {
    std::size_t size = 8;
    while (size < entries.size() * 2) {
      size *= 2;
    }
    slots.assign(entries.empty() ? 0 : size, kEmpty);
    const std::size_t mask = size - 1;
    bool unique = true;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::u16string_view key(entries[i].first.value);
      std::size_t at = keyedHash(key) & mask;
      while (slots[at] != kEmpty && std::u16string_view(entries[slots[at]].first.value) != key) {
        at = (at + 1) & mask;
      }
      if (slots[at] == kEmpty) {
        slots[at] = static_cast<std::uint32_t>(i);
      } else {
        entries[slots[at]].second = std::move(entries[i].second);
        unique = false;
      }
    }
    return unique;
  }

  void dropRepeatedKeys() {
    std::vector<bool> keep(entries.size(), false);
    for (const std::uint32_t position : slots) {
      if (position != kEmpty) {
        keep[position] = true;
      }
    }
    std::vector<Entry> kept;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (keep[i]) {
        kept.push_back(std::move(entries[i]));
      }
    }
    entries = std::move(kept);
    index();
  }
};

Config::Dictionary::Dictionary() : Dictionary(std::vector<Entry>{}) {}

Config::Dictionary::Dictionary(std::vector<Entry> entries)
    : storage_(std::make_shared<const Storage>(std::move(entries))) {}

std::size_t Config::Dictionary::size() const { return storage_->entries.size(); }

const Config *Config::Dictionary::find(std::u16string_view key) const {
  return storage_->find(key);
}

std::size_t Config::Dictionary::longestProbe() const { return storage_->longestProbe(); }

const Config *Config::Dictionary::find(const BinaryDistinctString &key) const {
  return find(std::u16string_view(key.value));
}

const std::vector<Config::Dictionary::Entry> &Config::Dictionary::entries() const {
  return storage_->entries;
}

std::vector<Config::Dictionary::Entry>::const_iterator Config::Dictionary::begin() const {
  return storage_->entries.begin();
}

std::vector<Config::Dictionary::Entry>::const_iterator Config::Dictionary::end() const {
  return storage_->entries.end();
}

} // namespace deduve
