// Where the simulator's datagrams go and come from. UdpSimTransport is the
// real socket (sendmmsg batches); tests substitute a recording transport.
//
// Threads: used by the simulator's one loop thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vornsim {

// The addresses of one received datagram (host order).
struct DatagramAddresses {
  uint32_t from = 0;     // the sender
  uint32_t to = 0;       // the destination in its IP header, when hasTo
  bool hasTo = false;    // false when the system did not report it
};

class SimTransport {
 public:
  virtual ~SimTransport() = default;
  // Sends count datagrams; returns how many the system accepted.
  virtual size_t SendDatagrams(const uint8_t* const* data, const size_t* lengths, size_t count) = 0;
  // One datagram if one is waiting: its length (0 for an empty datagram),
  // or -1 when none is waiting. *fromAddr gets the sender (host order).
  virtual int ReceiveOne(uint8_t* buffer, size_t capacity, uint32_t* fromAddr) = 0;
  // As ReceiveOne, and also the datagram's destination address when the
  // transport can tell it (by default it cannot).
  virtual int Receive(uint8_t* buffer, size_t capacity, DatagramAddresses* addresses) {
    addresses->hasTo = false;
    return ReceiveOne(buffer, capacity, &addresses->from);
  }
  // A descriptor to poll for incoming datagrams, or -1.
  virtual int PollHandle() const { return -1; }
};

// The instrument network's address the simulator must own.
constexpr uint32_t kSimInstrumentAddress = 0xC0A82A01u;   // 192.168.42.1

// True when a local interface has the address (host byte order).
bool HasLocalAddress(uint32_t address);
// Text form of a host-order IPv4 address.
std::string AddressText(uint32_t address);
// Parses dotted IPv4 text into host order.
bool ParseAddress(const std::string& text, uint32_t* out);

class UdpSimTransport : public SimTransport {
 public:
  UdpSimTransport() = default;
  ~UdpSimTransport() override;
  UdpSimTransport(const UdpSimTransport&) = delete;
  UdpSimTransport& operator=(const UdpSimTransport&) = delete;

  // Binds bindAddr:port (0 = all addresses), sends to destAddr:destPort
  // (broadcast allowed). False with *error on failure. Received datagrams
  // report their destination address (IP_PKTINFO) where the system allows.
  bool Open(uint32_t bindAddr, uint16_t port, uint32_t destAddr, uint16_t destPort,
            std::string* error);

  size_t SendDatagrams(const uint8_t* const* data, const size_t* lengths, size_t count) override;
  int ReceiveOne(uint8_t* buffer, size_t capacity, uint32_t* fromAddr) override;
  int Receive(uint8_t* buffer, size_t capacity, DatagramAddresses* addresses) override;
  int PollHandle() const override { return mSocket; }

  uint64_t SendErrors() const { return mSendErrors; }

 private:
  int mSocket = -1;
  uint32_t mDestAddr = 0;
  uint16_t mDestPort = 0;
  uint64_t mSendErrors = 0;
};

}  // namespace vornsim
