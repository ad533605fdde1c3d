// tests/support/gui.cpp
#include "support/gui.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>

#include "datetime_dialog/form2.h"
#include "framework/application.h"
#include "main_window/form1.h"

namespace testgui {

namespace {

// Window tests run with the application set up as the program entry sets it up.
struct AppSetup {
  AppSetup() {
    fw::Application.Initialize();
    fw::Application.Title = L"Zelvoran";
  }
} appSetup;

std::wstring ClassOf(HWND h) {
  wchar_t cls[64] = {};
  GetClassNameW(h, cls, 64);
  return cls;
}

std::wstring TextOf(HWND h) {
  int n = GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(h, s.data(), n + 1);
  s.resize(static_cast<size_t>(std::max(n, 0)));
  return s;
}

ModalDriver* newest = nullptr;

}  // namespace

SeenBox Describe(HWND box) {
  SeenBox b;
  b.hwnd = box;
  b.owner = GetWindow(box, GW_OWNER);
  b.caption = TextOf(box);
  GetWindowRect(box, &b.rect);
  std::vector<std::pair<LONG, std::wstring>> buttons;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    std::wstring cls = ClassOf(c);
    LONG style = GetWindowLongW(c, GWL_STYLE);
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
      if ((style & SS_TYPEMASK) == SS_ICON) {
        b.hasIcon = true;
      } else if (IsWindowVisible(c) && !TextOf(c).empty()) {
        if (!b.text.empty()) b.text += L"\n";
        b.text += TextOf(c);
      }
    } else if (_wcsicmp(cls.c_str(), L"Button") == 0 && IsWindowVisible(c)) {
      RECT r;
      GetWindowRect(c, &r);
      buttons.emplace_back(r.left, TextOf(c));
    }
  }
  std::sort(buttons.begin(), buttons.end(),
            [](const auto& x, const auto& y) { return x.first < y.first; });
  for (auto& p : buttons) b.buttons.push_back(p.second);
  return b;
}

void Answer(HWND box, Key key) {
  switch (key) {
    case Key::Enter:
    case Key::Escape: {
      HWND focus = GetFocus();
      if (!focus || GetAncestor(focus, GA_ROOT) != box) focus = box;
      WPARAM vk = key == Key::Enter ? VK_RETURN : VK_ESCAPE;
      PostMessageW(focus, WM_KEYDOWN, vk, 1);
      PostMessageW(focus, WM_KEYUP, vk, 0xC0000001);
      break;
    }
    case Key::TitleBarClose:
      PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
}

void ClickButton(HWND box, const std::wstring& captionPrefix) {
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (_wcsicmp(ClassOf(c).c_str(), L"Button") == 0 && TextOf(c).rfind(captionPrefix, 0) == 0) {
      PostMessageW(c, BM_CLICK, 0, 0);
      return;
    }
  }
}

ModalDriver::ModalDriver(std::vector<Step> steps) : steps_(std::move(steps)), older_(newest) {
  timer_ = SetTimer(nullptr, 0, 50, &ModalDriver::Tick);
  newest = this;
}

ModalDriver::~ModalDriver() {
  KillTimer(nullptr, timer_);
  newest = older_;
}

void CALLBACK ModalDriver::Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (newest) newest->OnTick();
}

void ModalDriver::OnTick() {
  // A step may open another modal loop; do not re-enter it from that loop's timer.
  static bool busy = false;
  if (busy) return;
  const DWORD now = GetTickCount();
  for (HWND h = nullptr; (h = FindWindowExW(nullptr, h, L"#32770", nullptr)) != nullptr;) {
    DWORD pid = 0;
    if (GetWindowThreadProcessId(h, &pid) != GetCurrentThreadId() || !IsWindowVisible(h)) continue;
    auto it = std::find_if(met_.begin(), met_.end(), [h](const auto& m) { return m.first == h; });
    if (it == met_.end()) {
      seen.push_back(Describe(h));
      met_.emplace_back(h, now);
      if (next_ >= steps_.size()) {
        ADD_FAILURE() << "a box no step expected: " << testing::PrintToString(seen.back().text);
        EndDialog(h, IDCANCEL);
        return;
      }
      if (!current_ || !IsWindow(current_)) current_ = h;
    } else if (now - it->second > kBoxBoundMs) {
      ADD_FAILURE() << "a box still open after " << kBoxBoundMs << " ms: "
                    << testing::PrintToString(Describe(h).text);
      EndDialog(h, IDCANCEL);
      return;
    }
  }
  if (!current_ || !IsWindow(current_) || next_ >= steps_.size()) return;
  busy = true;
  const bool done = steps_[next_](current_);
  busy = false;
  if (done) current_ = nullptr, ++next_;
}

Step Press(Key key) {
  return [key](HWND box) {
    Answer(box, key);
    return true;
  };
}

Step Click(const std::wstring& captionPrefix) {
  return [captionPrefix](HWND box) {
    ClickButton(box, captionPrefix);
    return true;
  };
}

void Pump(DWORD ms) {
  DWORD start = GetTickCount();
  MSG msg;
  do {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (fw::Application.IsDialogMessageFor(msg)) continue;  // keys, as the program's loop
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  } while (GetTickCount() - start < ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!done() && GetTickCount() - start <= timeoutMs) Pump(5);
  if (!done()) ADD_FAILURE() << "still waiting after " << timeoutMs << " ms";
  return done();
}

DWORD RunProgram(const std::wstring& exe, std::wstring command,
                 const std::function<void(HWND)>& watch) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  EXPECT_TRUE(CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &si, &pi)) << GetLastError();
  if (!pi.hProcess) return 97;
  // Our own messages keep flowing while it runs, in case it broadcasts.
  for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Pump(0)) {
    if (MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0) break;
    for (HWND h = nullptr; watch && (h = FindWindowExW(nullptr, h, nullptr, nullptr)) != nullptr;) {
      DWORD pid = 0;
      GetWindowThreadProcessId(h, &pid);
      if (pid == pi.dwProcessId && IsWindowVisible(h)) watch(h);
    }
  }
  TerminateProcess(pi.hProcess, 98);  // no effect once ended
  WaitForSingleObject(pi.hProcess, 5000);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess), CloseHandle(pi.hThread);
  return code;
}

HGLOBAL ShellDrop(const std::vector<std::wstring>& paths) {
  size_t chars = 1;
  for (const std::wstring& p : paths) chars += p.size() + 1;
  HGLOBAL g = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  auto* df = static_cast<DROPFILES*>(GlobalLock(g));
  df->pFiles = sizeof(DROPFILES);
  df->fWide = TRUE;
  auto* out = reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(df) + sizeof(DROPFILES));
  for (const std::wstring& p : paths) {
    std::copy(p.begin(), p.end(), out);
    out += p.size() + 1;
  }
  GlobalUnlock(g);
  return g;
}

// ---- the date-time dialog -------------------------------------------------------------

namespace {
struct DialogRun {
  std::function<void(zel::TForm2&)> action;
  bool shown = false;
  bool busy = false;  // the action's own boxes run the timer too
};
DialogRun* dialogRun = nullptr;

void CALLBACK DialogTick(HWND, UINT, UINT_PTR, DWORD) {
  DialogRun* run = dialogRun;
  if (!run || run->busy || !zel::Form2 || !zel::Form2->Visible()) return;
  if (!run->shown && run->action) {
    run->shown = run->busy = true;
    run->action(*zel::Form2);
    run->busy = false;
  } else {
    run->shown = true;
    PostMessageW(zel::Form2->Handle(), WM_CLOSE, 0, 0);
  }
}
}  // namespace

bool InDateTimeDialog(zel::TForm1& form, std::function<void(zel::TForm2&)> action) {
  DialogRun run{std::move(action)};
  dialogRun = &run;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, DialogTick);
  ModalDriver unexpected({});  // the action's own drivers answer what it expects
  form.Button2.Click();
  KillTimer(nullptr, timer);
  dialogRun = nullptr;
  return run.shown;
}

}  // namespace testgui
