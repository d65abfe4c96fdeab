// The operating system's UDP sockets and interface list, behind one small
// interface. PosixNetPlatform is the real one; unit tests substitute a fake
// that records what is sent and plays back what is received. A Winsock
// build adds one more implementation and touches nothing else.
//
// Addresses are IPv4 in host byte order (192.168.42.1 is 0xC0A82A01).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace vorn {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

class NetPlatform {
 public:
  virtual ~NetPlatform() = default;

  // A UDP socket, or kInvalidSocket.
  virtual SocketHandle OpenUdpSocket() = 0;
  virtual bool SetRecvTimeout(SocketHandle s, int milliseconds) = 0;
  virtual bool SetRecvBufferSize(SocketHandle s, int bytes) = 0;
  // Reads back the receive buffer size the system granted. Returns 0 on
  // success (and the size in *bytes), otherwise a non-zero error code.
  virtual int GetRecvBufferSize(SocketHandle s, int* bytes) = 0;
  virtual bool SetBroadcast(SocketHandle s, bool on) = 0;
  virtual bool SetSendBufferSize(SocketHandle s, int bytes) = 0;
  // Bind to every local address on the given port.
  virtual bool BindAny(SocketHandle s, uint16_t port) = 0;
  // One blocking receive of at most capacity bytes. Returns the byte count
  // (0 for an empty datagram) or a negative value on error or time-out;
  // *fromAddr receives the sender's address when the result is >= 0.
  virtual int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, uint32_t* fromAddr) = 0;
  // Sends one datagram; returns what the system's send returned.
  virtual int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t addr,
                     uint16_t port) = 0;
  virtual void Close(SocketHandle s) = 0;
  // IPv4 addresses of the local interfaces, in the order the system lists
  // them. False when the list cannot be read.
  virtual bool ListInterfaceAddresses(std::vector<uint32_t>* out) = 0;
  // Datagrams the kernel dropped on this socket for want of buffer space,
  // when the system reports it; -1 otherwise.
  virtual long long ReceiveDrops(SocketHandle /*s*/) { return -1; }
};

// The platform's real sockets (POSIX here).
std::shared_ptr<NetPlatform> MakeSystemNetPlatform();

}  // namespace vorn
