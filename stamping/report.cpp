// stamping/report.cpp
#include "stamping/journal.h"
#include "stamping/stamping.h"

namespace zel {
namespace {

// In the order of TFailReason.
const wchar_t* const kReasonTexts[] = {
    L"読み取り専用", L"使用中",         L"見つかりません",       L"リンク",
    L"アクセス拒否", L"一覧を取得できません", L"日付を設定できません", L"その後変更されています",
    L"日付が保存されませんでした", nullptr,
};
static_assert(sizeof kReasonTexts / sizeof kReasonTexts[0] ==
                  static_cast<std::size_t>(TFailReason::Other) + 1,
              "one text per reason");

std::wstring ReasonText(const TStampFailure& f) {
  const wchar_t* text = kReasonTexts[static_cast<std::size_t>(f.Reason)];
  return text != nullptr ? text : L"エラー " + std::to_wstring(f.Error);
}

std::wstring Line(const TStampFailure& f) { return f.Path + L"（" + ReasonText(f) + L"）"; }

}  // namespace

std::wstring ReportText(const std::wstring& instantText, const TStampResult& r) {
  const bool any = r.Failed == 0 || r.Changed > 0;
  std::wstring text = r.Stopped
                          ? instantText + L"への変更を中止しました\r\n変更したもの：" +
                                std::to_wstring(r.Changed) + L"件"
                          : instantText + (any ? L"に変更しました" : L"に変更できませんでした");
  text += FailuresText(r);
  if (r.JournalLost) text += std::wstring(L"\r\n\r\n") + kNotUndoable;
  return text;
}

std::wstring FailuresText(const TStampResult& r) {
  if (r.Failed == 0) return {};
  std::wstring text = L"\r\n\r\n変更できなかったもの：" + std::to_wstring(r.Failed) + L"件";
  std::size_t shown = 0;
  for (const TStampFailure& f : r.Failures) {
    if (shown == TStampResult::MaxFailures) break;
    text += L"\r\n" + Line(f);
    ++shown;
  }
  if (r.Failed > shown)
    text += L"\r\nほか " + std::to_wstring(r.Failed - shown) +
            L"件\r\n（Ctrl+C ですべてをコピーできます）";
  return text;
}

std::wstring FailureListText(const TStampResult& r) {
  std::wstring text;
  for (const TStampFailure& f : r.Failures) text += Line(f) + L"\r\n";
  return text;
}

}  // namespace zel
