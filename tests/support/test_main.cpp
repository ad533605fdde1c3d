// tests/support/test_main.cpp
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_DATE_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  // Batches keep an undo journal under LOCALAPPDATA: the temporary folder here, never a user's.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  SetEnvironmentVariableW(L"LOCALAPPDATA", temp);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
