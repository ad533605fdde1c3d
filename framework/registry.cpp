// framework/registry.cpp
#include "framework/registry.h"

#include <algorithm>
#include <vector>

#include "rtl/files_win.h"

namespace fw {

namespace {

ERegistryException ValueError(const std::wstring& name, bool writing, const std::wstring& reason) {
  return ERegistryException(L"レジストリの値 '" + name +
                            (writing ? L"' を書き込めません: " : L"' を読み込めません: ") + reason);
}

std::wstring Reason(LONG code) { return rtl::SysErrorMessage(static_cast<unsigned long>(code)); }

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

}  // namespace

HKEY TRegistry::BaseFor(const std::wstring& key, std::wstring& relative) const {
  if (!key.empty() && key[0] == L'\\') {
    relative = key.substr(1);
    return RootKey;
  }
  relative = key;
  return current_ ? current_.get() : RootKey;
}

bool TRegistry::Open(const std::wstring& key, bool canCreate, REGSAM access) {
  std::wstring relative;
  HKEY base = BaseFor(key, relative);
  std::wstring path = relative;
  if (base != RootKey) path = relative.empty() ? currentPath_ : currentPath_ + L"\\" + relative;

  HKEY opened = nullptr;
  LONG rc = canCreate ? RegCreateKeyExW(base, relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        access, nullptr, &opened, nullptr)
                      : RegOpenKeyExW(base, relative.c_str(), 0, access, &opened);
  if (rc != ERROR_SUCCESS) {
    lastError_ = rc;
    return false;
  }
  // The old key may have been the base, so it is closed only now.
  current_.reset(opened);
  currentPath_ = path;
  return true;
}

bool TRegistry::OpenKey(const std::wstring& key, bool canCreate) {
  return Open(key, canCreate, KEY_READ | KEY_WRITE);
}

bool TRegistry::OpenKeyReadOnly(const std::wstring& key) { return Open(key, false, KEY_READ); }

bool TRegistry::KeyExists(const std::wstring& key) {
  std::wstring relative;
  HKEY base = BaseFor(key, relative);
  HKEY opened = nullptr;
  LONG rc = RegOpenKeyExW(base, relative.c_str(), 0, KEY_QUERY_VALUE, &opened);
  RegKey owner(opened);
  // A key we may not read still exists.
  return rc == ERROR_SUCCESS || rc == ERROR_ACCESS_DENIED;
}

void TRegistry::RequireOpen(const std::wstring& name, bool writing) const {
  if (!current_) throw ValueError(name, writing, L"キーが開かれていません");
}

int TRegistry::ReadInteger(const std::wstring& name) {
  RequireOpen(name, false);
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof(value);
  LONG rc = RegQueryValueExW(current_.get(), name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(&value), &size);
  if (rc == ERROR_FILE_NOT_FOUND) throw ValueError(name, false, L"値がありません");
  if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) throw ValueError(name, false, Reason(rc));
  if (type != REG_DWORD) throw ValueError(name, false, L"型が違います");
  if (rc == ERROR_MORE_DATA || size != sizeof(value))
    throw ValueError(name, false, L"値の大きさが違います");
  return static_cast<int>(value);
}

void TRegistry::WriteInteger(const std::wstring& name, int value) {
  RequireOpen(name, true);
  DWORD data = static_cast<DWORD>(value);
  LONG rc = RegSetValueExW(current_.get(), name.c_str(), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&data), sizeof(data));
  if (rc != ERROR_SUCCESS) throw ValueError(name, true, Reason(rc));
}

std::wstring TRegistry::ReadString(const std::wstring& name) {
  RequireOpen(name, false);
  for (;;) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG rc = RegQueryValueExW(current_.get(), name.c_str(), nullptr, &type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND) return {};
    if (rc != ERROR_SUCCESS) throw ValueError(name, false, Reason(rc));
    if (!IsText(type)) throw ValueError(name, false, L"型が違います");

    // One spare character: the stored data need not end with a terminator, nor have an even
    // number of bytes.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    rc = RegQueryValueExW(current_.get(), name.c_str(), nullptr, &type,
                          reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (rc == ERROR_MORE_DATA) continue;  // rewritten longer in between
    if (rc == ERROR_FILE_NOT_FOUND) return {};
    if (rc != ERROR_SUCCESS) throw ValueError(name, false, Reason(rc));
    if (!IsText(type)) throw ValueError(name, false, L"型が違います");

    size_t length = 0;
    size_t limit = std::min<size_t>(got / sizeof(wchar_t), buffer.size());
    while (length < limit && buffer[length] != L'\0') ++length;
    return std::wstring(buffer.data(), length);
  }
}

void TRegistry::WriteString(const std::wstring& name, const std::wstring& value) {
  RequireOpen(name, true);
  if (value.size() >= MAXDWORD / sizeof(wchar_t)) throw ValueError(name, true, L"値が長すぎます");
  DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  LONG rc = RegSetValueExW(current_.get(), name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  if (rc != ERROR_SUCCESS) throw ValueError(name, true, Reason(rc));
}

}  // namespace fw
