// stamping/file_access.cpp
#include "stamping/file_access.h"

namespace zel {
namespace {

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

// Looked up at run time, since 32-bit Windows has none.
struct Redirection {
  BOOL(WINAPI* disable)(PVOID*) = nullptr;
  BOOL(WINAPI* revert)(PVOID) = nullptr;
  Redirection() {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    void* d = reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection"));
    void* r = reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection"));
    if (d == nullptr || r == nullptr) return;
    disable = reinterpret_cast<BOOL(WINAPI*)(PVOID*)>(d);
    revert = reinterpret_cast<BOOL(WINAPI*)(PVOID)>(r);
  }
};
const Redirection& Functions() {
  static const Redirection functions;
  return functions;
}

// The length of s[0, end) without trailing dots and spaces.
std::size_t Trimmed(const std::wstring& s, std::size_t end) {
  while (end > 0 && (s[end - 1] == L'.' || s[end - 1] == L' ')) --end;
  return end;
}

TRefusal Refusal(DWORD error) { return {FailReasonOf(error), error}; }

}  // namespace

TFailReason FailReasonOf(unsigned long error) {
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return TFailReason::InUse;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return TFailReason::NotFound;
    case ERROR_ACCESS_DENIED:
      return TFailReason::AccessDenied;
    default:
      return TFailReason::Other;
  }
}

TFileAccess::TFileAccess() {
  if (Functions().disable != nullptr) redirectionOff_ = Functions().disable(&redirection_) != FALSE;
}

TFileAccess::~TFileAccess() {
  if (redirectionOff_) Functions().revert(redirection_);
}

rtl::FileHandle TFileAccess::OpenFile(const std::wstring& name, DWORD attributes, TRefusal& why) {
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      why = Refusal(GetLastError());
      return {};
    }
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    why = {TFailReason::ReadOnly, ERROR_ACCESS_DENIED};
    return {};
  }
  rtl::FileHandle file(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) why = Refusal(GetLastError());
  return file;
}

rtl::FileHandle TFileAccess::OpenFolder(const std::wstring& name, DWORD access, TRefusal& why) {
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  rtl::FileHandle folder(CreateFileW(name.c_str(), access, all, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder.valid()) why = Refusal(GetLastError());
  return folder;
}

rtl::FileHandle TFileAccess::OpenEntry(const std::wstring& name, TRefusal& why) {
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    why = Refusal(GetLastError());
    return {};
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return OpenFolder(name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, why);
  return OpenFile(name, attributes, why);
}

bool TFileAccess::SetTimes(HANDLE h, const FILETIME* creation, const FILETIME* lastWrite,
                           TRefusal& why) {
  for (const FILETIME* t : {creation, lastWrite}) {
    if (t != nullptr && t->dwLowDateTime == 0 && t->dwHighDateTime == 0) {
      why = {TFailReason::CannotSetTime, ERROR_INVALID_PARAMETER};
      return false;
    }
  }
  if (SetFileTime(h, creation, nullptr, lastWrite)) return true;
  why = {TFailReason::CannotSetTime, GetLastError()};
  return false;
}

bool TFileAccess::ReadTimes(HANDLE h, TJournalEntry& entry, TRefusal& why) {
  if (GetFileTime(h, &entry.Creation, nullptr, &entry.LastWrite)) return true;
  why = {FailReasonOf(GetLastError()), GetLastError()};
  return false;
}

bool TFileAccess::NamesHideFileLinks() {
  static const bool wine =
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

// The name of an open file or folder within its volume as Wine resolves it: links followed,
// trailing dots and spaces dropped from the last name only. Empty on failure.
std::wstring TFileAccess::HandleName(HANDLE h) {
  if (names_.empty()) names_.resize(128);
  for (;;) {
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(names_.data());
    const DWORD bytes = static_cast<DWORD>(names_.size() * sizeof(LONGLONG));
    if (GetFileInformationByHandleEx(h, FileNameInfo, info, bytes))
      return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
    if (GetLastError() != ERROR_MORE_DATA || bytes > 65536) return {};
    names_.resize(names_.size() * 4);
  }
}

bool TFileAccess::IsHiddenFileLink(HANDLE file, const std::wstring& dir,
                                   const std::wstring& name) {
  if (dir.empty()) return false;
  const std::wstring resolved = HandleName(file);
  const std::size_t kept = Trimmed(name, name.size());
  return !resolved.empty() &&
         (resolved.size() != dir.size() + kept || resolved.compare(0, dir.size(), dir) != 0 ||
          resolved.compare(dir.size(), kept, name, 0, kept) != 0);
}

std::wstring TFileAccess::ResolvedFolderName(HANDLE folder, const std::wstring& name) {
  if (!NamesHideFileLinks()) return {};
  std::wstring resolved = HandleName(folder);
  if (resolved.empty()) return {};
  // Wine drops trailing dots and spaces from the last name only.
  std::size_t end = name.size();
  while (end > 0 && IsSep(name[end - 1])) --end;
  const std::size_t kept = Trimmed(name, end);
  resolved.append(name, kept, end - kept);
  if (!IsSep(resolved.back())) resolved += L'\\';
  return resolved;
}

}  // namespace zel
