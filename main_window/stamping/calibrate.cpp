// main_window/stamping/calibrate.cpp
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <utility>

#include "main_window/stamping/stamping.h"
#include "rtl/clock_win.h"
#include "rtl/files_win.h"
#include "rtl/sysutils.h"

namespace zel {
namespace {

const wchar_t kScratchName[] = L"\\Zelvoran.dat";
const wchar_t kScratchLine[] = L"このファイルは時間補正用に使ったファイルです";

rtl::TDateTime RoundToMillisecond(double days) {
  return std::round(days * rtl::MSecsPerDay) / rtl::MSecsPerDay;
}

// Local minus universal time now, as the system converts it.
rtl::TDateTime SystemCorrection() {
  FILETIME utc, local;
  GetSystemTimeAsFileTime(&utc);
  if (!FileTimeToLocalFileTime(&utc, &local)) return 0;
  const double ticksPerDay = rtl::MSecsPerDay * 10000;
  return RoundToMillisecond(static_cast<double>(static_cast<std::int64_t>(rtl::Ticks(local) - rtl::Ticks(utc))) / ticksPerDay);
}

}  // namespace

std::wstring TStamper::Calibrate(const std::wstring& exePath) {
  // The executable's folder first; the temporary folder when that one is not writable
  // (a program folder under Program Files, a read-only share). There the file gets a name the
  // system hands out, so no other program's file of ours is overwritten.
  std::wstring errors;
  scratch_.clear();
  const std::wstring besideExe = rtl::ExtractFileDir(exePath) + kScratchName;
  try {
    rtl::WriteTextLineCp932(besideExe, kScratchLine);
    scratch_ = besideExe;
  } catch (const rtl::Exception& e) {
    errors += L"\n\n" + e.Message();
  }
  const std::wstring temp = rtl::TempDirectory();
  if (scratch_.empty() && !temp.empty()) {  // an empty folder would be the current directory
    wchar_t name[MAX_PATH];
    if (GetTempFileNameW(temp.c_str(), L"Zel", 0, name) == 0) {
      const DWORD code = GetLastError();
      errors += L"\n\nファイル「" + temp + L"\\Zel????.tmp」に書き込めません。\n" +
                rtl::SysErrorMessage(code);
    } else {
      try {
        rtl::WriteTextLineCp932(name, kScratchLine);
        scratch_ = name;
      } catch (const rtl::Exception& e) {
        errors += L"\n\n" + e.Message();
        rtl::RemoveFile(name);
      }
    }
  }
  if (scratch_.empty()) {
    TimeCorrection = SystemCorrection();
    return L"時間補正用のファイルを作成できませんでした。Windows の時差設定を使います。" +
           errors;
  }

  // The local clock is written as if it were the stored (universal) time; read back in
  // local time, the difference is the zone's offset.
  const rtl::TDateTime t0 = rtl::Now();
  TimeCorrection = 0;
  TStampResult outer = std::move(Result);
  Result = TStampResult();
  // The scratch file is the program's own: never in an undo journal.
  TBeforeChange hook = std::move(BeforeChange);
  BeforeChange = nullptr;
  StampPath(scratch_, rtl::DateTimeToFileTime(t0));
  BeforeChange = std::move(hook);
  const bool stamped = Result.Failed == 0 && Result.Changed == 1;
  Result = std::move(outer);
  if (stamped) {
    try {
      TimeCorrection = RoundToMillisecond(rtl::FileAgeLocal(scratch_) - t0);
      return {};
    } catch (const rtl::Exception&) {
    }
  }
  // The file was written but could not be stamped or read back (another program holds it).
  TimeCorrection = SystemCorrection();
  return {};
}

}  // namespace zel
