// framework/shell.h
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

#include "framework/com.h"
#include "rtl/handle.h"

namespace fw {

struct TDropTraits : rtl::TNullIsEmpty<HDROP> {
  static bool Close(HDROP h) noexcept {
    DragFinish(h);
    return true;
  }
};

// A drop from the shell; released (DragFinish) on every way out of its scope.
class TDropFiles {
 public:
  explicit TDropFiles(HDROP drop) : drop_(drop) {}
  unsigned Count() const;
  // Path i at its full length: the drop is asked for the length first, so nothing is cut.
  std::wstring Path(unsigned i) const;
  void Finish() { drop_.close(); }

 private:
  rtl::THandle<TDropTraits> drop_;
};

// An item list from the shell.
using ShellItemList = TaskMemory<PIDLIST_ABSOLUTE>;

// The file-system path of an item at full length, or empty when it has none.
std::wstring ItemPath(PCIDLIST_ABSOLUTE item);

}  // namespace fw
