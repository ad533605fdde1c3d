// tests/support/gui.cpp
#include "support/gui.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>

#include "framework/application.h"

namespace testgui {

namespace {

// Window tests run with the application set up as the program entry sets it up.
const bool appSetUp = [] {
  fw::Application.Initialize();
  fw::Application.Title = L"Zelvoran";
  return true;
}();

bool IsClass(HWND h, const wchar_t* name) {
  wchar_t cls[64] = {};
  return GetClassNameW(h, cls, 64) && _wcsicmp(cls, name) == 0;
}

std::wstring TextOf(HWND h) {
  std::wstring s(static_cast<size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
  s.resize(static_cast<size_t>(std::max(GetWindowTextW(h, s.data(), int(s.size())), 0)));
  return s;
}

ModalDriver* newest = nullptr;
constexpr DWORD kBoxBoundMs = 10000;  // the longest a box may stay open
std::function<void()> dialogTick;
void CALLBACK DialogTick(HWND, UINT, UINT_PTR, DWORD) { dialogTick(); }

SeenBox Describe(HWND box) {
  SeenBox b{GetWindow(box, GW_OWNER), TextOf(box), L"", {}, {}};
  GetWindowRect(box, &b.rect);
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (IsWindowVisible(c) && IsClass(c, L"Button")) b.buttons.push_back(TextOf(c));
    if (IsWindowVisible(c) && IsClass(c, L"Static") && GetWindowTextLengthW(c) > 0)
      b.text += (b.text.empty() ? L"" : L"\n") + TextOf(c);
  }
  return b;
}

}  // namespace

bool Answer(HWND box, Key key) {
  const HWND focus = GetAncestor(GetFocus(), GA_ROOT) == box ? GetFocus() : box;
  if (key == Key::TitleBarClose) return PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
  return PostMessageW(focus, WM_KEYDOWN, key == Key::Enter ? VK_RETURN : VK_ESCAPE, 1);
}

ModalDriver::ModalDriver(std::vector<Step> steps) : steps_(std::move(steps)), older_(newest) {
  timer_ = SetTimer(nullptr, 0, 50, &ModalDriver::Tick);
  newest = this;
}

ModalDriver::~ModalDriver() {
  KillTimer(nullptr, timer_);
  newest = older_;
}

Texts ModalDriver::texts() const {
  Texts t;
  for (const SeenBox& b : seen) t.push_back(b.text);
  return t;
}

void CALLBACK ModalDriver::Tick(HWND, UINT, UINT_PTR, DWORD) { if (newest) newest->OnTick(); }

void ModalDriver::OnTick() {
  // A step may open another modal loop; do not re-enter it from that loop's timer.
  static bool busy = false;
  if (busy) return;
  for (HWND h = nullptr; (h = FindWindowExW(nullptr, h, L"#32770", nullptr)) != nullptr;) {
    if (GetWindowThreadProcessId(h, nullptr) != GetCurrentThreadId() || !IsWindowVisible(h))
      continue;
    auto it = std::find_if(met_.begin(), met_.end(), [h](const auto& m) { return m.first == h; });
    const bool fresh = it == met_.end();
    if (!fresh && GetTickCount() - it->second <= kBoxBoundMs) continue;
    if (fresh) {
      seen.push_back(Describe(h));
      met_.emplace_back(h, GetTickCount());
      if (!current_ || !IsWindow(current_)) current_ = h;
      if (next_ < steps_.size()) continue;
    }
    ADD_FAILURE() << (fresh ? "a box no step expected: " : "a box left open too long: ")
                  << testing::PrintToString(Describe(h).text);
    EndDialog(h, IDCANCEL);
    return;
  }
  if (!current_ || !IsWindow(current_) || next_ >= steps_.size()) return;
  busy = true;
  const bool done = steps_[next_](current_);
  busy = false;
  if (done) current_ = nullptr, ++next_;
}

Step Press(Key key, std::function<void()> first) {
  return [key, first](HWND box) {
    if (first) first();
    return Answer(box, key);
  };
}

Step CopyThen(std::wstring& copied, Key key) {
  return [&copied, key, typed = false](HWND box) mutable {
    BYTE keys[256] = {};
    keys[VK_CONTROL] = typed ? 0 : 0x80;  // held for the C, let go after
    SetKeyboardState(keys);
    const HWND focus = GetFocus();
    if (GetParent(focus) != box || !OpenClipboard(nullptr)) return false;
    if (!typed) {
      EmptyClipboard(), CloseClipboard();
      return !(typed = PostMessageW(focus, WM_KEYDOWN, L'C', 1));
    }
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) copied = text;
    GlobalUnlock(data), CloseClipboard();
    return Answer(box, key);
  };
}

Step Settled(std::function<void(HWND)> act) {
  return [act, tick = 0](HWND box) mutable {
    if (++tick == 8) act ? act(box) : void(Answer(box, Key::Escape));
    if (tick == 9) PostMessageW(box, WM_COMMAND, IDOK, LPARAM(GetDlgItem(box, IDOK)));
    return tick == 9 || (tick == 8 && !act);
  };
}
// 0x47c: the file dialog's name field.
Step Type(const std::wstring& name) { return Settled([name](HWND box) { SetDlgItemTextW(box, 0x47c, name.c_str()); }); }
Step Select(const std::wstring& folder) {
  return Settled([folder](HWND box) { SendMessageW(box, BFFM_SETSELECTIONW, TRUE, LPARAM(folder.c_str())); });
}

void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  do {
    for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) {
      if (fw::Application.IsDialogMessageFor(msg)) continue;  // keys, as the program's loop
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  } while (GetTickCount() - start < ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  for (const DWORD start = GetTickCount(); !done() && GetTickCount() - start <= timeoutMs;) Pump(5);
  if (!done()) ADD_FAILURE() << "still waiting after " << timeoutMs << " ms";
  return done();
}

HGLOBAL ShellDrop(const std::vector<std::wstring>& paths) {
  std::wstring names;
  for (const std::wstring& p : paths) names += p + L'\0';
  // Zeroed: the list's closing NUL is there already.
  HGLOBAL g = GlobalAlloc(GHND, sizeof(DROPFILES) + (names.size() + 1) * sizeof(wchar_t));
  auto* df = static_cast<DROPFILES*>(GlobalLock(g));
  *df = DROPFILES{sizeof(DROPFILES), {}, FALSE, TRUE};
  std::copy(names.begin(), names.end(), reinterpret_cast<wchar_t*>(df + 1));
  GlobalUnlock(g);
  return g;
}

bool InDateTimeDialog(zel::TForm1& form, std::function<void(zel::TForm2&)> action) {
  int stage = 0;  // 1: in the action, whose own boxes run this timer too; 2: done with it
  dialogTick = [&] {
    HWND h = nullptr;  // the dialog this thread shows, found as the user sees it: by its title
    while (stage != 1 && (h = FindWindowExW(nullptr, h, L"ZelvoranForm", zel::kDialogCaption)) &&
           (GetWindowThreadProcessId(h, nullptr) != GetCurrentThreadId() || !IsWindowVisible(h))) {}
    if (!h) return;
    // Each form's object is kept with its window.
    auto* dialog = dynamic_cast<zel::TForm2*>(reinterpret_cast<fw::TForm*>(GetWindowLongPtrW(h, GWLP_USERDATA)));
    if (stage++ == 0 && action) action(*dialog);
    else PostMessageW(h, WM_CLOSE, 0, 0);
    stage = 2;
  };
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, DialogTick);
  ModalDriver unexpected({});  // the action's own drivers answer what it expects
  form.Button2.Click();
  KillTimer(nullptr, timer);
  return stage > 0;
}

bool PressCtrl(HWND to, WPARAM key) {
  BYTE keys[256] = {};
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  MSG m{to, WM_KEYDOWN, key, 0, 0, {}};
  const bool taken = fw::Application.IsDialogMessageFor(m);
  SetKeyboardState(std::vector<BYTE>(256).data());  // Ctrl let go
  return taken;
}

}  // namespace testgui
