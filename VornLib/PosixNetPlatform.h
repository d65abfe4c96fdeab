// The POSIX sockets and interface list behind NetPlatform. This pair of
// files is the only code a Winsock build replaces.
//
// Receive buffer read-back: Linux reports SO_RCVBUF as twice the size it
// granted (the kernel books its own overhead in the same figure), so
// GetRecvBufferSize halves the value it reads and returns the size that was
// actually granted. A request above net.core.rmem_max is silently capped by
// the kernel, and the halved read-back then shows the cap, which the client
// compares with what it asked for.
//
// Threads: stateless apart from the kernel's sockets; any thread may call
// it, one socket per use (the client never shares a socket between threads).
#pragma once

#include "NetPlatform.h"

namespace vorn {

class PosixNetPlatform : public NetPlatform {
 public:
  SocketHandle OpenUdpSocket() override;
  bool SetRecvTimeout(SocketHandle s, int milliseconds) override;
  bool SetRecvBufferSize(SocketHandle s, int bytes) override;
  int GetRecvBufferSize(SocketHandle s, int* bytes) override;
  bool SetBroadcast(SocketHandle s, bool on) override;
  bool SetSendBufferSize(SocketHandle s, int bytes) override;
  bool BindAny(SocketHandle s, uint16_t port) override;
  int ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity, uint32_t* fromAddr) override;
  int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t addr,
             uint16_t port) override;
  void Close(SocketHandle s) override;
  bool ListInterfaceAddresses(std::vector<uint32_t>* out) override;
  // The "drops" column of /proc/net/udp for this socket's inode (the
  // datagrams the kernel discarded because the receive queue was full).
  long long ReceiveDrops(SocketHandle s) override;
};

}  // namespace vorn
