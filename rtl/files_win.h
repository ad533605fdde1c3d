// rtl/files_win.h
#pragma once
#include <windows.h>

#include <string>

#include "rtl/exceptions.h"
#include "rtl/handle.h"

namespace rtl {

// Kernel handles: CreateFile gives INVALID_HANDLE_VALUE on failure, other calls null, so both
// mean "none".
struct TKernelHandleTraits {
  using Type = HANDLE;
  static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static bool Close(Type h) noexcept { return CloseHandle(h) != FALSE; }
};
using FileHandle = THandle<TKernelHandleTraits>;

// The system's message for an error code, without the trailing line break.
std::wstring SysErrorMessage(unsigned long errorCode);

// Full path of the running executable, at any length.
std::wstring ExeName();
// Absolute form of a path against the current directory (GetFullPathNameW), at any length.
std::wstring ExpandFileName(const std::wstring& path);
// The one way to a \\?\ name, the form every file function here is handed: at any length, and
// behind the prefix each name is taken as it is ("a." and "b " are not cut to "a" and "b", and
// "nul" or "con.txt" in a folder are files there, not devices). A \\?\ name is kept as it is.
// Any other path names what exists under it as written (LiteralFullPath); only when nothing
// does, what exists under the system's reading of it (GetFullPathNameW: trailing dots and
// spaces cut, device names); when neither exists, the name as written. Empty when the path
// cannot be made absolute.
std::wstring ExactPath(const std::wstring& path);
// A path made absolute against the current directory with every name kept as written: "/" read
// as "\\", "." and ".." taken, trailing dots and spaces and device names kept. Empty for a
// device path or a drive-relative one ("C:x"), which only the system's reading resolves.
std::wstring LiteralFullPath(const std::wstring& path);
// A \\?\ name as the user knows it: C:\... or \\server\share\...; other paths unchanged.
std::wstring OrdinaryPath(const std::wstring& path);

bool FileExists(const std::wstring& path);       // an existing file, not a folder
bool DirectoryExists(const std::wstring& path);  // an existing folder
bool RemoveFile(const std::wstring& path);       // DeleteFileW; false on failure

// The user's temporary folder, with no trailing separator.
std::wstring TempDirectory();

// Last-write time as stored (universal), read through the attributes, so a file locked or
// read-only still has a date. Throws EInOutError naming the file when it cannot be read.
FILETIME FileAgeUniversal(const std::wstring& path);
// The same converted to local time (at full precision) with the bias now in force.
double FileAgeLocal(const std::wstring& path);

// Writes text as one line of Shift-JIS (code page 932) ended by CR LF, creating or
// truncating the file. Throws EInOutError on failure.
void WriteTextLineCp932(const std::wstring& path, const std::wstring& line);

}  // namespace rtl
