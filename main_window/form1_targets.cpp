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
  std::wstring target;
  if (RadioButton2.Checked()) {
    OpenDialog1.Title = kOneFileTitle;
    if (!OpenDialog1.Execute(Handle())) return;
    target = OpenDialog1.FileName;
  } else {
    target = BrowseForFolder();
    if (target.empty()) return;
  }
  // One started while the picker was open: the field still names its targets.
  if (RefusedWhileBatchRuns()) return;
  Edit1.SetText(target);
  // The target is what Edit1 shows, so the report and the field cannot disagree.
  StartBatch({Edit1.Text()});
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
  return fw::ItemPath(item.get());
}

void TForm1::WMDropFiles(HDROP drop) {
  // Owned at once: the shell's drop is released however this returns.
  fw::TDropFiles files(drop);
  SetForegroundWindow(Handle());
  if (RefusedWhileBatchRuns()) return;
  if (fw::MessageDlgAt(*this, kAskToStamp, fw::mbYes | fw::mbNo) != fw::mrYes) return;
  if (RefusedWhileBatchRuns()) return;  // one started while the question was open
  Edit1.SetText(kDroppedStatus);
  std::vector<std::wstring> targets;
  const unsigned count = files.Count();
  for (unsigned i = 0; i < count; ++i) targets.push_back(files.Path(i));
  files.Finish();
  StartBatch(std::move(targets));
}

}  // namespace zel
