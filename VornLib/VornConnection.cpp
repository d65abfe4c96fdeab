#include "VornConnection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <future>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "VornCache.h"
#include "VornClient.h"
#include "VornPacketList.h"
#include "VornProtocol.h"

namespace vorn {

namespace {

using Clock = std::chrono::steady_clock;

// A receive that waited this long found the socket empty (at full load a
// datagram arrives every ~30 us).
constexpr std::chrono::microseconds kIdleReceive(250);

// Discovery requests.
constexpr uint16_t kProcessorTimeProperty = 5;   // asked of the KEL's module 0
constexpr uint32_t kRequestsPerPause = 4;        // pause after requests 0, 4, 8, ...
constexpr const char* kStartPriority = "highest";

int MillisecondsSince(Clock::time_point start) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

}  // namespace

VornConnection::VornConnection(std::shared_ptr<NetPlatform> platform, ConnectionTiming timing)
    : mPlatform(std::move(platform)), mTiming(std::move(timing)) {
  if (!mPlatform) mPlatform = MakeSystemNetPlatform();
}

VornConnection::~VornConnection() { Close(); }

ThreadId VornConnection::GetListenThreadId() const {
  return IsListening() ? mThreadId.load(std::memory_order_acquire) : kNoThread;
}

ListenCounters VornConnection::GetCounters() const {
  ListenCounters c;
  c.datagrams = mDatagrams.load(std::memory_order_acquire);
  c.backlogged = mBacklogged.load(std::memory_order_relaxed);
  c.backlogHighWater = mHighWater.load(std::memory_order_relaxed);
  c.backlogDrops = mBacklogDrops.load(std::memory_order_relaxed);
  c.receiveFailures = mReceiveFailures.load(std::memory_order_relaxed);
  return c;
}

// ---------------------------------------------------------------------------
// Start and end

void VornConnection::Open() {
  try {
    mClient = new VornClient(kRecvBufferSize, kSendBufferSize, mPlatform);
  } catch (const std::bad_alloc&) {
    mClient = nullptr;
  }
  try {
    mCache = new VornCache();
  } catch (const std::bad_alloc&) {
    mCache = nullptr;
  }
  if (mClient == nullptr || mCache == nullptr) return;

  if (mClient->GetInitStatus() != 0) {
    std::fprintf(stderr, "Client initialization failed\n");
    return;
  }

  mListening.store(true, std::memory_order_release);
  try {
    mMutex.reset(new std::mutex);
    mDrainList.reset(new VornPacketList(kPacketListCapacity));
  } catch (const std::bad_alloc&) {
    // Without the mutex no thread may touch the cache: discovery cannot run,
    // and the gateway then reports that the KEL was not found.
    std::fprintf(stderr, "failed to create mutex\n");
    mMutex.reset();
    mListening.store(false);
    return;
  }

  // The backlog's pages are only touched as deep as the backlog ever grows.
  mBacklogData.reset(new (std::nothrow)
                         uint8_t[static_cast<size_t>(kBacklogSlots) * kPacketListCapacity]);
  mBacklogLengths.reset(new (std::nothrow) uint16_t[kBacklogSlots]);
  if (mBacklogData && mBacklogLengths) {
    mBacklogCapacity = kBacklogSlots;
  } else {
    std::fprintf(stderr, "no memory for the receive backlog: listening without it\n");
    mBacklogData.reset();
    mBacklogLengths.reset();
    mBacklogCapacity = 0;
  }

  mDiscovering.store(true, std::memory_order_release);
  std::promise<void> started;
  std::future<void> threadKnown = started.get_future();
  mThreadRunning.store(true, std::memory_order_release);
  try {
    mThread = std::thread([this, &started] {
      mThreadId.store(ThreadPriority::CurrentThreadId(), std::memory_order_release);
      started.set_value();
      ListenLoop();
    });
  } catch (const std::system_error&) {
    std::fprintf(stderr, "failed to create listening thread\n");
    mThreadRunning.store(false);
    mListening.store(false);
    mDiscovering.store(false);
    return;
  }
  threadKnown.wait();

  const PriorityLevel* level = ThreadPriority::FindByName(kStartPriority);
  if (level == nullptr || !ThreadPriority::Set(mThreadId.load(), *level)) {
    std::fprintf(stderr, "failed to set thread priority.\n");
  }

  Discover();
  mDiscovering.store(false, std::memory_order_release);
}

void VornConnection::Close() {
  mListening.store(false, std::memory_order_release);
  if (mThread.joinable()) mThread.join();
  mDiscovering.store(false);

  delete mCache;
  mCache = nullptr;
  delete mClient;
  mClient = nullptr;

  mDrainList.reset();
  mMutex.reset();
  mBacklogData.reset();
  mBacklogLengths.reset();
  mBacklogCapacity = 0;
  mHead.store(0);
  mTail.store(0);
}

// ---------------------------------------------------------------------------
// Discovery (MATLAB's thread)

void VornConnection::Pause(int milliseconds) {
  if (milliseconds <= 0) return;
  if (mTiming.pause) {
    mTiming.pause(milliseconds);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

bool VornConnection::WaitFor(const std::function<bool()>& pred, int timeoutMs, int* waitedMs) {
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::unique_lock<std::mutex> lock(*mMutex);
  DrainBacklogLocked();
  bool done = pred();
  // The listening thread notifies after every datagram it processes; a
  // thread that has ended brings nothing more.
  while (!done && IsListening()) {
    const std::cv_status status = mProcessed.wait_until(lock, deadline);
    DrainBacklogLocked();
    done = pred();
    if (status == std::cv_status::timeout) break;
  }
  if (waitedMs != nullptr) *waitedMs = MillisecondsSince(start);
  return done;
}

void VornConnection::Discover() {
  // Property 0 of module 0 of every processor (operators included), the
  // KEL's own property 5, and the descriptor of every module of the KEL.
  mClient->RequestProperty(ALL_PROCESSORS, PROCESSOR_MODULE, 0);
  mClient->RequestProperty(KEL_PROCESSOR, PROCESSOR_MODULE, kProcessorTimeProperty);
  mClient->RequestProperty(KEL_PROCESSOR, ALL_MODULES, 0);

  VornCache* cache = mCache;
  if (!WaitFor([cache] { return cache->AllModulesPresent(); }, mTiming.moduleWaitMs, nullptr)) {
    std::fprintf(stderr, "did not recieve modules\n");
    return;
  }
  std::fprintf(stderr, "recieved all modules\n");

  for (int attempt = 0; attempt < mTiming.propertyAttempts; ++attempt) {
    std::vector<int> ids;
    {
      std::lock_guard<std::mutex> lock(*mMutex);
      ids = mCache->ListIncompleteModules();
    }
    std::fprintf(stderr, "requesting properties for modules: ");
    for (size_t i = 0; i < ids.size(); ++i) {
      std::fprintf(stderr, "%d, ", ids[i]);
      mClient->RequestProperty(KEL_PROCESSOR, static_cast<uint8_t>(ids[i]), ALL_PROPERTIES);
      if (i % kRequestsPerPause == 0) Pause(mTiming.requestPauseMs);
    }
    std::fprintf(stderr, "\n");

    int elapsed = 0;
    if (WaitFor([cache] { return cache->AllPropertiesPresent(); }, mTiming.propertyWaitMs,
                &elapsed)) {
      std::fprintf(stderr, "finished in %d\n", elapsed);
      break;
    }

    if (attempt == mTiming.propertyAttempts - 1) {
      std::fprintf(stderr, "failed\n");
    } else {
      struct Missing {
        int module, missing, total;
      };
      std::vector<Missing> lines;
      {
        std::lock_guard<std::mutex> lock(*mMutex);
        for (int id : mCache->ListIncompleteModules()) {
          lines.push_back({id, static_cast<int>(mCache->ListMissingProperties(id).size()),
                           mCache->GetPropertyCount(id)});
        }
      }
      std::fprintf(stderr, "trial %d failed.  Retrying\n", attempt);
      for (const Missing& m : lines) {
        std::fprintf(stderr, "module:%d, missing:%d, total:%d\n", m.module, m.missing, m.total);
      }
    }

    bool complete;
    {
      std::lock_guard<std::mutex> lock(*mMutex);
      complete = mCache->AllPropertiesPresent();
    }
    if (complete) break;
  }

  // Whether or not every property arrived: the stimulation electrodes known
  // so far, and a request for each known operator's recording trial.
  std::vector<int> operators(static_cast<size_t>(std::max(mTiming.maxOperators, 0)));
  int operatorCount = 0;
  {
    std::lock_guard<std::mutex> lock(*mMutex);
    mClient->SetStimElectrodes(mCache->BuildStimElectrodeMap());
    if (!operators.empty()) {
      operatorCount = mCache->ListOperators(operators.data(), static_cast<int>(operators.size()));
    }
  }
  for (int i = 0; i < operatorCount; ++i) {
    mClient->SendOperatorTrial(nullptr, operators[static_cast<size_t>(i)]);
  }
}

// ---------------------------------------------------------------------------
// Listening thread

bool VornConnection::ProcessList(const VornPacketList& list) {
  const uint32_t count = list.GetCount();
  bool configuration = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* packet = list.GetPacket(i);
    const uint32_t length = list.GetPacketLength(i);
    // Every packet is at least one word, so the stream byte is there.
    configuration = configuration || packet[hdr::kStream] == 0;
    mCache->ProcessPacket(packet, length);
  }
  return configuration;
}

bool VornConnection::BacklogEmpty() const {
  return mHead.load(std::memory_order_relaxed) == mTail.load(std::memory_order_acquire);
}

bool VornConnection::AppendToBacklog(const VornPacketList& list) {
  const uint32_t count = list.GetCount();
  if (count == 0) return true;
  const uint64_t head = mHead.load(std::memory_order_relaxed);
  const uint64_t tail = mTail.load(std::memory_order_acquire);
  if (head - tail >= mBacklogCapacity) {
    mBacklogDrops.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  // The packets lie back to back from the start of the list's buffer; what
  // follows the last one is not a packet and is not kept.
  const uint8_t* first = list.GetPacket(0);
  const uint8_t* last = list.GetPacket(count - 1);
  const size_t bytes = static_cast<size_t>(last - first) + list.GetPacketLength(count - 1);
  const size_t slot = static_cast<size_t>(head % mBacklogCapacity);
  std::copy(first, first + bytes, mBacklogData.get() + slot * kPacketListCapacity);
  mBacklogLengths[slot] = static_cast<uint16_t>(bytes);
  mHead.store(head + 1, std::memory_order_release);

  mBacklogged.fetch_add(1, std::memory_order_relaxed);
  const uint64_t depth = head + 1 - tail;
  if (depth > mHighWater.load(std::memory_order_relaxed)) {
    mHighWater.store(depth, std::memory_order_relaxed);
  }
  return true;
}

bool VornConnection::DrainLocked(uint32_t maxDatagrams) {
  if (mBacklogCapacity == 0) return false;
  uint64_t tail = mTail.load(std::memory_order_relaxed);
  const uint64_t head = mHead.load(std::memory_order_acquire);
  uint32_t drained = 0;
  bool configuration = false;
  while (tail != head && drained < maxDatagrams) {
    const size_t slot = static_cast<size_t>(tail % mBacklogCapacity);
    mDrainList->Fill(mBacklogData.get() + slot * kPacketListCapacity, mBacklogLengths[slot]);
    configuration = ProcessList(*mDrainList) || configuration;
    ++tail;
    ++drained;
    mTail.store(tail, std::memory_order_release);
  }
  return configuration;
}

void VornConnection::DrainBacklogLocked() {
  if (mCache == nullptr || !mDrainList) return;
  // Up to what was queued when the drain began, so that it ends even while
  // the listening thread keeps appending.
  const uint64_t queued =
      mHead.load(std::memory_order_acquire) - mTail.load(std::memory_order_relaxed);
  if (queued > 0) DrainLocked(static_cast<uint32_t>(std::min<uint64_t>(queued, UINT32_MAX)));
}

void VornConnection::NotifyProcessed(bool configuration) {
  // Discovery waits for configuration packets only; waking it for data
  // would take the processor from this thread at full load.
  if (configuration && mDiscovering.load(std::memory_order_acquire)) mProcessed.notify_all();
}

void VornConnection::RewindIfEmpty() {
  // Only the listening thread appends, so a backlog it sees empty stays
  // empty until it appends again; with the mutex held no one consumes
  // either. Rewinding keeps the backlog's touched memory as small as its
  // deepest use.
  if (BacklogEmpty()) {
    mTail.store(0, std::memory_order_relaxed);
    mHead.store(0, std::memory_order_relaxed);
  }
}

void VornConnection::HandleDatagram(const VornPacketList& list, uint32_t drainLimit) {
  if (BacklogEmpty()) {
    std::unique_lock<std::mutex> lock(*mMutex, std::try_to_lock);
    if (!lock.owns_lock() && mBacklogCapacity == 0) lock.lock();   // no backlog to use
    if (lock.owns_lock()) {
      const bool configuration = ProcessList(list);
      RewindIfEmpty();
      lock.unlock();
      NotifyProcessed(configuration);
      return;
    }
  }
  // The mutex is busy or older datagrams wait: queue behind them, and take
  // a few of the oldest if the mutex is free now.
  AppendToBacklog(list);
  std::unique_lock<std::mutex> lock(*mMutex, std::try_to_lock);
  if (lock.owns_lock()) {
    const bool configuration = DrainLocked(drainLimit);
    RewindIfEmpty();
    lock.unlock();
    NotifyProcessed(configuration);
  }
}

void VornConnection::ListenLoop() {
  try {
    VornPacketList list(kPacketListCapacity);
    int failures = 0;
    Clock::time_point failureWindow;

    while (mListening.load(std::memory_order_acquire)) {
      const Clock::time_point receiveStart = Clock::now();
      const int received = mClient->Receive(list);
      if (!mListening.load(std::memory_order_acquire)) break;

      if (received < 0) {
        // A time-out (one per second of silence) or a failed receive. Only
        // a burst of failures means the socket itself is gone.
        mReceiveFailures.fetch_add(1, std::memory_order_relaxed);
        const Clock::time_point now = Clock::now();
        if (failures == 0 || now - failureWindow >= std::chrono::seconds(1)) {
          failures = 0;
          failureWindow = now;
        }
        if (++failures > kMaxFailuresPerSecond) {
          std::fprintf(stderr, "receive socket failed: listening stopped\n");
          break;
        }
        // A quiet network: there is time to wait for the mutex and finish
        // what is queued.
        if (!BacklogEmpty()) {
          std::unique_lock<std::mutex> lock(*mMutex);
          DrainBacklogLocked();
          RewindIfEmpty();
          lock.unlock();
          NotifyProcessed(true);
        }
        continue;
      }
      failures = 0;
      if (received == 0 || list.GetCount() == 0) continue;   // nothing to file
      // A receive that had to wait found the socket empty: there is time to
      // drain more of the backlog before the socket fills up again.
      const bool socketWasIdle = Clock::now() - receiveStart > kIdleReceive;
      HandleDatagram(list, socketWasIdle ? kDrainWhenIdle : kDrainPerDatagram);
      // Counted once handled, so that a reader of the counters sees its effect.
      mDatagrams.fetch_add(1, std::memory_order_release);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "listening thread stopped: %s\n", e.what());
  }

  mThreadRunning.store(false, std::memory_order_release);
  mThreadId.store(kNoThread, std::memory_order_release);
  // Wake a discovery wait, which stops waiting once nothing can arrive.
  if (mMutex) {
    { std::lock_guard<std::mutex> lock(*mMutex); }
    mProcessed.notify_all();
  }
}

}  // namespace vorn
