#include "picture.h"

#include <ole2.h>
#include <olectl.h>

#include <cstring>
#include <utility>

namespace app::win {

Picture::Picture(Picture&& o) noexcept
    : picture_(std::exchange(o.picture_, nullptr)), bitmap_(std::exchange(o.bitmap_, nullptr)) {}

Picture& Picture::operator=(Picture&& o) noexcept {
  if (this != &o) {
    if (picture_) picture_->Release();
    picture_ = std::exchange(o.picture_, nullptr);
    bitmap_ = std::exchange(o.bitmap_, nullptr);
  }
  return *this;
}

Picture::~Picture() {
  if (picture_) picture_->Release();
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

void Picture::Draw(HDC dc, int x, int y, int dpi) const {
  if (!bitmap_) return;
  const SIZE size = Size();
  HDC source = CreateCompatibleDC(dc);
  if (!source) return;
  HGDIOBJ old = SelectObject(source, bitmap_);
  if (dpi == 96) {
    BitBlt(dc, x, y, size.cx, size.cy, source, 0, 0, SRCCOPY);
  } else {
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, x, y, MulDiv(size.cx, dpi, 96), MulDiv(size.cy, dpi, 96), source, 0, 0, size.cx,
               size.cy, SRCCOPY);
  }
  SelectObject(source, old);
  DeleteDC(source);
}

}  // namespace app::win
