// tests/rtl_win_test.cpp
// The Windows half of the run-time routines, against real paths.
#include <gtest/gtest.h>
#include <windows.h>

#include "rtl/files_win.h"

using namespace rtl;

// The user's path made whole, then taken name by name; a \\?\ name as it is, and back.
TEST(RtlWinPaths, EveryPathGetsItsExactNameAndBack) {
  const std::wstring tail(300, L'x');
  const std::pair<std::wstring, std::wstring> rows[] = {
      {L"C:/dir/../" + tail, L"\\\\?\\C:\\" + tail},
      {L"\\\\srv\\share\\" + tail, L"\\\\?\\UNC\\srv\\share\\" + tail},
      {L"\\\\?\\C:\\a. ", L"\\\\?\\C:\\a. "}};
  for (const auto& [path, exact] : rows) {
    EXPECT_EQ(ExactPath(path), exact);
    EXPECT_EQ(OrdinaryPath(exact), exact == rows[2].second ? L"C:\\a. " : ExpandFileName(path));
  }
}
