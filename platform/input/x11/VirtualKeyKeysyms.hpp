#pragma once

#include <cstdint>
#include <optional>

namespace platform {

// The virtual key codes the app speaks (positions of a US keyboard) and the X keysyms of the
// same keys, both ways. Modifiers carry their side: Super stands for Command, Alt for Option.
struct VirtualKey {
  std::int64_t keyCode = 0; // virtual key code
  std::uint64_t modifierFlags =
      0; // EventFlags bits while held (generic and device); 0 for other keys
};

// The virtual key of an X keysym (the first keysym of a key, without modifiers), absent for
// keys the app has no code for.
std::optional<VirtualKey> virtualKeyForKeysym(unsigned long keysym);

// The X keysym typing the key of `keyCode` without modifiers; 0 for an unknown code.
unsigned long keysymForVirtualKey(std::int64_t keyCode);

} // namespace platform
