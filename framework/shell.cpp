// framework/shell.cpp
#include "framework/shell.h"

#include <vector>

namespace fw {

unsigned TDropFiles::Count() const {
  return drop_ ? DragQueryFileW(drop_, 0xFFFFFFFF, nullptr, 0) : 0;
}

std::wstring TDropFiles::Path(unsigned i) const {
  UINT len = DragQueryFileW(drop_, i, nullptr, 0);
  std::wstring s(static_cast<size_t>(len) + 1, L'\0');
  UINT got = DragQueryFileW(drop_, i, s.data(), len + 1);
  s.resize(got);
  return s;
}

void TDropFiles::Finish() {
  if (drop_) DragFinish(drop_);
  drop_ = nullptr;
}

ShellItemList::~ShellItemList() {
  if (!pidl_) return;
  IMalloc* malloc = nullptr;
  if (SUCCEEDED(SHGetMalloc(&malloc)) && malloc) {
    malloc->Free(pidl_);
    malloc->Release();
  }
}

std::wstring ShellItemList::Path() const {
  std::vector<wchar_t> buf(32768, L'\0');
  if (!SHGetPathFromIDListEx(pidl_, buf.data(), static_cast<DWORD>(buf.size()), GPFIDL_DEFAULT))
    return {};
  return buf.data();
}

}  // namespace fw
