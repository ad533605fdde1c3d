// tests/support/test_main.cpp
#include <gtest/gtest.h>
#include <windows.h>

int main(int argc, char** argv) {
  // Batches keep an undo journal under LOCALAPPDATA: the temporary folder here, never a user's.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  SetEnvironmentVariableW(L"LOCALAPPDATA", temp);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
