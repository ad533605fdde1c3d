// tests/support/files.h
// Real files and folders for tests: a throw-away folder, times set and read back, links made
// the Unix way under Wine.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "rtl/clock_win.h"

namespace testfiles {

// A temporary folder of its own, removed with everything in it (links too, without their
// targets). A folder left by an earlier run whose process id came round again is passed over.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

void WriteFile(const std::wstring& path, const std::string& content = "x");
void MakeDir(const std::wstring& path);
// Times set, here and by SetLocalTimes, on a file or folder; a missing one is made as an empty file.
// Sets all three times to kOld, 2000-01-01 00:00, so a change is visible.
inline constexpr unsigned long long kOld = 125911584000000000ull;
void SetOldTimes(const std::wstring& path);
// Creation, modification and access time in 100 ns units since 1601; the first n of them.
std::vector<unsigned long long> Times(const std::wstring& path, std::size_t n = 3);
using rtl::Ticks;
// A stored time as a viewer shows it: local by the zone's rules for its own date.
unsigned long long LocalTicks(unsigned long long stored);
// Sets the creation and modification times to a local reading, converted the same way.
void SetLocalTimes(const std::wstring& path, int y, int mo, int d, int h, int mi, int s, int ms);
// The FILETIME (no zone conversion) of a wall-clock reading.
unsigned long long TicksOf(int y, int mo, int d, int h, int mi, int s, int ms);

// A Unix program run to make what Wine's own calls cannot (RemoveDirectoryW on a folder link
// removes its target, a disk cannot be mounted); true once done() holds, within 30 s (a tree
// of thousands of files takes its time to remove on a loaded machine): the process handles
// cannot be waited for. UnixPath is a path's Unix name, empty when there is none.
bool RunUnix(const std::wstring& program, const std::wstring& arguments,
             const std::function<bool()>& done);
std::wstring UnixPath(const std::wstring& path);

// A symbolic link at link to target (file or folder), made with Z:\bin\ln under Wine, whose
// CreateSymbolicLinkW makes nothing.
bool MakeLink(const std::wstring& link, const std::wstring& target);

// A mount of the test's own (a small disk, a folder bound elsewhere), made with Z:\bin\mount;
// shown() holds while it is in place. It is always taken down again, a busy one retried (Wine's
// server may still hold a file in it), so no later run finds it.
class Mount {
 public:
  Mount(const std::wstring& arguments, const std::wstring& at, std::function<bool()> shown);
  ~Mount();
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::wstring at_;
  std::function<bool()> shown_;
  bool mounted_;
};

}  // namespace testfiles
