// Priority names, their values, and per-thread nice values.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "ThreadPriority.h"

namespace vorn {
namespace {

// Runs fn on a fresh thread, so nice values changed there die with it.
void OnOwnThread(const std::function<void(ThreadId)>& fn) {
  std::thread t([&] { fn(ThreadPriority::CurrentThreadId()); });
  t.join();
}

TEST(ThreadPriority, TableServesBothDirections) {
  const char* names[] = {"time-critical", "highest", "above", "normal", "below", "lowest"};
  const int windows[] = {15, 2, 1, 0, -1, -2};
  const PriorityLevel* levels = ThreadPriority::Levels();
  for (size_t i = 0; i < ThreadPriority::kLevelCount; ++i) {
    EXPECT_STREQ(levels[i].name, names[i]);
    EXPECT_EQ(levels[i].windowsValue, windows[i]);
    EXPECT_EQ(ThreadPriority::FindByName(names[i]), &levels[i]);
    EXPECT_EQ(ThreadPriority::FindByWindowsValue(windows[i]), &levels[i]);
    EXPECT_EQ(ThreadPriority::FindByNice(levels[i].niceValue), &levels[i]);
  }
  // Higher priority, lower nice value.
  for (size_t i = 1; i < ThreadPriority::kLevelCount; ++i) {
    EXPECT_LT(levels[i - 1].niceValue, levels[i].niceValue);
  }
  EXPECT_EQ(ThreadPriority::FindByName("Normal"), nullptr);
  EXPECT_EQ(ThreadPriority::FindByName("normal "), nullptr);
  EXPECT_EQ(ThreadPriority::FindByName(""), nullptr);
  EXPECT_EQ(ThreadPriority::FindByName(nullptr), nullptr);
  EXPECT_EQ(ThreadPriority::FindByWindowsValue(3), nullptr);
}

TEST(ThreadPriority, SetThenGetOnOneThreadOnly) {
  const char* before = GetPriorityName(ThreadPriority::CurrentThreadId());
  OnOwnThread([](ThreadId tid) {
    EXPECT_EQ(SetPriorityByName(tid, "lowest"), 0);   // lowering is always allowed
    EXPECT_STREQ(GetPriorityName(tid), "lowest");
  });
  // The calling thread kept its own value.
  const char* after = GetPriorityName(ThreadPriority::CurrentThreadId());
  EXPECT_EQ(before == nullptr, after == nullptr);
  if (before && after) {
    EXPECT_STREQ(before, after);
  }
}

TEST(ThreadPriority, UnknownNameIsMinus1AndChangesNothing) {
  OnOwnThread([](ThreadId tid) {
    ASSERT_EQ(SetPriorityByName(tid, "below"), 0);
    EXPECT_EQ(SetPriorityByName(tid, "Lowest"), -1);
    EXPECT_STREQ(GetPriorityName(tid), "below");
  });
}

TEST(ThreadPriority, RefusalIsMinus2) {
  // No such thread.
  EXPECT_EQ(SetPriorityByName(kNoThread, "normal"), -2);
  EXPECT_EQ(SetPriorityByName(0x7FFFFFF0, "normal"), -2);
  EXPECT_EQ(GetPriorityName(0x7FFFFFF0), nullptr);
  // Raising a priority back is refused without the right to do so; with it,
  // it succeeds. Either way the answer matches what the thread now has.
  OnOwnThread([](ThreadId tid) {
    ASSERT_EQ(SetPriorityByName(tid, "lowest"), 0);
    const int r = SetPriorityByName(tid, "highest");
    EXPECT_STREQ(GetPriorityName(tid), r == 0 ? "highest" : "lowest");
  });
}

TEST(ThreadPriority, ANiceValueOutsideTheTableHasNoName) {
  OnOwnThread([](ThreadId tid) {
    ASSERT_EQ(setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 3), 0);
    EXPECT_EQ(GetPriorityName(tid), nullptr);
  });
}

}  // namespace
}  // namespace vorn
