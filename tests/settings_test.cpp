// tests/settings_test.cpp
// The settings read back and the registry accessor's type checks, against the registry of the
// test's own Wine prefix; what the main window makes of them is in main_window_settings_test.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <tuple>
#include <vector>

#include "framework/registry.h"
#include "settings/borvelune.h"

namespace {

const wchar_t kPath[] = L"Software\\Borvelune\\ZelvoranTest";
// The test's key, absent before each test and removed after it.
struct Settings : testing::Test {
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kPath); }
  void TearDown() override {
    EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, kPath), ERROR_SUCCESS);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Borvelune");  // only when left empty
  }
};

}  // namespace

// The stored types are checked where the main window saves them.
TEST_F(Settings, ReadBackVerbatim) {
  Borvelune::SaveWinSettings(L"ZelvoranTest", {-1200, 35, L"サポート", L"on", L"b"});
  const auto loaded = Borvelune::LoadWinSettings(L"ZelvoranTest", {1, 2, L"", L"", L""});
  EXPECT_TRUE(loaded.Left == -1200 && loaded.Top == 35 && loaded.Support == L"サポート" &&
              loaded.A1 == L"on" && loaded.B1 == L"b");
}

TEST_F(Settings, RegistryAccessorReadsOnlyItsOwnTypes) {
  fw::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kPath, true));
  const WORD shortDword = 5;
  for (const auto& [name, type, data, bytes] : std::vector<std::tuple<const wchar_t*, DWORD, const void*, DWORD>>{
           {L"Short", REG_DWORD, &shortDword, 2}, {L"Multi", REG_MULTI_SZ, L"a\0b\0", 10},
           {L"Expand", REG_EXPAND_SZ, L"%TEMP%", 14}, {L"Odd", REG_SZ, L"abcd", 7}})  // Odd: no terminator
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kPath, name, type, data, bytes), ERROR_SUCCESS) << name;
  EXPECT_THROW(reg.ReadInteger(L"Short"), fw::ERegistryException);
  EXPECT_THROW(reg.ReadString(L"Multi"), fw::ERegistryException);
  EXPECT_EQ(reg.ReadString(L"Expand"), L"%TEMP%");  // not expanded
  EXPECT_EQ(reg.ReadString(L"Odd"), L"abc");
  EXPECT_EQ(reg.ReadString(L"Missing"), L"");
}
