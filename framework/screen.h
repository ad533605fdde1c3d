// framework/screen.h
#pragma once
#include <windows.h>

namespace fw {

// A window rect with no part on any monitor's work area (a monitor since removed, a changed
// resolution) is moved, at its size, onto the nearest monitor's work area, as far inside as it
// fits (top-left first when larger). Any other rect is returned unchanged.
RECT PlaceOnScreen(const RECT& window);

}  // namespace fw
