// framework/application.cpp
#include "framework/application.h"

#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>

#include "framework/forms.h"
#include "rtl/exceptions.h"

namespace fw {

TApplication Application;

void TApplication::Initialize() {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_DATE_CLASSES |
                                            ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&icc);
  if (!ole_) ole_ = std::make_unique<TOleSession>();
}

HICON TApplication::Icon(int size) const {
  auto icon = static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(ApplicationIconId),
                                            IMAGE_ICON, size, size, LR_DEFAULTCOLOR | LR_SHARED));
  return icon ? icon : LoadIconW(nullptr, IDI_APPLICATION);
}

HICON TApplication::LoadIconAt(int size) const {
  return static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(ApplicationIconId), IMAGE_ICON,
                                       size, size, LR_DEFAULTCOLOR));
}

void TApplication::Run(TForm& mainForm) {
  mainForm_ = &mainForm;
  // The form may have closed itself while it was being created.
  if (!mainForm.Handle() || !IsWindow(mainForm.Handle())) return;
  mainForm.Show();
  // Not RunUntil: the WM_QUIT the main form's end posts is taken here, as no loop outside
  // waits for it.
  MSG msg;
  while (DispatchNext(msg)) {
  }
  mainForm_ = nullptr;
}

bool TApplication::RunUntil(HWND window, const std::function<bool()>& done) {
  MSG msg;
  while (!done() && IsWindow(window)) {
    if (!DispatchNext(msg)) {
      if (msg.message == WM_QUIT) PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
  }
  return true;
}

bool TApplication::DispatchNext(MSG& msg) {
  msg = MSG{};
  if (GetMessageW(&msg, nullptr, 0, 0) <= 0) return false;
  if (!IsDialogMessageFor(msg)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

bool TApplication::IsDialogMessageFor(MSG& msg) {
  if (!msg.hwnd) return false;
  HWND root = GetAncestor(msg.hwnd, GA_ROOT);
  wchar_t cls[32] = {};
  GetClassNameW(root, cls, 32);
  if (lstrcmpW(cls, L"ZelvoranForm") != 0) return false;
  if (msg.message == WM_KEYDOWN) {
    auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrW(root, GWLP_USERDATA));
    if (form != nullptr && form->IsShortCut(msg)) return true;
  }
  return IsDialogMessageW(root, &msg) != FALSE;
}

std::wstring ExceptionMessage(const std::exception& e) {
  if (auto* r = dynamic_cast<const rtl::Exception*>(&e)) return r->Message();
  const char* w = e.what();
  int n = MultiByteToWideChar(CP_UTF8, 0, w, -1, nullptr, 0);
  std::wstring s(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, w, -1, s.data(), n);
  s.resize(s.size() - 1);
  return s;
}

void TApplication::ShowException(const std::exception& e) {
  std::wstring text = ExceptionMessage(e);
  MessageBoxW(GetActiveWindow(), text.c_str(), Title.c_str(), MB_OK | MB_ICONERROR);
}

void TApplication::HandleException() noexcept {
  try {
    try {
      throw;
    } catch (const std::exception& e) {
      ShowException(e);  // it copies the message, which can run out of memory too
    }
  } catch (...) {
    MessageBoxW(GetActiveWindow(), L"予期しないエラーが発生しました。", Title.c_str(),
                MB_OK | MB_ICONERROR);
  }
}

}  // namespace fw
