// tests/main_window_settings_test.cpp
// The main window's stored place and option, end to end against the prefix's own registry.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/registry.h"
#include "main_window/form1.h"
#include "rtl/files_win.h"
#include "support/gui.h"

using namespace testgui;

namespace {

const wchar_t kKey[] = L"Software\\Borvelune\\Zelvoran";
// The name this program runs under as its own child with a Windows 98 version.
const wchar_t kChildExe[] = L"zel_settings_win98_child.exe";
const std::wstring kAppDefaults = std::wstring(L"Software\\Wine\\AppDefaults\\") + kChildExe;

void Forget() {
  // A key left read-only by an interrupted run is made deletable first.
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
    fw::RegKey owner(key);
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
}

void Put(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  fw::RegKey owner(key);
  ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes),
            ERROR_SUCCESS);
}
void PutInt(const wchar_t* name, DWORD v) { Put(name, REG_DWORD, &v, sizeof(v)); }
void PutText(const wchar_t* name, const std::wstring& v, DWORD type = REG_SZ) {
  Put(name, type, v.c_str(), static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
}
// Settings as an earlier version left them.
void PutAll(DWORD left, DWORD top, const std::wstring& a1) {
  PutInt(L"Left", left);
  PutInt(L"Top", top);
  PutText(L"Support", L"");
  PutText(L"A1", a1);
  PutText(L"B1", L"");
}

bool KeyExists() {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key);
  fw::RegKey owner(key);
  return rc == ERROR_SUCCESS;
}

// A value as stored; REG_NONE when missing.
struct Stored {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  DWORD Dword() const {
    return data.size() == 4 ? *reinterpret_cast<const DWORD*>(data.data()) : 0xDEADBEEF;
  }
  std::wstring Text() const {
    std::wstring s(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
    return s.empty() || s.back() != L'\0' ? L"<unterminated>" + s : s.substr(0, s.size() - 1);
  }
};
Stored Get(const wchar_t* name) {
  Stored v;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
  fw::RegKey owner(key);
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS)
    return Stored{};
  v.data.assign(size, 0);
  RegQueryValueExW(key, name, nullptr, &v.type, v.data.data(), &size);
  return v;
}

RECT PrimaryWorkArea() {
  MONITORINFO mi{};
  mi.cbSize = sizeof(mi);
  GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &mi);
  return mi.rcWork;
}

RECT WindowRect(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  return r;
}

class MainWindowSettings : public testing::Test {
 protected:
  void SetUp() override { Forget(); }
  void TearDown() override {
    form.reset();
    Forget();
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Borvelune");  // only when left empty
  }
  // Starts the main window; boxes holds the message boxes its start-up showed (answered).
  void Start() {
    ModalDriver driver({Press(Key::Enter), Press(Key::Enter), Press(Key::Enter)});
    form = std::make_unique<zel::TForm1>(std::vector<std::wstring>{});
    form->Timer1.SetEnabled(false);
    boxes = driver.seen;
  }
  // Closes it as the user would; boxes holds what the close showed.
  void CloseIt() {
    ModalDriver driver({Press(Key::Enter), Press(Key::Enter), Press(Key::Enter)});
    form->Close();
    boxes = driver.seen;
    EXPECT_FALSE(IsWindow(form->Handle()));
  }
  std::unique_ptr<zel::TForm1> form;
  std::vector<SeenBox> boxes;
};

}  // namespace

TEST_F(MainWindowSettings, FirstRunUsesTheDesignPlaceAndCloseStoresAllFiveValues) {
  Start();
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(form->Left(), 200);
  EXPECT_EQ(form->Top(), 120);
  EXPECT_FALSE(form->CheckBox1.Checked());
  EXPECT_TRUE(form->CheckBox1.Enabled());
  EXPECT_FALSE(KeyExists());  // reading creates nothing
  CloseIt();
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(Get(L"Left").type, DWORD(REG_DWORD));
  EXPECT_EQ(Get(L"Left").Dword(), 200u);
  EXPECT_EQ(Get(L"Top").type, DWORD(REG_DWORD));
  EXPECT_EQ(Get(L"Top").Dword(), 120u);
  for (const wchar_t* name : {L"Support", L"A1", L"B1"}) {
    EXPECT_EQ(Get(name).type, DWORD(REG_SZ)) << name;
    EXPECT_EQ(Get(name).Text(), L"") << name;
  }
}

TEST_F(MainWindowSettings, PlaceAndOptionSurviveARestart) {
  Start();
  form->SetPosition(321, 234);
  form->CheckBox1.SetChecked(true);
  CloseIt();
  EXPECT_EQ(Get(L"A1").Text(), L"on");
  Start();
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(form->Left(), 321);
  EXPECT_EQ(form->Top(), 234);
  EXPECT_TRUE(form->CheckBox1.Checked());
  form->CheckBox1.SetChecked(false);
  CloseIt();
  EXPECT_EQ(Get(L"A1").Text(), L"");
  EXPECT_EQ(Get(L"Left").Dword(), 321u);

  // Minimised at close, the window keeps the place it is restored to.
  Start();
  form->SetPosition(250, 180);
  form->Show();
  ShowWindow(form->Handle(), SW_MINIMIZE);
  Pump(50);
  ASSERT_TRUE(IsIconic(form->Handle()));
  CloseIt();
  EXPECT_EQ(Get(L"Left").Dword(), 250u);
  EXPECT_EQ(Get(L"Top").Dword(), 180u);
}

TEST_F(MainWindowSettings, OnlyAnA1OfExactlyOnChecksTheOption) {
  struct Case {
    std::wstring support, a1, b1;
    DWORD a1Type;
    bool checked;
  };
  const std::vector<Case> cases = {
      {L"", L"On", L"", REG_SZ, false},       {L"", L"on ", L"", REG_SZ, false},
      {L"", L" on", L"", REG_SZ, false},      {L"", L"ON", L"", REG_SZ, false},
      {L"on", L"", L"on", REG_SZ, false},     {L"x", L"on", L"y", REG_SZ, true},
      {L"", L"on", L"", REG_EXPAND_SZ, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "A1 '" << std::string(c.a1.begin(), c.a1.end()) << "'");
    PutAll(300, 200, L"");
    PutText(L"Support", c.support);
    PutText(L"A1", c.a1, c.a1Type);
    PutText(L"B1", c.b1);
    Start();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(form->CheckBox1.Checked(), c.checked);
    EXPECT_EQ(form->Left(), 300);
    form.reset();
    Forget();
  }
  // Without its terminator, as a registry editor may leave it.
  PutAll(300, 200, L"");
  Put(L"A1", REG_SZ, L"on", 4);
  Start();
  EXPECT_TRUE(form->CheckBox1.Checked());
}

TEST_F(MainWindowSettings, DamagedValuesShowOneErrorTakeTheirDefaultsAndStartUpGoesOn) {
  const DWORD one = 1;
  const unsigned long long big = 300;
  struct Case {
    const char* what;
    std::function<void()> damage;
    const wchar_t* named;  // the value the box names
    int left, top;
    bool checked;
  };
  const std::vector<Case> cases = {
      {"Left as text", [] { PutText(L"Left", L"300"); }, L"Left", 200, 250, true},
      {"Top missing", [] { RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"Top"); }, L"Top", 300, 120,
       true},
      {"Top of two bytes", [&] { Put(L"Top", REG_DWORD, &one, 2); }, L"Top", 300, 120, true},
      {"Left binary, Top a QWORD",
       [&] {
         Put(L"Left", REG_BINARY, &one, 4);
         Put(L"Top", REG_QWORD, &big, 8);
       },
       L"Left", 200, 120, true},
      {"A1 a number", [&] { Put(L"A1", REG_DWORD, &one, 4); }, L"A1", 300, 250, false},
      {"Left missing, B1 a list",
       [] {
         RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"Left");
         Put(L"B1", REG_MULTI_SZ, L"x\0", 6);
       },
       L"Left", 200, 250, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PutAll(300, 250, L"on");
    c.damage();
    Start();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Zelvoran");
    EXPECT_NE(boxes[0].text.find(std::wstring(L"'") + c.named + L"'"), std::wstring::npos)
        << c.named;
    EXPECT_TRUE(boxes[0].hasIcon);
    EXPECT_EQ(boxes[0].buttons.size(), 1u);
    EXPECT_EQ(form->Left(), c.left);
    EXPECT_EQ(form->Top(), c.top);
    EXPECT_EQ(form->CheckBox1.Checked(), c.checked);
    // The rest of start-up ran: the clock was read, drops are taken, the option is usable.
    EXPECT_NE(form->ChosenDate, 0.0);
    EXPECT_NE(form->Label3.Caption(), L"Label3");
    EXPECT_TRUE(GetWindowLongW(form->Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    EXPECT_TRUE(form->CheckBox1.Enabled());
    // Closing writes the values back whole.
    CloseIt();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Get(L"Left").type, DWORD(REG_DWORD));
    EXPECT_EQ(Get(L"Top").Dword(), static_cast<DWORD>(c.top));
    EXPECT_EQ(Get(L"A1").type, DWORD(REG_SZ));
    EXPECT_EQ(Get(L"B1").type, DWORD(REG_SZ));
    Forget();
  }
}

TEST_F(MainWindowSettings, AnOffScreenPlaceComesBackAndAVisibleOneStays) {
  const RECT work = PrimaryWorkArea();
  struct Case {
    int left, top;
    bool kept;
  };
  const std::vector<Case> cases = {
      {5000, 5000, false},
      {-3000, -3000, false},
      {5000, 100, false},
      {INT_MAX, INT_MIN, false},
      {INT_MIN, INT_MAX - 10, false},
      {static_cast<int>(work.left) - 300, static_cast<int>(work.top) - 100, true},
      {static_cast<int>(work.right) - 20, static_cast<int>(work.bottom) - 10, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.left << ", " << c.top);
    PutAll(static_cast<DWORD>(c.left), static_cast<DWORD>(c.top), L"");
    Start();
    EXPECT_TRUE(boxes.empty());
    RECT r = WindowRect(form->Handle());
    if (c.kept) {
      EXPECT_EQ(r.left, c.left);
      EXPECT_EQ(r.top, c.top);
    } else {
      EXPECT_GE(r.left, work.left);
      EXPECT_GE(r.top, work.top);
      EXPECT_LE(r.right, work.right);
      EXPECT_LE(r.bottom, work.bottom);
      EXPECT_EQ(r.right - r.left, form->Width());
    }
    form.reset();
    Forget();
  }
}

TEST_F(MainWindowSettings, AFailedSaveIsReportedAndTheProgramStillEnds) {
  PutAll(310, 220, L"on");
  // Readable, not writable (the access list is protected, so nothing is inherited): Wine
  // applies it as Windows does.
  {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, WRITE_DAC, &key), ERROR_SUCCESS);
    fw::RegKey owner(key);
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;;KRWDSD;;;WD)", SDDL_REVISION_1, &sd, nullptr));
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd), ERROR_SUCCESS);
    LocalFree(sd);
  }
  HKEY probe = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &probe), ERROR_ACCESS_DENIED);

  Start();
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(form->Left(), 310);
  form->SetPosition(330, 240);
  // The whole program loop: the window is closed from inside it, the error box answered.
  ModalDriver driver({Press(Key::Enter), Press(Key::Enter)});
  struct Timers {
    static void CALLBACK CloseMain(HWND, UINT, UINT_PTR id, DWORD) {
      KillTimer(nullptr, id);
      if (zel::Form1) PostMessageW(zel::Form1->Handle(), WM_CLOSE, 0, 0);
    }
    static void CALLBACK GiveUp(HWND, UINT, UINT_PTR id, DWORD) {
      KillTimer(nullptr, id);
      PostQuitMessage(99);
    }
  };
  SetTimer(nullptr, 0, 100, &Timers::CloseMain);
  UINT_PTR watchdog = SetTimer(nullptr, 0, 15000, &Timers::GiveUp);
  fw::Application.Run(*form);
  KillTimer(nullptr, watchdog);
  EXPECT_FALSE(IsWindow(form->Handle())) << "the program did not end";
  ASSERT_EQ(driver.seen.size(), 1u);
  EXPECT_EQ(driver.seen[0].caption, L"Zelvoran");
  EXPECT_NE(driver.seen[0].text.find(L"Borvelune\\Zelvoran"), std::wstring::npos);
  EXPECT_EQ(Get(L"Left").Dword(), 310u);  // unchanged
}

// ---- the Windows 95 family ------------------------------------------------------------
// Wine takes the reported version from HKCU\Software\Wine\AppDefaults\<exe name>\Version when a
// process starts, so this program runs a copy of itself under a name of its own.

// Runs only in that copy.
TEST(Win95Family, DISABLED_InChild) {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ASSERT_TRUE(GetVersionExW(&info));
#pragma GCC diagnostic pop
  ASSERT_EQ(info.dwPlatformId, DWORD(VER_PLATFORM_WIN32_WINDOWS));
  ModalDriver driver({Press(Key::Enter), Press(Key::Enter)});
  zel::TForm1 form({});
  EXPECT_FALSE(form.CheckBox1.Checked());
  EXPECT_FALSE(form.CheckBox1.Enabled());
  EXPECT_TRUE(IsWindow(form.Handle()));
  form.Close();
  EXPECT_TRUE(driver.seen.empty());
}

TEST_F(MainWindowSettings, OnTheWindows95FamilyAStoredOptionIsOffAndSavedEmpty) {
  PutAll(260, 190, L"on");
  TempDir dir;
  const std::wstring copy = dir / kChildExe;
  ASSERT_TRUE(CopyFileW(rtl::ExeName().c_str(), copy.c_str(), FALSE));
  // Only this name is affected: other programs sharing the prefix keep their version.
  struct Win98For {
    Win98For() {
      HKEY key = nullptr;
      EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kAppDefaults.c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, &key, nullptr),
                ERROR_SUCCESS);
      fw::RegKey owner(key);
      const wchar_t version[] = L"win98";
      RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                     sizeof(version));
    }
    ~Win98For() { RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults.c_str()); }
  } win98;

  std::wstring command =
      L"\"" + copy +
      L"\" --gtest_also_run_disabled_tests --gtest_filter=Win95Family.DISABLED_InChild";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             dir.path().c_str(), &si, &pi));
  CloseHandle(pi.hThread);
  // Our own messages keep flowing while it runs, in case it broadcasts.
  DWORD start = GetTickCount();
  while (MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 200, QS_ALLINPUT) != WAIT_OBJECT_0) {
    Pump(0);
    if (GetTickCount() - start > 60000) {
      TerminateProcess(pi.hProcess, 98);
      WaitForSingleObject(pi.hProcess, 5000);
      ADD_FAILURE() << "the child did not end";
      break;
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(Get(L"A1").type, DWORD(REG_SZ));
  EXPECT_EQ(Get(L"A1").Text(), L"");  // would still be "on" had the child not run
  EXPECT_EQ(Get(L"Left").Dword(), 260u);
  EXPECT_EQ(Get(L"Top").Dword(), 190u);
}
