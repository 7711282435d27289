// The main window's controls: where they sit, what they say, in tab order.
#pragma once

#include <array>

namespace app::win {

inline constexpr wchar_t kWindowClass[] = L"KestrovaFrmMain";
inline constexpr wchar_t kCaption[] = L"Kestrova";
inline constexpr int kClientWidth = 568;
inline constexpr int kClientHeight = 304;

enum class ControlKind { kPicture, kOption, kLabel };
enum class FontKind { kNone, kDefault, kBold, kItalic };

// Child window ids; the order of this enum is the tab order.
enum ControlId : int {
  kPicExit = 100,
  kOptInternet,
  kOptInternet2,
  kPicScanNow,
  kLabel1,
  kLblStatus,
  kLabel3,
};

struct ControlSpec {
  ControlId id;
  const char* name;
  ControlKind kind;
  // Pixels at 96 dots per inch. A label or option keeps its left and top but
  // grows when its text needs more room (see TextRoom).
  int left, top, width, height;
  const wchar_t* text;
  FontKind font;
};

inline constexpr wchar_t kInitialStatus[] =
    L"Select your internet access option and click on Start Now to get your driver.";

// Label1's text colour, a dark yellow, as RGB.
inline constexpr unsigned kBannerRed = 192, kBannerGreen = 192, kBannerBlue = 0;

// Picture sizes inside their controls (drawn from the control's top-left).
inline constexpr int kStartImageWidth = 199, kStartImageHeight = 56;
inline constexpr int kExitImageWidth = 32, kExitImageHeight = 22;
inline constexpr int kBackgroundWidth = 568, kBackgroundHeight = 300;

inline constexpr std::array<ControlSpec, 7> kControls{{
    // A picture button's text is what screen readers announce; it shows only
    // where the artwork does not (high contrast).
    {kPicExit, "picExit", ControlKind::kPicture, 528, 8, 33, 25, L"Exit", FontKind::kDefault},
    {kOptInternet, "optInternet", ControlKind::kOption, 48, 144, 193, 17, L"I can access internet.",
     FontKind::kDefault},
    {kOptInternet2, "optInternet2", ControlKind::kOption, 48, 168, 385, 17,
     L"I can not access internet because i don't have driver for network card.",
     FontKind::kDefault},
    {kPicScanNow, "picScanNow", ControlKind::kPicture, 208, 192, 201, 57, L"Start Now",
     FontKind::kBold},
    {kLabel1, "Label1", ControlKind::kLabel, 16, 72, 417, 25,
     L"KESTROVA  - FIND AND FIX YOUR DRIVER EASILY", FontKind::kBold},
    {kLblStatus, "lblStatus", ControlKind::kLabel, 32, 112, 505, 25, kInitialStatus,
     FontKind::kBold},
    {kLabel3, "Label3", ControlKind::kLabel, 16, 256, 529, 25,
     L"Even your computer can not access internet, you still can use this program to find the "
     L"driver for your network card. Don't worry.",
     FontKind::kItalic},
}};

// Texts end before the window's right edge (in line with the Exit picture) and
// above the background's bottom bands.
inline constexpr int kTextRight = 560;
inline constexpr int kTextBottom = 288;

// The right and bottom edges (96-DPI pixels) a label or option may grow to
// when its text does not fit: up to the text limits or the nearest control
// beside or beneath it, whichever comes first. Never less than its own size.
struct TextRoom {
  int right, bottom;
};

constexpr TextRoom TextRoomFor(const ControlSpec& c) {
  TextRoom room{kTextRight, kTextBottom};
  for (const ControlSpec& o : kControls) {
    if (o.id == c.id) continue;
    const bool beside = o.top < c.top + c.height && o.top + o.height > c.top;
    if (beside && o.left >= c.left + c.width && o.left < room.right) room.right = o.left;
  }
  for (const ControlSpec& o : kControls) {
    if (o.id == c.id) continue;
    const bool beneath = o.left < room.right && o.left + o.width > c.left;
    if (beneath && o.top >= c.top + c.height && o.top < room.bottom) room.bottom = o.top;
  }
  if (room.right < c.left + c.width) room.right = c.left + c.width;
  if (room.bottom < c.top + c.height) room.bottom = c.top + c.height;
  return room;
}

}  // namespace app::win
