// framework/registry.h
// Values under HKEY_CURRENT_USER: integers as REG_DWORD, texts as REG_SZ.
#pragma once
#include <windows.h>

#include <string>

#include "rtl/exceptions.h"
#include "rtl/handle.h"

namespace fw {

// An opened registry key. The predefined roots (HKEY_CURRENT_USER, ...) are never given to
// it, since closing them would be wrong.
struct TRegKeyTraits : rtl::TNullIsEmpty<HKEY> {
  static bool Close(HKEY h) noexcept { return RegCloseKey(h) == ERROR_SUCCESS; }
};
using RegKey = rtl::THandle<TRegKeyTraits>;

// A value or key that cannot be read or written; the message names it and the reason.
class ERegistryException : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class TRegistry {
 public:
  HKEY RootKey = HKEY_CURRENT_USER;

  // A key path is taken relative to the open key, or to RootKey when none is open or the
  // path starts with '\'. False when the key cannot be opened (or created).
  bool OpenKey(const std::wstring& key, bool canCreate);
  bool OpenKeyReadOnly(const std::wstring& key);
  bool KeyExists(const std::wstring& key);
  // The system's code for the last OpenKey/OpenKeyReadOnly that failed.
  LONG LastError() const noexcept { return lastError_; }

  // Throws when the value is missing or is not a REG_DWORD.
  int ReadInteger(const std::wstring& name);
  void WriteInteger(const std::wstring& name, int value);
  // A missing value reads as empty; REG_SZ and REG_EXPAND_SZ (unexpanded) are texts, any
  // other type throws. The text ends at the first terminator, or at the data's end.
  std::wstring ReadString(const std::wstring& name);
  void WriteString(const std::wstring& name, const std::wstring& value);

 private:
  bool Open(const std::wstring& key, bool canCreate, REGSAM access);
  HKEY BaseFor(const std::wstring& key, std::wstring& relative) const;
  void RequireOpen(const std::wstring& name, bool writing) const;

  RegKey current_;
  std::wstring currentPath_;
  LONG lastError_ = ERROR_SUCCESS;
};

}  // namespace fw
