// FakeNetPlatform: a NetPlatform for unit tests that touches no network. It records every
// socket call and every datagram sent (Sent(): bytes, addr, port, socket) and plays back
// datagrams queued with Push() to ReceiveFrom.
//
// Defaults: one instrument-network interface (192.168.42.20), every option accepted, the
// receive buffer granted as asked, every send succeeds. The switches below change that; set
// them before the client is constructed (and before other threads start). OpenUdpSocket calls
// and SendTo calls are counted from 0 over all sockets; the client opens the receive socket
// first, then the send socket.
//
// Receiving: ReceiveFrom returns the next queued datagram (or queued error). With an empty
// queue it returns -1 at once (a time-out), unless blockingReceive is set: it then waits for a
// Push, up to the socket's time-out (1000 ms if unset), or until Shutdown().
//
// Threads: every member function may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "NetPlatform.h"

namespace vorn {
namespace test {

constexpr uint32_t Ipv4(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return (a << 24) | (b << 16) | (c << 8) | d;
}

struct SentDatagram {
  SocketHandle socket;
  std::vector<uint8_t> bytes;
  uint32_t addr;
  uint16_t port;
};

class FakeNetPlatform : public NetPlatform {
 public:
  // ---- Switches ----
  std::vector<uint32_t> interfaces{Ipv4(192, 168, 42, 20)};
  bool failInterfaceList = false;
  std::set<int> failOpenCalls;     // OpenUdpSocket calls that fail
  int grantedRecvBuffer = -1;      // receive buffer size read back; -1: as asked
  int recvBufferReadError = 0;     // non-zero: reading the receive buffer size fails with it
  bool failSetRecvBuffer = false;
  bool failBind = false;
  bool failSetBroadcast = false;
  std::optional<int> sendResult;   // what every SendTo returns instead of the length
  std::set<int> failSendCalls;     // SendTo calls that return 0
  bool blockingReceive = false;

  // ---- What the code under test did ----
  struct SocketState {
    bool open = true;
    int recvTimeoutMs = -1;        // -1: never set
    int recvBufferRequested = -1;
    bool broadcast = false;
    int boundPort = -1;
  };

  std::vector<SentDatagram> Sent() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mSent;
  }
  size_t SentCount() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mSent.size();
  }
  void ClearSent() {
    std::lock_guard<std::mutex> lock(mMutex);
    mSent.clear();
  }
  // Waits until at least n datagrams were sent; false after the limit.
  bool WaitForSent(size_t n, std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
    std::unique_lock<std::mutex> lock(mMutex);
    return mChanged.wait_for(lock, limit, [&] { return mSent.size() >= n; });
  }
  SocketState Socket(SocketHandle s) const {
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = mSockets.find(s);
    return it == mSockets.end() ? SocketState{false} : it->second;
  }
  std::vector<SocketHandle> OpenedSockets() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mOpened;
  }
  int OpenSocketCount() const {
    std::lock_guard<std::mutex> lock(mMutex);
    int n = 0;
    for (const auto& s : mSockets) n += s.second.open ? 1 : 0;
    return n;
  }

  // ---- Playback ----
  void Push(std::vector<uint8_t> bytes, uint32_t from = Ipv4(192, 168, 42, 1)) {
    std::lock_guard<std::mutex> lock(mMutex);
    mIncoming.push_back(Incoming{std::move(bytes), from, false});
    mChanged.notify_all();
  }
  // The next ReceiveFrom fails (as a system error would).
  void PushError() {
    std::lock_guard<std::mutex> lock(mMutex);
    mIncoming.push_back(Incoming{{}, 0, true});
    mChanged.notify_all();
  }
  size_t Pending() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mIncoming.size();
  }
  // Ends every blocking wait now and makes later receives time out at once.
  void Shutdown() {
    std::lock_guard<std::mutex> lock(mMutex);
    mShutdown = true;
    mChanged.notify_all();
  }

  // ---- NetPlatform ----
  SocketHandle OpenUdpSocket() override {
    std::lock_guard<std::mutex> lock(mMutex);
    const int call = mOpenCalls++;
    if (failOpenCalls.count(call)) return kInvalidSocket;
    const SocketHandle s = mNextSocket++;
    mSockets[s] = SocketState{};
    mOpened.push_back(s);
    return s;
  }
  bool SetRecvTimeout(SocketHandle s, int milliseconds) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mSockets[s].recvTimeoutMs = milliseconds;
    return true;
  }
  bool SetRecvBufferSize(SocketHandle s, int bytes) override {
    std::lock_guard<std::mutex> lock(mMutex);
    if (failSetRecvBuffer) return false;
    mSockets[s].recvBufferRequested = bytes;
    return true;
  }
  int GetRecvBufferSize(SocketHandle s, int* bytes) override {
    std::lock_guard<std::mutex> lock(mMutex);
    if (recvBufferReadError != 0) return recvBufferReadError;
    *bytes = grantedRecvBuffer >= 0 ? grantedRecvBuffer : mSockets[s].recvBufferRequested;
    return 0;
  }
  bool SetBroadcast(SocketHandle s, bool on) override {
    std::lock_guard<std::mutex> lock(mMutex);
    if (failSetBroadcast) return false;
    mSockets[s].broadcast = on;
    return true;
  }
  bool SetSendBufferSize(SocketHandle, int) override { return true; }
  bool BindAny(SocketHandle s, uint16_t port) override {
    std::lock_guard<std::mutex> lock(mMutex);
    if (failBind) return false;
    mSockets[s].boundPort = port;
    return true;
  }
  int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, uint32_t* fromAddr) override {
    std::unique_lock<std::mutex> lock(mMutex);
    if (blockingReceive) {
      const int timeout = mSockets[s].recvTimeoutMs > 0 ? mSockets[s].recvTimeoutMs : 1000;
      mChanged.wait_for(lock, std::chrono::milliseconds(timeout),
                        [&] { return !mIncoming.empty() || mShutdown; });
    }
    if (mIncoming.empty()) return -1;
    Incoming in = std::move(mIncoming.front());
    mIncoming.pop_front();
    if (in.error) return -1;
    // Like a datagram socket: a longer datagram is cut to the buffer.
    const int n = static_cast<int>(in.bytes.size()) < capacity
                      ? static_cast<int>(in.bytes.size())
                      : capacity;
    for (int i = 0; i < n; ++i) buffer[i] = in.bytes[static_cast<size_t>(i)];
    *fromAddr = in.from;
    return n;
  }
  int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t addr,
             uint16_t port) override {
    std::lock_guard<std::mutex> lock(mMutex);
    const int call = mSendCalls++;
    mSent.push_back(SentDatagram{s, std::vector<uint8_t>(data, data + length), addr, port});
    mChanged.notify_all();
    if (failSendCalls.count(call)) return 0;
    return sendResult ? *sendResult : length;
  }
  void Close(SocketHandle s) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mSockets[s].open = false;
  }
  bool ListInterfaceAddresses(std::vector<uint32_t>* out) override {
    std::lock_guard<std::mutex> lock(mMutex);
    if (failInterfaceList) return false;
    *out = interfaces;
    return true;
  }

 private:
  struct Incoming {
    std::vector<uint8_t> bytes;
    uint32_t from;
    bool error;
  };

  mutable std::mutex mMutex;
  mutable std::condition_variable mChanged;
  std::map<SocketHandle, SocketState> mSockets;
  std::vector<SocketHandle> mOpened;
  std::vector<SentDatagram> mSent;
  std::deque<Incoming> mIncoming;
  SocketHandle mNextSocket = 100;
  int mOpenCalls = 0;
  int mSendCalls = 0;
  bool mShutdown = false;
};

}  // namespace test
}  // namespace vorn
