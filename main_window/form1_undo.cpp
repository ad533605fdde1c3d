// main_window/form1_undo.cpp
// The undo of the last batch: the journal each batch keeps, and the system menu's
// "直前の変更を元に戻す" and Ctrl+Z that put its times back.
#include "framework/dialogs.h"
#include "main_window/form1.h"
#include "rtl/locale_win.h"

namespace zel {

namespace {
const wchar_t kUndoItem[] = L"直前の変更を元に戻す";
}  // namespace

void TForm1::AddUndoMenuItem() {
  HMENU menu = GetSystemMenu(Handle(), FALSE);
  if (menu == nullptr) return;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kUndoCommand, kUndoItem);
}

void TForm1::EnableUndoMenuItem(bool enabled) {
  if (HMENU menu = GetSystemMenu(Handle(), FALSE))
    EnableMenuItem(menu, kUndoCommand, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

bool TForm1::IsShortCut(const MSG& msg) {
  if (msg.message != WM_KEYDOWN || msg.wParam != 'Z' || GetKeyState(VK_CONTROL) >= 0 ||
      GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_MENU) < 0)
    return false;
  // One change at a time: during a batch the shortcut does nothing, as a greyed item would.
  if (BatchRunning()) {
    MessageBeep(MB_OK);
    return true;
  }
  // Run through the window's own dispatch, where a failure is shown, not from the loop.
  PostMessageW(Handle(), WM_SYSCOMMAND, kUndoCommand, 0);
  return true;
}

void TForm1::UndoLastChange() {
  if (BatchRunning()) return;  // one change at a time
  auto undo = std::make_unique<TUndo>(JournalFile());
  if (undo->State != TUndo::Ready) {
    fw::ShowMessageAt(*this, undo->State == TUndo::Nothing ? kNothingToUndo : undo->Error);
    return;
  }
  const std::wstring question = L"直前の変更（" + undo->InstantText + L"、" +
                                std::to_wstring(undo->Count) + L"件）を元に戻しますか？";
  if (fw::MessageDlgAt(*this, question, fw::mbYes | fw::mbNo) != fw::mrYes) return;
  if (RefusedWhileBatchRuns()) return;  // one started while the question was open
  // Run as a batch: off this thread, with the progress window and its stop.
  runner_.Start(std::move(undo), EndNotice());
  BatchStarted();
}

}  // namespace zel
