// tests/support/gui.h
// Drives modal windows (message boxes, system dialogs) from inside their own modal loops: a
// thread timer runs on the test's thread while the box's loop dispatches messages.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "datetime_dialog/form2.h"
#include "main_window/form1.h"
#include "support/files.h"

namespace testgui {

using namespace testfiles;
using Texts = std::vector<std::wstring>;

struct SeenBox {
  HWND owner = nullptr;
  std::wstring caption;
  std::wstring text;  // the static texts, joined by "\n"
  RECT rect{};        // outer rectangle on the screen
  std::vector<std::wstring> buttons;  // captions, in the order they were made
};

// Ways to answer a box or a window; whether the answer was posted.
enum class Key { Enter, Escape, TitleBarClose };
bool Answer(HWND box, Key key);

// Each step gets the next dialog window (#32770) of this thread that appears; it may act on it
// at once (return true: done with this step) or ask to be called again on a later tick (false),
// e.g. while a system dialog initialises. Only the newest driver acts. A box left open for
// 10 s, or appearing when no step is left, fails the test and is closed.
using Step = std::function<bool(HWND)>;

class ModalDriver {
 public:
  explicit ModalDriver(std::vector<Step> steps);
  ~ModalDriver();
  ModalDriver(const ModalDriver&) = delete;
  ModalDriver& operator=(const ModalDriver&) = delete;
  std::vector<SeenBox> seen;  // every box met, described at first sight
  Texts texts() const;        // theirs, in that order

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
  void OnTick();
  std::vector<Step> steps_;
  size_t next_ = 0;
  HWND current_ = nullptr;
  UINT_PTR timer_ = 0;
  ModalDriver* older_;
  std::vector<std::pair<HWND, DWORD>> met_;  // box, first seen
};

// A step that answers a box with a key (tried again on the next tick if it could not be), after
// running first, e.g. to note what the window holds while its question shows.
Step Press(Key key, std::function<void()> first = nullptr);
// A step that presses Ctrl+C where the keys go, the focused button, and puts what the box then
// put on the clipboard into copied; then answers with the key.
Step CopyThen(std::wstring& copied, Key key);

// A system dialog takes input only once initialised (~400 ms of driver ticks); then one action
// per tick, e.g. OK only after a selection has shown. No action: cancelled.
Step Settled(std::function<void(HWND)> act);
Step Type(const std::wstring& name);      // in the file dialog's name field, then OK
Step Select(const std::wstring& folder);  // in the folder picker, then OK

// Handles pending messages for about ms milliseconds.
void Pump(DWORD ms);
// Handles messages until done() holds; after timeoutMs the test fails and this returns false.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 30000);

// A drop as the shell builds it (DROPFILES with wide, double-NUL-ended names); whoever
// receives WM_DROPFILES frees it with DragFinish.
HGLOBAL ShellDrop(const std::vector<std::wstring>& paths);
// Presses the main window's mode button and, once the date-time dialog shows, runs the action
// inside its modal loop (the action may open and answer boxes); a dialog the action leaves open
// is closed with WM_CLOSE, so a failing test cannot hang. Returns whether the dialog showed.
bool InDateTimeDialog(zel::TForm1& form, std::function<void(zel::TForm2&)> action);
// Ctrl held with the key, handed on as the program's message loop meets it; whether it took it.
bool PressCtrl(HWND to, WPARAM key);

}  // namespace testgui
