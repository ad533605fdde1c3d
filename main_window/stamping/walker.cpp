// main_window/stamping/walker.cpp
#include "main_window/stamping/stamping.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "rtl/clock_win.h"
#include "rtl/files_win.h"

namespace zel {
namespace {

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

// The stored time for an instant by a fixed correction. The correction is taken off in
// elapsed time: before 1899-12-30 a TDateTime's fraction counts the time of day away from
// zero, so a plain subtraction would move the clock the wrong way there.
bool CorrectedTime(rtl::TDateTime instant, rtl::TDateTime correction, FILETIME& ft) {
  if (!std::isfinite(correction)) return false;
  const double elapsed =
      (instant >= 0 ? instant : rtl::DateOf(instant) + rtl::TimeOf(instant)) - correction;
  const double day = std::floor(elapsed);
  try {
    ft = rtl::DateTimeToFileTime(rtl::ComposeDateTime(day, elapsed - day));
    return true;
  } catch (const rtl::Exception&) {
    return false;  // before 1601 or beyond 9999
  }
}

// A \\?\ path as the user knows it.
std::wstring OrdinaryPath(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0 && path.size() >= 6 && path[5] == L':')
    return path.substr(4);
  return path;
}

// The \\?\ form of an absolute path, at any length: behind the prefix the file functions
// take each name as it is, so "a." and "b " are not cut to "a" and "b", and "nul" or
// "con.txt" in a folder are files there, not devices.
std::wstring ApiPath(const std::wstring& ordinary) {
  if (ordinary.size() >= 4 && IsSep(ordinary[0]) && IsSep(ordinary[1]) &&
      (ordinary[2] == L'?' || ordinary[2] == L'.') && IsSep(ordinary[3]))
    return L"\\\\?\\" + ordinary.substr(4);  // \\.\ is already resolved by the full-path call
  if (ordinary.size() >= 2 && IsSep(ordinary[0]) && IsSep(ordinary[1]))
    return L"\\\\?\\UNC\\" + ordinary.substr(2);
  return L"\\\\?\\" + ordinary;
}

// While it lives, this thread sees C:\Windows\System32 itself instead of SysWOW64, as a 64-bit
// program would: the user named that file. The functions are looked up at run time, since
// 32-bit Windows has none.
class NoRedirection {
 public:
  NoRedirection() { Off(); }
  ~NoRedirection() { On(); }
  NoRedirection(const NoRedirection&) = delete;
  NoRedirection& operator=(const NoRedirection&) = delete;

  // Code that is not the walk's, such as the caller's hook, runs with the redirection on.
  template <typename F>
  void Redirected(F&& f) {
    On();
    struct Again {
      NoRedirection& r;
      ~Again() { r.Off(); }
    } again{*this};
    f();
  }

 private:
  struct Functions {
    BOOL(WINAPI* disable)(PVOID*) = nullptr;
    BOOL(WINAPI* revert)(PVOID) = nullptr;
    Functions() {
      const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
      void* d = reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection"));
      void* r = reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection"));
      if (d == nullptr || r == nullptr) return;
      disable = reinterpret_cast<BOOL(WINAPI*)(PVOID*)>(d);
      revert = reinterpret_cast<BOOL(WINAPI*)(PVOID)>(r);
    }
  };
  static const Functions& Get() {
    static const Functions functions;
    return functions;
  }
  void Off() {
    if (!off_ && Get().disable != nullptr) off_ = Get().disable(&old_) != FALSE;
  }
  void On() {
    if (off_) Get().revert(old_);
    off_ = false;
  }

  PVOID old_ = nullptr;
  bool off_ = false;
};

// A symbolic link or junction (a name-surrogate reparse point). Other reparse points, such as
// cloud-file placeholders, are ordinary folders to walk. For a reparse point the listing
// carries the tag in EaSize; Wine gives 0 for its symbolic links.
bool IsLink(const FILE_ID_BOTH_DIR_INFO& entry) {
  if ((entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  return entry.EaSize == 0 || IsReparseTagNameSurrogate(entry.EaSize);
}

// Wine (8 at least) lists a symbolic link to a file as that file, with no reparse-point
// attribute; only the name of an open handle, which Wine resolves, tells a link.
bool NamesHideFileLinks() {
  static const bool wine =
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

// The name of an open file or folder within its volume as Wine resolves it: links followed,
// trailing dots and spaces dropped from the last name only. Empty on failure.
std::wstring HandleName(HANDLE h, std::vector<LONGLONG>& buffer) {
  if (buffer.empty()) buffer.resize(128);
  for (;;) {
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
    if (GetFileInformationByHandleEx(h, FileNameInfo, info, bytes))
      return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
    if (GetLastError() != ERROR_MORE_DATA || bytes > 65536) return {};
    buffer.resize(buffer.size() * 4);
  }
}

// The length of s[0, end) without trailing dots and spaces.
std::size_t Trimmed(const std::wstring& s, std::size_t end) {
  while (end > 0 && (s[end - 1] == L'.' || s[end - 1] == L' ')) --end;
  return end;
}

// The walk holds a folder for as long as it is inside; others may still write, rename and
// delete in it meanwhile.
rtl::FileHandle OpenFolder(const std::wstring& path, DWORD access) {
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  return rtl::FileHandle(CreateFileW(path.c_str(), access, all, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

class Locked {
 public:
  explicit Locked(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~Locked() { ReleaseSRWLockExclusive(&lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  SRWLOCK& lock_;
};

// A folder of the walk. It lives until everything inside it is done, possibly on a stamping
// thread, and then has its own time written.
struct Folder {
  Folder* parent = nullptr;
  std::atomic<long> pending{1};  // entries inside not yet done, plus one until it is listed
  std::wstring path;             // the \\?\ form
  std::wstring resolvedName;     // under Wine, see IsFileLink; empty when unknown
  rtl::FileHandle handle;
  bool writable = false;
  bool listed = true;                // false: the listing failed, its time is left alone
  FILETIME creation{}, lastWrite{};  // its own times before the walk
  std::size_t seq = 0;               // the place of its own time in walk order
};

// A file for a stamping thread.
struct Job {
  Folder* folder = nullptr;  // null for a named file
  std::size_t seq = 0;       // the file's place in walk order
  FILETIME creation{}, lastWrite{};
  std::wstring name;  // within folder; for a named file its whole \\?\ path
};

constexpr unsigned kMaxThreads = 8;  // see StampingThreads

// What every thread of one walk shares: the instant, the counts and failures so far, and the
// queue of files from the walking thread to the stamping threads.
class Batch {
 public:
  // Each thread that opens files has its own.
  struct Context {
    NoRedirection redirection;
    std::wstring path;
    std::vector<LONGLONG> names;  // for HandleName
  };

  Batch(TStampResult& result, bool folderOption, const FILETIME* time, TBatchProgress* progress,
        const TBeforeChange& beforeChange, unsigned threads)
      : result_(result), folderOption_(folderOption), time_(time), progress_(progress),
        beforeChange_(beforeChange), threads_(StampingThreads(threads)),
        room_(TStampResult::MaxFailures -
              std::min(result.Failures.size(), TStampResult::MaxFailures)) {}
  ~Batch() { Join(); }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  bool FolderOption() const { return folderOption_; }
  void SetFolder(const std::wstring& path) {
    if (progress_ != nullptr) progress_->SetFolder(OrdinaryPath(path));
  }
  bool Storable() const { return time_ != nullptr; }

  // A stop asked for, or a hook failed: what is not begun is left.
  bool Halted() {
    if (error_.load()) return true;
    if (progress_ == nullptr || !progress_->Stop.load(std::memory_order_relaxed)) return false;
    stopped_ = true;
    return true;
  }

  void Fail(std::size_t seq, const std::wstring& path, TFailReason reason, DWORD error) {
    ++failed_;
    if (progress_ != nullptr) ++progress_->Failed;
    // Only the first in walk order are kept, whichever thread met them first.
    Locked lock(failuresLock_);
    auto last = std::max_element(failures_.begin(), failures_.end(),
                                 [](const Failure& a, const Failure& b) { return a.seq < b.seq; });
    if (failures_.size() < room_)
      failures_.push_back({seq, {OrdinaryPath(path), reason, error}});
    else if (last != failures_.end() && seq < last->seq)
      *last = {seq, {OrdinaryPath(path), reason, error}};
  }
  void Fail(std::size_t seq, const std::wstring& path, DWORD error) {
    Fail(seq, path, FailReasonOf(error), error);
  }

  // From the walking thread: the file goes to a stamping thread, or is stamped here when
  // there are none, or when it is a named file alone.
  void Submit(Job&& job, Context& context) {
    if (job.folder == nullptr || !StartPool()) {
      Stamp(job, context);
      return;
    }
    bool wake;
    {
      Locked lock(queueLock_);
      while (queue_.size() >= kQueued) {
        walkerWaits_ = true;
        SleepConditionVariableSRW(&roomReady_, &queueLock_, INFINITE, 0);
      }
      queue_.push_back(std::move(job));
      wake = idle_ > 0;
    }
    if (wake) WakeConditionVariable(&jobsReady_);
  }

  void Stamp(const Job& job, Context& context) {
    try {
      if (!Halted()) StampFile(job, context);
    } catch (...) {
      Abort();
    }
    Done(job.folder, context);
  }

  // One entry inside folder is done; the folders it completes get their own times.
  void Done(Folder* folder, Context& context) {
    while (folder != nullptr && --folder->pending == 0) {
      try {
        if (folderOption_ && folder->listed && !Halted()) StampFolder(*folder, context);
      } catch (...) {
        Abort();
      }
      Folder* const parent = folder->parent;
      delete folder;
      folder = parent;
    }
  }

  // From the walking thread once the walk is over: waits for the stamping threads, then adds
  // this walk to the result. A hook's exception comes out here.
  void Finish() {
    Join();
    result_.Changed += changed_;
    result_.Failed += failed_;
    std::sort(failures_.begin(), failures_.end(),
              [](const Failure& a, const Failure& b) { return a.seq < b.seq; });
    for (Failure& f : failures_) result_.Failures.push_back(std::move(f.failure));
    failures_.clear();
    if (stopped_) result_.Stopped = true;
    if (error_.load()) std::rethrow_exception(exception_);
  }

  void Abort() {
    Locked lock(failuresLock_);
    if (!error_.load()) {
      exception_ = std::current_exception();
      error_ = true;
    }
  }

 private:
  // A folder of a million files never holds a million paths. An entry with its path takes some
  // hundreds of bytes, and the walk outruns the stamping, so the queue is always full: about a
  // thousand keeps the pool within a MiB of the one-thread walk (4,096 cost 2.3 MiB) and still
  // keeps eight threads fed. The walking thread, once the queue is full, waits until half of
  // it is stamped rather than waking for every free place.
  static constexpr std::size_t kQueued = 1024;
  static constexpr DWORD kStackSize = 256 * 1024;  // the hook runs on it too

  struct Failure {
    std::size_t seq;
    TStampFailure failure;
  };

  void StampFile(const Job& job, Context& c) {
    const std::wstring* path = &job.name;
    if (job.folder != nullptr) {
      c.path = job.folder->path;
      if (!IsSep(c.path.back())) c.path += L'\\';
      c.path += job.name;
      path = &c.path;
    }
    rtl::FileHandle file(CreateFileW(path->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      Fail(job.seq, *path, GetLastError());
    } else if (job.folder != nullptr && NamesHideFileLinks() &&
               IsFileLink(file.get(), *job.folder, job.name, c)) {
      Fail(job.seq, *path, TFailReason::Link, 0);
    } else {
      BeforeChange(*path, job.creation, job.lastWrite, c);
      if (SetFileTime(file.get(), time_, nullptr, time_))
        Changed();
      else
        Fail(job.seq, *path, TFailReason::CannotSetTime, GetLastError());
    }
  }

  // The file's resolved name is not the one it was listed under.
  static bool IsFileLink(HANDLE file, const Folder& folder, const std::wstring& name,
                         Context& c) {
    const std::wstring& dir = folder.resolvedName;
    if (dir.empty()) return false;  // unknown: settles nothing
    const std::wstring resolved = HandleName(file, c.names);
    const std::size_t kept = Trimmed(name, name.size());
    return !resolved.empty() &&
           (resolved.size() != dir.size() + kept || resolved.compare(0, dir.size(), dir) != 0 ||
            resolved.compare(dir.size(), kept, name, 0, kept) != 0);
  }

  void StampFolder(Folder& f, Context& c) {
    if (!f.writable) {
      // Held by another program on the way in; it may have let go.
      f.handle.close();
      rtl::FileHandle h = OpenFolder(f.path, GENERIC_WRITE);
      const DWORD error = GetLastError();
      if (!h.valid()) {
        Fail(f.seq, f.path, error);
        return;
      }
      f.handle = std::move(h);
    }
    if (time_ == nullptr) {
      Fail(f.seq, f.path, TFailReason::CannotSetTime, 0);
      return;
    }
    BeforeChange(f.path, f.creation, f.lastWrite, c);
    if (SetFileTime(f.handle.get(), nullptr, nullptr, time_))
      Changed();
    else
      Fail(f.seq, f.path, TFailReason::CannotSetTime, GetLastError());
  }

  void BeforeChange(const std::wstring& path, const FILETIME& creation, const FILETIME& lastWrite,
                    Context& c) {
    if (beforeChange_)
      c.redirection.Redirected([&] { beforeChange_(OrdinaryPath(path), creation, lastWrite); });
  }

  void Changed() {
    ++changed_;
    if (progress_ != nullptr) ++progress_->Changed;
  }

  // Started at the first file, so a tree with none starts no thread.
  bool StartPool() {
    if (!poolTried_) {
      poolTried_ = true;
      for (unsigned i = 0; i < threads_; ++i) {
        HANDLE h = CreateThread(nullptr, kStackSize, Work, this,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (h == nullptr) break;
        workers_[started_++] = h;
      }
    }
    return started_ > 0;
  }

  static DWORD WINAPI Work(void* self) {
    Batch& batch = *static_cast<Batch*>(self);
    Context context;
    Job job;
    while (batch.Take(job)) batch.Stamp(job, context);
    return 0;
  }

  bool Take(Job& job) {
    bool wake;
    {
      Locked lock(queueLock_);
      while (queue_.empty() && !closed_) {
        ++idle_;
        SleepConditionVariableSRW(&jobsReady_, &queueLock_, INFINITE, 0);
        --idle_;
      }
      if (queue_.empty()) return false;
      job = std::move(queue_.front());
      queue_.pop_front();
      wake = walkerWaits_ && queue_.size() <= kQueued / 2;
      if (wake) walkerWaits_ = false;
    }
    if (wake) WakeConditionVariable(&roomReady_);
    return true;
  }

  void Join() {
    if (started_ == 0) return;
    {
      Locked lock(queueLock_);
      closed_ = true;
    }
    WakeAllConditionVariable(&jobsReady_);
    WaitForMultipleObjects(started_, workers_, TRUE, INFINITE);
    for (unsigned i = 0; i < started_; ++i) CloseHandle(workers_[i]);
    started_ = 0;
  }

  TStampResult& result_;
  const bool folderOption_;
  const FILETIME* const time_;  // null when the instant cannot be stored
  TBatchProgress* const progress_;
  const TBeforeChange& beforeChange_;
  const unsigned threads_;

  std::atomic<std::size_t> changed_{0}, failed_{0};
  std::atomic<bool> stopped_{false}, error_{false};
  SRWLOCK failuresLock_ = SRWLOCK_INIT;
  const std::size_t room_;  // failures kept, the first in walk order
  std::vector<Failure> failures_;
  std::exception_ptr exception_;

  SRWLOCK queueLock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE jobsReady_ = CONDITION_VARIABLE_INIT, roomReady_ = CONDITION_VARIABLE_INIT;
  std::deque<Job> queue_;
  unsigned idle_ = 0;
  bool walkerWaits_ = false, closed_ = false;
  bool poolTried_ = false;
  unsigned started_ = 0;
  HANDLE workers_[kMaxThreads] = {};
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
class Walker {
 public:
  Walker(Batch& batch, Batch::Context& context) : batch_(batch), context_(context) {}

  // path: the \\?\ form of an absolute path.
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
      batch_.Done(folder, context_);
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
    DWORD volume = 0, indexHigh = 0, indexLow = 0;
  };

  void Target() {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) {
      batch_.Fail(seq_++, path_, GetLastError());
    } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      File(data.dwFileAttributes, data.ftCreationTime, data.ftLastWriteTime, nullptr);
    } else {
      // A named folder is followed even when it is a link.
      Enter(0, data.ftCreationTime, data.ftLastWriteTime, 0);
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
      const FILETIME creation = ToFileTime(entry->CreationTime);
      const FILETIME lastWrite = ToFileTime(entry->LastWriteTime);
      if (IsLink(*entry))
        batch_.Fail(seq_++, path_, TFailReason::Link, 0);  // it may lead anywhere
      else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        File(attributes, creation, lastWrite, frame.folder, nameStart);
      else
        Enter(entry->FileId.QuadPart, creation, lastWrite, nameStart);  // may move frame
    }
  }

  // folder: where the file was listed, its name in path_ from nameStart; null for a named
  // file, which is followed if a link.
  void File(DWORD attributes, const FILETIME& creation, const FILETIME& lastWrite,
            Folder* folder, std::size_t nameStart = 0) {
    const std::size_t seq = seq_++;
    // Wine running as root opens read-only files for writing where Windows refuses.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      batch_.Fail(seq, path_, TFailReason::ReadOnly, ERROR_ACCESS_DENIED);
      return;
    }
    if (!batch_.Storable()) {
      batch_.Fail(seq, path_, TFailReason::CannotSetTime, 0);
      return;
    }
    Job job;
    job.folder = folder;
    job.seq = seq;
    job.creation = creation;
    job.lastWrite = lastWrite;
    job.name = path_.substr(nameStart);
    if (folder != nullptr) ++folder->pending;
    try {
      batch_.Submit(std::move(job), context_);
    } catch (...) {
      batch_.Done(folder, context_);  // not queued
      throw;
    }
  }

  // nameStart: where the folder's name begins in path_; 0 for the target.
  void Enter(LONGLONG fileId, const FILETIME& creation, const FILETIME& lastWrite,
             std::size_t nameStart) {
    Folder* const parent = stack_.empty() ? nullptr : stack_.back().folder;
    auto folder = std::make_unique<Folder>();
    // FILE_READ_ATTRIBUTES: GetFileInformationByHandle needs it on Windows.
    const DWORD access = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
    if (batch_.FolderOption()) {
      folder->handle = OpenFolder(path_, access | GENERIC_WRITE);
      folder->writable = folder->handle.valid();
    }
    if (!folder->handle.valid()) folder->handle = OpenFolder(path_, access);
    if (!folder->handle.valid()) {
      batch_.Fail(seq_++, path_, GetLastError());
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
    folder->creation = creation;
    folder->lastWrite = lastWrite;
    if (NamesHideFileLinks()) folder->resolvedName = ResolvedName(parent, *folder, nameStart);
    frame.listingBytes = kSmallListing;
    frame.listing.reset(new LONGLONG[kSmallListing / sizeof(LONGLONG)]);
    stack_.push_back(std::move(frame));
    folder->parent = parent;
    if (parent != nullptr) ++parent->pending;
    folder.release();
    batch_.SetFolder(path_);
  }

  // The folder's name as Wine resolves it, for IsFileLink. Below the target, folders are not
  // links, so it is the parent's and the listed name; the target may be a link.
  std::wstring ResolvedName(const Folder* parent, const Folder& folder, std::size_t nameStart) {
    std::size_t end = path_.size();
    while (end > nameStart && IsSep(path_[end - 1])) --end;
    std::wstring name;
    if (parent != nullptr) {
      if (parent->resolvedName.empty()) return {};
      name = parent->resolvedName + path_.substr(nameStart, end - nameStart);
    } else {
      name = HandleName(folder.handle.get(), context_.names);
      if (name.empty()) return {};
      // Wine drops trailing dots and spaces from the last name only.
      const std::size_t kept = Trimmed(path_, end);
      name.append(path_, kept, end - kept);
    }
    if (!IsSep(name.back())) name += L'\\';
    return name;
  }

  bool Identify(Frame& frame) {
    if (!frame.identified) {
      BY_HANDLE_FILE_INFORMATION info;
      if (!GetFileInformationByHandle(frame.folder->handle.get(), &info)) return false;
      frame.volume = info.dwVolumeSerialNumber;
      frame.indexHigh = info.nFileIndexHigh;
      frame.indexLow = info.nFileIndexLow;
      frame.identified = true;
      if (frame.fileId == 0)
        frame.fileId = static_cast<LONGLONG>(static_cast<ULONGLONG>(info.nFileIndexHigh) << 32 |
                                             info.nFileIndexLow);
    }
    return true;
  }

  // A folder already on the walk path would be walked forever. One that cannot be
  // identified counts as such.
  bool OnWalkPath(Frame& frame) {
    if (stack_.empty()) return !Identify(frame);  // the target: its id for the ones below
    for (Frame& f : stack_) {
      // The file ids from the listings are the file indexes; different ones settle it.
      if (ListedIdsDiffer(frame.fileId, f.fileId)) continue;
      if (!Identify(frame) || !Identify(f)) return true;
      if (f.indexLow == frame.indexLow && f.indexHigh == frame.indexHigh &&
          f.volume == frame.volume)
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
    batch_.Done(folder, context_);
  }

  static FILETIME ToFileTime(const LARGE_INTEGER& t) {
    return FILETIME{t.LowPart, static_cast<DWORD>(t.HighPart)};
  }

  Batch& batch_;
  Batch::Context& context_;
  std::vector<Frame> stack_;
  std::wstring path_;    // always the \\?\ form
  std::size_t seq_ = 0;  // of the next entry, in walk order
};

}  // namespace

TFailReason FailReasonOf(unsigned long error) {
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return TFailReason::InUse;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return TFailReason::NotFound;
    case ERROR_ACCESS_DENIED:
      return TFailReason::AccessDenied;
    default:
      return TFailReason::Other;
  }
}

bool ListedIdsDiffer(long long a, long long b) { return a != 0 && b != 0 && a != b; }

// Each file costs an open, a set-time and a close that mostly wait: on the file system driver,
// on a network share's server (about a millisecond each), under Wine on its server. So more of
// them in flight than processors still pays, at least 2; past 8 a local disk gains nothing and
// a share's server only sees a burst.
unsigned StampingThreads(unsigned requested) {
  if (requested == 0) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    requested = info.dwNumberOfProcessors;
  }
  return requested <= 1 ? 0 : std::min(requested, kMaxThreads);
}

bool TStamper::StoredTime(rtl::TDateTime instant, FILETIME& ft) const {
  if (!std::isfinite(instant)) return false;
  SYSTEMTIME local, universal;
  TIME_ZONE_INFORMATION rules;
  try {
    local = rtl::DateTimeToSystemTime(instant);
  } catch (const rtl::Exception&) {
    return false;  // before 1601, which no SYSTEMTIME holds
  }
  if (!rtl::ZoneRules(local.wYear, rules)) return CorrectedTime(instant, TimeCorrection, ft);
  return TzSpecificLocalTimeToSystemTime(&rules, &local, &universal) &&
         SystemTimeToFileTime(&universal, &ft);
}

void TStamper::StampPath(const std::wstring& path, rtl::TDateTime instant) {
  FILETIME ft;
  StampPath(path, StoredTime(instant, ft) ? std::optional<FILETIME>(ft) : std::nullopt);
}

void TStamper::StampPath(const std::wstring& path, const std::optional<FILETIME>& stored) {
  // A \\?\ path is taken as it is; Wine's GetFullPathNameW would cut trailing dots and spaces.
  const bool literal = path.compare(0, 4, L"\\\\?\\") == 0;
  const std::wstring full = OrdinaryPath(literal ? path : rtl::ExpandFileName(path));
  if (full.empty()) {
    ++Result.Failed;
    if (Result.Failures.size() < TStampResult::MaxFailures)
      Result.Failures.push_back({path, TFailReason::NotFound, ERROR_INVALID_NAME});
    return;
  }
  Batch batch(Result, FolderOption, stored ? &*stored : nullptr, Progress, BeforeChange, Threads);
  Batch::Context context;
  Walker(batch, context).Run(ApiPath(full));
  batch.Finish();
}

}  // namespace zel
