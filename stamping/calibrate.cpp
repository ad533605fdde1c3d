// stamping/calibrate.cpp
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <utility>

#include "stamping/stamping.h"
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

std::wstring ScratchFileBeside(const std::wstring& exePath) {
  return rtl::ExtractFileDir(exePath) + kScratchName;
}

TCalibration Calibrate(const std::wstring& exePath) {
  // The executable's folder first; the temporary folder when that one is not writable
  // (a program folder under Program Files, a read-only share). There the file gets a name the
  // system hands out, so no other program's file of ours is overwritten.
  TCalibration c;
  std::wstring errors;
  const std::wstring besideExe = ScratchFileBeside(exePath);
  try {
    rtl::WriteTextLineCp932(besideExe, kScratchLine);
    c.ScratchFile = besideExe;
  } catch (const rtl::Exception& e) {
    errors += L"\n\n" + e.Message();
  }
  const std::wstring temp = rtl::TempDirectory();
  if (c.ScratchFile.empty() && !temp.empty()) {  // an empty folder would be the current directory
    wchar_t name[MAX_PATH];
    if (GetTempFileNameW(temp.c_str(), L"Zel", 0, name) == 0) {
      const DWORD code = GetLastError();
      errors += L"\n\nファイル「" + temp + L"\\Zel????.tmp」に書き込めません。\n" +
                rtl::SysErrorMessage(code);
    } else {
      try {
        rtl::WriteTextLineCp932(name, kScratchLine);
        c.ScratchFile = name;
      } catch (const rtl::Exception& e) {
        errors += L"\n\n" + e.Message();
        rtl::RemoveFile(name);
      }
    }
  }
  c.Correction = SystemCorrection();
  if (c.ScratchFile.empty()) {
    c.Message = L"時間補正用のファイルを作成できませんでした。Windows の時差設定を使います。" +
                errors;
    return c;
  }

  // The local clock is written as if it were the stored (universal) time; read back in
  // local time, the difference is the zone's offset. A batch of its own, with no journal: the
  // scratch file is the program's own.
  const rtl::TDateTime t0 = rtl::Now();
  TBatch batch;
  batch.Targets = {c.ScratchFile};
  batch.Stored = rtl::DateTimeToFileTime(t0);
  batch.Threads = 1;
  TBatchProgress progress;
  const TStampResult r = RunBatch(batch, progress);
  if (r.Failed == 0 && r.Changed == 1) {
    try {
      c.Correction = RoundToMillisecond(rtl::FileAgeLocal(c.ScratchFile) - t0);
    } catch (const rtl::Exception&) {
      // Written but not read back (another program holds it): the system's offset stands.
    }
  }
  return c;
}

}  // namespace zel
