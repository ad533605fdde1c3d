// framework/screen.cpp
#include "framework/screen.h"

#include <climits>

#include "framework/gdi.h"

namespace fw {

namespace {

struct TitleBarSearch {
  RECT bar;
  int minWidth, minHeight;
  bool reachable;
};

BOOL CALLBACK CheckMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  auto* search = reinterpret_cast<TitleBarSearch*>(data);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  RECT common;
  if (GetMonitorInfoW(monitor, &info) && IntersectRect(&common, &search->bar, &info.rcWork) &&
      common.right - common.left >= search->minWidth &&
      common.bottom - common.top >= search->minHeight) {
    search->reachable = true;
    return FALSE;
  }
  return TRUE;
}

// The start of a span of the given length placed inside [low, high), kept at low when it
// does not fit. 64-bit so far-off coordinates cannot overflow.
LONG Clamp(long long start, long long length, long long low, long long high) {
  if (start + length > high) start = high - length;
  if (start < low) start = low;
  return static_cast<LONG>(start);
}

// Windows 10 1607 and later; looked up so the program still starts on earlier systems.
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
GetDpiForWindowFn GetDpiForWindowPtr() {
  static const auto fn = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  return fn;
}

}  // namespace

int DpiOf(HWND window) {
  if (window) {
    if (GetDpiForWindowFn fn = GetDpiForWindowPtr()) {
      if (const UINT dpi = fn(window)) return static_cast<int>(dpi);
    }
  }
  WindowDC screen = GetClientDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
  return dpi > 0 ? dpi : DesignDpi;
}

RECT WorkAreaNear(const RECT& r) {
  RECT work{};
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &info))
    work = info.rcWork;
  else
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return work;
}

RECT MoveInsideWorkArea(const RECT& r) {
  // An empty rect has no nearest monitor of its own: its top-left pixel stands for it.
  RECT probe = r;
  if (probe.right <= r.left && r.left < LONG_MAX) probe.right = r.left + 1;
  if (probe.bottom <= r.top && r.top < LONG_MAX) probe.bottom = r.top + 1;
  const RECT work = WorkAreaNear(probe);
  if (IsRectEmpty(&work)) return r;
  const long long width = static_cast<long long>(r.right) - r.left;
  const long long height = static_cast<long long>(r.bottom) - r.top;
  RECT placed;
  placed.left = Clamp(r.left, width, work.left, work.right);
  placed.top = Clamp(r.top, height, work.top, work.bottom);
  placed.right = static_cast<LONG>(placed.left + width);
  placed.bottom = static_cast<LONG>(placed.top + height);
  return placed;
}

RECT PlaceOnScreen(const RECT& window) {
  // The caption lies below the frame's top edge; the frame itself may be off the screen.
  const int caption = GetSystemMetrics(SM_CYCAPTION);
  TitleBarSearch search{window, 40, caption, false};
  search.bar.top = window.top + GetSystemMetrics(SM_CYFIXEDFRAME);
  search.bar.bottom = search.bar.top + caption;
  EnumDisplayMonitors(nullptr, nullptr, CheckMonitor, reinterpret_cast<LPARAM>(&search));
  return search.reachable ? window : MoveInsideWorkArea(window);
}

}  // namespace fw
