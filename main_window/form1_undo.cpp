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

bool TForm1::IsShortCut(const MSG& msg) {
  if (msg.message != WM_KEYDOWN || msg.wParam != 'Z' || GetKeyState(VK_CONTROL) >= 0 ||
      GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_MENU) < 0)
    return false;
  // Run through the window's own dispatch, where a failure is shown, not from the loop.
  PostMessageW(Handle(), WM_SYSCOMMAND, kUndoCommand, 0);
  return true;
}

void TForm1::BeginJournal(rtl::TDateTime instant, const std::optional<FILETIME>& stored) {
  journal_.Begin(JournalFile(), rtl::DateTimeToStr(instant), stored.value_or(FILETIME{}));
  stamper_.BeforeChange = [this](const std::wstring& path, const FILETIME& creation,
                                 const FILETIME& lastWrite) {
    journal_.Record(path, creation, lastWrite);
  };
}

std::wstring TForm1::EndJournal() {
  stamper_.BeforeChange = nullptr;
  return journal_.End() ? std::wstring() : std::wstring(L"\r\n\r\n") + kNotUndoable;
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
  if (BatchRunning()) return;  // one started while the question was open
  // Run as a batch: off this thread, with the progress window and its stop.
  undo_ = std::move(undo);
  TUndo* running = undo_.get();
  runner_.StartWork([this, running](TBatchProgress& p) { undoResult_ = running->Run(&p); },
                    EndNotice());
  BatchStarted();
}

}  // namespace zel
