// framework/dialogs.cpp
#include "framework/dialogs.h"

#include <commdlg.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include "framework/application.h"
#include "framework/gdi.h"
#include "framework/screen.h"

namespace fw {

namespace {

struct Btn {
  unsigned flag;
  int id;
  const wchar_t* caption;
};
const Btn kButtons[] = {{mbYes, IDYES, L"はい(&Y)"},
                        {mbNo, IDNO, L"いいえ(&N)"},
                        {mbOK, IDOK, L"OK"},
                        {mbCancel, IDCANCEL, L"キャンセル"}};

struct BoxState {
  const std::wstring* text;
  unsigned buttons;
  const TCopyMore* copyMore;
  HWND owner;
  int x, y;
  GdiObject<HFONT> font;
  HWND box = nullptr;
  BoxState* outer = nullptr;  // the box this one was opened over, if any
};
// The open boxes of the thread, innermost first.
BoxState* openBoxes = nullptr;

struct THookTraits : rtl::TNullIsEmpty<HHOOK> {
  static bool Close(HHOOK h) noexcept { return UnhookWindowsHookEx(h) != FALSE; }
};
using HookHandle = rtl::THandle<THookTraits>;

struct TGlobalTraits : rtl::TNullIsEmpty<HGLOBAL> {
  static bool Close(HGLOBAL h) noexcept { return GlobalFree(h) == nullptr; }
};
using GlobalHandle = rtl::THandle<TGlobalTraits>;

// Escape and the title-bar close: Cancel where there is one, else No, else OK. A Yes/No
// question dismissed this way therefore answers No and never carries out what it asked about.
int DismissAnswer(unsigned buttons) {
  if (buttons & mbCancel) return IDCANCEL;
  if (buttons & mbNo) return IDNO;
  return IDOK;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(L'\n', start);
    std::wstring line = text.substr(start, end == std::wstring::npos ? end : end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    lines.push_back(std::move(line));
    if (end == std::wstring::npos) return lines;
    start = end + 1;
  }
}

// As Windows' own boxes copy themselves: caption, text and buttons between separator lines; then
// whatever the caller adds.
std::wstring CopyText(const BoxState& st) {
  const std::wstring rule = L"---------------------------\r\n";
  std::wstring text;
  for (const std::wstring& line : SplitLines(*st.text))
    text += (text.empty() ? L"" : L"\r\n") + line;
  std::wstring out = rule + Application.Title + L"\r\n" + rule + text + L"\r\n" + rule;
  for (const Btn& b : kButtons) {
    if (!(st.buttons & b.flag)) continue;
    for (const wchar_t* c = b.caption; *c; ++c)
      if (*c != L'&') out += *c;
    out += L"   ";
  }
  out += L"\r\n" + rule;
  if (*st.copyMore) out += (*st.copyMore)();
  return out;
}

void CopyToClipboard(HWND box, const std::wstring& text) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  GlobalHandle memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
  if (!memory) return;
  void* p = GlobalLock(memory.get());
  if (!p) return;
  std::copy(text.c_str(), text.c_str() + text.size() + 1, static_cast<wchar_t*>(p));
  GlobalUnlock(memory.get());
  if (!OpenClipboard(box)) return;
  // Once set, the memory belongs to the clipboard.
  if (EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, memory.get())) memory.release();
  CloseClipboard();
}

// Ctrl+C (or Ctrl+Insert) anywhere in a box copies it, as in Windows' own boxes. The box's
// modal loop shows every message to this hook before the dialog manager sees it.
LRESULT CALLBACK CopyHook(int code, WPARAM wp, LPARAM lp) {
  const auto* msg = reinterpret_cast<const MSG*>(lp);
  try {
    if (code == MSGF_DIALOGBOX && msg->message == WM_KEYDOWN &&
        (msg->wParam == L'C' || msg->wParam == VK_INSERT) && GetKeyState(VK_CONTROL) < 0) {
      // The keys go to the focused control, usually a button: its box is the one to copy.
      const HWND root = GetAncestor(msg->hwnd, GA_ROOT);
      for (const BoxState* st = openBoxes; st; st = st->outer) {
        if (st->box == root) {
          CopyToClipboard(root, CopyText(*st));
          return TRUE;
        }
      }
    }
  } catch (...) {
    Application.HandleException();
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

class TextFitter {
 public:
  TextFitter(HDC dc, int maxWidth) : dc_(dc), max_(maxWidth) {}

  int Width(const std::wstring& s) const {
    SIZE size{};
    GetTextExtentPoint32W(dc_, s.c_str(), static_cast<int>(s.size()), &size);
    return size.cx;
  }

  // A path too wide is cut in the middle; any other line wraps at a blank or, in Japanese
  // text without blanks, between characters.
  void Add(const std::wstring& line, std::vector<std::wstring>& out) const {
    if (Width(line) <= max_) {
      out.push_back(line);
    } else if (std::wstring cut = ShortenPath(line); !cut.empty()) {
      out.push_back(cut);
    } else {
      Wrap(line, out);
    }
  }

 private:
  // The largest n in [0, limit] for which make(n) fits, or -1; widths grow with n.
  template <class Make>
  int Largest(int limit, const Make& make) const {
    int lo = -1, hi = limit;
    while (lo < hi) {
      const int mid = lo + (hi - lo + 1) / 2;
      if (Width(make(mid)) <= max_)
        lo = mid;
      else
        hi = mid - 1;
    }
    return lo;
  }

  // Keeps the drive ("C:\") or share ("\\server\share\") and the file name (with anything after
  // it); "" when the line is no path.
  std::wstring ShortenPath(const std::wstring& line) const {
    size_t root = 0;
    if (line.size() > 3 && iswalpha(line[0]) && line[1] == L':' && line[2] == L'\\') {
      root = 3;
    } else if (line.compare(0, 2, L"\\\\") == 0) {
      const size_t server = line.find(L'\\', 2);
      const size_t share = server == std::wstring::npos ? server : line.find(L'\\', server + 1);
      if (share == std::wstring::npos) return L"";
      root = share + 1;
    } else {
      return L"";
    }
    const std::wstring head = line.substr(0, root) + L"…";
    const size_t slash = line.rfind(L'\\');
    if (slash >= root) {
      const std::wstring middle = line.substr(root, slash - root), tail = line.substr(slash);
      const int m = static_cast<int>(middle.size());
      auto keep = [&](int k) {
        return line.substr(0, root) + middle.substr(0, static_cast<size_t>((k + 1) / 2)) + L"…" +
               middle.substr(static_cast<size_t>(m - k / 2)) + tail;
      };
      if (const int k = Largest(m, keep); k >= 0) return keep(k);
    }
    // Even the name alone is too wide: its end, which holds the extension, is kept.
    const std::wstring rest = line.substr(root);
    const int n = static_cast<int>(rest.size());
    auto end = [&](int k) { return head + rest.substr(static_cast<size_t>(n - k)); };
    const int k = Largest(n, end);
    return k > 0 ? end(k) : L"";
  }

  void Wrap(std::wstring line, std::vector<std::wstring>& out) const {
    while (Width(line) > max_) {
      int fit = 0;
      SIZE size{};
      GetTextExtentExPointW(dc_, line.c_str(), static_cast<int>(line.size()), max_, &fit, nullptr,
                            &size);
      const size_t at = static_cast<size_t>(std::max(fit, 1));
      const size_t blank = line.rfind(L' ', at);
      if (blank != std::wstring::npos && blank > 0) {
        out.push_back(line.substr(0, blank));
        line.erase(0, blank + 1);
      } else {
        out.push_back(line.substr(0, at));
        line.erase(0, at);
      }
    }
    out.push_back(line);
  }

  HDC dc_;
  int max_;
};

void LayOut(HWND box, BoxState& st) {
  SetWindowTextW(box, Application.Title.c_str());
  // Laid out for the owner's monitor, where the box goes.
  const int dpi = DpiOf(st.owner ? st.owner : box);
  auto scale = [dpi](int v) { return ScaleToDpi(v, dpi); };
  st.font = MakeFont(scale(12));
  const int margin = scale(16), gap = scale(8), bw = scale(75), bh = scale(25);
  const DWORD style = static_cast<DWORD>(GetWindowLongW(box, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(box, GWL_EXSTYLE));
  RECT frame{0, 0, 0, 0};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const RECT work = WorkAreaNear(RECT{st.x, st.y, st.x + 1, st.y + 1});
  const int maxTextWidth = std::min<int>(scale(640), (work.right - work.left) * 2 / 3);
  const int buttonRow = margin + bh + scale(12);
  const int maxTextHeight =
      static_cast<int>((work.bottom - work.top) - (frame.bottom - frame.top)) - margin - buttonRow;

  std::wstring shown;
  RECT tr{0, 0, 0, 0};
  {
    WindowDC dc = GetClientDC(box);
    ScopedSelect sel(dc.get(), st.font.get());
    TEXTMETRICW tm{};
    GetTextMetricsW(dc.get(), &tm);
    const TextFitter fitter(dc.get(), maxTextWidth);
    std::vector<std::wstring> lines;
    for (const std::wstring& line : SplitLines(*st.text)) fitter.Add(line, lines);
    // More lines than the screen holds: the last that fit says there is more (Ctrl+C has all).
    const int lineHeight = std::max(1, static_cast<int>(tm.tmHeight));
    const size_t room = static_cast<size_t>(std::max(1, maxTextHeight / lineHeight));
    if (lines.size() > room) {
      lines.resize(room);
      lines.back() = L"…";
    }
    for (const std::wstring& line : lines) shown += (shown.empty() ? L"" : L"\r\n") + line;
    DrawTextW(dc.get(), shown.c_str(), static_cast<int>(shown.size()), &tr,
              DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
  }

  std::vector<Btn> btns;
  for (const Btn& b : kButtons)
    if (st.buttons & b.flag) btns.push_back(b);
  const int n = static_cast<int>(btns.size());
  const int rowW = n * bw + (n - 1) * gap;
  const int clientW = std::max<int>(tr.right, rowW) + 2 * margin;
  const int clientH = margin + tr.bottom + buttonRow;

  // Lines are broken here already: the static must not wrap them again.
  HWND label = CreateWindowExW(0, L"STATIC", shown.c_str(),
                               WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_LEFTNOWORDWRAP, margin,
                               margin, tr.right, tr.bottom, box, nullptr, Application.Instance(),
                               nullptr);
  if (!label) throw rtl::Exception(L"メッセージを表示できません。");
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(st.font.get()), FALSE);
  int bx = (clientW - rowW) / 2;
  HWND first = nullptr;
  for (const Btn& b : btns) {
    DWORD bs = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (first ? BS_PUSHBUTTON : BS_DEFPUSHBUTTON);
    HWND h = CreateWindowExW(0, L"BUTTON", b.caption, bs, bx, margin + tr.bottom + margin, bw, bh,
                             box, reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)),
                             Application.Instance(), nullptr);
    if (!h) throw rtl::Exception(L"メッセージを表示できません。");
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(st.font.get()), FALSE);
    if (!first) first = h;
    bx += bw + gap;
  }
  RECT wr{0, 0, clientW, clientH};
  AdjustWindowRectEx(&wr, style, FALSE, exStyle);
  OffsetRect(&wr, st.x - wr.left, st.y - wr.top);
  const RECT placed = MoveInsideWorkArea(wr);
  SetWindowPos(box, nullptr, placed.left, placed.top, wr.right - wr.left, wr.bottom - wr.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(box, DM_SETDEFID, static_cast<WPARAM>(GetDlgCtrlID(first)), 0);
  SetFocus(first);
}

INT_PTR CALLBACK BoxProc(HWND box, UINT msg, WPARAM wp, LPARAM lp) {
  try {
    auto* st = reinterpret_cast<BoxState*>(GetWindowLongPtrW(box, DWLP_USER));
    switch (msg) {
      case WM_INITDIALOG:
        SetWindowLongPtrW(box, DWLP_USER, lp);
        reinterpret_cast<BoxState*>(lp)->box = box;
        LayOut(box, *reinterpret_cast<BoxState*>(lp));
        return FALSE;  // the focus is set
      case WM_COMMAND: {
        int id = LOWORD(wp);
        if (!st) return FALSE;
        if (id == IDCANCEL && !(st->buttons & mbCancel)) id = DismissAnswer(st->buttons);
        if (id == IDOK || id == IDCANCEL || id == IDYES || id == IDNO) {
          EndDialog(box, id);
          return TRUE;
        }
        return FALSE;
      }
      case WM_CLOSE:
        if (st) EndDialog(box, DismissAnswer(st->buttons));
        return TRUE;
      case WM_DPICHANGED:
        // Laid out for the owner's monitor already; the dialog manager must not scale it again.
        return TRUE;
      default:
        return FALSE;
    }
  } catch (...) {
    Application.HandleException();
    return FALSE;
  }
}

}  // namespace

TModalResult MessageDlgPos(const std::wstring& text, unsigned buttons, HWND owner, int x, int y,
                           const TCopyMore& copyMore) {
  // An empty template: the box lays out its own controls once it knows the text.
  struct alignas(4) {
    DLGTEMPLATE t;
    WORD menu, cls, title;
  } tmpl{};
  tmpl.t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  tmpl.t.x = tmpl.t.y = 0;
  BoxState st{&text, buttons ? buttons : unsigned{mbOK}, &copyMore, owner, x, y, {}};
  st.outer = openBoxes;
  openBoxes = &st;
  HookHandle hook(SetWindowsHookExW(WH_MSGFILTER, CopyHook, nullptr, GetCurrentThreadId()));
  const INT_PTR r = DialogBoxIndirectParamW(Application.Instance(), &tmpl.t, owner, BoxProc,
                                            reinterpret_cast<LPARAM>(&st));
  hook.close();
  openBoxes = st.outer;
  switch (r) {
    case IDOK: return mrOk;
    case IDYES: return mrYes;
    case IDNO: return mrNo;
    default: return mrCancel;
  }
}

TModalResult MessageDlgAt(const TForm& owner, const std::wstring& text, unsigned buttons,
                          const TCopyMore& copyMore) {
  return MessageDlgPos(text, buttons, owner.Handle(), owner.Left() + 10, owner.Top() + 10,
                       copyMore);
}

bool TOpenDialog::Execute(HWND owner) {
  std::wstring filter = Filter;
  std::replace(filter.begin(), filter.end(), L'|', L'\0');
  filter.append(2, L'\0');
  // Room for the longest path Windows allows.
  std::vector<wchar_t> buf(32768, L'\0');
  std::copy(FileName.begin(), FileName.begin() + static_cast<std::ptrdiff_t>(
                                                     std::min(FileName.size(), buf.size() - 1)),
            buf.begin());
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buf.data();
  ofn.nMaxFile = static_cast<DWORD>(buf.size());
  ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
  // No "must exist": a typed name is taken as it is. The dialog must not move the process's
  // current directory, which relative paths are resolved against.
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&ofn)) return false;
  FileName = buf.data();
  return true;
}

}  // namespace fw
