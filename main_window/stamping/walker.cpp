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

// The stored time for an instant. The correction is taken off in elapsed time: before
// 1899-12-30 a TDateTime's fraction counts the time of day away from zero, so a plain
// subtraction would move the clock the wrong way there.
bool StoredTime(rtl::TDateTime instant, rtl::TDateTime correction, FILETIME& ft) {
  if (!std::isfinite(instant) || !std::isfinite(correction)) return false;
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

void RecordFailure(TStampResult& result, const std::wstring& path) {
  ++result.Failed;
  if (result.FailedPaths.size() < TStampResult::MaxFailedPaths) result.FailedPaths.push_back(path);
}

// A \\?\ path as the user knows it.
std::wstring OrdinaryPath(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0 && path.size() >= 6 && path[5] == L':')
    return path.substr(4);
  return path;
}

// A symbolic link or junction (a name-surrogate reparse point). Other reparse points, such as
// cloud-file placeholders, are ordinary folders to walk. For a reparse point the listing
// carries the tag in EaSize; Wine gives 0 for its symbolic links.
bool IsLink(const FILE_ID_BOTH_DIR_INFO& entry) {
  if ((entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  return entry.EaSize == 0 || IsReparseTagNameSurrogate(entry.EaSize);
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
         const TBeforeChange& beforeChange)
      : result_(result), folderOption_(folderOption), time_(time), progress_(progress),
        beforeChange_(beforeChange) {}

  void Run(const std::wstring& absolutePath) {
    path_ = absolutePath;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (Stopped()) return;
    if (!GetFileAttributesExW(Api(), GetFileExInfoStandard, &data)) {
      Fail();
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
    bool broken = false;                  // the listing stopped early
    bool writable = false;
    std::size_t length = 0;               // of path_ for this folder
    LONGLONG fileId = 0;                  // from the parent's listing; 0 when unknown
    FILETIME creation{}, lastWrite{};     // the folder's own times before the walk
    bool identified = false;              // volume and index below are read
    DWORD volume = 0, indexHigh = 0, indexLow = 0;
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
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        StampFile(attributes, creation, lastWrite);
      else if (IsLink(*entry))
        Fail();  // a link or junction inside the tree is not followed
      else
        Enter(entry->FileId.QuadPart, creation, lastWrite);  // may move frame and entry
    }
  }

  void StampFile(DWORD attributes, const FILETIME& creation, const FILETIME& lastWrite) {
    // Wine running as root opens read-only files for writing where Windows refuses.
    if (time_ == nullptr || (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      Fail();
      return;
    }
    rtl::FileHandle file(CreateFileW(Api(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      Fail();
      return;
    }
    if (beforeChange_) beforeChange_(path_, creation, lastWrite);
    if (SetFileTime(file.get(), time_, nullptr, time_))
      Changed();
    else
      Fail();
  }

  void Enter(LONGLONG fileId, const FILETIME& creation, const FILETIME& lastWrite) {
    Frame frame;
    frame.length = path_.size();
    frame.fileId = fileId;
    frame.creation = creation;
    frame.lastWrite = lastWrite;
    const wchar_t* api = Api();
    // FILE_READ_ATTRIBUTES: GetFileInformationByHandle needs it on Windows.
    const DWORD access = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
    if (folderOption_) {
      frame.folder = rtl::FileHandle(CreateFileW(api, access | GENERIC_WRITE, FILE_SHARE_READ,
                                                 nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      frame.writable = frame.folder.valid();
    }
    if (!frame.folder.valid())
      frame.folder = rtl::FileHandle(CreateFileW(
          api, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!frame.folder.valid() || OnWalkPath(frame)) {
      Fail();
      return;
    }
    if (progress_ != nullptr) progress_->SetFolder(path_);
    frame.listingBytes = kSmallListing;
    frame.listing.reset(new LONGLONG[kSmallListing / sizeof(LONGLONG)]);
    stack_.push_back(std::move(frame));
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
        if (error != ERROR_NO_MORE_FILES && error != ERROR_FILE_NOT_FOUND) frame.broken = true;
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
    if (frame.broken) {
      Fail();
    } else if (folderOption_) {
      if (!frame.writable) {
        // Held by another program on the way in; it may have let go.
        frame.folder.close();
        frame.folder = rtl::FileHandle(CreateFileW(Api(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                                   nullptr));
      }
      if (time_ != nullptr && frame.folder.valid()) {
        if (beforeChange_) beforeChange_(path_, frame.creation, frame.lastWrite);
        if (SetFileTime(frame.folder.get(), nullptr, nullptr, time_))
          Changed();
        else
          Fail();
      } else {
        Fail();
      }
    }
    stack_.pop_back();
  }

  void Fail() {
    RecordFailure(result_, path_);
    if (progress_ != nullptr) ++progress_->Failed;
  }
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

  // path_ in the form the file APIs take at any length.
  const wchar_t* Api() {
    if (path_.size() <= MAX_PATH - 12) return path_.c_str();  // ExtendedPath leaves these
    extended_ = rtl::ExtendedPath(path_);
    return extended_.c_str();
  }

  TStampResult& result_;
  const bool folderOption_;
  const FILETIME* const time_;  // null when the instant cannot be stored
  TBatchProgress* const progress_;
  const TBeforeChange& beforeChange_;
  std::vector<Frame> stack_;
  std::wstring path_;
  std::wstring extended_;
};

}  // namespace

void TStamper::StampPath(const std::wstring& path, rtl::TDateTime instant) {
  const std::wstring full = OrdinaryPath(rtl::ExpandFileName(path));
  if (full.empty()) {
    RecordFailure(Result, path);
    return;
  }
  FILETIME ft;
  const bool storable = StoredTime(instant, TimeCorrection, ft);
  Walker(Result, FolderOption, storable ? &ft : nullptr, Progress, BeforeChange).Run(full);
}

bool TStamper::StoredFileTime(rtl::TDateTime instant, FILETIME& ft) const {
  return StoredTime(instant, TimeCorrection, ft);
}

bool TStamper::StampFolderTime(const std::wstring& path, rtl::TDateTime instant) {
  FILETIME ft;
  const std::wstring full = rtl::ExpandFileName(path);
  if (full.empty() || !StoredTime(instant, TimeCorrection, ft)) return false;
  rtl::FileHandle folder(CreateFileW(rtl::ExtendedPath(full).c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return folder.valid() && SetFileTime(folder.get(), nullptr, nullptr, &ft);
}

}  // namespace zel
