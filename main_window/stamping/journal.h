// main_window/stamping/journal.h
// The undo journal: the times a batch overwrote, kept in a file as the batch goes, and the
// undo that puts them back where nothing has changed them since. The format is described in
// the README ("Undo journal").
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "main_window/stamping/stamping.h"
#include "rtl/files_win.h"

namespace zel {

extern const wchar_t kNotUndoable[];    // the report's last line when no journal could be kept
extern const wchar_t kNothingToUndo[];  // the answer to an undo with no journal

// %LOCALAPPDATA%\Borvelune\Zelvoran\undo-journal.txt (the environment variable first, then the
// known folder); empty when neither names a folder. Nothing is created here.
std::wstring JournalFile();

// Writes one batch's journal. Record is the stamper's BeforeChange hook.
class TJournal {
 public:
  TJournal() = default;
  TJournal(const TJournal&) = delete;
  TJournal& operator=(const TJournal&) = delete;
  ~TJournal() { End(); }

  // Prepares a journal at file for a batch writing stored. The file (and its folders) is made,
  // replacing the previous journal, only when the first entry comes: a batch that changes
  // nothing leaves the last change undoable.
  void Begin(const std::wstring& file, const std::wstring& instantText, const FILETIME& stored);
  // Appends one entry and hands it to the system before returning, so the change that follows
  // is never without its entry. Safe from several threads at once; never throws.
  void Record(const std::wstring& path, const FILETIME& creation, const FILETIME& lastWrite);
  // Closes the journal; false when an entry could not be kept, so the batch cannot be undone
  // (what was written is removed, so no undo puts back only a part).
  bool End();

 private:
  bool Open();
  bool Write(const std::string& bytes);
  void AddLine(std::string& out, const std::string& content);

  std::mutex mutex_;
  rtl::FileHandle file_;
  std::wstring path_;
  std::string instantLine_;  // the instant line's content, written with the first entry
  std::string buffer_, content_;  // kept between entries for their capacity
  unsigned long long stored_ = 0;
  std::uint32_t crc_ = 0;  // the chain so far
  std::size_t entries_ = 0;
  bool begun_ = false, failed_ = false;
};

// Reads a journal and undoes its batch. Constructing it opens the file for this undo alone
// (no batch can replace it meanwhile) and checks every line, so a damaged journal changes
// nothing.
class TUndo {
 public:
  enum TState { Nothing, Ready, Unreadable };
  explicit TUndo(const std::wstring& file);
  TState State = Nothing;
  std::wstring InstantText;  // Ready: the batch's instant as its report named it
  std::size_t Count = 0;     // Ready: the entries
  std::wstring Error;        // Unreadable: the message, naming the file

  // Puts back, last entry first, the times each entry had, only where it still carries the
  // batch's time; the others are listed with the reason. Empties the journal unless stopped.
  TStampResult Run(TBatchProgress* progress = nullptr);

 private:
  enum TCheck { Sound, Damaged, OtherVersion };
  TCheck Check();
  std::wstring path_;
  rtl::FileHandle file_;
  // The entries lie between these offsets: after the instant line, before the trailer.
  unsigned long long entriesBegin_ = 0, entriesEnd_ = 0;
};

// The completion report of an undo, in the batch report's form.
std::wstring UndoReportText(const TStampResult& r);

}  // namespace zel
