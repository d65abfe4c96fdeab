// VornConnection: one connection to the instrument. It owns the client (the
// sockets), the cache, the mutex that guards the cache and the listening
// thread that feeds every received packet to the cache, and it runs the
// start-up discovery that fills the cache.
//
// Threads:
//   - Open, Close, DrainBacklogLocked and the accessors run on the caller's
//     thread (MATLAB's thread in the extension). Open blocks while discovery
//     runs (about 32 s at worst, well under a second against a working
//     instrument).
//   - The listening thread runs from Open until Close. It receives one
//     datagram at a time and hands its packets to the cache while holding
//     the cache mutex. It never blocks on the mutex while the socket has
//     traffic: when the mutex is busy (a long read on MATLAB's thread), the
//     datagram goes into the backlog and the thread goes back to receiving.
//     Whoever holds the mutex next drains the backlog oldest first, so the
//     cache sees every packet in arrival order.
//   - It keeps listening across receive time-outs and empty datagrams and
//     ends only when Close stops it or the socket has failed (many failed
//     receives in quick succession, which a time-out cannot produce).
//
// When full: the backlog holds kBacklogSlots datagrams (about one second of
// the full instrument's ~32 000 datagrams/s). A datagram that arrives while
// it is full is dropped, the newest one, so that what is kept stays in
// arrival order; the drop is counted in ListenCounters::backlogDrops.
// Nothing on the receive path allocates per datagram.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "NetPlatform.h"
#include "ThreadPriority.h"

namespace vorn {

class VornCache;
class VornClient;
class VornPacketList;

// Waits and pauses of the start-up. The defaults are the instrument's; the
// unit tests shorten the waits.
struct ConnectionTiming {
  int moduleWaitMs = 8000;     // longest wait for the module descriptors
  int propertyWaitMs = 8000;   // longest wait for the properties, per attempt
  int requestPauseMs = 25;     // after every fourth property request
  int propertyAttempts = 3;
  int maxOperators = 10;       // operators asked for their trial at the end
  // Carries out the pause between property requests; null means sleeping.
  std::function<void(int milliseconds)> pause;
};

// Figures of the listening thread, for diagnostics and benchmarks.
struct ListenCounters {
  uint64_t datagrams = 0;         // datagrams received from the instrument network
  uint64_t backlogged = 0;        // of those, queued because the mutex was busy
  uint64_t backlogHighWater = 0;  // most datagrams queued at once
  uint64_t backlogDrops = 0;      // dropped because the backlog was full
  uint64_t receiveFailures = 0;   // time-outs and failed receives
};

class VornConnection {
 public:
  static constexpr int kRecvBufferSize = 425984;
  static constexpr int kSendBufferSize = 131072;
  static constexpr uint32_t kPacketListCapacity = 1500;
  // About one second of the full instrument (~32 000 datagrams/s); a power of two.
  static constexpr uint32_t kBacklogSlots = 32768;
  // Backlogged datagrams the listening thread processes per datagram it
  // receives. At full load it spends ~6 us of the ~32 us between datagrams
  // per datagram: with 4 more it still takes datagrams off the socket faster
  // than they arrive, and the backlog shrinks by 3 per datagram.
  static constexpr uint32_t kDrainPerDatagram = 4;
  // The same after a receive that had to wait for its datagram (the socket
  // was empty): about half a millisecond of processing, far less than the
  // ~9 ms of full-load traffic the receive buffer holds.
  static constexpr uint32_t kDrainWhenIdle = 128;
  // Failed receives within one second after which the socket counts as
  // failed: a time-out produces one per second.
  static constexpr int kMaxFailuresPerSecond = 20;

  explicit VornConnection(std::shared_ptr<NetPlatform> platform = nullptr,
                          ConnectionTiming timing = ConnectionTiming());
  ~VornConnection();   // Close()
  VornConnection(const VornConnection&) = delete;
  VornConnection& operator=(const VornConnection&) = delete;

  // Creates the client and the cache, starts the listening thread and runs
  // discovery. Progress and failures go to standard error; the outcome shows
  // in the client's GetInitStatus() and the cache's GetStatus(). Call once.
  void Open();

  // Stops and joins the listening thread, then deletes the cache, the client
  // and the mutex. Safe to call more than once.
  void Close();

  // Null when allocation failed or after Close.
  VornClient* GetClient() const { return mClient; }
  VornCache* GetCache() const { return mCache; }
  // Null while no listening thread was started (nothing else touches the
  // cache then).
  std::mutex* GetCacheMutex() const { return mMutex.get(); }

  bool IsListening() const { return mThreadRunning.load(std::memory_order_acquire); }
  // The listening thread's kernel id while it runs, else kNoThread.
  ThreadId GetListenThreadId() const;

  // Caller holds the cache mutex: processes every backlogged datagram, so
  // that what the caller reads next includes everything received so far.
  void DrainBacklogLocked();

  ListenCounters GetCounters() const;

 private:
  void ListenLoop();
  void HandleDatagram(const VornPacketList& list, uint32_t drainLimit);
  void RewindIfEmpty();   // listening thread, mutex held
  // Mutex held by the caller. Both return whether a configuration packet
  // was among those processed.
  bool ProcessList(const VornPacketList& list);
  bool DrainLocked(uint32_t maxDatagrams);
  bool BacklogEmpty() const;
  bool AppendToBacklog(const VornPacketList& list);
  void NotifyProcessed(bool configuration);
  void Discover();
  // Waits under the mutex until pred holds or timeoutMs passed; returns
  // pred's last value and the milliseconds waited.
  bool WaitFor(const std::function<bool()>& pred, int timeoutMs, int* waitedMs);
  void Pause(int milliseconds);

  std::shared_ptr<NetPlatform> mPlatform;
  ConnectionTiming mTiming;
  VornClient* mClient = nullptr;
  VornCache* mCache = nullptr;
  std::unique_ptr<std::mutex> mMutex;
  std::condition_variable mProcessed;     // used with *mMutex
  std::atomic<bool> mDiscovering{false};  // notify mProcessed after each datagram
  std::thread mThread;
  std::atomic<bool> mListening{false};     // cleared to stop the thread
  std::atomic<bool> mThreadRunning{false};
  std::atomic<ThreadId> mThreadId{kNoThread};

  // Backlog: a single-producer ring. The listening thread appends; the
  // holder of the cache mutex (either thread) consumes. mHead and mTail
  // count datagrams; slot = count % kBacklogSlots.
  std::unique_ptr<uint8_t[]> mBacklogData;      // kBacklogSlots x kPacketListCapacity
  std::unique_ptr<uint16_t[]> mBacklogLengths;  // bytes in each slot
  uint32_t mBacklogCapacity = 0;                // 0 when the ring could not be allocated
  std::atomic<uint64_t> mHead{0};
  std::atomic<uint64_t> mTail{0};
  std::unique_ptr<VornPacketList> mDrainList;   // used under the mutex only

  std::atomic<uint64_t> mDatagrams{0};
  std::atomic<uint64_t> mBacklogged{0};
  std::atomic<uint64_t> mHighWater{0};
  std::atomic<uint64_t> mBacklogDrops{0};
  std::atomic<uint64_t> mReceiveFailures{0};
};

}  // namespace vorn
