#include "picture.h"

#include <ole2.h>
#include <olectl.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "resample.h"

namespace app::win {

Picture::Picture(Picture&& o) noexcept
    : picture_(std::exchange(o.picture_, nullptr)), bitmap_(std::exchange(o.bitmap_, nullptr)) {}

Picture& Picture::operator=(Picture&& o) noexcept {
  if (this != &o) {
    if (picture_)
      picture_->Release();
    else if (bitmap_)
      DeleteObject(bitmap_);
    picture_ = std::exchange(o.picture_, nullptr);
    bitmap_ = std::exchange(o.bitmap_, nullptr);
  }
  return *this;
}

Picture::~Picture() {
  if (picture_)
    picture_->Release();
  else if (bitmap_)
    DeleteObject(bitmap_);
}

Picture Picture::FromBytes(const void* data, std::size_t size) {
  Picture result;
  if (!data || size == 0) return result;
  // The stream owns a movable copy of the bytes and frees it on release.
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!memory) return result;
  void* target = GlobalLock(memory);
  if (!target) {
    GlobalFree(memory);
    return result;
  }
  std::memcpy(target, data, size);
  GlobalUnlock(memory);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
    GlobalFree(memory);
    return result;
  }
  IPicture* picture = nullptr;
  const HRESULT hr = OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                                    reinterpret_cast<void**>(&picture));
  stream->Release();
  if (FAILED(hr) || !picture) return result;
  SHORT type = PICTYPE_NONE;
  OLE_HANDLE handle = 0;
  if (FAILED(picture->get_Type(&type)) || type != PICTYPE_BITMAP ||
      FAILED(picture->get_Handle(&handle)) || handle == 0) {
    picture->Release();
    return result;
  }
  result.picture_ = picture;
  result.bitmap_ = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
  return result;
}

Picture Picture::FromResource(HMODULE module, int id) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RCDATA */);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const DWORD size = SizeofResource(module, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  return FromBytes(bytes, size);
}

SIZE Picture::Size() const {
  BITMAP info{};
  if (!bitmap_ || !GetObjectW(bitmap_, sizeof info, &info)) return SIZE{0, 0};
  return SIZE{info.bmWidth, info.bmHeight};
}

Picture Picture::ForDpi(HMODULE module, int id_1x, int id_2x, int dpi) {
  Picture one = FromResource(module, id_1x);
  // The larger drawing is decoded only when it is the one to use.
  Picture two = ArtworkScaleFor(dpi, 2) == 2 || !one ? FromResource(module, id_2x) : Picture();
  SIZE base = one.Size();
  if (!one) base = SIZE{two.Size().cx / 2, two.Size().cy / 2};
  const SIZE target{MulDiv(base.cx, dpi, 96), MulDiv(base.cy, dpi, 96)};
  Picture& source = two ? two : one;
  const SIZE size = source.Size();
  if (size.cx == target.cx && size.cy == target.cy) return std::move(source);
  return source.Resized(target.cx, target.cy);
}

Picture Picture::Resized(int width, int height) const {
  Picture result;
  const SIZE size = Size();
  if (!bitmap_ || width < 1 || height < 1 || size.cx < 1 || size.cy < 1) return result;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size.cx;
  info.bmiHeader.biHeight = -size.cy;  // rows top to bottom
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(size.cx) * size.cy);
  HDC screen = GetDC(nullptr);
  const int rows = GetDIBits(screen, bitmap_, 0, static_cast<UINT>(size.cy), pixels.data(), &info,
                             DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != size.cy) return result;
  const std::vector<std::uint32_t> scaled = Resample(pixels, size.cx, size.cy, width, height);
  if (scaled.empty()) return result;

  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    if (bitmap) DeleteObject(bitmap);
    return result;
  }
  std::memcpy(bits, scaled.data(), scaled.size() * sizeof scaled[0]);
  GdiFlush();
  result.bitmap_ = bitmap;
  return result;
}

void Picture::Draw(HDC dc, int x, int y) const {
  if (!bitmap_) return;
  const SIZE size = Size();
  HDC source = CreateCompatibleDC(dc);
  if (!source) return;
  HGDIOBJ old = SelectObject(source, bitmap_);
  BitBlt(dc, x, y, size.cx, size.cy, source, 0, 0, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

}  // namespace app::win
