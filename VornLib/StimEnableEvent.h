// StimEnableEvent: switches stimulation off once the trains of a 'stim' or
// 'stimseq' call are over. After its delay it sends every stimulated
// electrode a stop packet (an empty "curcyc" sequence) and then sets the
// global "Stim Enable" property to its value (false).
//
// Threads: constructed, started, terminated, fired and deleted on MATLAB's
// thread; Run on the event's own thread, which only sends through the
// client and touches no cache. The action happens at most once: either on
// the event's thread after the delay, or on the caller's thread through
// FireNow(); Terminate() before either cancels it.
#pragma once

#include <cstdint>
#include <vector>

#include "VornEvent.h"

namespace vorn {

class StimEnableEvent : public VornEvent {
 public:
  StimEnableEvent(uint32_t delayMs, VornClient* client, uint32_t module, uint32_t propertyIndex,
                  bool enable);
  ~StimEnableEvent() override;

  // Electrodes (zero-based) to stop before the property is set; kept only
  // when the event switches stimulation off.
  void SetElectrodes(std::vector<uint32_t> electrodes);

  // Performs the action now, on the calling thread, unless it was already
  // performed or the event was terminated; if the event's thread is
  // performing it at this moment, waits for it. The thread has ended when
  // this returns, so the client may be deleted afterwards.
  void FireNow();

  uint32_t GetDelayMs() const { return mDelayMs; }
  uint32_t GetModule() const { return mModule; }
  uint32_t GetPropertyIndex() const { return mPropertyIndex; }
  bool GetEnable() const { return mEnable; }
  const std::vector<uint32_t>& GetElectrodes() const { return mElectrodes; }

 protected:
  void Run() override;

 private:
  void Act();

  uint32_t mDelayMs;
  uint32_t mModule;          // module of "Stim Enable" (0)
  uint32_t mPropertyIndex;   // property index of its value
  bool mEnable;              // value to set (false)
  std::vector<uint32_t> mElectrodes;
};

// Switch-off delays in milliseconds: the longest train (us) or the longest
// sequence (samples of the 30 kHz clock) plus 100 ms. Never negative, never
// overflowing.
uint32_t StimStringSwitchOffDelayMs(int32_t maxTrainLengthUs);
uint32_t StimSeqSwitchOffDelayMs(int32_t maxDurationSamples);

enum class SwitchOffPlan {
  kNotNeeded,     // stimulation was on before and nothing is pending
  kScheduled,     // a new event is pending in the slot
  kFiredAtOnce,   // no thread could be started: switched off right away
};

// After a stimulation command has sent its packets: replaces the event in
// slot (the one pending switch-off of the connection) by a new one that
// stops the electrodes and sets "Stim Enable" (property enableIndex of
// module 0) false after delayMs.
//   switchedOn: this command switched "Stim Enable" on.
//   found: the cache knows "Stim Enable"; otherwise a pending event's
//   address is kept, and without any address no event is made, so that no
//   set ever goes to a property that was never looked up.
// A new event replaces a pending one only when this command switched
// stimulation on or an event is pending. The replaced event is cancelled
// (it sends nothing) and deleted.
SwitchOffPlan ScheduleStimSwitchOff(StimEnableEvent*& slot, VornClient* client, bool switchedOn,
                                    bool found, uint32_t enableIndex, uint32_t delayMs,
                                    std::vector<uint32_t> electrodes);

// The connection ends: the event in slot switches stimulation off at once
// (unless it already has) and is deleted; slot becomes null.
void StopStimSwitchOff(StimEnableEvent*& slot);

}  // namespace vorn
