// Thread priority by the names the 'priority' command uses. One table
// serves both directions: name <-> Windows thread priority value <-> the
// Linux per-thread nice value that stands for it here.
//
//   name            Windows value   nice
//   time-critical        15          -20
//   highest               2          -10
//   above                 1           -5
//   normal                0            0
//   below                -1            5
//   lowest               -2           10
//
// On Linux a thread's priority is its own nice value, set with
// setpriority(PRIO_PROCESS, tid) on the thread's kernel id, which the thread
// captures itself with CurrentThreadId(). Raising a priority (a negative
// nice value) needs CAP_SYS_NICE or a matching RLIMIT_NICE; a refusal is
// reported as a failure. Reading maps the nice value back to a name only
// when it is exactly one of the table's values.
//
// Threads: any thread may call these; they act on the thread given by id.
#pragma once

#include <cstddef>

namespace vorn {

using ThreadId = int;   // the kernel's thread id (gettid)
constexpr ThreadId kNoThread = 0;

struct PriorityLevel {
  const char* name;
  int windowsValue;
  int niceValue;
};

class ThreadPriority {
 public:
  // Exact, case-sensitive comparison; null when the name is not in the table.
  static const PriorityLevel* FindByName(const char* name);
  static const PriorityLevel* FindByNice(int niceValue);

  // The calling thread's kernel id.
  static ThreadId CurrentThreadId();

  // Sets the thread's nice value; false when the system refused.
  static bool Set(ThreadId tid, const PriorityLevel& level);
  // The thread's level, or null when its nice value cannot be read or is
  // not one of the table's.
  static const PriorityLevel* Get(ThreadId tid);
};

// 0 set; -1 the name is not in the table; -2 the system refused (or there
// is no thread).
int SetPriorityByName(ThreadId tid, const char* name);
// The thread's priority name, or null when it is not in the table.
const char* GetPriorityName(ThreadId tid);

}  // namespace vorn
