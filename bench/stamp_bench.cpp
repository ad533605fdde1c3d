// bench/stamp_bench.cpp
// Stamping speed of the engine's batch, with its pool of stamping threads, against the floor:
// a minimal one-thread loop making the same system calls (list, open, set the time, close) and
// nothing else; and of a batch as the window runs it (worker thread, progress read every
// 100 ms) against the walker alone. Options: --rounds N, --only wide|flat|deep, --threads N
// (the batch's Threads; 0, the default, is the engine's choice), --big (adds a 100,000-file tree,
// stamped once with its undo journal, every file verified), --journal (only the walker with
// its undo journal against the walker alone), --keep <folder> (the trees are made there once
// and left for later runs). On a shared machine single rounds vary a lot; the ratio of the
// fastest runs is printed beside the median of the per-round ratios. Targets: wide and flat
// at most 0.85, deep at most 1.05; memory growth on the flat tree within 1 MiB of the
// one-thread walker's; the batch at most 1.05 of the walker alone; on a simulated share
// (--share <folder>: an existing tree, see scripts/bench --share) at most 0.35; the walker with its
// journal at most 1.10 of the walker alone.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "rtl/clock_win.h"
#include "rtl/files_win.h"
#include "stamping/runner.h"
#include "stamping/stamping.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

[[noreturn]] void Die(const char* what, const std::wstring& path) {
  std::fprintf(stderr, "stamp_bench: %s failed (error %lu): %ls\n", what, GetLastError(),
               path.c_str());
  std::exit(1);
}

std::wstring Extended(const std::wstring& path) { return L"\\\\?\\" + path; }

void MakeDir(const std::wstring& path) {
  if (!CreateDirectoryW(Extended(path).c_str(), nullptr)) Die("CreateDirectoryW", path);
}

void MakeFiles(const std::wstring& dir, int count) {
  for (int i = 0; i < count; ++i) {
    const std::wstring path = dir + L"\\file" + std::to_wstring(i) + L".txt";
    HANDLE h = CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) Die("CreateFileW", path);
    CloseHandle(h);
  }
}

struct Tree {
  const char* name;
  std::wstring root;
  std::size_t files = 0, folders = 0;
};

bool gKeep = false;  // --keep: a tree already there is used as it is

// False when the tree is kept from an earlier run.
bool MakeRoot(const Tree& t) {
  if (gKeep && rtl::DirectoryExists(t.root)) return false;
  MakeDir(t.root);
  return true;
}

Tree MakeWide(const std::wstring& base, const char* name, int folders, int filesEach) {
  Tree t{name, base + L"\\" + std::wstring(name, name + std::char_traits<char>::length(name))};
  t.files = static_cast<std::size_t>(folders) * static_cast<std::size_t>(filesEach);
  t.folders = static_cast<std::size_t>(folders) + 1;
  if (!MakeRoot(t)) return t;
  for (int i = 0; i < folders; ++i) {
    const std::wstring dir = t.root + L"\\folder" + std::to_wstring(i);
    MakeDir(dir);
    MakeFiles(dir, filesEach);
  }
  return t;
}

Tree MakeFlat(const std::wstring& base, int files) {
  Tree t{"flat", base + L"\\flat"};
  t.files = static_cast<std::size_t>(files);
  t.folders = 1;
  if (MakeRoot(t)) MakeFiles(t.root, files);
  return t;
}

Tree MakeDeep(const std::wstring& base, int depth) {
  Tree t{"deep", base + L"\\deep"};
  t.files = static_cast<std::size_t>(depth);
  t.folders = static_cast<std::size_t>(depth) + 1;
  if (!MakeRoot(t)) return t;
  std::wstring dir = t.root;
  for (int i = 0; i < depth; ++i) {
    MakeDir(dir += L"\\d");
    MakeFiles(dir, 1);
  }
  return t;
}

// A tree made elsewhere (the simulated share's), counted.
Tree Existing(const char* name, const std::wstring& root) {
  Tree t{name, root};
  std::vector<std::wstring> folders{root};
  while (!folders.empty()) {
    const std::wstring dir = folders.back();
    folders.pop_back();
    ++t.folders;
    WIN32_FIND_DATAW d;
    HANDLE find = FindFirstFileW(Extended(dir + L"\\*").c_str(), &d);
    if (find == INVALID_HANDLE_VALUE) Die("FindFirstFileW", dir);
    do {
      const std::wstring n = d.cFileName;
      if (n == L"." || n == L"..") continue;
      if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        folders.push_back(dir + L"\\" + n);
      else
        ++t.files;
    } while (FindNextFileW(find, &d));
    FindClose(find);
  }
  return t;
}

// The floor. \\?\ paths throughout, the cheapest form for the path parser.
class Floor {
 public:
  Floor(const FILETIME& ft, bool folders) : ft_(ft), folders_(folders) {}
  std::size_t Run(const std::wstring& root) {
    path_ = Extended(root);
    Folder();
    return written_;
  }

 private:
  void Folder() {
    const std::size_t length = path_.size();
    path_ += L"\\*";
    WIN32_FIND_DATAW d;
    HANDLE find = FindFirstFileW(path_.c_str(), &d);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (d.cFileName[0] == L'.' &&
            (d.cFileName[1] == 0 || (d.cFileName[1] == L'.' && d.cFileName[2] == 0)))
          continue;
        path_.resize(length + 1);
        path_ += d.cFileName;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          Folder();
        } else {
          HANDLE h = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
          if (SetFileTime(h, &ft_, nullptr, &ft_)) ++written_;
          CloseHandle(h);
        }
      } while (FindNextFileW(find, &d));
      FindClose(find);
    }
    path_.resize(length);
    if (folders_) {
      HANDLE h = CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (SetFileTime(h, nullptr, nullptr, &ft_)) ++written_;
      CloseHandle(h);
    }
  }

  FILETIME ft_;
  bool folders_;
  std::wstring path_;
  std::size_t written_ = 0;
};

struct Memory {
  SIZE_T privateUsage = 0, workingSet = 0;
};

Memory ReadMemory() {
  PROCESS_MEMORY_COUNTERS_EX c{};
  c.cb = sizeof c;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c),
                       sizeof c);
  // Wine reports PrivateUsage as 0 and PagefileUsage as the anonymous resident memory;
  // on Windows both are the private commit.
  return {std::max(c.PrivateUsage, c.PagefileUsage), c.WorkingSetSize};
}

// Highest readings while a walk runs, sampled from a second thread every millisecond.
class Sampler {
 public:
  // The baseline is read once the sampling thread runs, so its own stack is not counted.
  Sampler() {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Loop, this, 0, nullptr);
    WaitForSingleObject(ready_, INFINITE);
    before_ = high_ = ReadMemory();
    InterlockedExchange(&started_, 1);
  }
  ~Sampler() {
    InterlockedExchange(&stop_, 1);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(ready_);
  }
  void Finish() {
    InterlockedExchange(&stop_, 1);
    WaitForSingleObject(thread_, INFINITE);
    Take(ReadMemory());
  }
  double PrivateGrowthKiB() const { return Growth(high_.privateUsage, before_.privateUsage); }
  double WorkingSetGrowthKiB() const { return Growth(high_.workingSet, before_.workingSet); }

 private:
  static double Growth(SIZE_T high, SIZE_T before) {
    return high > before ? static_cast<double>(high - before) / 1024 : 0;
  }
  static DWORD WINAPI Loop(void* self) {
    auto* s = static_cast<Sampler*>(self);
    ReadMemory();
    SetEvent(s->ready_);
    while (InterlockedCompareExchange(&s->stop_, 0, 0) == 0) {
      const Memory m = ReadMemory();
      if (InterlockedCompareExchange(&s->started_, 0, 0) != 0) s->Take(m);
      Sleep(1);
    }
    return 0;
  }
  void Take(const Memory& m) {
    high_.privateUsage = std::max(high_.privateUsage, m.privateUsage);
    high_.workingSet = std::max(high_.workingSet, m.workingSet);
  }

  Memory before_, high_;
  volatile LONG stop_ = 0, started_ = 0;
  HANDLE ready_, thread_;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

const rtl::TDateTime kCorrection = 9.0 / 24;

// What the walker writes for an instant: the zone's conversion, not the correction.
FILETIME StoredFor(rtl::TDateTime instant) {
  return zel::StoredTime(instant, kCorrection).value_or(FILETIME{});
}

rtl::TDateTime RoundInstant(int round) {
  return rtl::EncodeDate(2020, 2, 29) + (10 * 3600 + round + 0.123) / rtl::SecsPerDay;
}

unsigned gThreads = 0;  // --threads

zel::TBatch BatchFor(const std::wstring& root, bool folders, rtl::TDateTime instant,
                     unsigned threads) {
  zel::TBatch b;
  b.Targets = {root};
  b.Stored = StoredFor(instant);
  b.FolderOption = folders;
  b.Threads = threads;
  return b;
}

void Check(const zel::TStampResult& r, std::size_t expected, const char* who, const Tree& t) {
  if (r.Changed != expected || r.Failed != 0 || r.JournalLost) {
    std::fprintf(stderr, "stamp_bench: %s changed %u, failed %u of %u in %s%s\n", who,
                 static_cast<unsigned>(r.Changed), static_cast<unsigned>(r.Failed),
                 static_cast<unsigned>(expected), t.name, r.JournalLost ? ", journal lost" : "");
    std::exit(1);
  }
}

unsigned gPoolSize = 0;  // the stamping threads the last walk ended with

double TimeWalker(const Tree& t, bool folders, rtl::TDateTime instant) {
  const zel::TBatch b = BatchFor(t.root, folders, instant, gThreads);
  zel::TBatchProgress progress;
  const double start = Now();
  const zel::TStampResult r = zel::RunBatch(b, progress);
  const double seconds = Now() - start;
  gPoolSize = r.Threads;
  Check(r, t.files + (folders ? t.folders : 0), "walker", t);
  return seconds;
}

// A batch as the window runs it: the runner's worker walks while this thread, like the progress
// window's timer, reads the counts and the folder every 100 ms.
double TimeBatch(const Tree& t, rtl::TDateTime instant) {
  zel::TBatchRunner runner;
  HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const double start = Now();
  runner.Start(BatchFor(t.root, false, instant, gThreads), [ended] { SetEvent(ended); });
  std::size_t read = 0;
  while (WaitForSingleObject(ended, 100) == WAIT_TIMEOUT)
    read += runner.Progress.Changed + runner.Progress.Failed + runner.Progress.Folder().size();
  const zel::TBatchRunner::TOutcome outcome = runner.Finish();
  const double seconds = Now() - start;
  CloseHandle(ended);
  if (outcome.Error) Die("the batch", t.root);
  Check(outcome.Result, t.files, "batch", t);
  return seconds;
}

// The walker keeping its undo journal, as a batch of the program does; bytes: the journal's
// size.
double TimeJournalled(const Tree& t, bool folders, rtl::TDateTime instant,
                      const std::wstring& journalFile, unsigned long long& bytes) {
  zel::TBatch b = BatchFor(t.root, folders, instant, gThreads);
  b.Journal = journalFile;
  b.InstantText = L"2020/02/29 10:00:00";
  zel::TBatchProgress progress;
  const double start = Now();
  const zel::TStampResult r = zel::RunBatch(b, progress);
  const double seconds = Now() - start;
  WIN32_FILE_ATTRIBUTE_DATA d{};
  GetFileAttributesExW(journalFile.c_str(), GetFileExInfoStandard, &d);
  bytes = static_cast<unsigned long long>(d.nFileSizeHigh) << 32 | d.nFileSizeLow;
  Check(r, t.files + (folders ? t.folders : 0), "journalled walker", t);
  return seconds;
}

// The batch against the walker alone, folder option off, as Measure compares walker and floor.
void MeasureBatch(const Tree& t, int rounds) {
  std::vector<double> batch, walker, ratio;
  for (int r = 0; r < rounds; ++r) {
    double b, w;
    if (r % 2 == 0) {
      b = TimeBatch(t, RoundInstant(2 * r));
      w = TimeWalker(t, false, RoundInstant(2 * r + 1));
    } else {
      w = TimeWalker(t, false, RoundInstant(2 * r));
      b = TimeBatch(t, RoundInstant(2 * r + 1));
    }
    batch.push_back(b);
    walker.push_back(w);
    ratio.push_back(b / w);
  }
  std::printf("%-4s batch (worker thread, progress read every 100 ms) %6.0f files/s  walker alone "
              "%6.0f files/s  ratio %.3f (rounds %.2f..%.2f, fastest runs %.3f)\n",
              t.name, static_cast<double>(t.files) / Median(batch),
              static_cast<double>(t.files) / Median(walker), Median(ratio),
              *std::min_element(ratio.begin(), ratio.end()),
              *std::max_element(ratio.begin(), ratio.end()),
              *std::min_element(batch.begin(), batch.end()) /
                  *std::min_element(walker.begin(), walker.end()));
  std::fflush(stdout);
}

double TimeFloor(const Tree& t, bool folders, rtl::TDateTime instant) {
  const FILETIME ft = StoredFor(instant);
  Floor floor(ft, folders);
  const double start = Now();
  const std::size_t written = floor.Run(t.root);
  const double seconds = Now() - start;
  if (written != t.files + (folders ? t.folders : 0)) {
    std::fprintf(stderr, "stamp_bench: floor wrote %u in %s\n", static_cast<unsigned>(written),
                 t.name);
    std::exit(1);
  }
  return seconds;
}

struct MemoryGrowth {
  unsigned privateKiB = 0, workingSetKiB = 0;
};

// Memory growth of one walk in a fresh process, so neither side profits from a heap (ours or
// Wine's) grown by earlier walks. The child reports through its exit code.
// who: floor, walker (at --threads) or walker1 (one thread).
MemoryGrowth MeasureInChild(const Tree& t, bool folders, const wchar_t* who,
                            const std::wstring& warmUp) {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(exe) + L"\" --memory-child " + who + L" " +
                             (folders ? L"on " : L"off ") + L"\"" + warmUp + L"\" \"" + t.root +
                             L"\" " + std::to_wstring(gThreads);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi))
    Die("CreateProcessW", exe);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  if (code >= 0x80000000) Die("memory child", t.root);  // crashed
  return {code & 0xFFFF, code >> 16};
}

double Measure(const Tree& t, bool folders, int rounds, const std::wstring& warmUp) {
  const MemoryGrowth walkerMemory = MeasureInChild(t, folders, L"walker", warmUp);
  const MemoryGrowth oneThreadMemory = MeasureInChild(t, folders, L"walker1", warmUp);
  const MemoryGrowth floorMemory = MeasureInChild(t, folders, L"floor", warmUp);
  std::vector<double> walker, floor, ratio;
  for (int r = 0; r < rounds; ++r) {
    // Alternate which goes first, so neither always meets a warmer cache.
    double w, f;
    if (r % 2 == 0) {
      w = TimeWalker(t, folders, RoundInstant(2 * r));
      f = TimeFloor(t, folders, RoundInstant(2 * r + 1));
    } else {
      f = TimeFloor(t, folders, RoundInstant(2 * r));
      w = TimeWalker(t, folders, RoundInstant(2 * r + 1));
    }
    walker.push_back(w);
    floor.push_back(f);
    ratio.push_back(w / f);
  }
  const double files = static_cast<double>(t.files);
  const double medianRatio = Median(ratio);
  const double fastest = *std::min_element(walker.begin(), walker.end()) /
                         *std::min_element(floor.begin(), floor.end());
  std::printf("%-4s folders %-3s  walker %6.0f files/s  floor %6.0f files/s  ratio %.3f "
              "(rounds %.2f..%.2f, fastest runs %.3f)\n"
              "     memory growth (private, working set): walker %4u, %4u KiB; one-thread walker "
              "%4u, %4u KiB (walker %+d KiB); floor %4u, %4u KiB\n",
              t.name, folders ? "on" : "off", files / Median(walker), files / Median(floor),
              medianRatio, *std::min_element(ratio.begin(), ratio.end()),
              *std::max_element(ratio.begin(), ratio.end()), fastest, walkerMemory.privateKiB,
              walkerMemory.workingSetKiB, oneThreadMemory.privateKiB,
              oneThreadMemory.workingSetKiB,
              static_cast<int>(walkerMemory.privateKiB - oneThreadMemory.privateKiB),
              floorMemory.privateKiB, floorMemory.workingSetKiB);
  std::fflush(stdout);
  return medianRatio;
}

// The walker with its undo journal against the walker alone, in separate walks alternating
// which goes first.
double MeasureJournal(const Tree& t, bool folders, int rounds, const std::wstring& journalFile) {
  std::vector<double> alone, journalled, ratio;
  unsigned long long bytes = 0;
  for (int r = 0; r < rounds; ++r) {
    double a, j;
    if (r % 2 == 0) {
      a = TimeWalker(t, folders, RoundInstant(2 * r));
      j = TimeJournalled(t, folders, RoundInstant(2 * r + 1), journalFile, bytes);
    } else {
      j = TimeJournalled(t, folders, RoundInstant(2 * r), journalFile, bytes);
      a = TimeWalker(t, folders, RoundInstant(2 * r + 1));
    }
    alone.push_back(a);
    journalled.push_back(j);
    ratio.push_back(j / a);
  }
  const double files = static_cast<double>(t.files), median = Median(ratio);
  std::printf("%-4s folders %-3s  walker %6.0f files/s  with journal %6.0f files/s  ratio %.3f "
              "(rounds %.2f..%.2f, fastest runs %.3f)  journal %.0f KiB\n",
              t.name, folders ? "on" : "off", files / Median(alone), files / Median(journalled),
              median, *std::min_element(ratio.begin(), ratio.end()),
              *std::max_element(ratio.begin(), ratio.end()),
              *std::min_element(journalled.begin(), journalled.end()) /
                  *std::min_element(alone.begin(), alone.end()),
              static_cast<double>(bytes) / 1024);
  std::fflush(stdout);
  return median;
}

// Every file of the tree must carry the instant as creation and modification time.
std::size_t Verify(const std::wstring& dir, const FILETIME& ft) {
  std::size_t good = 0;
  WIN32_FIND_DATAW d;
  HANDLE find = FindFirstFileW(Extended(dir + L"\\*").c_str(), &d);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::wstring name = d.cFileName;
    if (name == L"." || name == L"..") continue;
    if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      good += Verify(dir + L"\\" + name, ft);
    else if (CompareFileTime(&d.ftLastWriteTime, &ft) == 0 &&
             CompareFileTime(&d.ftCreationTime, &ft) == 0)
      ++good;
  } while (FindNextFileW(find, &d));
  FindClose(find);
  return good;
}

void RemoveTree(const std::wstring& dir) {
  WIN32_FIND_DATAW d;
  HANDLE find = FindFirstFileW(Extended(dir + L"\\*").c_str(), &d);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = d.cFileName;
      if (name == L"." || name == L"..") continue;
      if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(dir + L"\\" + name);
      else
        DeleteFileW(Extended(dir + L"\\" + name).c_str());
    } while (FindNextFileW(find, &d));
    FindClose(find);
  }
  RemoveDirectoryW(Extended(dir).c_str());
}

}  // namespace

// --memory-child walker|walker1|floor on|off <warm-up folder> <tree> <threads>: one walk,
// sampled.
int MemoryChild(wchar_t** argv) {
  const bool floor = std::wstring(argv[2]) == L"floor";
  const bool oneThread = std::wstring(argv[2]) == L"walker1";
  const bool folders = std::wstring(argv[3]) == L"on";
  const Tree warm{"warm-up", argv[4]};
  const Tree t{"tree", argv[5]};
  // Lazy start-up costs (Wine's directory code, the heap's first blocks) are not the walk's.
  const unsigned threads = oneThread ? 1 : static_cast<unsigned>(_wtoi(argv[6]));
  zel::TBatchProgress progress;
  if (floor)
    Floor(rtl::DateTimeToFileTime(RoundInstant(0)), folders).Run(warm.root);
  else
    zel::RunBatch(BatchFor(warm.root, folders, RoundInstant(0), threads), progress);
  Sampler sampler;
  if (floor)
    Floor(rtl::DateTimeToFileTime(RoundInstant(1)), folders).Run(t.root);
  else
    zel::RunBatch(BatchFor(t.root, folders, RoundInstant(1), threads), progress);
  sampler.Finish();
  const auto cap = [](double kib) { return std::min(65535u, static_cast<unsigned>(kib)); };
  return static_cast<int>(cap(sampler.PrivateGrowthKiB()) |
                          cap(sampler.WorkingSetGrowthKiB()) << 16);
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 7 && std::wstring(argv[1]) == L"--memory-child") return MemoryChild(argv);
  int rounds = 9;
  bool big = false, journalOnly = false;
  std::wstring only;  // wide, flat or deep: that tree alone
  std::wstring base, share;
  bool roundsGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--big") big = true;
    else if (arg == L"--journal") journalOnly = true;
    else if (arg == L"--rounds" && i + 1 < argc) {
      rounds = std::max(1, _wtoi(argv[++i]));
      roundsGiven = true;
    } else if (arg == L"--share" && i + 1 < argc) share = argv[++i];
    else if (arg == L"--only" && i + 1 < argc) only = argv[++i];
    else if (arg == L"--threads" && i + 1 < argc)
      gThreads = static_cast<unsigned>(_wtoi(argv[++i]));
    else if (arg == L"--keep" && i + 1 < argc) {
      base = argv[++i];
      gKeep = true;
    }
  }
  if (base.empty()) base = rtl::TempDirectory() + L"\\zel_bench_" + std::to_wstring(GetTickCount());
  if (!gKeep || !rtl::DirectoryExists(base)) MakeDir(base);

  if (!share.empty()) {
    // Every call waits on the "server": a floor round takes many seconds.
    if (!roundsGiven) rounds = 3;
    const Tree t = Existing("share", share);
    const Tree warmUp{"warm-up", base + L"\\warm-up"};
    if (MakeRoot(warmUp)) MakeFiles(warmUp.root, 10);
    std::printf("share: %u files in %u folders on the simulated share; %d rounds\n",
                static_cast<unsigned>(t.files), static_cast<unsigned>(t.folders - 1), rounds);
    std::fflush(stdout);
    Measure(t, false, rounds, warmUp.root);
    std::printf("share: the pool ended with %u stamping threads (target: ratio at most 0.35)\n",
                gPoolSize);
    return 0;
  }

  double start = Now();
  std::vector<Tree> trees;
  if (only.empty() || only == L"wide") trees.push_back(MakeWide(base, "wide", 100, 200));
  if (only.empty() || only == L"flat") trees.push_back(MakeFlat(base, 20000));
  if (only.empty() || only == L"deep") trees.push_back(MakeDeep(base, 300));
  const unsigned pool = zel::StampingThreads(gThreads);
  std::printf("trees made in %.1f s (wide: 100 folders x 200 files, flat: 20000 files, deep: "
              "300 nested folders with one file each); %d rounds each; walker's stamping "
              "threads: %u%s\n",
              Now() - start, rounds, pool, pool == 0 ? " (the walking thread)" : "");
  std::fflush(stdout);

  const Tree warmUp{"warm-up", base + L"\\warm-up"};
  if (MakeRoot(warmUp)) MakeFiles(warmUp.root, 10);

  double worstBroad = 0, worstDeep = 0, worstJournal = 0;  // wide and flat; deep
  int status = 0;
  if (!journalOnly)
    for (const Tree& t : trees)
      for (bool folders : {false, true}) {
        double& worst = std::string(t.name) == "deep" ? worstDeep : worstBroad;
        worst = std::max(worst, Measure(t, folders, rounds, warmUp.root));
      }
  const std::wstring journalFile = base + L"\\undo-journal.txt";
  std::printf("undo journal: the walker keeping it against the walker alone\n");
  for (const Tree& t : trees)
    if (std::string(t.name) != "deep")
      for (bool folders : {false, true})
        worstJournal = std::max(worstJournal, MeasureJournal(t, folders, rounds, journalFile));
  if (!journalOnly)
    for (const Tree& t : trees)
      if (std::string(t.name) == "wide") MeasureBatch(t, rounds);

  if (big) {
    start = Now();
    const Tree t = MakeWide(base, "big", 500, 200);
    std::printf("big: %u files made in %.1f s\n", static_cast<unsigned>(t.files), Now() - start);
    const rtl::TDateTime instant = RoundInstant(1000);
    zel::TBatch batch = BatchFor(t.root, true, instant, gThreads);
    batch.Journal = journalFile;
    batch.InstantText = L"2020/02/29 10:16:40";
    zel::TBatchProgress progress;
    start = Now();
    const zel::TStampResult r = zel::RunBatch(batch, progress);
    const double seconds = Now() - start;
    WIN32_FILE_ATTRIBUTE_DATA d{};
    GetFileAttributesExW(journalFile.c_str(), GetFileExInfoStandard, &d);
    std::printf("big: undo journal of %u entries: %.1f MiB\n", static_cast<unsigned>(r.Changed),
                static_cast<double>(d.nFileSizeLow) / (1024 * 1024));
    const std::size_t good = Verify(t.root, StoredFor(instant));
    std::printf("big: stamped %u files and folders in %.1f s (%.0f files/s), failed %u; "
                "verified %u of %u files\n",
                static_cast<unsigned>(r.Changed), seconds,
                static_cast<double>(t.files) / seconds, static_cast<unsigned>(r.Failed),
                static_cast<unsigned>(good), static_cast<unsigned>(t.files));
    if (good != t.files || r.Failed != 0 || r.JournalLost) status = 1;
  }

  return status;
}
