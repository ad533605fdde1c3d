// tests/main_window_targets_test.cpp
// The main window's targets: drops built as the shell builds them, and the "変更ファイル"
// button with the real file and folder pickers; times read back from disk.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "main_window/form1.h"
#include "rtl/datetime.h"
#include "rtl/files_win.h"
#include "rtl/locale_win.h"
#include "support/gui.h"

using namespace testgui;

namespace {

const rtl::TDateTime kInstant =
    rtl::ComposeDateTime(rtl::EncodeDate(2021, 7, 15), rtl::EncodeTime(10, 15, 31, 250));
const unsigned long long kInstantTicks = TicksOf(2021, 7, 15, 10, 15, 31, 250);
const unsigned long long kOldTicks = TicksOf(2000, 1, 1, 0, 0, 0, 0);  // as SetOldTimes sets
const wchar_t kOneFileTitle[] = L"１ファイルのみ変更します、選んで下さい。";
const int kFileNameBox = 0x47c;  // the file dialog's name field

std::wstring Changed() { return rtl::DateTimeToStr(kInstant) + L"に変更しました"; }

std::wstring Failures(bool anyChanged, const std::vector<std::wstring>& paths) {
  std::wstring text = rtl::DateTimeToStr(kInstant) +
                      (anyChanged ? L"に変更しました" : L"に変更できませんでした") +
                      L"\r\n\r\n変更できなかったもの：" + std::to_wstring(paths.size()) + L"件";
  for (const std::wstring& p : paths) text += L"\r\n" + p;
  return text;
}

// The main window with the instant held fixed.
struct Window {
  zel::TForm1 form{std::vector<std::wstring>{}};
  Window() {
    form.Timer1.SetEnabled(false);
    form.ChosenDate = rtl::DateOf(kInstant);
    form.ChosenTime = rtl::TimeOf(kInstant);
    form.CheckBox1.SetChecked(false);
    form.Show();
    form.Edit1.SetText(L"前の値");
  }
};

struct Times {
  unsigned long long created = 0, written = 0;  // raw, as stored
};

Times TimesOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA d{};
  if (!GetFileAttributesExW(rtl::ExtendedPath(path).c_str(), GetFileExInfoStandard, &d))
    return {};
  return {Ticks(d.ftCreationTime), Ticks(d.ftLastWriteTime)};
}

unsigned long long Local(unsigned long long ticks) {
  FILETIME stored{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}, local{};
  FileTimeToLocalFileTime(&stored, &local);
  return Ticks(local);
}

void ExpectStamped(const std::wstring& path) {
  const Times t = TimesOf(path);
  EXPECT_EQ(Local(t.created), kInstantTicks) << path;
  EXPECT_EQ(Local(t.written), kInstantTicks) << path;
}

void ExpectUntouched(const std::wstring& path) {
  const Times t = TimesOf(path);
  EXPECT_EQ(t.created, kOldTicks) << path;
  EXPECT_EQ(t.written, kOldTicks) << path;
}

// A drop as the shell makes one: DROPFILES, then the wide paths, each ended, and an empty one.
HGLOBAL MakeDrop(const std::vector<std::wstring>& paths) {
  size_t chars = 1;
  for (const std::wstring& p : paths) chars += p.size() + 1;
  HGLOBAL h = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  auto* files = static_cast<DROPFILES*>(GlobalLock(h));
  files->pFiles = sizeof(DROPFILES);
  files->fWide = TRUE;
  auto* out = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(files) + sizeof(DROPFILES));
  for (const std::wstring& p : paths) {
    std::copy(p.begin(), p.end(), out);
    out += p.size() + 1;
  }
  GlobalUnlock(h);
  return h;
}

bool Released(HGLOBAL drop) { return GlobalSize(drop) == 0; }

// Files and folders to stamp, all set to the old time. Names outside code page 932 included.
struct Tree {
  TempDir dir;
  std::wstring file = dir / L"a.txt";
  std::wstring foreign = dir / L"한글 ñ.txt";
  std::wstring folder = dir / L"フォルダ";
  std::wstring inner = folder + L"\\inner.txt";
  std::wstring deep = folder + L"\\下\\deep.txt";
  std::wstring bystander = dir / L"bystander.txt";  // never named
  Tree() {
    for (const std::wstring& f : {file, foreign, bystander}) WriteFile(f);
    MakeDir(folder);
    MakeDir(folder + L"\\下");
    WriteFile(inner);
    WriteFile(deep);
    for (const std::wstring& p : {file, foreign, bystander, inner, deep, folder}) SetOldTimes(p);
  }
};

// Waits while a system dialog initialises, then calls act on each tick until it is done.
Step Once(DWORD settleMs, std::function<bool(HWND, int)> act) {
  auto start = std::make_shared<DWORD>(0);
  auto calls = std::make_shared<int>(0);
  return [=](HWND box) {
    if (*start == 0) *start = GetTickCount() | 1;
    if (GetTickCount() - *start < settleMs) return false;
    return act(box, (*calls)++);
  };
}

Step TypeNameAndOpen(const std::wstring& name) {
  return Once(400, [name](HWND box, int) {
    SetDlgItemTextW(box, kFileNameBox, name.c_str());
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    return true;
  });
}

Step SelectFolderAndOk(const std::wstring& folder) {
  return Once(400, [folder](HWND box, int call) {
    if (call == 0) {
      SendMessageW(box, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
      return false;  // OK on the next tick, once the tree shows the selection
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    return true;
  });
}

Step CancelAfterSettling() {
  return Once(400, [](HWND box, int) {
    Answer(box, Key::Escape);
    return true;
  });
}

}  // namespace

// ---- drops ----------------------------------------------------------------------------

TEST(DroppedTargets, YesStampsFilesAndFoldersInDropOrderWhateverThePickMode) {
  for (bool oneFileMode : {false, true}) {
    SCOPED_TRACE(oneFileMode ? "1ファイル" : "ディレクトリ");
    Tree t;
    const std::wstring missing = t.dir / L"gone.txt";
    WriteFile(missing);
    DeleteFileW(missing.c_str());  // dropped, then removed before the answer
    const std::wstring readOnly = t.dir / L"ro.txt";
    WriteFile(readOnly);
    SetOldTimes(readOnly);
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);

    Window w;
    (oneFileMode ? w.form.RadioButton2 : w.form.RadioButton1).SetChecked(true);
    HGLOBAL drop = MakeDrop({t.file, missing, t.folder, readOnly, t.foreign});
    ModalDriver driver({Press(Key::Enter), Press(Key::Enter)});
    if (oneFileMode) {  // posted, as the shell delivers it
      PostMessageW(w.form.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
      for (int i = 0; i < 200 && !driver.Done(); ++i) Pump(20);
      Pump(50);
    } else {
      SendMessageW(w.form.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    }
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);

    ASSERT_EQ(driver.seen.size(), 2u);
    EXPECT_EQ(driver.seen[0].text, zel::kAskToStamp);
    EXPECT_EQ(driver.seen[0].buttons, (std::vector<std::wstring>{L"はい(&Y)", L"いいえ(&N)"}));
    // Only what failed is listed as failed, by its full path, in the order dropped.
    EXPECT_EQ(driver.seen[1].text, Failures(true, {missing, readOnly}));
    EXPECT_EQ(w.form.Edit1.Text(), zel::kDroppedStatus);
    for (const std::wstring& p : {t.file, t.foreign, t.inner, t.deep}) ExpectStamped(p);
    ExpectUntouched(readOnly);
    ExpectUntouched(t.bystander);
    ExpectUntouched(t.folder);  // folder times only with CheckBox1
    EXPECT_EQ(w.form.LastResult().Changed, 4u);
    EXPECT_TRUE(Released(drop));
  }
}

TEST(DroppedTargets, NoEscapeAndTitleBarCloseChangeNothing) {
  Tree t;
  Window w;
  const std::vector<Step> answers = {Click(L"いいえ"), Press(Key::Escape),
                                     Press(Key::TitleBarClose)};
  for (size_t i = 0; i < answers.size(); ++i) {
    SCOPED_TRACE(i);
    HGLOBAL drop = MakeDrop({t.file, t.folder});
    ModalDriver driver({answers[i], Press(Key::Enter)});
    SendMessageW(w.form.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    Pump(100);
    ASSERT_EQ(driver.seen.size(), 1u);  // the question only: no report
    EXPECT_EQ(driver.seen[0].text, zel::kAskToStamp);
    EXPECT_EQ(w.form.Edit1.Text(), L"前の値");
    for (const std::wstring& p : {t.file, t.inner, t.deep, t.folder}) ExpectUntouched(p);
    EXPECT_TRUE(Released(drop));
  }
}

TEST(DroppedTargets, PathsLongerThanMaxPathAreStampedWhole) {
  Tree t;
  // Two folder levels of 140 characters: the file's path is well past 260.
  const std::wstring outer = t.dir / std::wstring(140, L'd');
  const std::wstring folder = outer + L"\\" + std::wstring(140, L'e');
  const std::wstring file = folder + L"\\long.txt";
  const std::wstring other = folder + L"\\other.txt";
  ASSERT_GT(file.size(), 300u);
  CreateDirectoryW(rtl::ExtendedPath(outer).c_str(), nullptr);
  CreateDirectoryW(rtl::ExtendedPath(folder).c_str(), nullptr);
  for (const std::wstring& f : {file, other}) {
    WriteFile(rtl::ExtendedPath(f));
    SetOldTimes(rtl::ExtendedPath(f));
  }

  {
    Window w;
    w.form.CheckBox1.SetChecked(true);
    ModalDriver driver({Press(Key::Enter), Press(Key::Enter)});
    SendMessageW(w.form.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({file})), 0);
    ASSERT_EQ(driver.seen.size(), 2u);
    EXPECT_EQ(driver.seen[1].text, Changed());  // a cut path would name nothing and fail
    ExpectStamped(file);
    ExpectUntouched(other);

    // A long folder path walks its whole tree; with CheckBox1 the folder's own time too.
    SetOldTimes(rtl::ExtendedPath(file));
    ModalDriver driver2({Press(Key::Enter), Press(Key::Enter)});
    SendMessageW(w.form.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({folder})),
                 0);
    ASSERT_EQ(driver2.seen.size(), 2u);
    EXPECT_EQ(driver2.seen[1].text, Changed());
    ExpectStamped(file);
    ExpectStamped(other);
    EXPECT_EQ(Local(TimesOf(folder).written), kInstantTicks);
    EXPECT_EQ(w.form.LastResult().Changed, 3u);
  }
  // TempDir cannot remove what lies past MAX_PATH.
  for (const std::wstring& f : {file, other}) DeleteFileW(rtl::ExtendedPath(f).c_str());
  RemoveDirectoryW(rtl::ExtendedPath(folder).c_str());
  RemoveDirectoryW(rtl::ExtendedPath(outer).c_str());
}

// ---- the button -----------------------------------------------------------------------

TEST(OneFileButton, TypedNameIsShownAndStampedMissingOneReportedCancelChangesNothing) {
  Tree t;
  TempDir elsewhere;
  wchar_t before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);
  SetCurrentDirectoryW(elsewhere.path().c_str());
  Window w;
  w.form.RadioButton2.SetChecked(true);

  {  // a name outside code page 932, typed as a full path
    ModalDriver driver({TypeNameAndOpen(t.foreign), Press(Key::Enter)});
    w.form.Button1.Click();
    ASSERT_EQ(driver.seen.size(), 2u);
    EXPECT_EQ(driver.seen[0].caption, kOneFileTitle);
    EXPECT_EQ(driver.seen[1].text, Changed());
    EXPECT_EQ(w.form.Edit1.Text(), t.foreign);
    ExpectStamped(t.foreign);
    for (const std::wstring& p : {t.file, t.bystander}) ExpectUntouched(p);
  }
  {  // the title is set again each time; a missing file is taken and reported as not changed
    w.form.OpenDialog1.Title = L"別の題";
    const std::wstring missing = t.dir / L"無い.txt";
    ModalDriver driver({TypeNameAndOpen(missing), Press(Key::Enter)});
    w.form.Button1.Click();
    ASSERT_EQ(driver.seen.size(), 2u);
    EXPECT_EQ(driver.seen[0].caption, kOneFileTitle);
    EXPECT_EQ(driver.seen[1].text, Failures(false, {missing}));
    EXPECT_EQ(w.form.Edit1.Text(), missing);
    EXPECT_FALSE(rtl::FileExists(missing));
  }
  {  // cancelled: no report, Edit1 as it was
    SetOldTimes(t.foreign);
    ModalDriver driver({CancelAfterSettling(), Press(Key::Enter)});
    w.form.Button1.Click();
    Pump(100);
    EXPECT_EQ(driver.seen.size(), 1u);
    EXPECT_EQ(w.form.Edit1.Text(), t.dir / L"無い.txt");
    for (const std::wstring& p : {t.file, t.foreign, t.bystander}) ExpectUntouched(p);
  }
  wchar_t after[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, after);
  EXPECT_EQ(std::wstring(after), elsewhere.path());  // the dialog left it alone
  SetCurrentDirectoryW(before);
}

TEST(FolderButton, ChosenFolderIsShownAndStampedWholeCancelChangesNothing) {
  Tree t;  // under the temp folder on C:, where the picker can select it
  Window w;
  ASSERT_TRUE(w.form.RadioButton1.Checked());  // the default mode

  {
    ModalDriver driver({SelectFolderAndOk(t.folder), Press(Key::Enter)});
    w.form.Button1.Click();
    ASSERT_EQ(driver.seen.size(), 2u);
    EXPECT_NE(driver.seen[0].text.find(L"ディレクトリを選んで下さい"), std::wstring::npos);
    EXPECT_EQ(driver.seen[0].owner, w.form.Handle());
    EXPECT_EQ(driver.seen[1].text, Changed());
    EXPECT_EQ(w.form.Edit1.Text(), t.folder);  // the full path, not the display name
    ExpectStamped(t.inner);
    ExpectStamped(t.deep);
    for (const std::wstring& p : {t.file, t.foreign, t.bystander, t.folder}) ExpectUntouched(p);
  }
  {
    for (const std::wstring& p : {t.inner, t.deep}) SetOldTimes(p);
    ModalDriver driver({CancelAfterSettling(), Press(Key::Enter)});
    w.form.Button1.Click();
    Pump(100);
    EXPECT_EQ(driver.seen.size(), 1u);
    EXPECT_EQ(w.form.Edit1.Text(), t.folder);
    for (const std::wstring& p : {t.inner, t.deep, t.file}) ExpectUntouched(p);
  }
}
