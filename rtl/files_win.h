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
// The form to hand to file APIs: absolute paths longer than MAX_PATH - 12 get the \\?\ (or
// \\?\UNC\) prefix so they are not cut at 260 characters; others are returned unchanged.
std::wstring ExtendedPath(const std::wstring& absolutePath);

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
