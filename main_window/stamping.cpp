// main_window/stamping.cpp
#include "main_window/stamping.h"

#include <windows.h>

#include <cmath>
#include <utility>

#include "rtl/clock_win.h"
#include "rtl/files_win.h"

namespace zel {
namespace {

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

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

// Depth-first walk with its own stack of open listings, so the thread's stack does not
// limit the depth. One path buffer is extended and cut back for every entry.
class Walker {
 public:
  Walker(TStampResult& result, bool folderOption, const FILETIME* time)
      : result_(result), folderOption_(folderOption), time_(time) {}

  void Run(const std::wstring& absolutePath) {
    path_ = absolutePath;
    const DWORD attributes = GetFileAttributesW(Api());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      Fail();
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      StampFile(attributes);
    } else {
      Enter();  // a named folder is followed even when it is a link
      Walk();
    }
  }

 private:
  struct Frame {
    rtl::FindHandle find;
    // Opened on entry: its identity guards against loops, and with the folder option it is
    // the handle that writes the folder's time on the way out, so each folder opens once.
    rtl::FileHandle folder;
    std::size_t length = 0;  // of path_ for this folder
    DWORD volume = 0, indexHigh = 0, indexLow = 0;
    bool firstPending = false;  // data_ holds the listing's first entry
    bool writable = false;
    bool broken = false;  // the listing stopped early
  };

  void Walk() {
    while (!stack_.empty()) {
      Frame& frame = stack_.back();
      if (!NextEntry(frame)) {
        Leave();
        continue;
      }
      if (IsDotOrDotDot(data_.cFileName)) continue;
      path_.resize(frame.length);
      if (!IsSep(path_.back())) path_ += L'\\';
      path_ += data_.cFileName;
      const DWORD attributes = data_.dwFileAttributes;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        StampFile(attributes);
      else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        Fail();  // a link or junction inside the tree is not followed
      else
        Enter();
    }
  }

  void StampFile(DWORD attributes) {
    // Wine running as root opens read-only files for writing where Windows refuses.
    if (time_ == nullptr || (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      Fail();
      return;
    }
    rtl::FileHandle file(CreateFileW(Api(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid() && SetFileTime(file.get(), time_, nullptr, time_))
      ++result_.Changed;
    else
      Fail();
  }

  void Enter() {
    Frame frame;
    frame.length = path_.size();
    const wchar_t* api = Api();
    if (folderOption_) {
      // FILE_READ_ATTRIBUTES as well: GetFileInformationByHandle needs it on Windows.
      frame.folder = rtl::FileHandle(CreateFileW(api, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                                 FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      frame.writable = frame.folder.valid();
    }
    if (!frame.folder.valid())
      frame.folder = rtl::FileHandle(CreateFileW(
          api, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!frame.folder.valid() || !GetFileInformationByHandle(frame.folder.get(), &info) ||
        OnWalkPath(info)) {
      Fail();
      return;
    }
    frame.volume = info.dwVolumeSerialNumber;
    frame.indexHigh = info.nFileIndexHigh;
    frame.indexLow = info.nFileIndexLow;

    path_ += IsSep(path_.back()) ? L"*" : L"\\*";
    frame.find = rtl::FindHandle(FindFirstFileExW(Api(), FindExInfoBasic, &data_,
                                                  FindExSearchNameMatch, nullptr,
                                                  FIND_FIRST_EX_LARGE_FETCH));
    const DWORD error = frame.find.valid() ? ERROR_SUCCESS : GetLastError();
    path_.resize(frame.length);
    // A drive root has no "." entry, so an empty one lists nothing at all.
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
      Fail();
      return;
    }
    frame.firstPending = frame.find.valid();
    stack_.push_back(std::move(frame));
  }

  bool OnWalkPath(const BY_HANDLE_FILE_INFORMATION& info) const {
    for (const Frame& f : stack_)
      if (f.indexLow == info.nFileIndexLow && f.indexHigh == info.nFileIndexHigh &&
          f.volume == info.dwVolumeSerialNumber)
        return true;
    return false;
  }

  bool NextEntry(Frame& frame) {
    if (frame.firstPending) {
      frame.firstPending = false;
      return true;
    }
    if (!frame.find.valid()) return false;
    if (FindNextFileW(frame.find.get(), &data_)) return true;
    if (GetLastError() != ERROR_NO_MORE_FILES) frame.broken = true;
    return false;
  }

  // The folder's own time goes last, after everything inside it.
  void Leave() {
    Frame& frame = stack_.back();
    path_.resize(frame.length);
    frame.find.close();
    if (frame.broken) {
      Fail();
    } else if (folderOption_) {
      if (time_ != nullptr && frame.writable &&
          SetFileTime(frame.folder.get(), nullptr, nullptr, time_))
        ++result_.Changed;
      else
        Fail();
    }
    stack_.pop_back();
  }

  void Fail() { RecordFailure(result_, path_); }

  // path_ in the form the file APIs take at any length.
  const wchar_t* Api() {
    if (path_.size() <= MAX_PATH - 12) return path_.c_str();  // ExtendedPath leaves these
    extended_ = rtl::ExtendedPath(path_);
    return extended_.c_str();
  }

  TStampResult& result_;
  const bool folderOption_;
  const FILETIME* const time_;  // null when the instant cannot be stored
  std::vector<Frame> stack_;
  std::wstring path_;
  std::wstring extended_;
  WIN32_FIND_DATAW data_;
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
  Walker(Result, FolderOption, storable ? &ft : nullptr).Run(full);
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

std::wstring ReportText(const std::wstring& instantText, const TStampResult& r) {
  const bool any = r.Failed == 0 || r.Changed > 0;
  std::wstring text = instantText + (any ? L"に変更しました" : L"に変更できませんでした");
  if (r.Failed == 0) return text;
  text += L"\r\n\r\n変更できなかったもの：" + std::to_wstring(r.Failed) + L"件";
  std::size_t shown = 0;
  for (const std::wstring& path : r.FailedPaths) {
    if (shown == TStampResult::MaxFailedPaths) break;
    text += L"\r\n" + path;
    ++shown;
  }
  if (r.Failed > shown) text += L"\r\nほか " + std::to_wstring(r.Failed - shown) + L"件";
  return text;
}

}  // namespace zel
