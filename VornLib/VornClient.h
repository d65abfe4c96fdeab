// VornClient: the extension's two UDP sockets, the request and set senders,
// and the stimulation senders.
//
// Threads: Receive() runs on the listening thread only. Every sender runs on
// MATLAB's thread, except SendStimStop and SetBoolProperty, which a pending
// stimulation switch-off event also calls from its own thread; single sends
// are not serialised beyond what the socket does. mStimElectrodes is written
// once at the end of start-up, before any stimulation command can run.
// Receive drops (and counts) every datagram whose sender lies outside the
// instrument network; nothing else is dropped here.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "NetPlatform.h"

namespace vorn {

class VornPacketList;
class StimSeqMap;

// One electrode's stim packet: the zero-based electrode and its word list
// (stim header word first).
struct StimWordList {
  uint32_t electrode = 0;
  std::vector<uint32_t> words;
};

class VornClient {
 public:
  // Opens and configures both sockets; never fails by itself, the outcome
  // shows in GetInitStatus().
  VornClient(int recvBufferSize, int sendBufferSize,
             std::shared_ptr<NetPlatform> platform = MakeSystemNetPlatform());
  virtual ~VornClient();
  VornClient(const VornClient&) = delete;
  VornClient& operator=(const VornClient&) = delete;

  // 0 ready; 1 no receive socket; 2 no send socket; 3 no interface on the
  // instrument network; 4 receive socket not sized or not bound.
  int GetInitStatus() const;

  // One receive into the list. Returns the byte count, or 0 or a negative
  // value on failure or time-out. A datagram from outside 192.168.42.0/24 is
  // dropped, counted, and the wait goes on until the receive time-out,
  // counted from the call, has passed.
  int Receive(VornPacketList& list);
  // Broadcasts one packet (length = its size byte x 4) to the instrument port.
  int Send(const uint8_t* packet);

  // ---- Request and set senders ----
  void RequestProperty(uint8_t processor, uint8_t module, uint16_t propertyIndex);
  bool SetBoolProperty(uint8_t module, uint16_t propertyIndex, uint8_t value);
  bool SetFixedSizeProperty(const uint8_t* record140, uint8_t module, uint16_t propertyIndex);
  bool SetProperty(const uint8_t* record, uint8_t module, uint16_t propertyIndex,
                   uint32_t length);
  bool SetDigitalOutputs(const uint32_t* outputIndexes, const uint32_t* values, uint32_t count);
  bool SendOperatorTrial(const uint8_t* record552, int operatorId);

  // ---- Stimulation ----
  // The (module id, property index) of an electrode's stimulation property,
  // or null when the electrode is not a stimulation electrode.
  const std::pair<int, int>* FindStimElectrode(int electrodeKey) const;
  void SetStimElectrodes(std::map<int, std::pair<int, int>> electrodes);
  const std::map<int, std::pair<int, int>>& GetStimElectrodes() const { return mStimElectrodes; }

  // Frames stim packets into datagrams of less than 1500 bytes, sent to the
  // KEL itself. 0 sent; 1 an electrode is not a stimulation electrode;
  // 3 a send returned 0 or less, or a list has more than 248 words (too
  // long for one packet). Every list is checked before anything is sent, so
  // 1 and the too-long 3 mean nothing was sent; a failed send leaves the
  // datagrams before it sent. No lists: one empty datagram, result 0.
  int SendStimWordLists(const std::vector<StimWordList>& lists);
  // 0 sent, 1 invalid electrode, 2 invalid stim string, 3 send failed.
  int SendStimString(const std::string& stimString);
  // 0 sent, 1 invalid electrode, 2 unknown code, 3 send failed.
  int SendStimStop(const std::vector<uint32_t>& electrodes, int code);
  // 0 sent, 1 invalid electrode, 3 send failed.
  int SendStimSequences(const StimSeqMap& map);

  // ---- Diagnostics ----
  uint64_t ForeignDatagramsDropped() const { return mForeignDrops.load(); }
  // The kernel's drop count for the receive socket, or -1 when unknown.
  long long KernelReceiveDrops() const;
  uint32_t GetInterfaceAddress() const { return mInterfaceAddress; }

 protected:
  void OpenReceiveSocket();
  void OpenSendSocket();
  // Sends length bytes to the KEL's own address.
  int SendToKel(const uint8_t* data, int length);

  std::shared_ptr<NetPlatform> mPlatform;
  uint32_t mInterfaceAddress = 0;  // host byte order; 0 until found
  bool mBound = false;
  int mRecvBufferSize;
  int mSendBufferSize;
  SocketHandle mRecvSocket = kInvalidSocket;
  SocketHandle mSendSocket = kInvalidSocket;
  std::map<int, std::pair<int, int>> mStimElectrodes;
  std::atomic<uint64_t> mForeignDrops{0};
};

}  // namespace vorn
