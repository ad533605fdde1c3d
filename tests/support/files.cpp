// tests/support/files.cpp
#include "support/files.h"

namespace testfiles {

namespace {
void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        RemoveTree(child);
      else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryW(child.c_str());
      else
        DeleteFileW(child.c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(path.c_str());
}
}  // namespace

TempDir::TempDir() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  static int counter = 0;
  path_ = std::wstring(base) + L"zelvoran_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(++counter);
  CreateDirectoryW(path_.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(path_); }

void WriteFile(const std::wstring& path, const std::string& content) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD n = 0;
  ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &n, nullptr);
  CloseHandle(h);
}

void MakeDir(const std::wstring& path) { CreateDirectoryW(path.c_str(), nullptr); }

namespace {
FILETIME Old() {
  SYSTEMTIME st{2000, 1, 0, 1, 0, 0, 0, 0};
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  return ft;
}
HANDLE OpenAny(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}
}  // namespace

void SetOldTimes(const std::wstring& path) {
  HANDLE h = OpenAny(path, FILE_WRITE_ATTRIBUTES);
  FILETIME ft = Old();
  SetFileTime(h, &ft, &ft, &ft);
  CloseHandle(h);
}

namespace {
void Times(const std::wstring& path, FILETIME* c, FILETIME* a, FILETIME* w) {
  WIN32_FILE_ATTRIBUTE_DATA d{};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d);
  if (c) *c = d.ftCreationTime;
  if (a) *a = d.ftLastAccessTime;
  if (w) *w = d.ftLastWriteTime;
}
}  // namespace

FILETIME CreationTime(const std::wstring& path) {
  FILETIME f{};
  Times(path, &f, nullptr, nullptr);
  return f;
}
FILETIME WriteTime(const std::wstring& path) {
  FILETIME f{};
  Times(path, nullptr, nullptr, &f);
  return f;
}
FILETIME AccessTime(const std::wstring& path) {
  FILETIME f{};
  Times(path, nullptr, &f, nullptr);
  return f;
}

unsigned long long Ticks(const FILETIME& ft) {
  return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

unsigned long long TicksOf(int y, int mo, int d, int h, int mi, int s, int ms) {
  SYSTEMTIME st{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d),
                static_cast<WORD>(h), static_cast<WORD>(mi), static_cast<WORD>(s),
                static_cast<WORD>(ms)};
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return Ticks(ft);
}

namespace {
// The zone's rules in a year (Wine 8 has no ...Ex conversions).
TIME_ZONE_INFORMATION Rules(WORD year) {
  DYNAMIC_TIME_ZONE_INFORMATION zone{};
  TIME_ZONE_INFORMATION rules{};
  if (GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID ||
      !GetTimeZoneInformationForYear(year, &zone, &rules))
    GetTimeZoneInformation(&rules);
  return rules;
}
}  // namespace

unsigned long long LocalTicks(const FILETIME& stored) {
  SYSTEMTIME utc{}, local{};
  FileTimeToSystemTime(&stored, &utc);
  const TIME_ZONE_INFORMATION rules = Rules(utc.wYear);
  SystemTimeToTzSpecificLocalTime(&rules, &utc, &local);
  FILETIME ft{};
  SystemTimeToFileTime(&local, &ft);
  return Ticks(ft) + Ticks(stored) % 10000;  // SYSTEMTIME stops at the millisecond
}

void SetLocalTimes(const std::wstring& path, int y, int mo, int d, int h, int mi, int s, int ms) {
  SYSTEMTIME local{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d),
                   static_cast<WORD>(h), static_cast<WORD>(mi), static_cast<WORD>(s),
                   static_cast<WORD>(ms)};
  SYSTEMTIME utc{};
  const TIME_ZONE_INFORMATION rules = Rules(local.wYear);
  TzSpecificLocalTimeToSystemTime(&rules, &local, &utc);
  FILETIME stored;
  SystemTimeToFileTime(&utc, &stored);
  HANDLE h2 = OpenAny(path, FILE_WRITE_ATTRIBUTES);
  SetFileTime(h2, &stored, nullptr, &stored);
  CloseHandle(h2);
}

namespace {
const auto WineUnixName = reinterpret_cast<char*(CDECL*)(const wchar_t*)>(reinterpret_cast<void*>(
    GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
}  // namespace

std::wstring UnixPath(const std::wstring& path) {
  char* name = WineUnixName ? WineUnixName(path.c_str()) : nullptr;
  if (name == nullptr) return {};
  std::wstring wide(MAX_PATH * 4, L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, name, -1, &wide[0], MAX_PATH * 4) - 1));
  HeapFree(GetProcessHeap(), 0, name);
  return wide;
}

bool RunUnix(const std::wstring& program, const std::wstring& arguments,
             const std::function<bool()>& done) {
  std::wstring commandLine = program + L" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!WineUnixName || !CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                       nullptr, nullptr, &si, &pi))
    return false;
  // For a Unix program Wine gives no process handle and a stray value in hThread: seen equal
  // to this process's standard output, whose later output closing it lost.
  if (pi.hProcess != nullptr) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  for (int i = 0; i < 200; ++i, Sleep(50))
    if (done()) return true;
  return false;
}

bool MakeLink(const std::wstring& link, const std::wstring& target) {
  const std::size_t slash = link.rfind(L'\\');
  return RunUnix(L"Z:\\bin\\ln",
                 L"-s " + UnixPath(target) + L" " + UnixPath(link.substr(0, slash)) + L"/" +
                     link.substr(slash + 1),
                 [&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

}  // namespace testfiles
