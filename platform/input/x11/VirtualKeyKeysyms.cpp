#include "platform/input/x11/VirtualKeyKeysyms.hpp"

#include "platform/input/EventTap.hpp"

#include <X11/keysym.h>

#include <array>

namespace platform {
namespace {

struct Row {
  unsigned long keysym;
  std::int64_t keyCode;
  std::uint64_t flags;
};

using namespace EventFlags;

// Modifiers first: a keysym found here is a modifier key.
constexpr std::array kRows{
    Row{XK_Shift_L, 56, maskShift | deviceLeftShift},
    Row{XK_Shift_R, 60, maskShift | deviceRightShift},
    Row{XK_Control_L, 59, maskControl | deviceLeftControl},
    Row{XK_Control_R, 62, maskControl | deviceRightControl},
    Row{XK_Alt_L, 58, maskAlternate | deviceLeftAlternate},
    Row{XK_Meta_L, 58, maskAlternate | deviceLeftAlternate},
    Row{XK_Alt_R, 61, maskAlternate | deviceRightAlternate},
    Row{XK_Meta_R, 61, maskAlternate | deviceRightAlternate},
    // Right Alt is AltGr on many layouts, the key a Mac has Right Option on.
    Row{XK_ISO_Level3_Shift, 61, maskAlternate | deviceRightAlternate},
    Row{XK_Super_L, 55, maskCommand | deviceLeftCommand},
    Row{XK_Super_R, 54, maskCommand | deviceRightCommand},
    Row{XK_a, 0, 0},
    Row{XK_s, 1, 0},
    Row{XK_d, 2, 0},
    Row{XK_f, 3, 0},
    Row{XK_h, 4, 0},
    Row{XK_g, 5, 0},
    Row{XK_z, 6, 0},
    Row{XK_x, 7, 0},
    Row{XK_c, 8, 0},
    Row{XK_v, 9, 0},
    Row{XK_b, 11, 0},
    Row{XK_q, 12, 0},
    Row{XK_w, 13, 0},
    Row{XK_e, 14, 0},
    Row{XK_r, 15, 0},
    Row{XK_y, 16, 0},
    Row{XK_t, 17, 0},
    Row{XK_1, 18, 0},
    Row{XK_2, 19, 0},
    Row{XK_3, 20, 0},
    Row{XK_4, 21, 0},
    Row{XK_6, 22, 0},
    Row{XK_5, 23, 0},
    Row{XK_equal, 24, 0},
    Row{XK_9, 25, 0},
    Row{XK_7, 26, 0},
    Row{XK_minus, 27, 0},
    Row{XK_8, 28, 0},
    Row{XK_0, 29, 0},
    Row{XK_bracketright, 30, 0},
    Row{XK_o, 31, 0},
    Row{XK_u, 32, 0},
    Row{XK_bracketleft, 33, 0},
    Row{XK_i, 34, 0},
    Row{XK_p, 35, 0},
    Row{XK_Return, 36, 0},
    Row{XK_l, 37, 0},
    Row{XK_j, 38, 0},
    Row{XK_apostrophe, 39, 0},
    Row{XK_k, 40, 0},
    Row{XK_semicolon, 41, 0},
    Row{XK_backslash, 42, 0},
    Row{XK_comma, 43, 0},
    Row{XK_slash, 44, 0},
    Row{XK_n, 45, 0},
    Row{XK_m, 46, 0},
    Row{XK_period, 47, 0},
    Row{XK_Tab, 48, 0},
    Row{XK_space, 49, 0},
    Row{XK_grave, 50, 0},
    Row{XK_BackSpace, 51, 0},
    Row{XK_Escape, 53, 0},
    Row{XK_Left, 123, 0},
    Row{XK_Right, 124, 0},
    Row{XK_Down, 125, 0},
    Row{XK_Up, 126, 0},
};

} // namespace

std::optional<VirtualKey> virtualKeyForKeysym(unsigned long keysym) {
  // Letters arrive lower case as a key's first keysym; an upper-case one names the same key.
  if (keysym >= XK_A && keysym <= XK_Z) {
    keysym += XK_a - XK_A;
  }
  for (const Row &row : kRows) {
    if (row.keysym == keysym) {
      return VirtualKey{row.keyCode, row.flags};
    }
  }
  return std::nullopt;
}

unsigned long keysymForVirtualKey(std::int64_t keyCode) {
  for (const Row &row : kRows) {
    if (row.keyCode == keyCode) {
      return row.keysym;
    }
  }
  return 0;
}

} // namespace platform
