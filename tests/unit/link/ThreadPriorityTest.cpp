// Priority names, their values, and per-thread nice values.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <thread>

#include "ThreadPriority.h"

namespace vorn {
namespace {

TEST(ThreadPriority, NamesMatchExactlyAndRankByNiceValue) {
  const PriorityLevel* prev = nullptr;
  for (const char* name : {"time-critical", "highest", "above", "normal", "below", "lowest"}) {
    const PriorityLevel* level = ThreadPriority::FindByName(name);
    ASSERT_NE(level, nullptr) << name;
    EXPECT_EQ(ThreadPriority::FindByNice(level->niceValue), level) << name;
    if (prev) {
      EXPECT_LT(prev->niceValue, level->niceValue) << name;   // higher priority, lower nice
    }
    prev = level;
  }
  for (const char* unknown : {"Normal", "normal ", "", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(ThreadPriority::FindByName(unknown), nullptr);
  }
}

TEST(ThreadPriority, SetAndGetActOnOneThreadOnly) {
  const char* before = GetPriorityName(ThreadPriority::CurrentThreadId());
  std::thread([] {   // a thread of its own: nice values changed here die with it
    const ThreadId tid = ThreadPriority::CurrentThreadId();
    ASSERT_EQ(setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 3), 0);
    EXPECT_EQ(GetPriorityName(tid), nullptr);   // a nice value outside the table
    EXPECT_EQ(SetPriorityByName(tid, "below"), 0);   // lowering is always allowed
    EXPECT_STREQ(GetPriorityName(tid), "below");
    EXPECT_EQ(SetPriorityByName(tid, "Lowest"), -1);   // unknown: nothing changes
    EXPECT_STREQ(GetPriorityName(tid), "below");
    ASSERT_EQ(SetPriorityByName(tid, "lowest"), 0);
    // Raising needs the right to; either way the answer matches what the thread has.
    const int r = SetPriorityByName(tid, "highest");
    EXPECT_STREQ(GetPriorityName(tid), r == 0 ? "highest" : "lowest");
  }).join();
  const char* after = GetPriorityName(ThreadPriority::CurrentThreadId());
  EXPECT_STREQ(before ? before : "?", after ? after : "?");

  EXPECT_EQ(SetPriorityByName(kNoThread, "normal"), -2);   // no such thread
  EXPECT_EQ(SetPriorityByName(0x7FFFFFF0, "normal"), -2);
  EXPECT_EQ(GetPriorityName(0x7FFFFFF0), nullptr);
}

}  // namespace
}  // namespace vorn
