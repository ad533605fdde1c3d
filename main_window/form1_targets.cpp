// main_window/form1_targets.cpp
// Targets chosen with the "変更ファイル" button or dropped onto the window.
#include "framework/shell.h"
#include "main_window/form1.h"

namespace zel {

namespace {
const wchar_t kOneFileTitle[] = L"１ファイルのみ変更します、選んで下さい。";
const wchar_t kFolderTitle[] = L"ディレクトリを選んで下さい";
}  // namespace

void TForm1::Button1Click() {
  if (RadioButton2.Checked()) {
    OpenDialog1.Title = kOneFileTitle;
    if (!OpenDialog1.Execute(Handle())) return;
    Edit1.SetText(OpenDialog1.FileName);
  } else {
    std::wstring path = BrowseForFolder();
    if (path.empty()) return;
    Edit1.SetText(path);
  }
  BeginBatch();
  // The target is what Edit1 shows, so the report and the field cannot disagree.
  StampPath(Edit1.Text(), StoredInstant());
  ReportChanged();
}

std::wstring TForm1::BrowseForFolder() {
  wchar_t displayName[MAX_PATH] = {};  // only the item's short name; the path comes below
  BROWSEINFOW info{};
  info.hwndOwner = Handle();
  info.pidlRoot = nullptr;
  info.pszDisplayName = displayName;
  info.lpszTitle = kFolderTitle;
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = nullptr;
  fw::ShellItemList item(SHBrowseForFolderW(&info));
  if (!item.get()) return {};
  return item.Path();
}

void TForm1::WMDropFiles(HDROP drop) {
  // Owned at once: the shell's drop is released however this returns.
  fw::TDropFiles files(drop);
  SetForegroundWindow(Handle());
  if (fw::MessageDlgAt(*this, kAskToStamp, fw::mbYes | fw::mbNo) != fw::mrYes) return;
  Edit1.SetText(kDroppedStatus);
  BeginBatch();
  const unsigned count = files.Count();
  for (unsigned i = 0; i < count; ++i) StampPath(files.Path(i), StoredInstant());
  files.Finish();
  ReportChanged();
}

}  // namespace zel
