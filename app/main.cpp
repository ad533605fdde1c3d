// app/main.cpp
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  MessageBoxW(nullptr, L"Zelvoran\u3000Ver0.3", L"Zelvoran", MB_OK);
  return 0;
}
