// tests/rtl_params_test.cpp
#include "rtl/params.h"

#include <gtest/gtest.h>

using Params = std::vector<std::wstring>;

TEST(RtlParamStrs, SplitAsTheClassLibrarySplits) {
  const std::pair<const wchar_t*, Params> rows[] = {  // the command line, the arguments
      {L"prog", {}},
      {L"\"C:\\Program Files\\z.exe\"  a\tb ", {L"a", L"b"}},
      {L"prog \"D:\\\"", {L"D:\\"}},
      {L"prog \"C:\\My Photos\\\" E:\\x", {L"C:\\My Photos\\", L"E:\\x"}},
      {L"prog \\\\srv\\share\\ x\\\"y\"", {L"\\\\srv\\share\\", L"x\\y"}},
  };
  for (const auto& [line, params] : rows) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(line)));
    EXPECT_EQ(rtl::ParamStrs(line), params);
  }
}
