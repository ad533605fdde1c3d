// tests/settings_test.cpp
// Against the registry of the test's own Wine prefix.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "framework/registry.h"
#include "framework/screen.h"
#include "settings/borvelune.h"

using Borvelune::TBorvWin;

namespace {

std::wstring KeyOf(const std::wstring& name) { return L"Software\\Borvelune\\" + name; }

// The program's key, absent before the test and removed after it.
struct ScratchKey {
  explicit ScratchKey(std::wstring program) : path(KeyOf(program)) { Remove(); }
  ~ScratchKey() {
    Remove();
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Borvelune");  // only when left empty
  }
  void Remove() { RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str()); }
  void Put(const wchar_t* value, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
    fw::RegKey owner(key);
    ASSERT_EQ(RegSetValueExW(key, value, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
  }
  // The value's type and raw bytes, read straight from the registry.
  DWORD Get(const wchar_t* value, std::vector<BYTE>& data) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    fw::RegKey owner(key);
    DWORD type = REG_NONE, size = 0;
    RegQueryValueExW(key, value, nullptr, &type, nullptr, &size);
    data.assign(size, 0);
    EXPECT_EQ(RegQueryValueExW(key, value, nullptr, &type, data.data(), &size), ERROR_SUCCESS);
    return type;
  }
  std::wstring path;
};

void ExpectRecord(const TBorvWin& actual, const TBorvWin& expected) {
  EXPECT_EQ(actual.Left, expected.Left);
  EXPECT_EQ(actual.Top, expected.Top);
  EXPECT_EQ(actual.Support, expected.Support);
  EXPECT_EQ(actual.A1, expected.A1);
  EXPECT_EQ(actual.B1, expected.B1);
}

}  // namespace

TEST(Settings, RoundTripKeepsFixedTypesAndTextsVerbatim) {
  ScratchKey key(L"ZelvoranTest1");
  const TBorvWin saved{-1200, -35, L"サポート", L"on", L"b"};
  Borvelune::SaveWinSettings(L"ZelvoranTest1", saved);
  std::wstring error;
  ExpectRecord(Borvelune::LoadWinSettings(L"ZelvoranTest1", {1, 2, L"x", L"y", L"z"}, &error), saved);
  EXPECT_EQ(error, L"");

  std::vector<BYTE> data;
  EXPECT_EQ(key.Get(L"Top", data), DWORD(REG_DWORD));
  ASSERT_EQ(key.Get(L"Left", data), DWORD(REG_DWORD));
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(*reinterpret_cast<const DWORD*>(data.data()), static_cast<DWORD>(-1200));
  for (const wchar_t* value : {L"Support", L"A1", L"B1"}) EXPECT_EQ(key.Get(value, data), DWORD(REG_SZ)) << value;
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2), std::wstring(L"b", 2));

  for (const wchar_t* a1 : {L"On", L"on "}) {  // the window decides what counts as "on"
    Borvelune::SaveWinSettings(L"ZelvoranTest1", {0, 0, L"", a1, L""});
    EXPECT_EQ(Borvelune::LoadWinSettings(L"ZelvoranTest1", saved).A1, a1);
  }
}

TEST(Settings, FirstRunGivesDefaultsAndCreatesNoKey) {
  ScratchKey key(L"Zelvoran");
  const TBorvWin defaults{200, 120, L"", L"", L""};
  std::wstring error;
  ExpectRecord(Borvelune::LoadWinSettings(L"Zelvoran", defaults, &error), defaults);
  EXPECT_EQ(error, L"");
  EXPECT_FALSE(fw::TRegistry().KeyExists(key.path));

  Borvelune::SaveWinSettings(L"Zelvoran", {300, 40, L"", L"on", L""});
  ExpectRecord(Borvelune::LoadWinSettings(L"Zelvoran", defaults, &error), {300, 40, L"", L"on", L""});
}

TEST(Settings, DamagedValuesTakeTheirDefaultsAndReportOnce) {
  ScratchKey key(L"ZelvoranTest2");
  key.Put(L"Left", REG_SZ, L"100", 8);
  DWORD one = 1;
  key.Put(L"A1", REG_DWORD, &one, sizeof(one));
  key.Put(L"Support", REG_SZ, L"abcd", 7);  // no terminator, odd length
  std::wstring error;
  TBorvWin loaded = Borvelune::LoadWinSettings(L"ZelvoranTest2", {7, 8, L"s", L"a", L"b"}, &error);
  ExpectRecord(loaded, {7, 8, L"abc", L"a", L""});
  EXPECT_EQ(error, L"レジストリの値 'Left' を読み込めません: 型が違います");
  EXPECT_NO_THROW(Borvelune::LoadWinSettings(L"ZelvoranTest2", {7, 8, L"s", L"a", L"b"}));
}

TEST(Settings, RegistryAccessorRefusesWrongTypes) {
  ScratchKey key(L"ZelvoranTest3");
  fw::TRegistry reg;
  EXPECT_THROW(reg.WriteInteger(L"Left", 1), fw::ERegistryException);  // no key open
  EXPECT_FALSE(reg.KeyExists(key.path));
  ASSERT_TRUE(reg.OpenKey(key.path, true));
  EXPECT_TRUE(reg.KeyExists(L"\\" + key.path));
  WORD shortDword = 5;
  key.Put(L"Short", REG_DWORD, &shortDword, sizeof(shortDword));
  key.Put(L"Multi", REG_MULTI_SZ, L"a\0b\0", 10);
  key.Put(L"Expand", REG_EXPAND_SZ, L"%TEMP%", 14);
  EXPECT_THROW(reg.ReadInteger(L"Short"), fw::ERegistryException);
  EXPECT_THROW(reg.ReadString(L"Multi"), fw::ERegistryException);
  EXPECT_EQ(reg.ReadString(L"Expand"), L"%TEMP%");
  EXPECT_EQ(reg.ReadString(L"Missing"), L"");
  EXPECT_FALSE(reg.ValueExists(L"Missing"));
  try {
    reg.ReadInteger(L"Missing");
    ADD_FAILURE() << "a missing integer must throw";
  } catch (const fw::ERegistryException& e) {
    EXPECT_NE(e.Message().find(L"'Missing'"), std::wstring::npos);
  }
}

TEST(Screen, OffScreenRectMovesOntoWorkAreaAndVisibleRectStays) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &info));
  const RECT work = info.rcWork;
  for (RECT offScreen : {RECT{5000, 5000, 5300, 5200}, RECT{-3000, -3000, -2700, -2800}}) {
    RECT placed = fw::PlaceOnScreen(offScreen);
    EXPECT_EQ(placed.right - placed.left, 300);
    EXPECT_EQ(placed.bottom - placed.top, 200);
    EXPECT_TRUE(placed.left >= work.left && placed.right <= work.right && placed.top >= work.top &&
                placed.bottom <= work.bottom);
  }
  RECT huge = fw::PlaceOnScreen({-9000, 9000, -9000 + 5000, 9000 + 4000});
  EXPECT_EQ(huge.left, work.left);  // larger than the screen: its top-left corner stays visible
  EXPECT_EQ(huge.top, work.top);
  RECT partly{work.right - 50, work.top - 100, work.right + 250, work.top + 100};
  RECT same = fw::PlaceOnScreen(partly);
  EXPECT_TRUE(EqualRect(&same, &partly));
}
