// tests/main_window_settings_test.cpp
// The main window's stored place and option, end to end against the prefix's own registry.
#include <gtest/gtest.h>
#include <windows.h>

#include "framework/registry.h"
#include "support/gui.h"

using namespace testgui;

namespace {

const wchar_t kKey[] = L"Software\\Borvelune\\Zelvoran";

void Put(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, type, data, bytes), ERROR_SUCCESS);
}
// Settings as an earlier version left them.
void PutAll(int left, int top, const wchar_t* a1) {
  Put(L"Left", REG_DWORD, &left, sizeof(left));
  Put(L"Top", REG_DWORD, &top, sizeof(top));
  Put(L"A1", REG_SZ, a1, DWORD(wcslen(a1) * 2 + 2));
}

// Left,Top,Support,A1,B1 as a close stores them.
std::wstring Row(int left, int top, const std::wstring& a1) {
  return std::to_wstring(left) + L"," + std::to_wstring(top) + L",'','" + a1 + L"',''";
}
// As stored, read back by the settings' own reader, which refuses any other type than a close
// writes; a missing number reads as -1.
std::wstring Stored() {
  const auto s = Borvelune::LoadWinSettings(L"Zelvoran", {-1, -1, L"", L"", L""});
  return Row(s.Left, s.Top, s.A1) + s.Support + s.B1;  // the other two: stored empty
}
// Of the primary monitor.
RECT WorkArea() { RECT r{}; SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0); return r; }

struct Cycle {
  std::wstring shown, stored;  // at start (as a close would store it); after close
  bool whole = false;          // at start: wholly on the work area
  Texts boxes;                 // every message box meanwhile, answered
};
// Starts the main window, lets the test look at and use it, then closes it as the user would.
Cycle StartAndClose(const std::function<void(zel::TForm1&)>& use = nullptr) {
  Cycle c;
  ModalDriver driver({Press(Key::Enter), Press(Key::Enter)});
  // Reading creates nothing: a key absent at the start stays so until the close.
  const bool had = fw::TRegistry().KeyExists(kKey);
  {
    zel::TForm1 form({});
    form.Timer1.SetEnabled(false);
    c.shown = Row(form.Left(), form.Top(), form.CheckBox1.Checked() ? L"on" : L"");
    RECT r{}, w = WorkArea();
    GetWindowRect(form.Handle(), &r);
    c.whole = r.left >= w.left && r.top >= w.top && r.right <= w.right && r.bottom <= w.bottom;
    // Start-up ran to its end whatever it reported: the clock was read, drops are taken, the
    // option is open.
    EXPECT_TRUE(form.ChosenDate != 0 && form.CheckBox1.Enabled() &&
                (GetWindowLongW(form.Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES));
    EXPECT_EQ(fw::TRegistry().KeyExists(kKey), had);
    if (use) use(form);
    if (form.Handle()) form.Close();
  }
  c.boxes = driver.texts();
  c.stored = Stored();
  return c;
}

struct MainWindowSettings : testing::Test {
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
  void TearDown() override {
    SetUp();
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Borvelune");  // only when left empty
  }
};

}  // namespace

// Minimised at close: the place it is restored to, with a strip reserved at the top and left, as
// by a taskbar there (a restored place counts from the work area's corner). Wine takes a
// monitor's work area from the X display when it starts: the entry
// main_window_settings_test_taskbar runs this alone under such a display.
TEST_F(MainWindowSettings, MinimisedTheRestoredPlaceIsStored) {
  ASSERT_TRUE(WorkArea().left > 0 && WorkArea().top > 0) << "no strip reserved";
  PutAll(321, 234, L"on");
  const Cycle c = StartAndClose([](zel::TForm1& f) {
    f.SetPosition(250, 180);
    f.CheckBox1.SetChecked(false);
    f.Show();
    ShowWindow(f.Handle(), SW_MINIMIZE);
    Pump(50);
    EXPECT_TRUE(IsIconic(f.Handle()));
  });
  EXPECT_EQ(c.shown, Row(321, 234, L"on"));
  EXPECT_EQ(c.stored, Row(250, 180, L""));
}

// Each close stores all five values as shown, whatever was stored before.
TEST_F(MainWindowSettings, StoredValuesAreShownWithTheFirstErrorDefaultsOrMovedOnScreen) {
  const unsigned long long one = 1;
  // Just enough of the title bar on the screen to grab it: a caption high and 40 pixels wide.
  const int barLeft = WorkArea().right - 40, barTop = WorkArea().bottom -
      GetSystemMetrics(SM_CYCAPTION) - GetSystemMetrics(SM_CYFIXEDFRAME);
  const struct {
    std::function<void()> put;  // over Left 300, Top 250 and an A1 of "on"
    const wchar_t* named;       // the value the one error names; "": no error
    std::wstring shown;         // and stored at close; "": wholly on the work area
  } cases[] = {
      {[] { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }, L"", Row(200, 120, L"")},  // a first run
      {[] { RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"Top"); }, L"Top", Row(300, 120, L"on")},
      {[&] { Put(L"Left", REG_BINARY, &one, 4), Put(L"Top", REG_QWORD, &one, 8); }, L"Left",
       Row(200, 120, L"on")},
      {[] { PutAll(-3000, 100, L"on"); }, L"", L""},
      {[] { PutAll(300, -175, L"on"); }, L"", L""},  // the title bar above the screen
      {[=] { PutAll(barLeft, barTop + 1, L"on"); }, L"", L""},
      {[=] { PutAll(barLeft, barTop, L"on"); }, L"", Row(barLeft, barTop, L"on")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    PutAll(300, 250, L"on");
    c.put();
    const Cycle r = StartAndClose();
    EXPECT_TRUE(c.shown.empty() ? r.whole : r.shown == c.shown) << r.shown;
    EXPECT_EQ(r.stored, r.shown);  // written back whole
    ASSERT_EQ(r.boxes.size(), c.named[0] ? 1u : 0u);
    for (const std::wstring& b : r.boxes)
      EXPECT_NE(b.find(L"'" + std::wstring(c.named) + L"'"), std::wstring::npos) << b;
  }
}
