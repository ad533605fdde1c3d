// tests/settings_test.cpp
// The settings' stored form and the registry accessor's type checks, against the registry of the
// test's own Wine prefix; what the main window makes of them is in main_window_settings_test.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <utility>

#include "framework/registry.h"
#include "settings/borvelune.h"

namespace {

const wchar_t kName[] = L"ZelvoranTest";
const wchar_t kPath[] = L"Software\\Borvelune\\ZelvoranTest";
using Bytes = std::pair<DWORD, std::string>;  // a value's type and raw bytes

Bytes Sz(const wchar_t* text) {
  return {REG_SZ, std::string(reinterpret_cast<const char*>(text), (wcslen(text) + 1) * 2)};
}

// The message of the registry error act raises; "" when none.
std::wstring Fault(const std::function<void()>& act) try {
  act();
  return L"";
} catch (const fw::ERegistryException& e) {
  return e.Message();
}

// The test's key, absent before each test and removed after it.
struct Settings : testing::Test {
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kPath); }
  void TearDown() override {
    SetUp();
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Borvelune");  // only when left empty
  }
  static void Put(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kPath, name, type, data, bytes), ERROR_SUCCESS);
  }
  static Bytes Raw(const wchar_t* name) {
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, kPath, 0, KEY_READ, &key);
    fw::RegKey owner(key);
    DWORD type = REG_NONE, size = 64;
    char data[64] = {};
    RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    return {type, std::string(data, size)};
  }
};

}  // namespace

TEST_F(Settings, SavedInTheFixedFormAndReadBackVerbatim) {
  Borvelune::SaveWinSettings(kName, {-1200, 35, L"サポート", L"on", L"b"});
  EXPECT_EQ(Raw(L"Left"), Bytes(REG_DWORD, std::string("\x50\xfb\xff\xff", 4)));
  EXPECT_EQ(Raw(L"Top"), Bytes(REG_DWORD, std::string("\x23\0\0\0", 4)));
  EXPECT_EQ(Raw(L"Support"), Sz(L"サポート"));
  EXPECT_EQ(Raw(L"A1"), Sz(L"on"));
  EXPECT_EQ(Raw(L"B1"), Sz(L"b"));
  const auto loaded = Borvelune::LoadWinSettings(kName, {1, 2, L"", L"", L""});
  EXPECT_TRUE(loaded.Support == L"サポート" && loaded.B1 == L"b");  // read back verbatim
}

TEST_F(Settings, RegistryAccessorReadsOnlyItsOwnTypesAndNamesWhatItRefuses) {
  fw::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kPath, true));
  const WORD shortDword = 5;
  Put(L"Short", REG_DWORD, &shortDword, sizeof(shortDword));
  Put(L"Multi", REG_MULTI_SZ, L"a\0b\0", 10);
  Put(L"Expand", REG_EXPAND_SZ, L"%TEMP%", 14);
  Put(L"Odd", REG_SZ, L"abcd", 7);  // no terminator, odd length
  EXPECT_EQ(Fault([&] { reg.ReadInteger(L"Short"); }),
            L"レジストリの値 'Short' を読み込めません: 値の大きさが違います");
  EXPECT_EQ(Fault([&] { reg.ReadString(L"Multi"); }),
            L"レジストリの値 'Multi' を読み込めません: 型が違います");
  EXPECT_EQ(reg.ReadString(L"Expand"), L"%TEMP%");  // not expanded
  EXPECT_EQ(reg.ReadString(L"Odd"), L"abc");
  EXPECT_EQ(reg.ReadString(L"Missing"), L"");
}
