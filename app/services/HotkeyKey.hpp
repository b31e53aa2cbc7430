#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace murmurquill {

// The push-to-talk keys. The raw value of a key is its case name, which is what the settings
// store.
enum class HotkeyKey { rightOption, rightCommand, leftOption, optionZ, optionSlash, optionSpace };

inline constexpr std::array<HotkeyKey, 6> allHotkeyKeys{
    HotkeyKey::rightOption, HotkeyKey::rightCommand, HotkeyKey::leftOption,
    HotkeyKey::optionZ,     HotkeyKey::optionSlash,  HotkeyKey::optionSpace};

// The keys offered to the user: the first three, in order.
inline constexpr std::array<HotkeyKey, 3> offeredHotkeyKeys{
    HotkeyKey::rightOption, HotkeyKey::rightCommand, HotkeyKey::leftOption};

// The case name ("rightOption").
std::string_view rawValue(HotkeyKey key);
// The key whose case name is exactly `raw` (case-sensitive); anything else gives nothing.
std::optional<HotkeyKey> hotkeyKeyFromRawValue(std::string_view raw);

// The virtual key code of the key.
std::int64_t keyCode(HotkeyKey key);
// The event flag that is set exactly while this very key (not its twin on the other side) is
// held; 0 for the chords, whose keys produce no modifier changes.
std::uint64_t modifierFlag(HotkeyKey key);
// The name in menus and onboarding pages ("Right Alt").
std::string_view displayName(HotkeyKey key);
// The name inside a sentence ("the Right Alt key"; the chords use their display name).
std::string spokenLabel(HotkeyKey key);
// The key caps drawn side by side ("Alt"; "Alt", "Z" for a chord).
std::vector<std::string> keyCaps(HotkeyKey key);

} // namespace murmurquill
