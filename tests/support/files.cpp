// tests/support/files.cpp
#include "support/files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <utility>

namespace testfiles {

namespace {
void SetTimes(const std::wstring& path, const FILETIME* c, const FILETIME* a, const FILETIME* w) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, share, nullptr, OPEN_ALWAYS,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_TRUE(SetFileTime(h, c, a, w)) << GetLastError();
  CloseHandle(h);
}
using rtl::FromTicks;
// The zone's rules in a year (Wine 8 has no ...Ex conversions).
TIME_ZONE_INFORMATION Rules(WORD year) {
  DYNAMIC_TIME_ZONE_INFORMATION zone{};
  TIME_ZONE_INFORMATION rules{};
  if (GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID ||
      !GetTimeZoneInformationForYear(year, &zone, &rules))
    GetTimeZoneInformation(&rules);
  return rules;
}

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
  if (pi.hProcess != nullptr) CloseHandle(pi.hThread), CloseHandle(pi.hProcess);
  for (int i = 0; i < 600; ++i, Sleep(50))
    if (done()) return true;
  return false;
}

TempDir::TempDir() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  static int counter = 0;
  const std::wstring stem = std::wstring(base) + L"zelvoran_test_" +
                            std::to_wstring(GetCurrentProcessId()) + L"_";
  DWORD error = ERROR_ALREADY_EXISTS;
  while (error == ERROR_ALREADY_EXISTS) {
    path_ = stem + std::to_wstring(++counter);
    if (CreateDirectoryW(path_.c_str(), nullptr)) return;
    error = GetLastError();
  }
  ADD_FAILURE() << "no temporary folder: " << error;
}

// rm, since a tree may hold folder links, past MAX_PATH, and read-only entries.
TempDir::~TempDir() {
  EXPECT_TRUE(RunUnix(L"Z:\\bin\\rm", L"-rf " + UnixPath(path_),
                      [&] { return GetFileAttributesW(path_.c_str()) == INVALID_FILE_ATTRIBUTES; }));
}

void WriteFile(const std::wstring& path, const std::string& content) {
  EXPECT_TRUE(std::ofstream(path.c_str(), std::ios::binary) << content) << GetLastError();
}

void MakeDir(const std::wstring& path) { CreateDirectoryW(path.c_str(), nullptr); }

void SetOldTimes(const std::wstring& path) {
  const FILETIME ft = FromTicks(kOld);
  SetTimes(path, &ft, &ft, &ft);
}

std::vector<unsigned long long> Times(const std::wstring& path, std::size_t n) {
  WIN32_FILE_ATTRIBUTE_DATA d{};
  EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d)) << GetLastError();
  const unsigned long long t[] = {Ticks(d.ftCreationTime), Ticks(d.ftLastWriteTime),
                                  Ticks(d.ftLastAccessTime)};
  return {t, t + n};
}

unsigned long long TicksOf(int y, int mo, int d, int h, int mi, int s, int ms) {
  const SYSTEMTIME st = {WORD(y), WORD(mo), 0, WORD(d), WORD(h), WORD(mi), WORD(s), WORD(ms)};
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return Ticks(ft);
}

unsigned long long LocalTicks(unsigned long long stored) {
  const FILETIME ft = FromTicks(stored);
  SYSTEMTIME utc{}, local{};
  FileTimeToSystemTime(&ft, &utc);
  const TIME_ZONE_INFORMATION rules = Rules(utc.wYear);
  SystemTimeToTzSpecificLocalTime(&rules, &utc, &local);
  return TicksOf(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                 local.wMilliseconds) + stored % 10000;  // SYSTEMTIME stops at the millisecond
}

void SetLocalTimes(const std::wstring& path, int y, int mo, int d, int h, int mi, int s, int ms) {
  const FILETIME reading = FromTicks(TicksOf(y, mo, d, h, mi, s, ms));
  SYSTEMTIME local{}, utc{};
  FileTimeToSystemTime(&reading, &local);
  const TIME_ZONE_INFORMATION rules = Rules(local.wYear);
  TzSpecificLocalTimeToSystemTime(&rules, &local, &utc);
  FILETIME stored;
  SystemTimeToFileTime(&utc, &stored);
  SetTimes(path, &stored, nullptr, &stored);
}

bool MakeLink(const std::wstring& link, const std::wstring& target) {
  return RunUnix(L"Z:\\bin\\ln", L"-s " + UnixPath(target) + L" " + UnixPath(link),
                 [&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

Mount::Mount(const std::wstring& arguments, const std::wstring& at, std::function<bool()> shown)
    : at_(UnixPath(at)), shown_(std::move(shown)),
      mounted_(RunUnix(L"Z:\\bin\\mount", arguments + L" " + at_, shown_)) {}

// umount fails at once while the mount is busy, so it is tried again for some seconds, then
// detached lazily: gone from sight at once, released once its last user lets go.
Mount::~Mount() {
  if (!mounted_ && !shown_()) return;  // also one that showed only after the wait
  const std::wstring script = L"for i in $(seq 50); do umount '" + at_ +
                              L"' 2>/dev/null && exit; sleep 0.1; done; umount -l '" + at_ + L"'";
  EXPECT_TRUE(RunUnix(L"Z:\\bin\\sh", L"-c \"" + script + L"\"", [this] { return !shown_(); }));
}

}  // namespace testfiles
