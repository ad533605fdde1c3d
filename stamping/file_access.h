// stamping/file_access.h
// Inside the engine only: the one way a change reaches a file or folder, for stamping and undo
// alike, and the journal a batch keeps as it goes. A rule that guards the user's files is added
// here once and holds for everything that writes a time.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rtl/files_win.h"
#include "rtl/threads_win.h"
#include "stamping/stamping.h"

namespace zel {

// What the journal keeps of one change: the times before it and, once read back, the
// modification time the disk kept when it was not exactly the batch's.
struct TJournalEntry {
  const std::wstring* Name = nullptr;  // the \\?\ name
  FILETIME Creation{}, LastWrite{};
  std::optional<FILETIME> Kept;
};

// Why an open or a change failed: the reason and the system's error code.
struct TRefusal {
  TFailReason Reason = TFailReason::Other;
  unsigned long Error = 0;
};

// One thread's way to the files it changes. While it lives, the thread sees
// C:\Windows\System32 itself instead of SysWOW64, as a 64-bit program would: the user named
// that file. Names are \\?\ names (rtl::ExactPath).
class TFileAccess {
 public:
  TFileAccess();
  ~TFileAccess();
  TFileAccess(const TFileAccess&) = delete;
  TFileAccess& operator=(const TFileAccess&) = delete;

  // A file to change: opened for reading and writing with no sharing, so a file another
  // program has open is left alone, and refused when it is read-only (Wine running as root
  // opens those for writing where Windows refuses). attributes: as listed, or
  // INVALID_FILE_ATTRIBUTES to read them here.
  rtl::FileHandle OpenFile(const std::wstring& name, DWORD attributes, TRefusal& why);
  // A folder, shared with everyone: others may still write, rename and delete in it meanwhile.
  rtl::FileHandle OpenFolder(const std::wstring& name, DWORD access, TRefusal& why);
  // Opens whichever name is (a file or a folder) to put its times back.
  rtl::FileHandle OpenEntry(const std::wstring& name, TRefusal& why);
  // Writes the times given (null: left as they are) through an open handle. A time of 0 is
  // refused: SetFileTime reads it as "leave as it is".
  static bool SetTimes(HANDLE h, const FILETIME* creation, const FILETIME* lastWrite,
                       TRefusal& why);
  // Reads the creation and modification times through an open handle into entry.
  static bool ReadTimes(HANDLE h, TJournalEntry& entry, TRefusal& why);
  // The name of an open file or folder on its volume, as the system resolved it; empty when
  // unknown.
  std::wstring NameOnVolume(HANDLE h) { return HandleName(h); }

  // Under Wine, a symbolic link to a file is listed as that file; only the name of an open
  // handle, which Wine resolves, tells it. True when the open file's resolved name is not
  // resolvedFolder followed by listedName. An empty resolvedFolder settles nothing.
  bool IsHiddenFileLink(HANDLE file, const std::wstring& resolvedFolder,
                        const std::wstring& listedName);
  // The resolved name (see IsHiddenFileLink) of a folder reached as name, ending in a
  // separator; empty when unknown or not needed here.
  std::wstring ResolvedFolderName(HANDLE folder, const std::wstring& name);
  // Whether names hide links to files here (Wine).
  static bool NamesHideFileLinks();

 private:
  std::wstring HandleName(HANDLE h);
  PVOID redirection_ = nullptr;
  bool redirectionOff_ = false;
  std::vector<LONGLONG> names_;  // for HandleName
};

// One batch's undo journal, written as the batch goes. The format is in the README ("Undo
// journal").
class TJournal {
 public:
  // Nothing is made yet: the file (and its folders) is made, replacing the previous journal,
  // only when the first entry comes, so a batch that changes nothing leaves the last change
  // undoable. An empty file keeps no journal.
  TJournal(const std::wstring& file, const std::wstring& instantText, const FILETIME& stored);
  ~TJournal() { End(); }
  TJournal(const TJournal&) = delete;
  TJournal& operator=(const TJournal&) = delete;

  using TEntry = TJournalEntry;
  // Appends a group of entries and hands them to the system with one write before returning,
  // so the changes that follow are never without their entries. Safe from several threads at
  // once; never throws.
  void Record(const TEntry* entries, std::size_t count);
  // Closes the journal; false when an entry could not be kept, so the batch cannot be undone
  // (what was written is removed, so no undo puts back only a part).
  bool End();

 private:
  bool Open();
  bool Write(const std::string& bytes);
  void AddLine(std::string& out, const std::string& content);

  rtl::TLock lock_;
  rtl::FileHandle file_;
  const std::wstring path_;
  std::string instantLine_;  // the instant line's content, written with the first entry
  std::string buffer_, content_;  // kept between groups for their capacity
  unsigned long long stored_ = 0;
  std::uint32_t crc_ = 0;  // the chain so far
  std::size_t entries_ = 0;
  bool ended_ = false, failed_ = false;
};

}  // namespace zel
