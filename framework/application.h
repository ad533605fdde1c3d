// framework/application.h
#pragma once
#include <windows.h>

#include <ole2.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace fw {

class TForm;

// The application's icon is resource 1 of the executable.
constexpr int ApplicationIconId = 1;

// OLE on the calling thread for as long as the object lives.
class TOleSession {
 public:
  TOleSession() : initialized_(SUCCEEDED(OleInitialize(nullptr))) {}
  TOleSession(const TOleSession&) = delete;
  TOleSession& operator=(const TOleSession&) = delete;
  ~TOleSession() {
    if (initialized_) OleUninitialize();
  }

 private:
  bool initialized_;
};

class TApplication {
 public:
  // Common controls; OLE for the shell's dialogs and drops, until the program ends.
  void Initialize();
  // Names the task-bar button and captions every message box.
  std::wstring Title;
  HINSTANCE Instance() const { return GetModuleHandleW(nullptr); }
  HICON Icon(int size) const;
  // The application icon drawn at this size, for the caller to destroy; null when missing.
  HICON LoadIconAt(int size) const;

  // Shows mainForm and runs the message loop until it closes.
  void Run(TForm& mainForm);
  // A modal loop: runs the message loop until done() holds or window is gone, and returns true.
  // A WM_QUIT met on the way is posted again for the outer loop, and false returned.
  bool RunUntil(HWND window, const std::function<bool()>& done);
  // The form whose closing ends the program (set by Run).
  const TForm* MainForm() const { return mainForm_; }

  // The default error box for an exception's message; the program keeps running.
  void ShowException(const std::exception& e);
  // Call from inside a catch block: shows the current exception. Never throws, so callbacks
  // may call it from their last catch.
  void HandleException() noexcept;

  // Tab, arrow keys and Enter for the controls of our forms.
  bool IsDialogMessageFor(MSG& msg);

 private:
  // Waits for the next message and dispatches it; false, with nothing dispatched, for WM_QUIT
  // or a failed wait.
  bool DispatchNext(MSG& msg);

  TForm* mainForm_ = nullptr;
  std::unique_ptr<TOleSession> ole_;
};

extern TApplication Application;

// The message text of any exception: rtl::Exception's Japanese message, else what().
std::wstring ExceptionMessage(const std::exception& e);

}  // namespace fw
