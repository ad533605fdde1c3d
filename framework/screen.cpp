// framework/screen.cpp
#include "framework/screen.h"

#include <climits>

namespace fw {

namespace {

struct VisibleSearch {
  RECT probe;
  bool visible;
};

BOOL CALLBACK CheckMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  auto* search = reinterpret_cast<VisibleSearch*>(data);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  RECT common;
  if (GetMonitorInfoW(monitor, &info) && IntersectRect(&common, &search->probe, &info.rcWork)) {
    search->visible = true;
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

}  // namespace

RECT PlaceOnScreen(const RECT& window) {
  // An empty rect intersects nothing, so it is tested as the pixel at its top-left corner.
  VisibleSearch search{window, false};
  if (search.probe.right <= window.left && window.left < LONG_MAX) search.probe.right = window.left + 1;
  if (search.probe.bottom <= window.top && window.top < LONG_MAX) search.probe.bottom = window.top + 1;
  EnumDisplayMonitors(nullptr, nullptr, CheckMonitor, reinterpret_cast<LPARAM>(&search));
  if (search.visible) return window;

  RECT work{};
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (GetMonitorInfoW(MonitorFromRect(&search.probe, MONITOR_DEFAULTTONEAREST), &info))
    work = info.rcWork;
  else if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
    return window;

  long long width = static_cast<long long>(window.right) - window.left;
  long long height = static_cast<long long>(window.bottom) - window.top;
  RECT placed;
  placed.left = Clamp(window.left, width, work.left, work.right);
  placed.top = Clamp(window.top, height, work.top, work.bottom);
  placed.right = static_cast<LONG>(placed.left + width);
  placed.bottom = static_cast<LONG>(placed.top + height);
  return placed;
}

}  // namespace fw
