// framework/shell.h
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

namespace fw {

// A drop from the shell; released (DragFinish) on every way out of its scope.
class TDropFiles {
 public:
  explicit TDropFiles(HDROP drop) : drop_(drop) {}
  TDropFiles(const TDropFiles&) = delete;
  TDropFiles& operator=(const TDropFiles&) = delete;
  ~TDropFiles() { Finish(); }
  unsigned Count() const;
  // Path i at its full length: the drop is asked for the length first, so nothing is cut.
  std::wstring Path(unsigned i) const;
  void Finish();

 private:
  HDROP drop_;
};

// An item list from the shell, freed through the shell's allocator.
class ShellItemList {
 public:
  explicit ShellItemList(PIDLIST_ABSOLUTE pidl) : pidl_(pidl) {}
  ShellItemList(const ShellItemList&) = delete;
  ShellItemList& operator=(const ShellItemList&) = delete;
  ~ShellItemList();
  PIDLIST_ABSOLUTE get() const { return pidl_; }
  // The file-system path of the item at full length, or empty when it has none.
  std::wstring Path() const;

 private:
  PIDLIST_ABSOLUTE pidl_;
};

}  // namespace fw
