// framework/forms.cpp
#include "framework/forms.h"

#include <commctrl.h>

#include <algorithm>

#include "framework/application.h"
#include "framework/screen.h"
#include "rtl/files_win.h"

namespace fw {

namespace {

const wchar_t kFormClass[] = L"ZelvoranForm";

// A window the system would not make: the program cannot go on with a null handle.
rtl::Exception WindowError(const wchar_t* what) {
  return rtl::Exception(what + (L"\n" + rtl::SysErrorMessage(GetLastError())));
}

void RegisterFormClass(WNDPROC proc) {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = proc;
  wc.hInstance = Application.Instance();
  wc.hIcon = Application.Icon(32);
  wc.hIconSm = Application.Icon(16);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kFormClass;
  if (!RegisterClassExW(&wc)) throw WindowError(L"ウィンドウクラスを登録できません。");
  registered = true;
}

RECT WindowRectOf(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  return r;
}

int WidthOf(HWND h) {
  RECT r = WindowRectOf(h);
  return r.right - r.left;
}

int HeightOf(HWND h) {
  RECT r = WindowRectOf(h);
  return r.bottom - r.top;
}

std::wstring TextOf(HWND h) {
  int n = GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(h, s.data(), n + 1);
  s.resize(static_cast<size_t>(std::max(n, 0)));
  return s;
}

// The Close button's glyph: a door, drawn here so the framework needs no resource of its own.
// Drawn on a 16-pixel grid scaled to the given size.
HICON MakeDoorIcon(int n) {
  auto grid = [n](LONG l, LONG t, LONG r, LONG b) {
    return RECT{MulDiv(l, n, 16), MulDiv(t, n, 16), MulDiv(r, n, 16), MulDiv(b, n, 16)};
  };
  GdiObject<HBITMAP> color, mask(CreateBitmap(n, n, 1, 1, nullptr));
  MemoryDC memory;
  {
    WindowDC screen = GetClientDC(nullptr);
    memory.reset(CreateCompatibleDC(screen.get()));
    color.reset(CreateCompatibleBitmap(screen.get(), n, n));
  }
  const HDC dc = memory.get();
  const RECT all{0, 0, n, n}, frameRect = grid(3, 1, 13, 15);
  {
    ScopedSelect sel(dc, color.get());
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    GdiObject<HBRUSH> frame(CreateSolidBrush(RGB(64, 64, 64)));
    GdiObject<HBRUSH> door(CreateSolidBrush(RGB(160, 96, 32)));
    GdiObject<HBRUSH> knob(CreateSolidBrush(RGB(255, 220, 0)));
    FillRect(dc, &frameRect, frame.get());
    const RECT d = grid(4, 2, 12, 15), k = grid(9, 8, 11, 10);
    FillRect(dc, &d, door.get());
    FillRect(dc, &k, knob.get());
  }
  {
    ScopedSelect sel(dc, mask.get());
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    FillRect(dc, &frameRect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
  ICONINFO ii{TRUE, 0, 0, mask.get(), color.get()};
  return CreateIconIndirect(&ii);
}

// Windows 10 1607 and later: the frame's size at a DPI other than the system's.
using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
void AdjustForDpi(RECT& r, DWORD style, DWORD exStyle, int dpi) {
  static const auto fn = reinterpret_cast<AdjustForDpiFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  if (!fn || !fn(&r, style, FALSE, exStyle, static_cast<UINT>(dpi)))
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
}

}  // namespace

GdiObject<HFONT> MakeFont(int height) {
  return GdiObject<HFONT>(CreateFontW(-height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                      SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                      DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                      L"ＭＳ Ｐゴシック"));
}

// ---- TControl -------------------------------------------------------------------------

TControl::TControl(TForm& parent, const wchar_t* className, DWORD style, DWORD exStyle, int left,
                   int top, int width, int height, const std::wstring& text)
    : parent_(parent), id_(parent.NextControlId()), design_{left, top, width, height} {
  hwnd_ = CreateWindowExW(exStyle, className, text.c_str(), WS_CHILD | WS_VISIBLE | style,
                          parent.Scale(left), parent.Scale(top), parent.Scale(width),
                          parent.Scale(height), parent.Handle(),
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)),
                          Application.Instance(), nullptr);
  if (!hwnd_) throw WindowError(L"コントロールを作成できません。");
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(parent.Font()), FALSE);
  parent.Register(this);
}

bool TControl::Enabled() const { return IsWindowEnabled(hwnd_) != FALSE; }
void TControl::SetEnabled(bool enabled) { EnableWindow(hwnd_, enabled ? TRUE : FALSE); }
void TControl::StartGroup() {
  SetWindowLongW(hwnd_, GWL_STYLE, GetWindowLongW(hwnd_, GWL_STYLE) | WS_GROUP);
}

void TControl::Rescale() {
  SetWindowPos(hwnd_, nullptr, parent_.Scale(design_.Left), parent_.Scale(design_.Top),
               parent_.Scale(design_.Width), parent_.Scale(design_.Height),
               SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(parent_.Font()), TRUE);
}

std::wstring TControl::Text() const { return TextOf(hwnd_); }
void TControl::SetText(const std::wstring& text) { SetWindowTextW(hwnd_, text.c_str()); }

// ---- controls -------------------------------------------------------------------------

TLabel::TLabel(TForm& parent, int left, int top, int width, int height,
               const std::wstring& caption, bool autoSize)
    : TControl(parent, L"STATIC", SS_LEFT | SS_NOPREFIX, 0, left, top, width, height, caption),
      autoSize_(autoSize) {
  Fit();
}

void TLabel::Rescale() {
  TControl::Rescale();
  Fit();
}

void TLabel::SetCaption(const std::wstring& caption) {
  SetText(caption);
  Fit();
}

void TLabel::Fit() {
  if (!autoSize_) return;
  SIZE size{};
  {
    WindowDC owned = GetClientDC(Handle());
    const HDC dc = owned.get();
    ScopedSelect sel(dc, parent_.Font());
    std::wstring text = Text();
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    size.cy = tm.tmHeight;
  }
  SetWindowPos(Handle(), nullptr, 0, 0, size.cx, size.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(Handle(), nullptr, TRUE);
}

TButton::TButton(TForm& parent, int left, int top, int width, int height,
                 const std::wstring& caption)
    : TControl(parent, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, left, top, width, height,
               caption) {}

void TButton::Click() {
  if (OnClick) OnClick();
}

void TButton::Command(WORD code) {
  if (code == BN_CLICKED) Click();
}

TCloseButton::TCloseButton(TForm& parent, int left, int top, int width, int height)
    : TButton(parent, left, top, width, height, L"閉じる") {
  SetGlyph();
  OnClick = [&parent] { parent.Close(); };
}

void TCloseButton::Rescale() {
  TButton::Rescale();
  SetGlyph();
}

void TCloseButton::SetGlyph() {
  // The button shows the new glyph before the old one is destroyed.
  IconHandle old = std::move(glyph_);
  glyph_.reset(MakeDoorIcon(parent_.Scale(16)));
  SendMessageW(Handle(), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(glyph_.get()));
}

TEdit::TEdit(TForm& parent, int left, int top, int width, int height, const std::wstring& text,
             bool readOnly)
    : TControl(parent, L"EDIT", ES_AUTOHSCROLL | WS_TABSTOP | (readOnly ? ES_READONLY : 0),
               WS_EX_CLIENTEDGE, left, top, width, height, text) {}

void TEdit::Command(WORD code) {
  if (code == EN_CHANGE && OnChange) OnChange();
}

TRadioButton::TRadioButton(TForm& parent, int left, int top, int width, int height,
                           const std::wstring& caption, bool startsGroup)
    : TControl(parent, L"BUTTON", BS_AUTORADIOBUTTON | WS_TABSTOP | (startsGroup ? WS_GROUP : 0),
               0, left, top, width, height, caption) {}

bool TRadioButton::Checked() const {
  return SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
}
void TRadioButton::SetChecked(bool checked) {
  if (!checked) {
    SendMessageW(Handle(), BM_SETCHECK, BST_UNCHECKED, 0);
    return;
  }
  // Checking one button of the pair by program must uncheck its partners, as a click does.
  HWND first = Handle();
  while (!(GetWindowLongW(first, GWL_STYLE) & WS_GROUP)) {
    HWND prev = GetWindow(first, GW_HWNDPREV);
    if (!prev) break;
    first = prev;
  }
  for (HWND h = first; h; h = GetWindow(h, GW_HWNDNEXT)) {
    if (h != first && (GetWindowLongW(h, GWL_STYLE) & WS_GROUP)) break;
    if ((GetWindowLongW(h, GWL_STYLE) & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
      SendMessageW(h, BM_SETCHECK, h == Handle() ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

TCheckBox::TCheckBox(TForm& parent, int left, int top, int width, int height,
                     const std::wstring& caption)
    : TControl(parent, L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, 0, left, top, width, height,
               caption) {}

bool TCheckBox::Checked() const {
  return SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
}
void TCheckBox::SetChecked(bool checked) {
  SendMessageW(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

TGroupBox::TGroupBox(TForm& parent, int left, int top, int width, int height,
                     const std::wstring& caption)
    : TControl(parent, L"BUTTON", BS_GROUPBOX, 0, left, top, width, height, caption) {}

TUpDown::TUpDown(TForm& parent, int left, int top, int width, int height, int min, int max,
                 int position)
    : TControl(parent, UPDOWN_CLASSW, UDS_ARROWKEYS | WS_TABSTOP, 0, left, top, width, height,
               L"") {
  SendMessageW(Handle(), UDM_SETRANGE32, static_cast<WPARAM>(min), max);
  SetPosition(position);
}

int TUpDown::Position() const {
  return static_cast<int>(SendMessageW(Handle(), UDM_GETPOS32, 0, 0));
}
void TUpDown::SetPosition(int position) {
  SendMessageW(Handle(), UDM_SETPOS32, 0, position);
}
void TUpDown::Scroll(WORD code) {
  // The spinner reports SB_THUMBPOSITION once the position has moved.
  if (code == SB_THUMBPOSITION && OnClick) OnClick();
}

TDateTimePicker::TDateTimePicker(TForm& parent, int left, int top, int width, int height)
    : TControl(parent, DATETIMEPICK_CLASSW, DTS_LONGDATEFORMAT | WS_TABSTOP, 0, left, top, width,
               height, L"") {}

rtl::TDateTime TDateTimePicker::Date() const {
  SYSTEMTIME st{};
  SendMessageW(Handle(), DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st));
  return rtl::EncodeDate(st.wYear, st.wMonth, st.wDay);
}

void TDateTimePicker::SetDate(rtl::TDateTime date) {
  int y = 0, m = 0, d = 0;
  rtl::DecodeDate(date, y, m, d);
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  SendMessageW(Handle(), DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
}

TPathLabel::TPathLabel(TForm& parent, int left, int top, int width, int height)
    : TControl(parent, L"STATIC", SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, 0, left, top, width,
               height, L"") {}

TMarqueeBar::TMarqueeBar(TForm& parent, int left, int top, int width, int height)
    : TControl(parent, PROGRESS_CLASSW, PBS_MARQUEE, 0, left, top, width, height, L"") {
  SendMessageW(Handle(), PBM_SETMARQUEE, TRUE, 0);  // 0: the control's own pace
}

// ---- TTimer -------------------------------------------------------------------------------

TTimer::TTimer(TForm& parent, UINT interval, bool enabled)
    : parent_(parent), interval_(interval), enabled_(enabled),
      id_(static_cast<UINT_PTR>(parent.NextControlId())) {
  parent.Register(this);
  Apply();
}

TTimer::~TTimer() {
  KillTimer(parent_.Handle(), id_);
  parent_.Unregister(this);
}

void TTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Apply();
}

void TTimer::Apply() {
  if (enabled_)
    SetTimer(parent_.Handle(), id_, interval_, nullptr);
  else
    KillTimer(parent_.Handle(), id_);
}

void TTimer::Tick() {
  if (enabled_ && OnTimer) OnTimer();
}

// ---- TForm --------------------------------------------------------------------------------

TForm::TForm(const TFormStyle& style, TForm* owner)
    : designClient_{style.ClientWidth, style.ClientHeight}, owner_(owner) {
  RegisterFormClass(&TForm::WindowProc);
  // No WS_CLIPCHILDREN: a group box does not paint its inside, so the form must.
  DWORD ws = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  if (style.MinimizeBox) ws |= WS_MINIMIZEBOX;
  // Sized at the system's DPI first; the window's own is known once it stands on its monitor.
  dpi_ = DpiOf(nullptr);
  RECT r{0, 0, Scale(style.ClientWidth), Scale(style.ClientHeight)};
  AdjustForDpi(r, ws, WS_EX_CONTROLPARENT, dpi_);
  hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kFormClass, style.Caption.c_str(), ws, style.Left,
                          style.Top, r.right - r.left, r.bottom - r.top,
                          owner ? owner->Handle() : nullptr, nullptr, Application.Instance(),
                          this);
  if (!hwnd_) throw WindowError(L"ウィンドウを作成できません。");
  ApplyDpi(DpiOf(hwnd_));
}

TForm::~TForm() {
  // Derived members (the controls) are gone already: no more dispatch to them.
  controls_.clear();
  timers_.clear();
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

void TForm::Created() {
  try {
    FormCreate();
  } catch (...) {
    Application.HandleException();
  }
}

int TForm::Scale(int length) const { return ScaleToDpi(length, dpi_); }

// The font, the icons and the client size for this DPI; the controls are placed by the caller.
void TForm::ApplyDpi(int dpi) {
  const bool resize = dpi != dpi_;
  dpi_ = dpi;
  font_ = MakeFont(Scale(12));
  bigIcon_.reset(Application.LoadIconAt(Scale(32)));
  smallIcon_.reset(Application.LoadIconAt(Scale(16)));
  if (bigIcon_) SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
  if (smallIcon_)
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
  if (resize) {
    RECT r{0, 0, Scale(designClient_.cx), Scale(designClient_.cy)};
    AdjustForDpi(r, static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_STYLE)),
                 static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_EXSTYLE)), dpi_);
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// Moved onto a monitor of another DPI: everything is laid out again from the design numbers,
// in the rect the system suggests (it keeps the window on that monitor).
void TForm::ApplyDpiChange(int dpi, const RECT& suggested) {
  // The controls take the new font before the old one is deleted, and the old icons are
  // replaced in the window before they are destroyed.
  GdiObject<HFONT> oldFont = std::move(font_);
  IconHandle oldBig = std::move(bigIcon_), oldSmall = std::move(smallIcon_);
  ApplyDpi(dpi);
  for (TControl* c : controls_) c->Rescale();
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

int TForm::Left() const { return WindowRectOf(hwnd_).left; }
int TForm::Top() const { return WindowRectOf(hwnd_).top; }
int TForm::Width() const { return WidthOf(hwnd_); }
int TForm::Height() const { return HeightOf(hwnd_); }
void TForm::SetPosition(int left, int top) {
  SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::AddBevel(const TBevel& bevel) { bevels_.push_back(bevel); }

void TForm::Unregister(TTimer* timer) {
  timers_.erase(std::remove(timers_.begin(), timers_.end(), timer), timers_.end());
}

void TForm::Show() {
  if (!hwnd_ || !IsWindow(hwnd_)) return;
  if (!IsWindowVisible(hwnd_)) {
    try {
      FormShow();
    } catch (...) {
      Application.HandleException();
    }
    if (!IsWindow(hwnd_)) return;
  }
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
  // Give the first control in tab order the focus, as a dialog does.
  if (HWND first = GetNextDlgTabItem(hwnd_, nullptr, FALSE)) ::SetFocus(first);
}

TModalResult TForm::ShowModal() {
  HWND ownerWnd = owner_ ? owner_->Handle() : nullptr;
  if (ownerWnd) EnableWindow(ownerWnd, FALSE);
  ModalResult = mrNone;
  inModalLoop_ = true;
  Show();
  if (!Application.RunUntil(hwnd_, [this] { return ModalResult != mrNone; }) &&
      ModalResult == mrNone)
    ModalResult = mrCancel;
  inModalLoop_ = false;
  // Re-enable the owner before hiding, so activation returns to it and not to another program.
  if (ownerWnd) {
    EnableWindow(ownerWnd, TRUE);
    SetActiveWindow(ownerWnd);
  }
  if (IsWindow(hwnd_)) ShowWindow(hwnd_, SW_HIDE);
  return ModalResult;
}

void TForm::Close() {
  if (closing_) return;
  closing_ = true;
  try {
    FormClose();
  } catch (...) {
    Application.HandleException();
  }
  closing_ = false;
  if (inModalLoop_) {
    if (ModalResult == mrNone) ModalResult = mrCancel;
  } else if (hwnd_) {
    HWND h = hwnd_;
    DestroyWindow(h);
  }
}

TControl* TForm::ControlFromHandle(HWND h) const {
  for (TControl* c : controls_)
    if (c->Handle() == h) return c;
  return nullptr;
}

void TForm::PaintTo(HDC dc, bool erase) {
  if (erase) {
    RECT client;
    GetClientRect(hwnd_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  }
  for (const TBevel& b : bevels_) {
    const int left = Scale(b.Left), top = Scale(b.Top);
    RECT r{left, top, left + Scale(b.Width), top + Scale(b.Height)};
    DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
  }
}

void TForm::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  PaintTo(dc, false);
  EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK TForm::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* created = static_cast<TForm*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    created->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
  }
  auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!form) return DefWindowProcW(hwnd, msg, wp, lp);
  try {
    return form->Dispatch(msg, wp, lp);
  } catch (...) {
    Application.HandleException();
    return 0;
  }
}

LRESULT TForm::Dispatch(UINT msg, WPARAM wp, LPARAM lp) {
  const HWND self = hwnd_;
  LRESULT result = 0;
  if (HandleMessage(msg, wp, lp, result)) return result;
  switch (msg) {
    case WM_COMMAND:
      if (lp) {
        if (TControl* c = ControlFromHandle(reinterpret_cast<HWND>(lp))) c->Command(HIWORD(wp));
      }
      return 0;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lp);
      if (TControl* c = ControlFromHandle(hdr->hwndFrom)) return c->Notify(hdr);
      break;
    }
    case WM_VSCROLL:
    case WM_HSCROLL:
      if (lp) {
        if (TControl* c = ControlFromHandle(reinterpret_cast<HWND>(lp))) c->Scroll(LOWORD(wp));
      }
      return 0;
    case WM_TIMER:
      for (TTimer* t : timers_) {
        if (t->Id() == wp) {
          t->Tick();
          return 0;
        }
      }
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wp);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_PAINT:
      Paint();
      return 0;
    case WM_PRINTCLIENT:
      // Themed controls ask for the form's background to draw their own over it.
      PaintTo(reinterpret_cast<HDC>(wp), true);
      return 0;
    case DM_GETDEFID: {
      // Enter presses a button only while that button has the focus.
      HWND focus = GetFocus();
      TControl* c = focus ? ControlFromHandle(focus) : nullptr;
      if (c && dynamic_cast<TButton*>(c))
        return MAKELRESULT(c->Id(), DC_HASDEFID);
      return 0;
    }
    case WM_DPICHANGED:
      ApplyDpiChange(LOWORD(wp), *reinterpret_cast<const RECT*>(lp));
      return 0;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DESTROY:
      if (Application.MainForm() == this) PostQuitMessage(0);
      break;
    case WM_NCDESTROY:
      SetWindowLongPtrW(self, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(self, msg, wp, lp);
}

}  // namespace fw
