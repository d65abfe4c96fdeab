#include "StimEnableEvent.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "VornClient.h"

namespace vorn {

namespace {
constexpr int kStopCurrentCycle = 1;   // stop code "curcyc"
constexpr double kAfterTrainMs = 100.0;
constexpr double kUsPerMs = 1000.0;
constexpr double kSamplesPerMs = 30.0;

uint32_t DelayMs(double ms) {
  if (!(ms > 0.0)) return 0;
  if (ms >= 4294967295.0) return UINT32_MAX;
  return static_cast<uint32_t>(ms);
}
}  // namespace

uint32_t StimStringSwitchOffDelayMs(int32_t maxTrainLengthUs) {
  return DelayMs(maxTrainLengthUs / kUsPerMs + kAfterTrainMs);
}

uint32_t StimSeqSwitchOffDelayMs(int32_t maxDurationSamples) {
  return DelayMs(maxDurationSamples / kSamplesPerMs + kAfterTrainMs);
}

SwitchOffPlan ScheduleStimSwitchOff(StimEnableEvent*& slot, VornClient* client, bool switchedOn,
                                    bool found, uint32_t enableIndex, uint32_t delayMs,
                                    std::vector<uint32_t> electrodes) {
  const bool pending = slot != nullptr && slot->IsRunning();
  if (!switchedOn && !pending) return SwitchOffPlan::kNotNeeded;

  uint32_t module = 0;
  uint32_t index = enableIndex;
  if (!found) {
    // Only a pending event can know where "Stim Enable" lives.
    if (!pending) return SwitchOffPlan::kNotNeeded;
    module = slot->GetModule();
    index = slot->GetPropertyIndex();
  }

  // Made before the pending event is dropped: should this fail, the pending
  // event still switches stimulation off.
  StimEnableEvent* event = new StimEnableEvent(delayMs, client, module, index, false);
  event->SetElectrodes(std::move(electrodes));

  if (slot != nullptr) {
    if (slot->IsRunning()) slot->Terminate();
    delete slot;
    slot = nullptr;
  }

  if (!event->Start()) {
    // Without a thread nothing would ever switch stimulation off.
    event->FireNow();
    delete event;
    return SwitchOffPlan::kFiredAtOnce;
  }
  slot = event;
  return SwitchOffPlan::kScheduled;
}

void StopStimSwitchOff(StimEnableEvent*& slot) {
  if (slot == nullptr) return;
  slot->FireNow();
  delete slot;
  slot = nullptr;
}

StimEnableEvent::StimEnableEvent(uint32_t delayMs, VornClient* client, uint32_t module,
                                 uint32_t propertyIndex, bool enable)
    : VornEvent(client),
      mDelayMs(delayMs),
      mModule(module),
      mPropertyIndex(propertyIndex),
      mEnable(enable) {}

StimEnableEvent::~StimEnableEvent() {
  // Run reads the members below: the thread must be gone before they are.
  Join();
}

void StimEnableEvent::SetElectrodes(std::vector<uint32_t> electrodes) {
  if (!mEnable) mElectrodes = std::move(electrodes);
}

void StimEnableEvent::FireNow() {
  if (ClaimAction()) Act();
  Join();
}

void StimEnableEvent::Run() {
  WaitForDelay(mDelayMs);
  if (ClaimAction()) Act();
}

void StimEnableEvent::Act() {
  if (mClient == nullptr) return;
  if (!mEnable && !mElectrodes.empty()) {
    mClient->SendStimStop(mElectrodes, kStopCurrentCycle);
  }
  const uint8_t module = static_cast<uint8_t>(mModule);
  const uint16_t index = static_cast<uint16_t>(mPropertyIndex);
  const uint8_t value = mEnable ? 1 : 0;
  // A lost switch-off leaves the stimulator armed: try once more.
  if (!mClient->SetBoolProperty(module, index, value) &&
      !mClient->SetBoolProperty(module, index, value)) {
    std::fprintf(stderr, "could not send Stim Enable %d\n", value);
  }
}

}  // namespace vorn
