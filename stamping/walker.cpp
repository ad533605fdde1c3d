// stamping/walker.cpp
// A batch: the walk of each target on the calling thread, and a pool of stamping threads that
// open, journal and change the files it lists.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

#include "rtl/clock_win.h"
#include "rtl/files_win.h"
#include "rtl/threads_win.h"
#include "stamping/file_access.h"
#include "stamping/stamping.h"

namespace zel {
namespace {

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

// The stored time for an instant by a fixed correction. The correction is taken off in
// elapsed time: before 1899-12-30 a TDateTime's fraction counts the time of day away from
// zero, so a plain subtraction would move the clock the wrong way there.
std::optional<FILETIME> CorrectedTime(rtl::TDateTime instant, rtl::TDateTime correction) {
  if (!std::isfinite(correction)) return std::nullopt;
  const double elapsed =
      (instant >= 0 ? instant : rtl::DateOf(instant) + rtl::TimeOf(instant)) - correction;
  const double day = std::floor(elapsed);
  try {
    return rtl::DateTimeToFileTime(rtl::ComposeDateTime(day, elapsed - day));
  } catch (const rtl::Exception&) {
    return std::nullopt;  // before 1601 or beyond 9999
  }
}

// A symbolic link or junction (a name-surrogate reparse point). Other reparse points, such as
// cloud-file placeholders, are ordinary folders to walk. For a reparse point the listing
// carries the tag in EaSize; Wine gives 0 for its symbolic links.
bool IsLink(const FILE_ID_BOTH_DIR_INFO& entry) {
  if ((entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  return entry.EaSize == 0 || IsReparseTagNameSurrogate(entry.EaSize);
}

// Windows 8's FILE_ID_INFO, which the Windows 7 headers this program builds against hide.
struct IdInfo {
  ULONGLONG volume;
  BYTE fileId[16];
};
const auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

// Whether the file ids of two listed folders tell them apart without opening either; 0 is an
// id the listing did not give.
bool ListedIdsDiffer(long long a, long long b) { return a != 0 && b != 0 && a != b; }

// A folder of the walk. It lives until everything inside it is done, possibly on a stamping
// thread, and then has its own time written.
struct Folder {
  Folder* parent = nullptr;
  std::atomic<long> pending{1};  // entries inside not yet done, plus one until it is listed
  std::wstring path;             // the \\?\ name
  std::wstring resolvedName;     // under Wine, see TFileAccess::IsHiddenFileLink
  rtl::FileHandle handle;
  bool writable = false;
  bool listed = true;   // false: the listing failed, its time is left alone
  std::size_t seq = 0;  // the place of its own time in walk order
};

// A file to stamp.
struct Job {
  Folder* folder = nullptr;  // where it was listed; null for a named file
  std::size_t seq = 0;       // the file's place in walk order
  DWORD attributes = 0;
  LONGLONG fileId = 0;        // as listed; 0 when none was given
  std::wstring path;          // the \\?\ name
  std::size_t nameStart = 0;  // where its name begins in path
};

// Two moments two seconds apart: FAT keeps modification times to two seconds, and shares that
// round keep them no coarser.
constexpr unsigned long long kCoarsest = 20000000;

// On a share each call waits a round trip (about a millisecond) on the server, so the pool
// grows while that pays; sixteen calls in flight keep a share's server busy without turning
// the batch into a burst it must queue, and past that even a fast one gains little.
constexpr unsigned kMaxThreads = 16;
// A remote volume starts with this many: the wait, not the processors, is what limits it.
constexpr unsigned kRemoteStart = 8;
// How often the files per second are measured while the pool may still grow.
constexpr ULONGLONG kSampleMs = 250;

// Whether the batch's first target lies on a network share.
bool OnRemoteVolume(const std::vector<std::wstring>& targets) {
  if (targets.empty()) return false;
  const std::wstring full = rtl::OrdinaryPath(rtl::ExactPath(targets.front()));
  if (full.size() >= 2 && full[0] == L'\\' && full[1] == L'\\') return true;
  if (full.size() < 3 || full[1] != L':') return false;
  return GetDriveTypeW(full.substr(0, 3).c_str()) == DRIVE_REMOTE;
}

// What every thread of one batch shares: the stored time, the counts (in the progress), the
// failures, the journal, and the pool with its queue of files from the walking thread.
class Batch {
 public:
  Batch(const TBatch& batch, TBatchProgress& progress)
      : folderOption_(batch.FolderOption),
        time_(batch.Stored ? &*batch.Stored : nullptr),
        progress_(progress),
        journal_(batch.Journal.value_or(std::wstring()), batch.InstantText,
                 batch.Stored.value_or(FILETIME{})),
        journalHasNoPlace_(batch.Journal && batch.Journal->empty()),
        threads_(batch.Threads == 0 && OnRemoteVolume(batch.Targets)
                     ? kRemoteStart
                     : StampingThreads(batch.Threads)),
        chosen_(batch.Threads == 0 && threads_ > 0) {}
  ~Batch() { Join(); }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  bool FolderOption() const { return folderOption_; }
  bool Storable() const { return time_ != nullptr; }
  void SetFolder(const std::wstring& path) { progress_.SetFolder(rtl::OrdinaryPath(path)); }

  // A stop asked for, or a thread failed: what is not begun is left.
  bool Halted() {
    if (error_.load()) return true;
    if (!progress_.Stop.load(std::memory_order_relaxed)) return false;
    stopped_ = true;
    return true;
  }

  void Fail(std::size_t seq, const std::wstring& path, TFailReason reason, DWORD error) {
    ++progress_.Failed;
    rtl::TLocked locked(failuresLock_);
    failures_.push_back({seq, {rtl::OrdinaryPath(path), reason, error}});
  }
  void Fail(std::size_t seq, const std::wstring& path, const TRefusal& why) {
    Fail(seq, path, why.Reason, why.Error);
  }

  // From the walking thread: the file goes to a stamping thread, or is stamped here when
  // there are none, or when it is a named file alone.
  void Submit(Job&& job, TFileAccess& access) {
    if (job.folder == nullptr || !StartPool()) {
      StampGroup(&job, 1, access);
      return;
    }
    bool wake, behind;
    {
      rtl::TLocked locked(queueLock_);
      behind = queue_.size() >= kQueued / 2;
      while (queue_.size() >= kQueued && !error_.load()) {
        walkerWaits_ = true;
        roomReady_.Wait(queueLock_);
      }
      queue_.push_back(std::move(job));
      ++outstanding_;
      wake = idle_ > 0;
    }
    if (wake) jobsReady_.WakeOne();
    // Only while the stamping lags behind the walk can more threads help.
    if (chosen_ && growth_.Growing() && behind) Grow();
  }

  // One entry inside folder is done; the folders it completes get their own times.
  void Done(Folder* folder, TFileAccess& access) {
    while (folder != nullptr && --folder->pending == 0) {
      try {
        if (folderOption_ && folder->listed && !Halted()) StampFolder(*folder, access);
      } catch (...) {
        Abort();
      }
      Folder* const parent = folder->parent;
      delete folder;
      folder = parent;
    }
  }

  // From the walking thread between targets: every file handed out so far is done, so a
  // file named twice is changed in the order named (and journalled in it).
  void Drain() {
    rtl::TLocked locked(queueLock_);
    while (outstanding_ > 0 && !error_.load()) drained_.Wait(queueLock_);
  }

  // From the walking thread once every target is walked: waits for the stamping threads,
  // closes the journal, and gives the result. A thread's exception comes out here.
  TStampResult Finish() {
    const unsigned threads = started_;
    Join();
    TStampResult r;
    r.Changed = progress_.Changed;
    r.JournalLost = !journal_.End() || (journalHasNoPlace_ && r.Changed > 0);
    r.Failed = progress_.Failed;
    std::sort(failures_.begin(), failures_.end(),
              [](const Failure& a, const Failure& b) { return a.seq < b.seq; });
    for (Failure& f : failures_) r.Failures.push_back(std::move(f.failure));
    r.Stopped = stopped_;
    r.Threads = threads;
    if (error_.load()) std::rethrow_exception(exception_);
    return r;
  }

  // A failure that ends the batch: kept for Finish, and whoever waits on the pool wakes.
  void Abort() {
    {
      rtl::TLocked locked(failuresLock_);
      if (error_.load()) return;
      exception_ = std::current_exception();
      error_ = true;
    }
    {
      rtl::TLocked locked(queueLock_);
      walkerWaits_ = false;
    }
    roomReady_.WakeAll();
    drained_.WakeAll();
    {
      rtl::TLocked locked(idsLock_);  // so no waiter is between its check and its wait
    }
    idReleased_.WakeAll();
  }

 private:
  // A folder of a million files never holds a million paths. An entry with its path takes some
  // hundreds of bytes, and the walk outruns the stamping, so the queue is always full: about a
  // thousand keeps the pool within a MiB of the one-thread walk and still keeps every thread
  // fed. The walking thread, once the queue is full, waits until half of it is stamped rather
  // than waking for every free place.
  static constexpr std::size_t kQueued = 1024;
  // A stamping thread takes up to this many files at once: their journal entries go to the
  // system in one write, and the queue's lock is taken once for them all.
  static constexpr std::size_t kGroup = 16;
  // The stamping threads' stacks: each runs the system's open, set-time and close calls and
  // nothing deeper (the walk itself is on the caller's thread).
  static constexpr std::size_t kStackSize = 64 * 1024;

  struct Failure {
    std::size_t seq;
    TStampFailure failure;
  };

  // Every job given is done on return. Names of a file another thread (or this group) has
  // open wait until the rest are done, then go one at a time, holding no other.
  void StampGroup(Job* jobs, std::size_t n, TFileAccess& access) {
    try {
      bool claimed[kGroup] = {};
      std::size_t now[kGroup], later[kGroup], nowCount = 0, laterCount = 0;
      Claim(jobs, n, claimed);
      for (std::size_t i = 0; i < n; ++i) (claimed[i] ? now[nowCount++] : later[laterCount++]) = i;
      StampClaimed(jobs, now, nowCount, access);
      Release(jobs, n, claimed);
      for (std::size_t d = 0; d < laterCount && !Halted(); ++d) {
        const LONGLONG id = jobs[later[d]].fileId;
        if (!ClaimWaiting(id)) break;
        StampClaimed(jobs, &later[d], 1, access);
        Release(id);
      }
    } catch (...) {
      Abort();
    }
    for (std::size_t i = 0; i < n; ++i) Done(jobs[i].folder, access);
  }

  // Opens the jobs at these places, journals the times read through their handles with one
  // write, then changes them and journals with one more write the times the disk kept where
  // it did not keep the batch's exactly. The handles are closed on return.
  void StampClaimed(Job* jobs, const std::size_t* which, std::size_t n, TFileAccess& access) {
    rtl::FileHandle opened[kGroup];
    TJournal::TEntry entries[kGroup] = {};
    std::size_t kept[kGroup] = {};
    std::size_t count = 0;
    for (std::size_t k = 0; k < n && !Halted(); ++k)
      if ((opened[count] = Open(jobs[which[k]], entries[count], access)).valid())
        kept[count++] = which[k];
    journal_.Record(entries, count);
    TJournal::TEntry corrected[kGroup];
    std::size_t corrections = 0;
    for (std::size_t k = 0; k < count && !Halted(); ++k)
      if (!Change(opened[k].get(), jobs[kept[k]].seq, jobs[kept[k]].path, entries[k]))
        corrected[corrections++] = entries[k];
    journal_.Record(corrected, corrections);
  }

  // Opens a file to change and reads its times through the handle: the exclusive open makes
  // them the ones just before the change. An invalid handle once the failure is counted.
  rtl::FileHandle Open(const Job& job, TJournal::TEntry& entry, TFileAccess& access) {
    TRefusal why;
    rtl::FileHandle file = access.OpenFile(job.path, job.attributes, why);
    if (!file.valid()) {
      Fail(job.seq, job.path, why);
    } else if (job.folder != nullptr &&
               access.IsHiddenFileLink(file.get(), job.folder->resolvedName,
                                       job.path.substr(job.nameStart))) {
      Fail(job.seq, job.path, TFailReason::Link, 0);
      file.close();
    } else if (!TFileAccess::ReadTimes(file.get(), entry, why)) {
      Fail(job.seq, job.path, why);
      file.close();
    } else {
      entry.Name = &job.path;
    }
    return file;
  }

  // Writes the batch's time (the creation time too, unless a folder's) and reads back the
  // modification time kept. True when the disk keeps exactly the batch's time or the change
  // failed; false when entry needs recording again with the time kept (entry.Kept).
  bool Change(HANDLE h, std::size_t seq, const std::wstring& path, TJournal::TEntry& entry,
              bool folder = false) {
    TRefusal why;
    if (!TFileAccess::SetTimes(h, folder ? nullptr : time_, time_, why)) {
      Fail(seq, path, why);
      return true;
    }
    FILETIME kept;
    if (!GetFileTime(h, nullptr, nullptr, &kept) || rtl::Ticks(kept) == rtl::Ticks(*time_)) {
      ++progress_.Changed;
      return true;
    }
    const unsigned long long a = rtl::Ticks(kept), b = rtl::Ticks(*time_);
    if ((a > b ? a - b : b - a) > kCoarsest)
      Fail(seq, path, TFailReason::NotKept, 0);
    else
      ++progress_.Changed;
    entry.Kept = kept;
    return false;
  }

  // Hard links: two names of one file cannot be open at once with no sharing, so a name whose
  // listed file id another name holds right now waits for it (claimed[i] stays false).
  void Claim(const Job* jobs, std::size_t n, bool* claimed) {
    rtl::TLocked locked(idsLock_);
    for (std::size_t i = 0; i < n; ++i)
      claimed[i] = jobs[i].fileId == 0 || inFlight_.insert(jobs[i].fileId).second;
  }
  // False when the batch failed meanwhile: a failed thread may never let its ids go.
  bool ClaimWaiting(LONGLONG id) {
    rtl::TLocked locked(idsLock_);
    while (id != 0 && !inFlight_.insert(id).second) {
      if (error_.load()) return false;
      idReleased_.Wait(idsLock_);
    }
    return true;
  }
  void Release(const Job* jobs, std::size_t n, const bool* claimed) {
    bool any = false;
    {
      rtl::TLocked locked(idsLock_);
      for (std::size_t i = 0; i < n; ++i)
        if (claimed[i] && jobs[i].fileId != 0) any = inFlight_.erase(jobs[i].fileId) > 0 || any;
    }
    if (any) idReleased_.WakeAll();
  }
  void Release(LONGLONG id) {
    if (id == 0) return;
    {
      rtl::TLocked locked(idsLock_);
      inFlight_.erase(id);
    }
    idReleased_.WakeAll();
  }

  void StampFolder(Folder& f, TFileAccess& access) {
    if (!f.writable) {
      // Held by another program on the way in; it may have let go.
      f.handle.close();
      TRefusal why;
      rtl::FileHandle h = access.OpenFolder(f.path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, why);
      if (!h.valid()) {
        Fail(f.seq, f.path, why);
        return;
      }
      f.handle = std::move(h);
    }
    if (time_ == nullptr) {
      Fail(f.seq, f.path, TFailReason::CannotSetTime, 0);
      return;
    }
    TJournal::TEntry entry{};
    TRefusal why;
    if (!TFileAccess::ReadTimes(f.handle.get(), entry, why)) {
      Fail(f.seq, f.path, why);
      return;
    }
    entry.Name = &f.path;
    journal_.Record(&entry, 1);
    if (!Change(f.handle.get(), f.seq, f.path, entry, true)) journal_.Record(&entry, 1);
  }

  // Started at the first file listed, so a batch with none starts no thread.
  bool StartPool() {
    if (!poolTried_) {
      poolTried_ = true;
      workers_.reset(new rtl::TThread[kMaxThreads]);
      AddThreads(threads_);
      sampleStart_ = GetTickCount64();
    }
    return started_ > 0;
  }

  void AddThreads(unsigned count) {
    while (count > started_ && started_ < kMaxThreads &&
           workers_[started_].Start([this] { Work(); }, kStackSize)) {
      rtl::TLocked locked(queueLock_);
      ++started_;
    }
  }

  // From the walking thread: the files per second over the last interval decide whether the
  // pool takes more threads (TPoolGrowth).
  void Grow() {
    const ULONGLONG now = GetTickCount64();
    if (now - sampleStart_ < kSampleMs) return;
    const std::size_t done = progress_.Changed + progress_.Failed;
    const double rate =
        static_cast<double>(done - sampleDone_) * 1000 / static_cast<double>(now - sampleStart_);
    const unsigned next = growth_.After(started_, rate);
    if (next <= started_) return;
    AddThreads(next);
    sampleStart_ = now;
    sampleDone_ = done;
  }

  // Nothing leaves a stamping thread: a failure ends the batch through Abort, and the other
  // threads go on taking what is queued (leaving it alone) so no one waits for ever.
  void Work() {
    try {
      TFileAccess access;
      std::vector<Job> group;
      group.reserve(kGroup);  // so taking a group allocates nothing
      while (Take(group)) {
        StampGroup(group.data(), group.size(), access);
        bool drained;
        {
          rtl::TLocked locked(queueLock_);
          outstanding_ -= group.size();
          drained = outstanding_ == 0;
        }
        if (drained) drained_.WakeAll();
      }
    } catch (...) {
      Abort();
    }
  }

  bool Take(std::vector<Job>& group) {
    group.clear();
    bool wake;
    {
      rtl::TLocked locked(queueLock_);
      while (queue_.empty() && !closed_) {
        ++idle_;
        jobsReady_.Wait(queueLock_);
        --idle_;
      }
      if (queue_.empty()) return false;
      // A share of what waits, so every thread gets some while the queue is short.
      const std::size_t n =
          std::min(kGroup, std::max<std::size_t>(1, queue_.size() / std::max(1u, started_)));
      for (std::size_t i = 0; i < n; ++i) {
        group.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
      wake = walkerWaits_ && queue_.size() <= kQueued / 2;
      if (wake) walkerWaits_ = false;
    }
    if (wake) roomReady_.WakeOne();
    return true;
  }

  void Join() {
    if (started_ == 0) return;
    {
      rtl::TLocked locked(queueLock_);
      closed_ = true;
    }
    jobsReady_.WakeAll();
    for (unsigned i = 0; i < started_; ++i) workers_[i].Join();
    started_ = 0;
    // Left by threads that failed: their folders are let go.
    if (queue_.empty()) return;
    TFileAccess access;
    for (; !queue_.empty(); queue_.pop_front()) Done(queue_.front().folder, access);
  }

  const bool folderOption_;
  const FILETIME* const time_;  // null when the instant cannot be stored
  TBatchProgress& progress_;
  TJournal journal_;
  const bool journalHasNoPlace_;
  const unsigned threads_;  // to start with
  const bool chosen_;  // the engine's choice of size, measured as it goes
  TPoolGrowth growth_;
  ULONGLONG sampleStart_ = 0;
  std::size_t sampleDone_ = 0;

  std::atomic<bool> stopped_{false}, error_{false};
  rtl::TLock failuresLock_;
  std::vector<Failure> failures_;
  std::exception_ptr exception_;

  rtl::TLock idsLock_;
  rtl::TCondition idReleased_;
  std::unordered_set<LONGLONG> inFlight_;  // listed file ids of files open right now

  rtl::TLock queueLock_;
  rtl::TCondition jobsReady_, roomReady_, drained_;
  std::deque<Job> queue_;
  std::size_t outstanding_ = 0;  // handed to the pool and not yet done
  unsigned idle_ = 0;
  bool walkerWaits_ = false, closed_ = false;
  bool poolTried_ = false;
  unsigned started_ = 0;
  std::unique_ptr<rtl::TThread[]> workers_;
};

// The walk itself, on the calling thread: depth-first with its own stack of open folders, so
// the thread's stack does not limit the depth; memory grows with the depth, not with the
// number of entries. One path buffer is extended and cut back for every entry. Files go to
// the stamping threads in walk order, each numbered in that order so the failures can be
// reported in it.
//
// Each folder is opened once: that handle lists it (GetFileInformationByHandleEx, which also
// gives every subfolder's file id for the loop guard) and, with the folder option, writes its
// time once everything inside is done. Under Wine every open costs in proportion to the path's
// depth, and GetFileInformationByHandle far more (it asks the mount manager for the volume), so
// the full identity is read only when file ids match or are unknown.
//
// The listings stay on this thread. Listing the next subfolders ahead on the stamping threads
// was tried for shares and made them slower: Wine 8 lists under one lock for the whole process,
// a stat of every entry included, so listings never overlap there.
class Walker {
 public:
  // seq: the place in walk order of the target's first entry.
  Walker(Batch& batch, TFileAccess& access, std::size_t seq)
      : batch_(batch), access_(access), seq_(seq) {}
  std::size_t Seq() const { return seq_; }

  // path: a \\?\ name.
  void Run(const std::wstring& path) {
    try {
      path_ = path;
      if (!batch_.Halted()) Target();
    } catch (...) {
      batch_.Abort();
    }
    // Folders left unfinished by a stop keep their times and are not failures.
    while (!stack_.empty()) {
      Folder* const folder = stack_.back().folder;
      stack_.pop_back();
      batch_.Done(folder, access_);
    }
  }

 private:
  // Small for the many folders of a deep path, large once a folder proves big: under Wine
  // every listing call is a round trip to the server.
  static constexpr DWORD kSmallListing = 4096;  // still holds any one entry (255 characters)
  static constexpr DWORD kLargeListing = 65536;
  static constexpr DWORD kRefill = 0xFFFFFFFF;

  struct Frame {
    Folder* folder = nullptr;
    std::unique_ptr<LONGLONG[]> listing;  // 8-byte aligned, as the entries need
    DWORD listingBytes = 0;
    DWORD next = kRefill;                 // offset of the next entry in listing
    bool started = false;                 // listing has been filled before
    bool listed = false;                  // the folder has no more entries
    DWORD listError = 0;                  // the listing stopped early with this error
    std::size_t length = 0;               // of path_ for this folder
    LONGLONG fileId = 0;                  // from the parent's listing; 0 when unknown
    bool identified = false;              // volume and index below are read
    ULONGLONG volume = 0, index[2] = {};  // index: all zeros when the system gave no id
    std::wstring name;                    // with no id: the folder's name on its volume
  };

  void Target() {
    const DWORD attributes = GetFileAttributesW(path_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      batch_.Fail(seq_++, path_, FailReasonOf(error), error);
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      File(attributes, 0, nullptr);
    } else {
      // A named folder is followed even when it is a link.
      Enter(0, 0);
      Walk();
    }
  }

  void Walk() {
    while (!stack_.empty() && !batch_.Halted()) {
      Frame& frame = stack_.back();
      const FILE_ID_BOTH_DIR_INFO* entry = NextEntry(frame);
      if (entry == nullptr) {
        Leave();
        continue;
      }
      const wchar_t* name = entry->FileName;
      const std::size_t nameLength = entry->FileNameLength / sizeof(wchar_t);
      if (name[0] == L'.' && (nameLength == 1 || (nameLength == 2 && name[1] == L'.'))) continue;
      path_.resize(frame.length);
      if (!IsSep(path_.back())) path_ += L'\\';
      const std::size_t nameStart = path_.size();
      path_.append(name, nameLength);
      const DWORD attributes = entry->FileAttributes;
      if (IsLink(*entry))
        batch_.Fail(seq_++, path_, TFailReason::Link, 0);  // it may lead anywhere
      else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        File(attributes, entry->FileId.QuadPart, frame.folder, nameStart);
      else
        Enter(entry->FileId.QuadPart, nameStart);  // may move frame
    }
  }

  // folder: where the file was listed, its name in path_ from nameStart; null for a named
  // file, which is followed if a link.
  void File(DWORD attributes, LONGLONG fileId, Folder* folder, std::size_t nameStart = 0) {
    const std::size_t seq = seq_++;
    if (!batch_.Storable()) {
      batch_.Fail(seq, path_, TFailReason::CannotSetTime, 0);
      return;
    }
    Job job;
    job.folder = folder;
    job.seq = seq;
    job.fileId = fileId;
    job.attributes = attributes;
    job.path = path_;
    job.nameStart = nameStart;
    if (folder != nullptr) ++folder->pending;
    try {
      batch_.Submit(std::move(job), access_);
    } catch (...) {
      batch_.Done(folder, access_);  // not queued
      throw;
    }
  }

  // nameStart: where the folder's name begins in path_; 0 for the target.
  void Enter(LONGLONG fileId, std::size_t nameStart) {
    Folder* const parent = stack_.empty() ? nullptr : stack_.back().folder;
    auto folder = std::make_unique<Folder>();
    // FILE_READ_ATTRIBUTES: GetFileInformationByHandle needs it on Windows.
    const DWORD rights = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
    TRefusal why;
    if (batch_.FolderOption()) {
      folder->handle = access_.OpenFolder(path_, rights | GENERIC_WRITE, why);
      folder->writable = folder->handle.valid();
    }
    if (!folder->handle.valid()) folder->handle = access_.OpenFolder(path_, rights, why);
    if (!folder->handle.valid()) {
      batch_.Fail(seq_++, path_, why.Reason, why.Error);
      return;
    }
    Frame frame;
    frame.folder = folder.get();
    frame.length = path_.size();
    frame.fileId = fileId;
    if (OnWalkPath(frame)) {
      batch_.Fail(seq_++, path_, TFailReason::Link, 0);  // reached again through a mount point
      return;
    }
    folder->path = path_;
    if (TFileAccess::NamesHideFileLinks())
      folder->resolvedName = ResolvedName(parent, *folder, nameStart);
    frame.listingBytes = kSmallListing;
    frame.listing.reset(new LONGLONG[kSmallListing / sizeof(LONGLONG)]);
    stack_.push_back(std::move(frame));
    folder->parent = parent;
    if (parent != nullptr) ++parent->pending;
    folder.release();
    batch_.SetFolder(path_);
  }

  // The folder's name as Wine resolves it, for IsHiddenFileLink. Below the target, folders are not
  // links, so it is the parent's and the listed name; the target may be a link.
  std::wstring ResolvedName(const Folder* parent, const Folder& folder, std::size_t nameStart) {
    std::size_t end = path_.size();
    while (end > nameStart && IsSep(path_[end - 1])) --end;
    if (parent == nullptr) return access_.ResolvedFolderName(folder.handle.get(), path_);
    if (parent->resolvedName.empty()) return {};
    std::wstring name = parent->resolvedName + path_.substr(nameStart, end - nameStart);
    if (!IsSep(name.back())) name += L'\\';
    return name;
  }

  // The volume and the file id. FileIdInfo (Windows 8 on) first: under Wine it is one fstat,
  // where GetFileInformationByHandle asks the mount manager for the volume, which made a deep
  // tree's walk a quarter slower than the bare loop.
  bool Identify(Frame& frame) {
    if (!frame.identified) {
      const HANDLE h = frame.folder->handle.get();
      IdInfo id;
      BY_HANDLE_FILE_INFORMATION info;
      if (GetFileInformationByHandleEx(h, kFileIdInfo, &id, sizeof id)) {
        frame.volume = id.volume;
        std::memcpy(frame.index, id.fileId, sizeof frame.index);
      } else if (GetFileInformationByHandle(h, &info)) {
        frame.volume = info.dwVolumeSerialNumber;
        frame.index[0] = static_cast<ULONGLONG>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
        frame.index[1] = 0;
      } else {
        return false;
      }
      frame.identified = true;
      if (frame.fileId == 0) frame.fileId = static_cast<LONGLONG>(frame.index[0]);
      // Some file systems and redirectors give no id (zeros, which callers are to ignore):
      // then the name the system resolved tells folders apart, and failing that the walk's own.
      if (!HasId(frame)) {
        frame.name = access_.NameOnVolume(h);
        if (frame.name.empty()) frame.name = path_.substr(0, frame.length);
      }
    }
    return true;
  }

  static bool HasId(const Frame& f) { return f.index[0] != 0 || f.index[1] != 0; }

  // A folder already on the walk path would be walked forever. One that cannot be
  // identified counts as such.
  bool OnWalkPath(Frame& frame) {
    if (stack_.empty()) return !Identify(frame);  // the target: its id for the ones below
    for (Frame& f : stack_) {
      // The file ids from the listings are the file indexes; different ones settle it.
      if (ListedIdsDiffer(frame.fileId, f.fileId)) continue;
      if (!Identify(frame) || !Identify(f)) return true;
      if (f.volume != frame.volume) continue;
      if (HasId(f) && HasId(frame)
              ? f.index[0] == frame.index[0] && f.index[1] == frame.index[1]
              : !f.name.empty() && f.name == frame.name)
        return true;
    }
    return false;
  }

  const FILE_ID_BOTH_DIR_INFO* NextEntry(Frame& frame) {
    if (frame.next == kRefill) {
      if (frame.listed) return nullptr;
      if (frame.started && frame.listingBytes < kLargeListing) {
        frame.listingBytes = kLargeListing;
        frame.listing.reset(new LONGLONG[kLargeListing / sizeof(LONGLONG)]);
      }
      frame.started = true;
      if (!GetFileInformationByHandleEx(frame.folder->handle.get(), FileIdBothDirectoryInfo,
                                        frame.listing.get(), frame.listingBytes)) {
        const DWORD error = GetLastError();
        // A drive root has no "." entry, so an empty one lists nothing at all.
        if (error != ERROR_NO_MORE_FILES && error != ERROR_FILE_NOT_FOUND)
          frame.listError = error;
        frame.listed = true;
        return nullptr;
      }
      frame.next = 0;
    }
    const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(
        reinterpret_cast<const BYTE*>(frame.listing.get()) + frame.next);
    frame.next = entry->NextEntryOffset != 0 ? frame.next + entry->NextEntryOffset : kRefill;
    return entry;
  }

  // The folder's own time takes its place in walk order here, after everything inside it; it
  // is written once the last of those is done.
  void Leave() {
    Folder* const folder = stack_.back().folder;
    const DWORD listError = stack_.back().listError;
    path_.resize(stack_.back().length);
    folder->seq = seq_++;
    if (listError != 0) {
      batch_.Fail(folder->seq, path_, TFailReason::Unlistable, listError);
      folder->listed = false;
    }
    if (!batch_.FolderOption()) folder->handle.close();
    stack_.pop_back();
    batch_.Done(folder, access_);
  }

  Batch& batch_;
  TFileAccess& access_;
  std::vector<Frame> stack_;
  std::wstring path_;    // always the \\?\ form
  std::size_t seq_;  // of the next entry, in walk order
};

}  // namespace

unsigned TPoolGrowth::After(unsigned threads, double rate) {
  if (!growing_) return threads;
  if (threads >= kMaxThreads || (rateBefore_ > 0 && rate < rateBefore_ * 1.1)) {
    growing_ = false;
    return threads;
  }
  rateBefore_ = rate;
  return std::min(kMaxThreads, threads + std::max(2u, threads / 2));
}

// Each file costs an open, a set-time and a close that mostly wait: on the file system driver,
// on a network share's server (about a millisecond each), under Wine on its server. So more of
// them in flight than processors still pays, at least 2.
unsigned StampingThreads(unsigned requested) {
  if (requested == 0) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    requested = info.dwNumberOfProcessors;
  }
  return requested <= 1 ? 0 : std::min(requested, kMaxThreads);
}

std::optional<FILETIME> StoredTime(rtl::TDateTime instant, rtl::TDateTime correction) {
  if (!std::isfinite(instant)) return std::nullopt;
  SYSTEMTIME local, universal;
  TIME_ZONE_INFORMATION rules;
  try {
    local = rtl::DateTimeToSystemTime(instant);
  } catch (const rtl::Exception&) {
    return std::nullopt;  // before 1601, which no SYSTEMTIME holds
  }
  if (!rtl::ZoneRules(local.wYear, rules)) return CorrectedTime(instant, correction);
  FILETIME ft;
  if (!TzSpecificLocalTimeToSystemTime(&rules, &local, &universal) ||
      !SystemTimeToFileTime(&universal, &ft))
    return std::nullopt;
  return ft;
}

TStampResult RunBatch(const TBatch& request, TBatchProgress& progress) {
  progress.Changed = 0;
  progress.Failed = 0;
  Batch batch(request, progress);
  TFileAccess access;
  std::size_t seq = 0;
  for (const std::wstring& target : request.Targets) {
    if (batch.Halted()) break;
    const std::wstring exact = rtl::ExactPath(target);
    if (exact.empty()) {
      batch.Fail(seq++, target, TFailReason::NotFound, ERROR_INVALID_NAME);
      continue;
    }
    Walker walker(batch, access, seq);
    walker.Run(exact);
    seq = walker.Seq();
    batch.Drain();
  }
  return batch.Finish();
}

}  // namespace zel
