// rtl/dllsearch_win.cpp
#include "rtl/dllsearch_win.h"

#include <windows.h>

namespace rtl {

void RestrictDllSearch() {
  // Windows 7 has SetDefaultDllDirectories only with its KB2533623 update, so it is looked up.
  void* set = reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories"));
  if (set != nullptr)
    reinterpret_cast<BOOL(WINAPI*)(DWORD)>(set)(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Takes the current directory out of the search where the above is missing.
  SetDllDirectoryW(L"");
}

}  // namespace rtl
