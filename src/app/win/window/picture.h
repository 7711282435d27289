// JPEG artwork decoded by the system's OLE picture loader, drawn with GDI.
#pragma once

#include <windows.h>

#include <cstddef>

struct IPicture;

namespace app::win {

// Which drawing of a picture suits a screen of `dpi` dots per inch when it is
// drawn at scales 1 (96 DPI) up to `largest`: the smallest at least as large as
// the screen needs, to be reduced, so a picture is never enlarged while a
// larger drawing exists; the largest one beyond that.
constexpr int ArtworkScaleFor(int dpi, int largest) {
  int scale = 1;
  while (scale < largest && scale * 96 < dpi) ++scale;
  return scale;
}

class Picture {
 public:
  Picture() = default;
  Picture(Picture&& o) noexcept;
  Picture& operator=(Picture&& o) noexcept;
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;
  ~Picture();

  // Decodes image bytes (JPEG, GIF, BMP); an empty picture when they do not decode.
  static Picture FromBytes(const void* data, std::size_t size);
  // The bytes of an RCDATA resource of `module`; empty when it is missing.
  static Picture FromResource(HMODULE module, int id);
  // A picture drawn at 96 DPI (resource `id_1x`) and at 192 DPI (`id_2x`),
  // made ready for a screen of `dpi`: the 96-DPI size times dpi / 96, taken
  // from the drawing ArtworkScaleFor picks (the other one when that is
  // missing). Empty when neither decodes.
  static Picture ForDpi(HMODULE module, int id_1x, int id_2x, int dpi);

  explicit operator bool() const { return bitmap_ != nullptr; }
  // Size in pixels; 0 x 0 when empty.
  SIZE Size() const;
  // A copy resampled to width x height (see Resample); empty when this one is
  // or the size is not positive.
  Picture Resized(int width, int height) const;
  // Draws the picture at its own size with its top-left at (x, y).
  void Draw(HDC dc, int x, int y) const;

 private:
  IPicture* picture_ = nullptr;  // when set, it owns bitmap_
  HBITMAP bitmap_ = nullptr;     // otherwise this object does
};

}  // namespace app::win
