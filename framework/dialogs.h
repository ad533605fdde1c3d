// framework/dialogs.h
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "framework/forms.h"

namespace fw {

enum TMsgDlgBtn : unsigned { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };

// The program's own message box: no icon, the application title as caption, the top-left
// corner at (x, y) on the screen unless that would cross the work area's edge, sized to the text
// and scaled to the owner's DPI. It always fits the work area: a path too wide is shortened in
// the middle, other lines wrap. Ctrl+C copies the whole text as Windows' own boxes do, then
// copyMore's text when there is one: what the box has no room for, made only when copied. OK or
// Yes has the focus; Enter presses the focused button; Escape and the title-bar close give
// Cancel, else No, else OK.
using TCopyMore = std::function<std::wstring()>;
TModalResult MessageDlgPos(const std::wstring& text, unsigned buttons, HWND owner, int x, int y,
                           const TCopyMore& copyMore = nullptr);

// The same at the owner's Left + 10, Top + 10.
TModalResult MessageDlgAt(const TForm& owner, const std::wstring& text, unsigned buttons,
                          const TCopyMore& copyMore = nullptr);
inline void ShowMessageAt(const TForm& owner, const std::wstring& text,
                          const TCopyMore& copyMore = nullptr) {
  MessageDlgAt(owner, text, mbOK, copyMore);
}

// The open-file dialog. A typed name of a file that does not exist is accepted.
class TOpenDialog {
 public:
  std::wstring Title;
  std::wstring Filter;  // "description|pattern|..." pairs
  std::wstring FileName;
  // True when a file was chosen; FileName is then its full path.
  bool Execute(HWND owner);
};

}  // namespace fw
