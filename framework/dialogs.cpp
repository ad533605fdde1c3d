// framework/dialogs.cpp
#include "framework/dialogs.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "framework/application.h"
#include "framework/gdi.h"

namespace fw {

namespace {

struct BoxState {
  const std::wstring* text;
  unsigned buttons;
  HWND owner;
  int x, y;
  GdiObject<HFONT> font;
};

// Escape and the title-bar close: Cancel where there is one, else No, else OK. A Yes/No
// question dismissed this way therefore answers No and never carries out what it asked about.
int DismissAnswer(unsigned buttons) {
  if (buttons & mbCancel) return IDCANCEL;
  if (buttons & mbNo) return IDNO;
  return IDOK;
}

void LayOut(HWND box, BoxState& st) {
  SetWindowTextW(box, Application.Title.c_str());
  st.font.reset(CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_DONTCARE, L"ＭＳ Ｐゴシック"));
  const int margin = 16, gap = 8, bw = 75, bh = 25;
  const std::wstring& text = *st.text;

  RECT tr{0, 0, 480, 0};
  {
    WindowDC dc = GetClientDC(box);
    ScopedSelect sel(dc.get(), st.font.get());
    DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &tr,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  }

  struct Btn {
    unsigned flag;
    int id;
    const wchar_t* caption;
  };
  const Btn all[] = {{mbYes, IDYES, L"はい(&Y)"},
                     {mbNo, IDNO, L"いいえ(&N)"},
                     {mbOK, IDOK, L"OK"},
                     {mbCancel, IDCANCEL, L"キャンセル"}};
  std::vector<Btn> btns;
  for (const Btn& b : all)
    if (st.buttons & b.flag) btns.push_back(b);
  const int n = static_cast<int>(btns.size());
  const int rowW = n * bw + (n - 1) * gap;
  const int clientW = std::max<int>(tr.right, rowW) + 2 * margin;
  const int clientH = margin + tr.bottom + margin + bh + 12;

  HWND label = CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX,
                               margin, margin, tr.right, tr.bottom, box, nullptr,
                               Application.Instance(), nullptr);
  if (!label) throw rtl::Exception(L"メッセージを表示できません。");
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(st.font.get()), FALSE);
  int bx = (clientW - rowW) / 2;
  HWND first = nullptr;
  for (const Btn& b : btns) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (first ? BS_PUSHBUTTON : BS_DEFPUSHBUTTON);
    HWND h = CreateWindowExW(0, L"BUTTON", b.caption, style, bx, margin + tr.bottom + margin, bw,
                             bh, box, reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)),
                             Application.Instance(), nullptr);
    if (!h) throw rtl::Exception(L"メッセージを表示できません。");
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(st.font.get()), FALSE);
    if (!first) first = h;
    bx += bw + gap;
  }
  RECT wr{0, 0, clientW, clientH};
  AdjustWindowRectEx(&wr, static_cast<DWORD>(GetWindowLongW(box, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongW(box, GWL_EXSTYLE)));
  SetWindowPos(box, nullptr, st.x, st.y, wr.right - wr.left, wr.bottom - wr.top,
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
      default:
        return FALSE;
    }
  } catch (...) {
    Application.HandleException();
    return FALSE;
  }
}

}  // namespace

TModalResult MessageDlgPos(const std::wstring& text, unsigned buttons, HWND owner, int x, int y) {
  // An empty template: the box lays out its own controls once it knows the text.
  struct alignas(4) {
    DLGTEMPLATE t;
    WORD menu, cls, title;
  } tmpl{};
  tmpl.t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  tmpl.t.x = tmpl.t.y = 0;
  BoxState st{&text, buttons ? buttons : unsigned{mbOK}, owner, x, y, {}};
  INT_PTR r = DialogBoxIndirectParamW(Application.Instance(), &tmpl.t, owner, BoxProc,
                                      reinterpret_cast<LPARAM>(&st));
  switch (r) {
    case IDOK: return mrOk;
    case IDYES: return mrYes;
    case IDNO: return mrNo;
    default: return mrCancel;
  }
}

TModalResult MessageDlgAt(const TForm& owner, const std::wstring& text, unsigned buttons) {
  return MessageDlgPos(text, buttons, owner.Handle(), owner.Left() + 10, owner.Top() + 10);
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
