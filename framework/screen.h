// framework/screen.h
// Monitors, work areas and display DPI.
#pragma once
#include <windows.h>

namespace fw {

// The layouts are designed at this many pixels per inch.
constexpr int DesignDpi = 96;

// The pixels per inch a window is drawn at: its monitor's where the system scales per monitor,
// else the system's. For no window, the system's.
int DpiOf(HWND window);
// A design length at that DPI, rounded as the system rounds (MulDiv).
inline int ScaleToDpi(int length, int dpi) { return MulDiv(length, dpi, DesignDpi); }

// The work area of the monitor nearest to the rect.
RECT WorkAreaNear(const RECT& r);

// The rect moved, at its size, just far enough to lie inside the nearest monitor's work area
// (top-left first when it is the larger).
RECT MoveInsideWorkArea(const RECT& r);

// A stored window rect whose title bar cannot be reached (no stretch of it, a caption high and
// 40 pixels wide, on any work area: a monitor since removed, a changed resolution, a negative
// Top) is moved inside the nearest work area. Any other rect is returned unchanged.
RECT PlaceOnScreen(const RECT& window);

}  // namespace fw
