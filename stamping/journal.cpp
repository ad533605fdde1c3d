// stamping/journal.cpp
// The journal's writing (file_access.h's TJournal) and its reading and undoing (journal.h).
#include "stamping/journal.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "rtl/clock_win.h"
#include "rtl/sysutils.h"
#include "stamping/file_access.h"

namespace zel {

const wchar_t kNotUndoable[] = L"この変更は元に戻せません";
const wchar_t kNothingToUndo[] = L"元に戻せる変更はありません";

namespace {

const char kMagic[] = "Zelvoran undo journal ";
const char kVersion[] = "1";
// The state word follows the magic, the version and one blank.
constexpr long long kStateOffset = sizeof kMagic - 1 + sizeof kVersion - 1 + 1;
constexpr std::size_t kMaxLine = 1 << 17;  // a path of 32,767 UTF-16 units and the times
constexpr DWORD kBlock = 1 << 16;

using Ticks = unsigned long long;

Ticks TicksOf(const FILETIME& ft) { return rtl::Ticks(ft); }
FILETIME FileTimeOf(Ticks t) { return rtl::FromTicks(t); }

std::uint32_t Crc32(std::uint32_t crc, const std::string& data) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (unsigned char b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// By hand: the C library's formatting would be most of a journal's cost.
std::string Hex8(std::uint32_t v) {
  std::string text(8, '0');
  for (std::size_t i = 8; i-- > 0; v >>= 4) text[i] = "0123456789abcdef"[v & 15];
  return text;
}

void AppendDecimal(std::string& out, unsigned long long v) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) out += digits[--n];
}

// UTF-8 that also carries unpaired surrogates (which Windows allows in names) as three-byte
// sequences, so every path reads back exactly.
void AppendWtf8(std::string& out, const std::wstring& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    std::uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00u);
    auto put = [&out](std::uint32_t b) { out += static_cast<char>(b); };
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | c >> 6);
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | c >> 12);
      put(0x80 | (c >> 6 & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | c >> 18);
      put(0x80 | (c >> 12 & 0x3F));
      put(0x80 | (c >> 6 & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
}

bool FromWtf8(const std::string& s, std::wstring& out) {
  out.clear();
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    // The continuation bytes a lead byte announces; -1 for one that cannot lead.
    const int more = b < 0x80 ? 0 : b < 0xC2 ? -1 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF5 ? 3 : -1;
    if (more < 0 || i + static_cast<std::size_t>(more) >= s.size()) return false;
    std::uint32_t c = more == 0 ? b : b & (0x3F >> more);
    for (int k = 1; k <= more; ++k) {
      const auto t = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((t & 0xC0) != 0x80) return false;
      c = c << 6 | (t & 0x3F);
    }
    static const std::uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (c < kLeast[more] || c > 0x10FFFF) return false;
    if (c >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

// A time as the journal writes it: decimal, and never one SetFileTime gives a meaning of its
// own (0xFFFFFFFF... stops the system's own updates).
bool ParseTicks(const std::string& s, Ticks& v) {
  if (s.empty() || s.size() > 19) return false;
  v = 0;
  for (char ch : s) {
    if (ch < '0' || ch > '9') return false;
    v = v * 10 + static_cast<Ticks>(ch - '0');
  }
  return v <= 0x7FFFFFFFFFFFFFFFull;
}

// The first n - 1 tab-separated fields and the rest of the line as the last.
bool Split(const std::string& line, std::size_t n, std::string* fields) {
  std::size_t from = 0;
  for (std::size_t k = 0; k + 1 < n; ++k) {
    const std::size_t tab = line.find('\t', from);
    if (tab == std::string::npos) return false;
    fields[k] = line.substr(from, tab - from);
    from = tab + 1;
  }
  fields[n - 1] = line.substr(from);
  return true;
}

struct Entry {
  Ticks creation = 0, modification = 0, stored = 0;
  std::wstring path;
};

bool ParseEntry(const std::string& content, Entry& e) {
  std::string f[5];
  return Split(content, 5, f) && f[0] == "E" && ParseTicks(f[1], e.creation) &&
         ParseTicks(f[2], e.modification) && ParseTicks(f[3], e.stored) &&
         FromWtf8(f[4], e.path) && !e.path.empty();
}

// Lines ended by CR LF, read forwards in blocks. A last line without its end, an overlong one
// or a read error ends the reading with Bad().
class LineReader {
 public:
  explicit LineReader(HANDLE file) : file_(file) {}
  bool Next(std::string& line) {
    line.clear();
    for (;;) {
      if (next_ == buffer_.size()) {
        DWORD got = 0;
        buffer_.resize(kBlock);
        if (!ReadFile(file_, &buffer_[0], kBlock, &got, nullptr)) return Fail();
        buffer_.resize(got);
        next_ = 0;
        if (got == 0) return line.empty() ? false : Fail();
      }
      const std::size_t nl = buffer_.find('\n', next_);
      const std::size_t end = nl == std::string::npos ? buffer_.size() : nl;
      line.append(buffer_, next_, end - next_);
      offset_ += end - next_;
      next_ = end;
      if (line.size() > kMaxLine) return Fail();
      if (nl != std::string::npos) {
        ++next_;
        ++offset_;
        if (line.empty() || line.back() != '\r') return Fail();
        line.pop_back();
        return true;
      }
    }
  }
  bool Bad() const { return bad_; }
  unsigned long long Offset() const { return offset_; }  // where the next line begins

 private:
  bool Fail() {
    bad_ = true;
    return false;
  }
  HANDLE file_;
  std::string buffer_;
  std::size_t next_ = 0;
  unsigned long long offset_ = 0;
  bool bad_ = false;
};

// The lines of [begin, end) of a file from the last to the first, in blocks read from the
// end, so memory stays with the block and the longest line. Every line ends with CR LF.
class BackwardLines {
 public:
  BackwardLines(HANDLE file, unsigned long long begin, unsigned long long end)
      : file_(file), begin_(begin), start_(end) {}
  // Where the line last returned begins in the file.
  unsigned long long Offset() const { return start_ + buffer_.size(); }
  bool Next(std::string& line) {
    for (;;) {
      // buffer_ holds [start_, start_ + size) of the file, not yet returned.
      if (buffer_.size() >= 2) {
        const std::size_t nl = buffer_.rfind('\n', buffer_.size() - 2);
        if (nl != std::string::npos || start_ == begin_) {
          const std::size_t from = nl == std::string::npos ? 0 : nl + 1;
          line.assign(buffer_, from, buffer_.size() - 2 - from);
          buffer_.resize(from);
          return true;
        }
      } else if (start_ == begin_) {
        return false;
      }
      const auto n = static_cast<DWORD>(std::min<unsigned long long>(kBlock, start_ - begin_));
      std::string block(n, '\0');
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(start_ - n);
      at.OffsetHigh = static_cast<DWORD>((start_ - n) >> 32);
      DWORD got = 0;
      if (!ReadFile(file_, &block[0], n, &got, &at) || got != n) return false;
      start_ -= n;
      buffer_.insert(0, block);
    }
  }

 private:
  HANDLE file_;
  unsigned long long begin_, start_;
  std::string buffer_;
};

// An entry's time is what the disk kept, read back after the change; a batch that found the
// disk keeping the instant exactly, and journals from before the reading back, give the
// instant itself. FAT keeps modification times to 2 seconds and exFAT to 10 ms, so for those
// entries a time within that of the instant still counts there.
bool CarriesStored(HANDLE file, Ticks now, Ticks stored, Ticks instant) {
  if (now == stored) return true;
  if (stored != instant || (now > stored ? now - stored : stored - now) > 20000000) return false;
  wchar_t system[MAX_PATH + 1] = {};
  return GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, nullptr, system,
                                       MAX_PATH + 1) &&
         (std::wcsncmp(system, L"FAT", 3) == 0 || std::wcscmp(system, L"exFAT") == 0);
}

enum class TOutcome { Restored, AlreadyBack, ChangedSince, Refused };

// Through the same door as every change: an entry another program has open, or one made
// read-only since, is refused as a batch would refuse it.
TOutcome PutBack(TFileAccess& access, const Entry& e, Ticks instant, TRefusal& why) {
  rtl::FileHandle file = access.OpenEntry(rtl::ExactPath(e.path), why);
  if (!file.valid()) return TOutcome::Refused;
  FILETIME creation, lastWrite;
  if (!GetFileTime(file.get(), &creation, nullptr, &lastWrite)) {
    why = {TFailReason::Other, GetLastError()};
    return TOutcome::Refused;
  }
  // Already as before: a change the batch never made (stopped or killed first, or refused by
  // the system), another name of a file put back already, or an undo stopped after it.
  if (TicksOf(lastWrite) == e.modification && TicksOf(creation) == e.creation)
    return TOutcome::AlreadyBack;
  if (!CarriesStored(file.get(), TicksOf(lastWrite), e.stored, instant))
    return TOutcome::ChangedSince;
  const FILETIME oldCreation = FileTimeOf(e.creation), oldWrite = FileTimeOf(e.modification);
  return TFileAccess::SetTimes(file.get(), &oldCreation, &oldWrite, why) ? TOutcome::Restored
                                                                        : TOutcome::Refused;
}

std::wstring Parent(const std::wstring& path) {
  const std::size_t sep = path.find_last_of(L"\\/");
  return sep == std::wstring::npos ? path : path.substr(0, sep);
}

}  // namespace

std::wstring JournalFile() {
  std::wstring base(GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0), L'\0');
  if (!base.empty())
    base.resize(GetEnvironmentVariableW(L"LOCALAPPDATA", &base[0],
                                        static_cast<DWORD>(base.size())));
  if (base.empty()) {
    PWSTR known = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known))) base = known;
    CoTaskMemFree(known);
  }
  if (base.empty()) return {};
  base = rtl::ExpandFileName(base);
  while (!base.empty() && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
  return base.empty() ? base : base + L"\\Borvelune\\Zelvoran\\undo-journal.txt";
}

// ---- writing --------------------------------------------------------------------------

TJournal::TJournal(const std::wstring& file, const std::wstring& instantText,
                   const FILETIME& stored)
    : path_(file), stored_(TicksOf(stored)) {
  std::wstring text = instantText;
  std::replace_if(text.begin(), text.end(), [](wchar_t c) { return c == L'\r' || c == L'\n'; },
                  L' ');
  instantLine_ = "I\t" + std::to_string(stored_) + "\t";
  AppendWtf8(instantLine_, text);
}

void TJournal::AddLine(std::string& out, const std::string& content) {
  crc_ = Crc32(crc_, content);
  out += Hex8(crc_);
  out += ' ';
  out += content;
  out += "\r\n";
}

bool TJournal::Open() {
  if (path_.empty()) return false;
  // The folders below the user's own: the maker's, then the program's.
  const std::size_t program = path_.find_last_of(L"\\/");
  const std::size_t maker = program == 0 || program == std::wstring::npos
                                ? std::wstring::npos
                                : path_.find_last_of(L"\\/", program - 1);
  for (std::size_t end : {maker, program})
    if (end != std::wstring::npos && end > 0)
      CreateDirectoryW(rtl::ExactPath(path_.substr(0, end)).c_str(), nullptr);
  file_ = rtl::FileHandle(CreateFileW(rtl::ExactPath(path_).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  return file_.valid();
}

bool TJournal::Write(const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) &&
         written == bytes.size();
}

void TJournal::Record(const TEntry* entries, std::size_t count) {
  if (count == 0 || path_.empty()) return;
  rtl::TLocked locked(lock_);
  if (ended_ || failed_) return;
  try {
    buffer_.clear();
    if (!file_.valid()) {
      if (!Open()) {
        failed_ = true;
        return;
      }
      buffer_ = std::string(kMagic) + kVersion + " open\r\n";
      AddLine(buffer_, instantLine_);
    }
    for (const TEntry* e = entries; e != entries + count; ++e) {
      content_ = "E\t";
      AppendDecimal(content_, TicksOf(e->Creation));
      content_ += '\t';
      AppendDecimal(content_, TicksOf(e->LastWrite));
      content_ += '\t';
      AppendDecimal(content_, e->Kept ? TicksOf(*e->Kept) : stored_);
      content_ += '\t';
      AppendWtf8(content_, *e->Name);
      AddLine(buffer_, content_);
    }
    // One write for the group: in the system's hands before any of its entries is changed.
    if (Write(buffer_))
      entries_ += count;
    else
      failed_ = true;
  } catch (...) {
    failed_ = true;
  }
}

bool TJournal::End() {
  rtl::TLocked locked(lock_);
  if (ended_) return !failed_;
  ended_ = true;
  if (path_.empty()) return true;
  if (!file_.valid()) return !failed_;
  if (!failed_) {
    // The trailer, then the state: without them the journal still reads as a batch cut short,
    // so when either cannot be written the trailer goes again.
    LARGE_INTEGER zero{}, end{}, state{};
    state.QuadPart = kStateOffset;
    std::string trailer;
    AddLine(trailer, "N\t" + std::to_string(entries_));
    if (SetFilePointerEx(file_.get(), zero, &end, FILE_CURRENT) &&
        (!Write(trailer) || !SetFilePointerEx(file_.get(), state, nullptr, FILE_BEGIN) ||
         !Write("done")) &&
        SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN))
      SetEndOfFile(file_.get());
  }
  file_.close();
  if (failed_) DeleteFileW(rtl::ExactPath(path_).c_str());
  return !failed_;
}

// ---- reading and undoing --------------------------------------------------------------

TUndo::TUndo(const std::wstring& file) : path_(file) {
  if (path_.empty()) return;
  // Held alone from the question to the end of the undo.
  file_ = rtl::FileHandle(CreateFileW(rtl::ExactPath(path_).c_str(),
                                      GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_.valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    State = Unreadable;
    Error = L"変更の記録を開けないため元に戻せません。何も変更していません。\r\n" + path_ +
            L"\r\n" + rtl::SysErrorMessage(error);
    return;
  }
  const TCheck check = Check();
  if (check == Sound) {
    State = lines_ == 0 ? Nothing : Ready;
    return;
  }
  State = Unreadable;
  Error = (check == OtherVersion
               ? L"変更の記録がこの版では読めない形式のため元に戻せません。何も変更していません。\r\n"
               : L"変更の記録が壊れているため元に戻せません。何も変更していません。\r\n") +
          path_;
}

TUndo::TCheck TUndo::Check() {
  LineReader lines(file_.get());
  std::string line;
  if (!lines.Next(line)) return lines.Bad() ? Damaged : Sound;  // an emptied journal
  const std::size_t magic = sizeof kMagic - 1;
  if (line.compare(0, magic, kMagic) != 0) return Damaged;
  const std::size_t blank = line.find(' ', magic);
  if (blank == std::string::npos || line.compare(magic, blank - magic, kVersion) != 0)
    return OtherVersion;
  const std::string state = line.substr(blank + 1);
  if (state != "open" && state != "done") return Damaged;
  std::uint32_t crc = 0;
  bool trailer = false;
  Entry e;
  for (std::size_t n = 0; lines.Next(line); ++n) {
    if (trailer || line.size() < 10 || line[8] != ' ') return Damaged;
    const std::string content = line.substr(9);
    crc = Crc32(crc, content);
    if (line.compare(0, 8, Hex8(crc)) != 0) return Damaged;
    std::string f[3];
    if (n == 0) {
      if (!Split(content, 3, f) || f[0] != "I" || !ParseTicks(f[1], instant_) ||
          !FromWtf8(f[2], InstantText))
        return Damaged;
      entriesBegin_ = lines.Offset();
    } else if (content[0] == 'N') {
      if (!Split(content, 2, f) || f[0] != "N" || f[1] != std::to_string(lines_)) return Damaged;
      trailer = true;
    } else {
      if (!ParseEntry(content, e)) return Damaged;
      ++lines_;
      // A second entry for a file, with the time its disk kept, is no file of its own.
      if (e.stored == instant_) ++Count;
      entriesEnd_ = lines.Offset();
    }
  }
  // "open" with its trailer: the batch ended, and was cut off before the state was turned.
  if (lines.Bad() || entriesBegin_ == 0 || (state == "done" && !trailer)) return Damaged;
  if (lines_ == 0) entriesEnd_ = entriesBegin_;
  return Sound;
}

TStampResult TUndo::Run(TBatchProgress& progress) {
  TStampResult r;
  progress.Changed = 0;
  progress.Failed = 0;
  if (State != Ready) return r;
  TFileAccess access;
  BackwardLines lines(file_.get(), entriesBegin_, entriesEnd_);
  std::string line;
  std::wstring folder;
  Entry e;
  std::size_t done = 0;
  unsigned long long undoneEnd = entriesEnd_;  // the entries before this are still to do
  auto fail = [&](const std::wstring& path, TFailReason reason, DWORD error) {
    ++progress.Failed;
    r.Failures.push_back({rtl::OrdinaryPath(path), reason, error});
  };
  while (lines.Next(line) && line.size() > 9 && ParseEntry(line.substr(9), e)) {
    if (progress.Stop.load(std::memory_order_relaxed)) {
      r.Stopped = true;
      KeepOnly(undoneEnd);
      break;
    }
    if (Parent(e.path) != folder) progress.SetFolder(rtl::OrdinaryPath(folder = Parent(e.path)));
    ++done;
    undoneEnd = lines.Offset();
    TRefusal why;
    switch (PutBack(access, e, instant_, why)) {
      case TOutcome::Restored:
        ++progress.Changed;
        break;
      case TOutcome::AlreadyBack:
        break;
      case TOutcome::ChangedSince:
        fail(e.path, TFailReason::ChangedSince, 0);
        break;
      case TOutcome::Refused:
        fail(e.path, why.Reason, why.Error);
        break;
    }
  }
  // Emptied only once every entry has had its turn.
  if (done != lines_ && !r.Stopped) fail(path_, TFailReason::Other, ERROR_INVALID_DATA);
  if (done == lines_) {
    LARGE_INTEGER zero{};
    if (SetFilePointerEx(file_.get(), zero, nullptr, FILE_BEGIN) && SetEndOfFile(file_.get()))
      State = Nothing;
  }
  r.Changed = progress.Changed;
  r.Failed = progress.Failed;
  return r;
}

// After a stop: the entries from end on are done and cut off, so the next undo asks about the
// rest alone. The state goes back to "open" first, since a journal without its trailer reads
// as a batch cut short, which undoes what it holds; whichever step fails, the journal stays
// sound, and entries already put back read as such.
void TUndo::KeepOnly(unsigned long long end) {
  if (end == entriesEnd_) return;
  LARGE_INTEGER state{}, at{};
  state.QuadPart = kStateOffset;
  at.QuadPart = static_cast<LONGLONG>(end);
  DWORD written = 0;
  if (SetFilePointerEx(file_.get(), state, nullptr, FILE_BEGIN) &&
      WriteFile(file_.get(), "open", 4, &written, nullptr) && written == 4 &&
      SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN))
    SetEndOfFile(file_.get());
}

std::wstring UndoReportText(const TStampResult& r) {
  const std::wstring count = L"\r\n元に戻したもの：" + std::to_wstring(r.Changed) + L"件";
  if (r.Stopped)
    return L"元に戻すのを中止しました" + count + FailuresText(r) +
           L"\r\n\r\n残りは「直前の変更を元に戻す」で元に戻せます";
  if (r.Failed != 0 && r.Changed == 0) return L"元に戻せませんでした" + FailuresText(r);
  return L"元に戻しました" + count + FailuresText(r);
}

}  // namespace zel
