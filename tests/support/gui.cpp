// tests/support/gui.cpp
#include "support/gui.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <map>

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

struct FindCtx {
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialogs(HWND h, LPARAM lp) {
  auto* ctx = reinterpret_cast<FindCtx*>(lp);
  if (IsWindowVisible(h) && ClassOf(h) == L"#32770") ctx->found.push_back(h);
  return TRUE;
}

std::map<UINT_PTR, ModalDriver*>& Drivers() {
  static std::map<UINT_PTR, ModalDriver*> m;
  return m;
}

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

ModalDriver::ModalDriver(std::vector<Step> steps, UINT periodMs) : steps_(std::move(steps)) {
  timer_ = SetTimer(nullptr, 0, periodMs, &ModalDriver::Tick);
  Drivers()[timer_] = this;
}

ModalDriver::~ModalDriver() {
  KillTimer(nullptr, timer_);
  Drivers().erase(timer_);
}

void CALLBACK ModalDriver::Tick(HWND, UINT, UINT_PTR id, DWORD) {
  auto it = Drivers().find(id);
  if (it != Drivers().end()) it->second->OnTick();
}

void ModalDriver::OnTick() {
  if (Done()) return;
  if (!current_ || !IsWindow(current_)) {
    FindCtx ctx;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialogs, reinterpret_cast<LPARAM>(&ctx));
    current_ = nullptr;
    for (HWND h : ctx.found) {
      if (std::find(finished_.begin(), finished_.end(), h) == finished_.end()) {
        current_ = h;
        seen.push_back(Describe(h));
        break;
      }
    }
    if (!current_) return;
  }
  // A step may open another modal loop; do not re-enter it from that loop's timer.
  static bool busy = false;
  if (busy) return;
  busy = true;
  bool done = steps_[next_](current_);
  busy = false;
  if (done) {
    finished_.push_back(current_);
    current_ = nullptr;
    ++next_;
  }
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
  form.Button2.Click();
  KillTimer(nullptr, timer);
  dialogRun = nullptr;
  return run.shown;
}

}  // namespace testgui
