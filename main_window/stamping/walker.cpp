// main_window/stamping/walker.cpp
#include "main_window/stamping/stamping.h"

#include <windows.h>

#include <cmath>
#include <memory>
#include <utility>

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

void RecordFailure(TStampResult& result, TStampFailure failure) {
  ++result.Failed;
  if (result.Failures.size() < TStampResult::MaxFailures)
    result.Failures.push_back(std::move(failure));
}

TFailReason ReasonOf(DWORD error) {
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

// The name of an open file or folder within its volume, as Wine resolves it; empty on failure.
std::wstring HandleName(HANDLE h, std::vector<LONGLONG>& buffer) {
  if (buffer.empty()) buffer.resize((sizeof(FILE_NAME_INFO) + 65536) / sizeof(LONGLONG));
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
  if (!GetFileInformationByHandleEx(h, FileNameInfo, info,
                                    static_cast<DWORD>(buffer.size() * sizeof(LONGLONG))))
    return {};
  return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

// Depth-first walk with its own stack of open folders, so the thread's stack does not limit
// the depth; memory grows with the depth, not with the number of entries. One path buffer is
// extended and cut back for every entry.
//
// Each folder is opened once: that handle lists it (GetFileInformationByHandleEx, which also
// gives every subfolder's file id for the loop guard) and, with the folder option, writes its
// time on the way out. Under Wine every open costs in proportion to the path's depth, and
// GetFileInformationByHandle far more (it asks the mount manager for the volume), so the full
// identity is read only when file ids match or are unknown.
class Walker {
 public:
  Walker(TStampResult& result, bool folderOption, const FILETIME* time, TBatchProgress* progress,
         const TBeforeChange& beforeChange, NoRedirection& redirection)
      : result_(result), folderOption_(folderOption), time_(time), progress_(progress),
        beforeChange_(beforeChange), redirection_(redirection) {}

  // path: the \\?\ form of an absolute path.
  void Run(const std::wstring& path) {
    path_ = path;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (Stopped()) return;
    if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) {
      Fail(GetLastError());
    } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      StampFile(data.dwFileAttributes, data.ftCreationTime, data.ftLastWriteTime);
    } else {
      // A named folder is followed even when it is a link.
      Enter(0, data.ftCreationTime, data.ftLastWriteTime);
      Walk();
    }
  }

 private:
  // Small for the many folders of a deep path, large once a folder proves big: under Wine
  // every listing call is a round trip to the server.
  static constexpr DWORD kSmallListing = 4096;  // still holds any one entry (255 characters)
  static constexpr DWORD kLargeListing = 65536;
  static constexpr DWORD kRefill = 0xFFFFFFFF;

  struct Frame {
    rtl::FileHandle folder;
    std::unique_ptr<LONGLONG[]> listing;  // 8-byte aligned, as the entries need
    DWORD listingBytes = 0;
    DWORD next = kRefill;                 // offset of the next entry in listing
    bool started = false;                 // listing has been filled before
    bool listed = false;                  // the folder has no more entries
    DWORD listError = 0;                  // the listing stopped early with this error
    bool writable = false;
    std::size_t length = 0;               // of path_ for this folder
    LONGLONG fileId = 0;                  // from the parent's listing; 0 when unknown
    FILETIME creation{}, lastWrite{};     // the folder's own times before the walk
    bool identified = false;              // volume and index below are read
    DWORD volume = 0, indexHigh = 0, indexLow = 0;
    std::wstring resolvedName;            // see IsFileLink; read when first needed
  };

  void Walk() {
    while (!stack_.empty()) {
      if (Stopped()) {
        // Folders left unfinished keep their times and are not failures.
        stack_.clear();
        return;
      }
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
      path_.append(name, nameLength);
      const DWORD attributes = entry->FileAttributes;
      const FILETIME creation = ToFileTime(entry->CreationTime);
      const FILETIME lastWrite = ToFileTime(entry->LastWriteTime);
      if (IsLink(*entry))
        Fail(TFailReason::Link);  // to a file or a folder, it may lead anywhere
      else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        StampFile(attributes, creation, lastWrite, &frame);
      else
        Enter(entry->FileId.QuadPart, creation, lastWrite);  // may move frame and entry
    }
  }

  // folder: where the file was listed; null for a named target, which is followed.
  void StampFile(DWORD attributes, const FILETIME& creation, const FILETIME& lastWrite,
                 Frame* folder = nullptr) {
    // Wine running as root opens read-only files for writing where Windows refuses.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      Fail(TFailReason::ReadOnly, ERROR_ACCESS_DENIED);
      return;
    }
    if (time_ == nullptr) {
      Fail(TFailReason::CannotSetTime);
      return;
    }
    rtl::FileHandle file(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      Fail(GetLastError());
      return;
    }
    if (folder != nullptr && NamesHideFileLinks() && IsFileLink(file.get(), *folder)) {
      Fail(TFailReason::Link);
      return;
    }
    BeforeChange(creation, lastWrite);
    if (SetFileTime(file.get(), time_, nullptr, time_))
      Changed();
    else
      Fail(TFailReason::CannotSetTime, GetLastError());
  }

  // The file's resolved name is not the one it was listed under. A name that cannot be read
  // settles nothing.
  bool IsFileLink(HANDLE file, Frame& folder) {
    if (folder.resolvedName.empty()) {
      folder.resolvedName = HandleName(folder.folder.get(), nameBuffer_);
      if (folder.resolvedName.empty()) return false;
      if (!IsSep(folder.resolvedName.back())) folder.resolvedName += L'\\';
    }
    const std::wstring name = HandleName(file, nameBuffer_);
    std::size_t end = path_.size();  // Wine's name drops trailing dots and spaces
    while (end > folder.length + 1 && (path_[end - 1] == L'.' || path_[end - 1] == L' ')) --end;
    const std::size_t start = folder.length + (IsSep(path_[folder.length - 1]) ? 0 : 1);
    return !name.empty() && name != folder.resolvedName + path_.substr(start, end - start);
  }

  void Enter(LONGLONG fileId, const FILETIME& creation, const FILETIME& lastWrite) {
    Frame frame;
    frame.length = path_.size();
    frame.fileId = fileId;
    frame.creation = creation;
    frame.lastWrite = lastWrite;
    // FILE_READ_ATTRIBUTES: GetFileInformationByHandle needs it on Windows.
    const DWORD access = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
    if (folderOption_) {
      frame.folder = OpenFolder(access | GENERIC_WRITE);
      frame.writable = frame.folder.valid();
    }
    if (!frame.folder.valid()) frame.folder = OpenFolder(access);
    if (!frame.folder.valid()) {
      Fail(GetLastError());
      return;
    }
    if (OnWalkPath(frame)) {
      Fail(TFailReason::Link);  // reached again through a mount point or bind mount
      return;
    }
    if (progress_ != nullptr) progress_->SetFolder(OrdinaryPath(path_));
    frame.listingBytes = kSmallListing;
    frame.listing.reset(new LONGLONG[kSmallListing / sizeof(LONGLONG)]);
    stack_.push_back(std::move(frame));
  }

  // The walk holds a folder for as long as it is inside; others may still write, rename and
  // delete in it meanwhile.
  rtl::FileHandle OpenFolder(DWORD access) const {
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return rtl::FileHandle(CreateFileW(path_.c_str(), access, all, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  }

  bool Identify(Frame& frame) {
    if (!frame.identified) {
      BY_HANDLE_FILE_INFORMATION info;
      if (!GetFileInformationByHandle(frame.folder.get(), &info)) return false;
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
      if (frame.fileId != 0 && f.fileId != 0 && frame.fileId != f.fileId) continue;
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
      if (!GetFileInformationByHandleEx(frame.folder.get(), FileIdBothDirectoryInfo,
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

  // The folder's own time goes last, after everything inside it.
  void Leave() {
    Frame& frame = stack_.back();
    path_.resize(frame.length);
    if (frame.listError != 0) {
      Fail(TFailReason::Unlistable, frame.listError);
    } else if (folderOption_) {
      if (!frame.writable) {
        // Held by another program on the way in; it may have let go.
        frame.folder.close();
        frame.folder = OpenFolder(GENERIC_WRITE);
      }
      if (!frame.folder.valid()) {
        Fail(GetLastError());
      } else if (time_ == nullptr) {
        Fail(TFailReason::CannotSetTime);
      } else {
        BeforeChange(frame.creation, frame.lastWrite);
        if (SetFileTime(frame.folder.get(), nullptr, nullptr, time_))
          Changed();
        else
          Fail(TFailReason::CannotSetTime, GetLastError());
      }
    }
    stack_.pop_back();
  }

  void BeforeChange(const FILETIME& creation, const FILETIME& lastWrite) {
    if (beforeChange_)
      redirection_.Redirected([&] { beforeChange_(OrdinaryPath(path_), creation, lastWrite); });
  }
  void Fail(TFailReason reason, DWORD error = 0) {
    RecordFailure(result_, {OrdinaryPath(path_), reason, error});
    if (progress_ != nullptr) ++progress_->Failed;
  }
  void Fail(DWORD error) { Fail(ReasonOf(error), error); }
  void Changed() {
    ++result_.Changed;
    if (progress_ != nullptr) ++progress_->Changed;
  }
  bool Stopped() {
    if (progress_ == nullptr || !progress_->Stop.load(std::memory_order_relaxed)) return false;
    result_.Stopped = true;
    return true;
  }
  static FILETIME ToFileTime(const LARGE_INTEGER& t) {
    return FILETIME{t.LowPart, static_cast<DWORD>(t.HighPart)};
  }

  TStampResult& result_;
  const bool folderOption_;
  const FILETIME* const time_;  // null when the instant cannot be stored
  TBatchProgress* const progress_;
  const TBeforeChange& beforeChange_;
  NoRedirection& redirection_;
  std::vector<Frame> stack_;
  std::wstring path_;  // always the \\?\ form
  std::vector<LONGLONG> nameBuffer_;
};

}  // namespace

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
  const std::wstring full = OrdinaryPath(rtl::ExpandFileName(path));
  if (full.empty()) {
    RecordFailure(Result, {path, TFailReason::NotFound, ERROR_INVALID_NAME});
    return;
  }
  NoRedirection redirection;
  Walker(Result, FolderOption, stored ? &*stored : nullptr, Progress, BeforeChange, redirection)
      .Run(ApiPath(full));
}

}  // namespace zel
