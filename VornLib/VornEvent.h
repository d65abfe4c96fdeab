// VornEvent: a piece of work that runs once on a thread of its own after
// Start(). The work usually begins with a wait (WaitForDelay) that
// Terminate() cuts short; a terminated event does not act.
//
// Threads: Start, IsRunning, Terminate and the destructor are called by the
// event's owner (MATLAB's thread); Run runs on the event's own thread and
// touches only the event's members and whatever the subclass sends with.
// The destructor waits for the thread to end. A subclass with members that
// Run uses must call Join() first thing in its own destructor.
// Nothing is queued, so nothing can fill up.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace vorn {

class VornClient;

class VornEvent {
 public:
  explicit VornEvent(VornClient* client);
  virtual ~VornEvent();
  VornEvent(const VornEvent&) = delete;
  VornEvent& operator=(const VornEvent&) = delete;

  // Starts the thread that calls Run(). False when the thread could not be
  // started (or the event was started before).
  bool Start();
  // True from Start() until Run() has returned.
  bool IsRunning() const;
  // Cancels the event's wait. If its action has not begun, it never will;
  // an action already under way is completed.
  void Terminate();

 protected:
  // The event's work, on its own thread. The base version does nothing.
  virtual void Run();

  // Sleeps until the delay has passed, Terminate() is called or the action
  // was claimed elsewhere, whichever comes first.
  void WaitForDelay(uint32_t delayMs);
  // The right to perform the event's action: true for exactly one caller,
  // and for none once the event has been terminated.
  bool ClaimAction();
  // Waits for the thread to end (no-op without one).
  void Join();

  VornClient* mClient;   // not owned

 private:
  static void ThreadMain(VornEvent* self);

  std::thread mThread;
  std::atomic<bool> mRunning{false};
  std::mutex mMutex;              // guards mTerminated, mClaimed
  std::condition_variable mWake;
  bool mTerminated = false;
  bool mClaimed = false;
};

}  // namespace vorn
