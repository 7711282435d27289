// JPEG artwork decoded by the system's OLE picture loader, drawn with GDI.
#pragma once

#include <windows.h>

#include <cstddef>

struct IPicture;

namespace app::win {

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

  explicit operator bool() const { return bitmap_ != nullptr; }
  // Size in pixels; 0 x 0 when empty.
  SIZE Size() const;
  // Draws the picture at its own size with its top-left at (x, y), scaled by
  // `dpi` / 96.
  void Draw(HDC dc, int x, int y, int dpi) const;

 private:
  IPicture* picture_ = nullptr;  // owns bitmap_
  HBITMAP bitmap_ = nullptr;
};

}  // namespace app::win
