// framework/shell.cpp
#include "framework/shell.h"

#include <vector>

namespace fw {

unsigned TDropFiles::Count() const {
  return drop_ ? DragQueryFileW(drop_.get(), 0xFFFFFFFF, nullptr, 0) : 0;
}

std::wstring TDropFiles::Path(unsigned i) const {
  UINT len = DragQueryFileW(drop_.get(), i, nullptr, 0);
  std::wstring s(static_cast<size_t>(len) + 1, L'\0');
  UINT got = DragQueryFileW(drop_.get(), i, s.data(), len + 1);
  s.resize(got);
  return s;
}

std::wstring ItemPath(PCIDLIST_ABSOLUTE item) {
  std::vector<wchar_t> buf(32768, L'\0');
  if (!SHGetPathFromIDListEx(item, buf.data(), static_cast<DWORD>(buf.size()), GPFIDL_DEFAULT))
    return {};
  return buf.data();
}

}  // namespace fw
