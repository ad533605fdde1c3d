// main_window/stamping/stamping.h
// Writes one instant into the creation and last-modification times of a file, or of every
// file (and optionally folder) of a tree; measures the local-minus-stored time correction.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "rtl/datetime.h"

namespace zel {

// Why an entry could not be changed. The report shows a text for each (report.cpp).
enum class TFailReason {
  ReadOnly,       // the read-only attribute
  InUse,          // held by another program: a sharing or lock violation
  NotFound,       // no such file or folder
  Link,           // a link or junction inside the tree, not followed
  AccessDenied,
  Unlistable,     // a folder whose listing failed
  CannotSetTime,  // the set-time call failed, or the instant cannot be stored
  ChangedSince,   // undo: changed by someone after the batch, so left as it is
  Other,          // see Error
};

// The reason a system error code stands for (Other for any without a reason of its own).
TFailReason FailReasonOf(unsigned long error);

struct TStampFailure {
  std::wstring Path;  // as the user knows it, without a \\?\ prefix
  TFailReason Reason = TFailReason::Other;
  unsigned long Error = 0;  // the system's error code, 0 when none applies
};

// One batch's outcome.
struct TStampResult {
  std::size_t Changed = 0;  // files and folders whose time was written
  std::size_t Failed = 0;   // everything that could not be changed
  std::vector<TStampFailure> Failures;  // the first MaxFailures failures, in walk order
  bool Stopped = false;     // a stop was asked for before every target was done
  static constexpr std::size_t MaxFailures = 10;
};

// Shared with a thread that watches a batch: counts so far (kept by every stamping thread),
// the folder being walked, and a request to stop once each thread has done the entry it is
// changing.
class TBatchProgress {
 public:
  std::atomic<std::size_t> Changed{0};
  std::atomic<std::size_t> Failed{0};
  std::atomic<bool> Stop{false};
  void SetFolder(const std::wstring& folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    folder_ = folder;
  }
  std::wstring Folder() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return folder_;
  }

 private:
  mutable std::mutex mutex_;
  std::wstring folder_;
};

// Told the times an entry has just before they are changed (the undo journal keeps them).
// Files are stamped on several threads: the hook is called from the caller's thread or from a
// stamping thread, several calls at once. An exception it throws stops the walk and comes out of
// StampPath once every thread is done.
using TBeforeChange = std::function<void(const std::wstring& path, const FILETIME& creation,
                                         const FILETIME& lastWrite)>;

class TStamper {
 public:
  rtl::TDateTime TimeCorrection = 0;  // local minus stored, in days
  bool FolderOption = false;          // also write each folder's own last-modification time
  TStampResult Result;                // accumulates over a batch; the caller clears it
  TBatchProgress* Progress = nullptr;  // optional; its Stop ends the walk early
  TBeforeChange BeforeChange;          // optional
  unsigned Threads = 0;  // stamping threads: 0 from the processor count, 1 the caller's alone

  // Stamps a file, or walks a folder tree. A named target is followed even when it is a
  // link; links met inside the tree (to files or folders) are not. Every entry is opened by
  // its exact name (trailing dots and spaces, device names such as "nul" are ordinary names
  // inside a tree), and C:\Windows\System32 is that folder even for this 32-bit program.
  // Per-target problems land in Result, never in an exception (BeforeChange's own aside).
  // Relative paths are resolved against the current directory, which is left unchanged. The
  // instant is local wall-clock time, written as StoredTime gives it.
  void StampPath(const std::wstring& path, rtl::TDateTime instant);
  // The same with the stored time already known; none (an instant that cannot be stored)
  // fails every target.
  void StampPath(const std::wstring& path, const std::optional<FILETIME>& stored);
  // The stored (universal) time of a local wall-clock instant, converted by the zone's rules
  // for its own date, daylight-saving time included; a time skipped or repeated by a switch
  // is resolved as the system resolves it. TimeCorrection stands in only where the system
  // gives no zone at all (rtl::ZoneRules: GetTimeZoneInformation fails, which Windows reserves
  // for failures such as lack of memory and Wine, deriving the zone from the host, never
  // does). False where the instant cannot be stored: before 1601, local or converted, or not
  // a number.
  bool StoredTime(rtl::TDateTime instant, FILETIME& ft) const;
  // Sets TimeCorrection by a round trip through a scratch file, which is left in place
  // (see ScratchFile). Returns a message to show once when no scratch file could be written
  // (the correction then comes from the system's zone), otherwise an empty text.
  std::wstring Calibrate(const std::wstring& exePath);
  // The scratch file Calibrate wrote, empty before or when none could be written.
  std::wstring ScratchFile() const { return scratch_; }

 private:
  std::wstring scratch_;
};

// The threads that stamp a walk's files for TStamper::Threads; 0: the walking thread alone.
unsigned StampingThreads(unsigned requested);

// Whether the file ids of two listed folders tell them apart without opening either; 0 is an
// id the listing did not give (Wine gives none).
bool ListedIdsDiffer(long long a, long long b);

// The completion report of a batch; instantText is DateTimeToStr(instant).
std::wstring ReportText(const std::wstring& instantText, const TStampResult& r);
// Its list of what could not be changed, empty when nothing failed.
std::wstring FailuresText(const TStampResult& r);

}  // namespace zel
