#include "app/services/HotkeyKey.hpp"

#include "platform/input/EventTap.hpp"

namespace murmurquill {
namespace {

struct KeyRow {
  HotkeyKey key;
  std::string_view raw;
  std::int64_t keyCode;
  std::uint64_t modifierFlag;
  std::string_view displayName;
  bool isModifier;
  std::string_view secondCap;
};

// The keys as Linux keyboards name them: the keys a Mac has Option and Command on are Alt
// and Super here.
constexpr std::string_view kOption = "Alt";
constexpr std::string_view kCommand = "Super";

constexpr std::array<KeyRow, 6> kRows{{
    {HotkeyKey::rightOption, "rightOption", 61, platform::EventFlags::deviceRightAlternate,
     "Right Alt", true, ""},
    {HotkeyKey::rightCommand, "rightCommand", 54, platform::EventFlags::deviceRightCommand,
     "Right Super", true, ""},
    {HotkeyKey::leftOption, "leftOption", 58, platform::EventFlags::deviceLeftAlternate, "Left Alt",
     true, ""},
    {HotkeyKey::optionZ, "optionZ", 6, 0, "Alt-Z", false, "Z"},
    {HotkeyKey::optionSlash, "optionSlash", 44, 0, "Alt-Slash", false, "/"},
    {HotkeyKey::optionSpace, "optionSpace", 49, 0, "Alt-Space", false, "Space"},
}};

const KeyRow &row(HotkeyKey key) { return kRows[static_cast<std::size_t>(key)]; }

} // namespace

std::string_view rawValue(HotkeyKey key) { return row(key).raw; }

std::optional<HotkeyKey> hotkeyKeyFromRawValue(std::string_view raw) {
  for (const auto &entry : kRows) {
    if (entry.raw == raw) {
      return entry.key;
    }
  }
  return std::nullopt;
}

std::int64_t keyCode(HotkeyKey key) { return row(key).keyCode; }

std::uint64_t modifierFlag(HotkeyKey key) { return row(key).modifierFlag; }

std::string_view displayName(HotkeyKey key) { return row(key).displayName; }

std::string spokenLabel(HotkeyKey key) {
  const auto &entry = row(key);
  if (entry.isModifier) {
    return "the " + std::string(entry.displayName) + " key";
  }
  return std::string(entry.displayName);
}

std::vector<std::string> keyCaps(HotkeyKey key) {
  switch (key) {
  case HotkeyKey::rightCommand:
    return {std::string(kCommand)};
  case HotkeyKey::rightOption:
  case HotkeyKey::leftOption:
    return {std::string(kOption)};
  default:
    return {std::string(kOption), std::string(row(key).secondCap)};
  }
}

} // namespace murmurquill
