// main_window/form1_targets.cpp
// Targets chosen with the "変更ファイル" button or dropped onto the window.
#include "framework/shell.h"
#include "main_window/form1.h"

namespace zel {

void TForm1::Button1Click() {}

std::wstring TForm1::BrowseForFolder() { return {}; }

void TForm1::WMDropFiles(HDROP drop) { fw::TDropFiles files(drop); }

}  // namespace zel
