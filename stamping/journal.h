// stamping/journal.h
// The undo of the last batch: the journal every batch keeps (stamping.h's TBatch::Journal) is
// read back, and its times are put back where nothing has changed them since. The format is
// described in the README ("Undo journal").
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

#include "rtl/files_win.h"
#include "stamping/stamping.h"

namespace zel {

extern const wchar_t kNotUndoable[];    // the report's last line when no journal could be kept
extern const wchar_t kNothingToUndo[];  // the answer to an undo with no journal

// %LOCALAPPDATA%\Borvelune\Zelvoran\undo-journal.txt (the environment variable first, then the
// known folder); empty when neither names a folder. Nothing is created here.
std::wstring JournalFile();

// An undo: a batch of its own kind, the journal in and a result out. Constructing it opens the
// file for this undo alone (no batch can replace it meanwhile) and checks every line, so a
// damaged journal changes nothing.
class TUndo {
 public:
  enum TState { Nothing, Ready, Unreadable };
  explicit TUndo(const std::wstring& file);
  TState State = Nothing;
  std::wstring InstantText;  // Ready: the batch's instant as its report named it
  std::size_t Count = 0;     // Ready: the files and folders still to put back
  std::wstring Error;        // Unreadable: the message, naming the file

  // Puts back, last entry first, the times each entry had, only where it still carries the
  // batch's time; the others are listed with the reason. Counts into progress as a batch does
  // and stops early once progress.Stop is set. A finished undo empties the journal; a stopped
  // one leaves the entries it did not reach, for the next undo.
  TStampResult Run(TBatchProgress& progress);

 private:
  enum TCheck { Sound, Damaged, OtherVersion };
  TCheck Check();
  void KeepOnly(unsigned long long end);
  std::wstring path_;
  rtl::FileHandle file_;
  // The entries lie between these offsets: after the instant line, before the trailer.
  unsigned long long entriesBegin_ = 0, entriesEnd_ = 0;
  unsigned long long instant_ = 0;  // the batch's time, as written
  std::size_t lines_ = 0;           // its entries; a file whose disk kept another time has two
};

// The completion report of an undo, in the batch report's form.
std::wstring UndoReportText(const TStampResult& r);

}  // namespace zel
