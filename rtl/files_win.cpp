// rtl/files_win.cpp
#include "rtl/files_win.h"

#include <algorithm>

#include "rtl/clock_win.h"

namespace rtl {
namespace {

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

[[noreturn]] void ThrowFileError(const std::wstring& path, const wchar_t* what, DWORD code) {
  throw EInOutError(L"ファイル「" + path + L"」" + what + L"\n" + SysErrorMessage(code), code);
}

}  // namespace

std::wstring SysErrorMessage(unsigned long errorCode) {
  wchar_t text[1024];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           errorCode, 0, text, 1024, nullptr);
  while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ')) --n;
  if (n == 0) return L"エラー コード " + std::to_wstring(errorCode);
  return std::wstring(text, n);
}

std::wstring ExeName() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    // A full buffer means the name was cut (XP does not even set an error).
    if (n < buffer.size()) return buffer.substr(0, n);
    if (buffer.size() > 65536) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring ExpandFileName(const std::wstring& path) {
  if (path.empty()) return {};
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  for (;;) {
    if (size == 0) return {};
    std::wstring buffer(size, L'\0');
    const DWORD n = GetFullPathNameW(path.c_str(), size, &buffer[0], nullptr);
    if (n < size) return n == 0 ? std::wstring() : buffer.substr(0, n);
    size = n;  // the current directory changed in between
  }
}

namespace {

// The \\?\ form of an absolute path; empty for none.
std::wstring Prefixed(const std::wstring& full) {
  if (full.size() < 3) return {};
  if (IsSep(full[0]) && IsSep(full[1])) {
    if (full[2] == L'.' && full.size() > 3 && IsSep(full[3]))
      return L"\\\\?\\" + full.substr(4);  // a device name, already resolved
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  return L"\\\\?\\" + full;
}

// How much of an absolute path is its root: "C:" or "\\server\share"; 0 for none.
std::size_t RootLength(const std::wstring& p) {
  if (p.size() >= 3 && p[1] == L':' && IsSep(p[2])) return 2;
  if (p.size() < 3 || !IsSep(p[0]) || !IsSep(p[1]) || p[2] == L'?' || p[2] == L'.') return 0;
  const std::size_t server = p.find_first_of(L"\\/", 2);
  if (server == std::wstring::npos || server == 2) return 0;
  const std::size_t share = p.find_first_of(L"\\/", server + 1);
  if (share == server + 1) return 0;
  return share == std::wstring::npos ? p.size() : share;
}

bool Exists(const std::wstring& exact) {
  return !exact.empty() && GetFileAttributesW(exact.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

std::wstring LiteralFullPath(const std::wstring& path) {
  if (path.empty()) return {};
  std::wstring full = path;
  if (RootLength(path) == 0) {
    if (path.size() >= 2 && (path[1] == L':' || (IsSep(path[0]) && IsSep(path[1]))))
      return {};  // drive-relative, or a device
    std::wstring current(GetCurrentDirectoryW(0, nullptr), L'\0');
    if (current.empty()) return {};
    current.resize(GetCurrentDirectoryW(static_cast<DWORD>(current.size()), &current[0]));
    const std::size_t root = RootLength(current);
    if (root == 0) return {};
    full = IsSep(path[0]) ? current.substr(0, root) + path : current + L"\\" + path;
  }
  const std::size_t root = RootLength(full);
  std::wstring out = full.substr(0, root);
  std::replace(out.begin(), out.end(), L'/', L'\\');
  const std::size_t rootEnd = out.size();
  for (std::size_t i = root; i < full.size();) {
    const std::size_t end = std::min(full.find_first_of(L"\\/", i), full.size());
    const std::wstring name = full.substr(i, end - i);
    i = end + 1;
    if (name.empty() || name == L".") continue;
    if (name == L"..") {
      const std::size_t up = out.find_last_of(L'\\');
      out.resize(up == std::wstring::npos || up < rootEnd ? rootEnd : up);
      continue;
    }
    out += L'\\';
    out += name;
  }
  if (out.size() == rootEnd) out += L'\\';
  return out;
}

std::wstring ExactPath(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  // The name as written first: GetFullPathNameW cuts trailing dots and spaces and turns "nul"
  // or "con.txt" into devices, so "x." would reach its neighbour "x". Its reading stands only
  // where nothing exists under the name as written, so a typed "x." still finds "x".
  const std::wstring literal = Prefixed(LiteralFullPath(path));
  if (Exists(literal)) return literal;
  const std::wstring read = Prefixed(ExpandFileName(path));
  return literal.empty() || Exists(read) ? read : literal;
}

std::wstring OrdinaryPath(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0 && path.size() >= 6 && path[5] == L':')
    return path.substr(4);
  return path;
}

bool FileExists(const std::wstring& path) {
  const DWORD attr = GetFileAttributesW(ExactPath(path).c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::wstring& path) {
  const DWORD attr = GetFileAttributesW(ExactPath(path).c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveFile(const std::wstring& path) {
  return DeleteFileW(ExactPath(path).c_str()) != FALSE;
}

std::wstring TempDirectory() {
  std::wstring buffer(MAX_PATH + 1, L'\0');
  DWORD n = GetTempPathW(static_cast<DWORD>(buffer.size()), &buffer[0]);
  if (n > buffer.size()) {
    buffer.resize(n);
    n = GetTempPathW(n, &buffer[0]);
  }
  buffer.resize(n < buffer.size() ? n : 0);
  while (!buffer.empty() && IsSep(buffer.back())) buffer.pop_back();
  return buffer;
}

FILETIME FileAgeUniversal(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(ExactPath(path).c_str(), GetFileExInfoStandard, &data))
    ThrowFileError(path, L"の更新日時を読み取れません。", GetLastError());
  return data.ftLastWriteTime;
}

double FileAgeLocal(const std::wstring& path) {
  const FILETIME stored = FileAgeUniversal(path);
  FILETIME local;
  if (!FileTimeToLocalFileTime(&stored, &local))
    ThrowFileError(path, L"の更新日時を読み取れません。", GetLastError());
  return FileTimeToDateTimePrecise(local);
}

void WriteTextLineCp932(const std::wstring& path, const std::wstring& line) {
  const wchar_t* const what = L"に書き込めません。";
  std::string bytes;
  if (!line.empty()) {
    const int length = static_cast<int>(line.size());
    const int n = WideCharToMultiByte(932, 0, line.data(), length, nullptr, 0, nullptr, nullptr);
    if (n == 0) ThrowFileError(path, what, GetLastError());
    bytes.resize(static_cast<size_t>(n));
    WideCharToMultiByte(932, 0, line.data(), length, &bytes[0], n, nullptr, nullptr);
  }
  bytes += "\r\n";
  const std::wstring target = ExactPath(path);
  // Wine running as root opens a read-only file for writing where Windows refuses.
  const DWORD attr = GetFileAttributesW(target.c_str());
  if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_READONLY) != 0)
    ThrowFileError(path, what, ERROR_ACCESS_DENIED);
  FileHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) ThrowFileError(path, what, GetLastError());
  DWORD written = 0;
  if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
    ThrowFileError(path, what, GetLastError());
  if (written != bytes.size()) ThrowFileError(path, what, ERROR_HANDLE_DISK_FULL);
  if (!file.close()) ThrowFileError(path, what, GetLastError());
}

}  // namespace rtl
