// framework/gdi.h
// Owners for GDI objects, icons and device contexts, all of them rtl::THandle instances.
#pragma once
#include <windows.h>

#include "rtl/handle.h"

namespace fw {

template <typename T>
struct TGdiObjectTraits : rtl::TNullIsEmpty<T> {
  static bool Close(T h) noexcept { return DeleteObject(h) != FALSE; }
};
// A font, brush, bitmap, ... made by the program.
template <typename T>
using GdiObject = rtl::THandle<TGdiObjectTraits<T>>;

struct TIconTraits : rtl::TNullIsEmpty<HICON> {
  static bool Close(HICON h) noexcept { return DestroyIcon(h) != FALSE; }
};
// An icon made at run time (not a shared one from LoadImage).
using IconHandle = rtl::THandle<TIconTraits>;

// A window's (or, for null, the screen's) device context from GetDC.
struct TWindowDcTraits : rtl::TNullIsEmpty<HDC> {
  HWND window = nullptr;
  bool Close(HDC h) const noexcept { return ReleaseDC(window, h) != 0; }
};
using WindowDC = rtl::THandle<TWindowDcTraits>;
inline WindowDC GetClientDC(HWND window) { return WindowDC(GetDC(window), {{}, window}); }

// A memory device context from CreateCompatibleDC.
struct TMemoryDcTraits : rtl::TNullIsEmpty<HDC> {
  static bool Close(HDC h) noexcept { return DeleteDC(h) != FALSE; }
};
using MemoryDC = rtl::THandle<TMemoryDcTraits>;

// Selects an object into a DC for one scope and restores the previous one.
class ScopedSelect {
 public:
  ScopedSelect(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
  ScopedSelect(const ScopedSelect&) = delete;
  ScopedSelect& operator=(const ScopedSelect&) = delete;
  ~ScopedSelect() { SelectObject(dc_, old_); }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace fw
