// tests/rtl_handle_test.cpp
// The owner template's rules, with a handle kind that records its closes.
#include "rtl/handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> closed;

struct CountedTraits {
  using Type = int;
  static constexpr int Empty() noexcept { return -1; }
  static bool IsValid(int h) noexcept { return h >= 0; }
  static bool Close(int h) noexcept { return closed.push_back(h), true; }
};
using Owned = rtl::THandle<CountedTraits>;

TEST(RtlHandle, EveryValidHandleIsClosedExactlyOnce) {
  closed.clear();
  {
    Owned a(1), b(2), empty;
    Owned moved(std::move(a));  // a no longer owns 1
    b = std::move(moved);       // 2 closed, b owns 1
    b.reset(3);                 // 1 closed
    Owned kept(4);
    EXPECT_EQ(kept.release(), 4);  // the caller owns it now
    EXPECT_TRUE(empty.close());
  }
  EXPECT_EQ(closed, (std::vector<int>{2, 1, 3}));
}

}  // namespace
