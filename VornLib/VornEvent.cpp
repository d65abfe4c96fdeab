#include "VornEvent.h"

#include <chrono>
#include <system_error>

namespace vorn {

VornEvent::VornEvent(VornClient* client) : mClient(client) {}

VornEvent::~VornEvent() { Join(); }

bool VornEvent::Start() {
  if (mThread.joinable() || mRunning.load()) return false;
  mRunning.store(true);
  try {
    mThread = std::thread(&VornEvent::ThreadMain, this);
  } catch (const std::system_error&) {
    mRunning.store(false);
    return false;
  }
  return true;
}

bool VornEvent::IsRunning() const { return mRunning.load(); }

void VornEvent::Terminate() {
  std::lock_guard<std::mutex> lock(mMutex);
  mTerminated = true;
  mWake.notify_all();
}

void VornEvent::Run() {}

void VornEvent::WaitForDelay(uint32_t delayMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
  std::unique_lock<std::mutex> lock(mMutex);
  mWake.wait_until(lock, deadline, [this] { return mTerminated || mClaimed; });
}

bool VornEvent::ClaimAction() {
  std::lock_guard<std::mutex> lock(mMutex);
  if (mTerminated || mClaimed) return false;
  mClaimed = true;
  mWake.notify_all();
  return true;
}

void VornEvent::Join() {
  if (!mThread.joinable()) return;
  if (mThread.get_id() == std::this_thread::get_id()) {
    mThread.detach();   // an event ending itself: Run has nothing left to do
  } else {
    mThread.join();
  }
}

void VornEvent::ThreadMain(VornEvent* self) {
  self->Run();
  self->mRunning.store(false);
}

}  // namespace vorn
