// main_window/progress_form.cpp
#include "main_window/progress_form.h"

#include <shobjidl.h>

#include <cwchar>
#include <string>
#include <utility>

#include "framework/com.h"

namespace zel {

namespace {

const wchar_t kStopCaption[] = L"中止";

constexpr UINT kUpdateMs = 100;  // so the window costs the walk nothing measurable
constexpr ULONGLONG kAppearMs = 500;

std::wstring Count(std::size_t n) { return std::to_wstring(n) + L"件"; }

}  // namespace

TProgressForm::TProgressForm(fw::TForm& owner, TBatchProgress& progress,
                             std::function<RECT()> ownerRect)
    : fw::TForm({L"Zelvoran", 360, 137, 0, 0, false}, &owner),
      Label1(*this, 12, 12, 168, 12, L"変更したもの：0件"),
      Label2(*this, 180, 12, 168, 12, L"変更できなかったもの：0件"),
      Label3(*this, 12, 32, 60, 12, L"フォルダ："),
      Label4(*this, 72, 32, 276, 12),
      Label5(*this, 12, 52, 336, 12, L"経過時間：0:00:00"),
      ProgressBar1(*this, 12, 74, 336, 16),
      Button1(*this, 273, 100, 75, 25, kStopCaption),
      Timer1(*this, kUpdateMs, true),
      owner_(owner),
      ownerRect_(std::move(ownerRect)),
      progress_(progress),
      started_(GetTickCount64()) {
  Button1.OnClick = [this] { Button1Click(); };
  Timer1.OnTimer = [this] { Timer1Timer(); };
  Created();
}

TProgressForm::~TProgressForm() {
  if (taskbarButton_) SetTaskbarProgress(false);
}

void TProgressForm::Button1Click() {
  progress_.Stop = true;
  Button1.SetEnabled(false);
}

void TProgressForm::Timer1Timer() {
  const ULONGLONG elapsed = GetTickCount64() - started_;
  if (!Visible()) {
    if (elapsed < kAppearMs) return;
    Appear();
  }
  // Only what changed is set: every caption set repaints.
  auto set = [](fw::TControl& c, const std::wstring& text) {
    if (c.Text() != text) c.SetText(text);
  };
  set(Label1, L"変更したもの：" + Count(progress_.Changed));
  set(Label2, L"変更できなかったもの：" + Count(progress_.Failed));
  set(Label4, progress_.Folder());
  const unsigned s = static_cast<unsigned>(elapsed / 1000);
  wchar_t clock[32];
  swprintf(clock, 32, L"%u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
  set(Label5, std::wstring(L"経過時間：") + clock);
}

void TProgressForm::Appear() {
  // Centred by outer sizes, as the date-time dialog is.
  const RECT o = ownerRect_();
  SetPosition(o.left + static_cast<int>((o.right - o.left - Width()) / 2.0),
              o.top + static_cast<int>((o.bottom - o.top - Height()) / 2.0));
  // Before the main window is first shown (a command-line batch) the program has no taskbar
  // button: this window takes one, so it cannot be lost behind others.
  taskbarButton_ = owner_.Visible() ? owner_.Handle() : Handle();
  if (!owner_.Visible())
    SetWindowLongPtrW(Handle(), GWL_EXSTYLE,
                      GetWindowLongPtrW(Handle(), GWL_EXSTYLE) | WS_EX_APPWINDOW);
  Show();
  SetTaskbarProgress(true);
}

// Where the system has it (Windows 7 on); anything missing on the way is no error.
void TProgressForm::SetTaskbarProgress(bool busy) {
  ITaskbarList3* created = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&created))))
    return;
  const fw::ComPtr<ITaskbarList3> taskbar(created);
  if (SUCCEEDED(taskbar.get()->HrInit()))
    taskbar.get()->SetProgressState(taskbarButton_, busy ? TBPF_INDETERMINATE : TBPF_NOPROGRESS);
}

bool TProgressForm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  // Escape (IDCANCEL from the dialog manager) and the title-bar close stop the batch; the
  // window stays until the batch has ended.
  if (msg == WM_CLOSE || (msg == WM_COMMAND && LOWORD(wp) == IDCANCEL && lp == 0)) {
    Button1Click();
    result = 0;
    return true;
  }
  return false;
}

}  // namespace zel
