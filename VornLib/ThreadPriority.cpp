#include "ThreadPriority.h"

#include <cerrno>
#include <cstring>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vorn {

namespace {

constexpr PriorityLevel kLevels[] = {
    {"time-critical", 15, -20},
    {"highest", 2, -10},
    {"above", 1, -5},
    {"normal", 0, 0},
    {"below", -1, 5},
    {"lowest", -2, 10},
};

}  // namespace

const PriorityLevel* ThreadPriority::FindByName(const char* name) {
  if (name == nullptr) return nullptr;
  for (const PriorityLevel& level : kLevels) {
    if (std::strcmp(level.name, name) == 0) return &level;
  }
  return nullptr;
}

const PriorityLevel* ThreadPriority::FindByNice(int niceValue) {
  for (const PriorityLevel& level : kLevels) {
    if (level.niceValue == niceValue) return &level;
  }
  return nullptr;
}

ThreadId ThreadPriority::CurrentThreadId() {
  return static_cast<ThreadId>(syscall(SYS_gettid));
}

bool ThreadPriority::Set(ThreadId tid, const PriorityLevel& level) {
  if (tid <= 0) return false;
  return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), level.niceValue) == 0;
}

const PriorityLevel* ThreadPriority::Get(ThreadId tid) {
  if (tid <= 0) return nullptr;
  // -1 is a valid nice value: errno tells a failure apart.
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  if (nice == -1 && errno != 0) return nullptr;
  return FindByNice(nice);
}

int SetPriorityByName(ThreadId tid, const char* name) {
  const PriorityLevel* level = ThreadPriority::FindByName(name);
  if (level == nullptr) return -1;
  return ThreadPriority::Set(tid, *level) ? 0 : -2;
}

const char* GetPriorityName(ThreadId tid) {
  const PriorityLevel* level = ThreadPriority::Get(tid);
  return level ? level->name : nullptr;
}

}  // namespace vorn
