// framework/forms.h
// Forms and their controls. A form owns its window and its controls; a control's events reach
// ordinary member functions of the form through std::function handlers, dispatched from the
// form's one window procedure, which never lets an exception through.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/gdi.h"
#include "rtl/datetime.h"

namespace fw {

class TForm;

// A rect of a 96-DPI layout.
struct TDesignRect {
  int Left, Top, Width, Height;
};

// The forms' font, "ＭＳ Ｐゴシック" in Shift-JIS, at this character height in pixels.
GdiObject<HFONT> MakeFont(int height);

enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// Base of the windowed controls. They are made from their 96-DPI design rect, scaled to their
// form's DPI.
class TControl {
 public:
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;
  virtual ~TControl() = default;

  HWND Handle() const { return hwnd_; }
  int Id() const { return id_; }

  bool Enabled() const;
  void SetEnabled(bool enabled);
  // Arrow keys stay inside a group; this control starts the next one.
  void StartGroup();

  std::wstring Text() const;
  void SetText(const std::wstring& text);

  // Notifications from the parent's window procedure.
  virtual void Command(WORD /*code*/) {}
  virtual LRESULT Notify(NMHDR* /*header*/) { return 0; }
  virtual void Scroll(WORD /*code*/) {}
  // Places the control and sets its font anew at its form's DPI.
  virtual void Rescale();

 protected:
  TControl(TForm& parent, const wchar_t* className, DWORD style, DWORD exStyle, int left, int top,
           int width, int height, const std::wstring& text);
  TForm& parent_;

 private:
  HWND hwnd_ = nullptr;
  int id_ = 0;
  TDesignRect design_;
};

class TLabel : public TControl {
 public:
  // An auto-sizing label fits its width and height to its caption.
  TLabel(TForm& parent, int left, int top, int width, int height, const std::wstring& caption,
         bool autoSize = false);
  void SetCaption(const std::wstring& caption);
  void Rescale() override;

 private:
  void Fit();
  bool autoSize_;
};

class TButton : public TControl {
 public:
  TButton(TForm& parent, int left, int top, int width, int height, const std::wstring& caption);
  std::function<void()> OnClick;
  void Click();  // as if pressed
  void SetCaption(const std::wstring& caption) { SetText(caption); }
  void Command(WORD code) override;
};

// A button of the standard Close kind: a door glyph and "閉じる"; pressing it closes its form.
class TCloseButton : public TButton {
 public:
  TCloseButton(TForm& parent, int left, int top, int width, int height);
  void Rescale() override;

 private:
  void SetGlyph();
  IconHandle glyph_;
};

class TEdit : public TControl {
 public:
  TEdit(TForm& parent, int left, int top, int width, int height, const std::wstring& text,
        bool readOnly = false);
  // Runs on every change of the text, including changes made by the program.
  std::function<void()> OnChange;
  void Command(WORD code) override;
};

class TRadioButton : public TControl {
 public:
  // The first button of an exclusive group starts it.
  TRadioButton(TForm& parent, int left, int top, int width, int height,
               const std::wstring& caption, bool startsGroup);
  bool Checked() const;
  void SetChecked(bool checked);
};

class TCheckBox : public TControl {
 public:
  TCheckBox(TForm& parent, int left, int top, int width, int height, const std::wstring& caption);
  bool Checked() const;
  void SetChecked(bool checked);
};

// A captioned frame; it groups nothing by itself.
class TGroupBox : public TControl {
 public:
  TGroupBox(TForm& parent, int left, int top, int width, int height, const std::wstring& caption);
};

// An up-down spinner not attached to any field.
class TUpDown : public TControl {
 public:
  TUpDown(TForm& parent, int left, int top, int width, int height, int min, int max,
          int position);
  int Position() const;
  void SetPosition(int position);
  // After either arrow has moved the position.
  std::function<void()> OnClick;
  void Scroll(WORD code) override;
};

// A date-only picker in the long date format with a drop-down calendar.
class TDateTimePicker : public TControl {
 public:
  TDateTimePicker(TForm& parent, int left, int top, int width, int height);
  rtl::TDateTime Date() const;  // the whole-day value
  void SetDate(rtl::TDateTime date);
};

// A label for a path too long to fit: shortened in the middle with an ellipsis, the last
// part kept.
class TPathLabel : public TControl {
 public:
  TPathLabel(TForm& parent, int left, int top, int width, int height);
};

// A progress bar for work of unknown length: a block that keeps running across it.
class TMarqueeBar : public TControl {
 public:
  TMarqueeBar(TForm& parent, int left, int top, int width, int height);
};

// A timer that ticks through its form's window.
class TTimer {
 public:
  TTimer(TForm& parent, UINT interval, bool enabled);
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;
  ~TTimer();
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  std::function<void()> OnTimer;
  UINT_PTR Id() const { return id_; }
  void Tick();

 private:
  void Apply();
  TForm& parent_;
  UINT interval_;
  bool enabled_;
  UINT_PTR id_;
};

// A lowered box painted on its form's surface (no window of its own).
using TBevel = TDesignRect;

// The client size is a 96-DPI design size; Left and Top are screen pixels, never scaled.
struct TFormStyle {
  std::wstring Caption;
  int ClientWidth;
  int ClientHeight;
  int Left;
  int Top;
  bool MinimizeBox;
};

// A top-level window with a single, non-resizable border, the buttons' face colour, the
// application icon and the font "ＭＳ Ｐゴシック" at 12 pixels, Shift-JIS; sizes, the font and
// the icon scaled from 96 DPI to the window's DPI, and again when it moves to a monitor of
// another DPI.
class TForm {
 public:
  TForm(const TFormStyle& style, TForm* owner);
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;
  virtual ~TForm();

  HWND Handle() const { return hwnd_; }
  HFONT Font() const { return font_.get(); }
  // A 96-DPI design length in this form's pixels.
  int Scale(int length) const;

  // The outer window, in screen pixels.
  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  void SetPosition(int left, int top);

  // FormShow runs before the window first appears.
  void Show();
  // Runs a modal loop with the owner disabled, until Close() or a ModalResult.
  TModalResult ShowModal();
  // FormClose, then the window closes: a modal form ends its loop, the main form ends the
  // program.
  void Close();
  TModalResult ModalResult = mrNone;
  bool Visible() const { return IsWindowVisible(hwnd_) != FALSE; }

  void AddBevel(const TBevel& bevel);

  // A key pressed in the form, before its focused control sees it; true when taken as a
  // shortcut. Called by the message loops, outside the guarded dispatch: must not throw.
  virtual bool IsShortCut(const MSG& /*msg*/) { return false; }

  // The control with this id, for dispatch.
  int NextControlId() { return nextId_++; }
  void Register(TControl* control) { controls_.push_back(control); }
  void Register(TTimer* timer) { timers_.push_back(timer); }
  void Unregister(TTimer* timer);

 protected:
  virtual void FormCreate() {}
  virtual void FormShow() {}
  virtual void FormClose() {}
  // Messages a form handles itself (drops, ...); true when handled.
  virtual bool HandleMessage(UINT /*msg*/, WPARAM /*wp*/, LPARAM /*lp*/, LRESULT& /*result*/) {
    return false;
  }
  // Derived constructors call this once their controls exist.
  void Created();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Dispatch(UINT msg, WPARAM wp, LPARAM lp);
  TControl* ControlFromHandle(HWND h) const;
  void Paint();
  void PaintTo(HDC dc, bool erase);
  void ApplyDpi(int dpi);
  void ApplyDpiChange(int dpi, const RECT& suggested);

  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  SIZE designClient_;
  GdiObject<HFONT> font_;
  IconHandle bigIcon_, smallIcon_;
  std::vector<TControl*> controls_;
  std::vector<TTimer*> timers_;
  std::vector<TBevel> bevels_;
  int nextId_ = 100;  // clear of IDOK and IDCANCEL, which the dialog manager sends for keys
  bool inModalLoop_ = false;
  bool closing_ = false;
  TForm* owner_;
};

}  // namespace fw
