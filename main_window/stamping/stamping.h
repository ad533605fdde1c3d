// main_window/stamping/stamping.h
// Writes one instant into the creation and last-modification times of a file, or of every
// file (and optionally folder) of a tree; measures the local-minus-stored time correction.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "rtl/datetime.h"

namespace zel {

// One batch's outcome.
struct TStampResult {
  std::size_t Changed = 0;  // files and folders whose time was written
  std::size_t Failed = 0;   // everything that could not be changed
  std::vector<std::wstring> FailedPaths;  // the first MaxFailedPaths failures, in walk order
  bool Stopped = false;     // a stop was asked for before every target was done
  static constexpr std::size_t MaxFailedPaths = 10;
};

// Shared with a thread that watches a batch: counts so far, the folder being walked, and a
// request to stop after the entry being changed.
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
using TBeforeChange = std::function<void(const std::wstring& path, const FILETIME& creation,
                                         const FILETIME& lastWrite)>;

class TStamper {
 public:
  rtl::TDateTime TimeCorrection = 0;  // local minus stored, in days
  bool FolderOption = false;          // also write each folder's own last-modification time
  TStampResult Result;                // accumulates over a batch; the caller clears it
  TBatchProgress* Progress = nullptr;  // optional; its Stop ends the walk early
  TBeforeChange BeforeChange;          // optional

  // Stamps a file, or walks a folder tree (named folders are followed even when they are
  // links; links met inside the tree are not). Per-target problems land in Result, never
  // in an exception. Relative paths are resolved against the current directory, which is
  // left unchanged.
  void StampPath(const std::wstring& path, rtl::TDateTime instant);
  // The file time StampPath writes for this instant; false when it cannot be stored.
  bool StoredFileTime(rtl::TDateTime instant, FILETIME& ft) const;
  // Writes only the last-modification time of one folder; Result is not touched.
  bool StampFolderTime(const std::wstring& path, rtl::TDateTime instant);
  // Sets TimeCorrection by a round trip through a scratch file, which is left in place
  // (see ScratchFile). Returns a message to show once when no scratch file could be written
  // (the correction then comes from the system's zone), otherwise an empty text.
  std::wstring Calibrate(const std::wstring& exePath);
  // The scratch file Calibrate wrote, empty before or when none could be written.
  std::wstring ScratchFile() const { return scratch_; }

 private:
  std::wstring scratch_;
};

// The completion report of a batch; instantText is DateTimeToStr(instant).
std::wstring ReportText(const std::wstring& instantText, const TStampResult& r);
// Its list of what could not be changed, empty when nothing failed.
std::wstring FailuresText(const TStampResult& r);

}  // namespace zel
