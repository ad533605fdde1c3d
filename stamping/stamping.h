// stamping/stamping.h
// The stamping engine's door: a batch goes in as a value, one result comes out. It writes one
// instant into the creation and last-modification times of files, or of every file (and
// optionally folder) of a tree, keeps the times it overwrote in an undo journal, and measures
// the local-minus-stored time correction. It needs no window.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "rtl/datetime.h"
#include "rtl/threads_win.h"

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
  NotKept,        // the file system took the change but kept another modification time
  Other,          // see Error
};

// The reason a system error code stands for (Other for any without a reason of its own).
TFailReason FailReasonOf(unsigned long error);

struct TStampFailure {
  std::wstring Path;  // as the user knows it, without a \\?\ prefix
  TFailReason Reason = TFailReason::Other;
  unsigned long Error = 0;  // the system's error code, 0 when none applies
};

// Shared with a thread that watches a batch: the counts so far, the folder being walked, and a
// request to stop once each stamping thread has done the entry it is changing. The batch's
// result takes its counts from here, so the two cannot disagree.
class TBatchProgress {
 public:
  std::atomic<std::size_t> Changed{0};  // files and folders whose time the disk kept
  std::atomic<std::size_t> Failed{0};   // everything that could not be changed
  std::atomic<bool> Stop{false};
  void SetFolder(const std::wstring& folder) {
    rtl::TLocked locked(lock_);
    folder_ = folder;
  }
  std::wstring Folder() {
    rtl::TLocked locked(lock_);
    return folder_;
  }

 private:
  rtl::TLock lock_;
  std::wstring folder_;
};

// One batch's outcome.
struct TStampResult {
  std::size_t Changed = 0;
  std::size_t Failed = 0;
  std::vector<TStampFailure> Failures;  // every failure, in walk order
  bool Stopped = false;        // a stop was asked for before every target was done
  bool JournalLost = false;    // the undo journal could not be kept: not undoable
  unsigned Threads = 0;        // the stamping threads it ended with beside the walking one
  static constexpr std::size_t MaxFailures = 10;  // the report shows these first ones
};

// A batch: every target in order, one stored time.
struct TBatch {
  // Files or folders; relative ones against the current directory, which is left unchanged.
  // A \\?\ name is taken as it is; any other reaches the file of exactly its name ("x.",
  // "nul") where one exists, else what Windows reads it as (rtl::ExactPath).
  std::vector<std::wstring> Targets;
  // The stored (universal) time to write; none (an instant that cannot be stored) fails every
  // target.
  std::optional<FILETIME> Stored;
  bool FolderOption = false;  // also write each folder's own last-modification time
  // The undo journal to keep (see JournalFile), none for none; an empty name (no place for
  // one) keeps none and says so in the result. The instant as the report names it, which the
  // journal keeps for the undo's question.
  std::optional<std::wstring> Journal;
  std::wstring InstantText;
  // Stamping threads beside the walking one: 0 the engine's choice (see TPoolGrowth), 1 the
  // walking thread alone, any other that many.
  unsigned Threads = 0;
};

// Runs a batch on the calling thread, counting into progress (whose counts it clears first) and
// stopping early once progress.Stop is set. A named target is followed even when it is a link;
// links met inside a tree (to files or folders) are not. Every entry is opened by its exact
// name, and C:\Windows\System32 is that folder even for this 32-bit program. Problems with
// targets land in the result, never in an exception.
TStampResult RunBatch(const TBatch& batch, TBatchProgress& progress);

// The stored (universal) time of a local wall-clock instant, converted by the zone's rules for
// its own date, daylight-saving time included; a time skipped or repeated by a switch is
// resolved as the system resolves it. correction (local minus stored, in days) stands in only
// where the system gives no zone at all (rtl::ZoneRules: GetTimeZoneInformation fails, which
// Windows reserves for failures such as lack of memory and Wine, deriving the zone from the
// host, never does). None where the instant cannot be stored: before 1601, local or converted,
// or not a number.
std::optional<FILETIME> StoredTime(rtl::TDateTime instant, rtl::TDateTime correction);

// The time correction, measured by a round trip through a scratch file that is left in place.
struct TCalibration {
  rtl::TDateTime Correction = 0;  // local minus stored, in days
  std::wstring ScratchFile;       // the file written, empty when none could be
  std::wstring Message;           // to show once when no scratch file could be written
};
TCalibration Calibrate(const std::wstring& exePath);
// Where Calibrate first tries to write its scratch file: beside the program.
std::wstring ScratchFileBeside(const std::wstring& exePath);

// The stamping threads a batch asking for requested starts beside the walking one; 0: the
// walking thread stamps alone.
unsigned StampingThreads(unsigned requested);

// The pool's growth, while the engine chooses its size: the stamping threads start at the
// processor count (more on a network share) and, while they cannot keep up with the walk, take
// more, one step at a time, for as long as each step gave at least a tenth more files per
// second; up to 16, never fewer. Once a step did not pay, the size stays for good: a faster
// stretch later is the files, not the threads.
class TPoolGrowth {
 public:
  // The size after a measurement of rate (files per second since the last step) with threads
  // running.
  unsigned After(unsigned threads, double rate);
  bool Growing() const { return growing_; }

 private:
  double rateBefore_ = 0;  // at the last step; 0 before the first
  bool growing_ = true;
};

// The completion report of a batch; instantText is DateTimeToStr(instant).
std::wstring ReportText(const std::wstring& instantText, const TStampResult& r);
// Its list of what could not be changed, empty when nothing failed: the first MaxFailures.
std::wstring FailuresText(const TStampResult& r);
// Every failure, one a line in walk order with its reason, for the clipboard; empty when none.
std::wstring FailureListText(const TStampResult& r);

}  // namespace zel
