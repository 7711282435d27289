#include "mouse_cursor.h"

#include <windows.h>

namespace basMouseCursor {

bool ShowHandCursor() {
  constexpr int kIdcHand = 32649;  // IDC_HAND; older SDKs lack the name
  HCURSOR hand = LoadCursorA(nullptr, MAKEINTRESOURCEA(kIdcHand));
  if (!hand) return false;
  SetCursor(hand);
  return true;
}

}  // namespace basMouseCursor
