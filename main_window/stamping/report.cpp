// main_window/stamping/report.cpp
#include "main_window/stamping/stamping.h"

namespace zel {

std::wstring ReportText(const std::wstring& instantText, const TStampResult& r) {
  const bool any = r.Failed == 0 || r.Changed > 0;
  std::wstring text = r.Stopped
                          ? instantText + L"への変更を中止しました\r\n変更したもの：" +
                                std::to_wstring(r.Changed) + L"件"
                          : instantText + (any ? L"に変更しました" : L"に変更できませんでした");
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
