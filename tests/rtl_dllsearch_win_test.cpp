// tests/rtl_dllsearch_win_test.cpp
// The start-up DLL search policy, in a program of its own since it holds for the whole process.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "rtl/dllsearch_win.h"
#include "rtl/files_win.h"
#include "rtl/sysutils.h"

namespace {

// zel_probe.dll is built beside this program, where a planted DLL would sit.
TEST(DllSearch, ADllBesideTheProgramLoadsOnlyByItsFullPath) {
  const std::wstring folder = rtl::ExtractFileDir(rtl::ExeName());
  const std::wstring beside = folder + L"\\zel_probe.dll";
  ASSERT_TRUE(rtl::FileExists(beside));
  ASSERT_EQ(GetModuleHandleW(L"zel_probe.dll"), nullptr);
  ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
  rtl::RestrictDllSearch();

  EXPECT_EQ(LoadLibraryW(L"zel_probe.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  const HMODULE probe = LoadLibraryW(beside.c_str());
  ASSERT_NE(probe, nullptr) << GetLastError();
  EXPECT_NE(LoadLibraryW(L"version.dll"), nullptr);  // system DLLs still load by name
  FreeLibrary(probe);
}

}  // namespace
