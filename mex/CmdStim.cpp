// 'stim': sends pulse trains described by a stim parameter string, and
// reads or sets the instrument's global "Stim Enable".
//
//   vornmex('stim', stim_string)
//   x = vornmex('stim', 'enable')
//   vornmex('stim', 'enable', x)
//
// When a command finds stimulation off, it switches it on for its trains and
// leaves gStimEnableEvent behind, which stops the electrodes and switches
// stimulation off again after the longest train plus 100 ms. Ending the
// connection switches it off at once (StopPendingStimulation).
//
// Threads: MATLAB's thread. The cache lock is held only while "Stim Enable"
// is read; every send, and every error, comes after it is released. The
// pending event's thread only sends through the client.
#include <cmath>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "StimEnableEvent.h"
#include "StimParamManager.h"
#include "VornCache.h"
#include "VornClient.h"
#include "StimSwitch.h"
#include "VornMex.h"
#include "VornProtocol.h"

namespace vornmex {

// The one pending switch-off of the connection ('stim' and 'stimseq').
vorn::StimEnableEvent* gStimEnableEvent = nullptr;

StimEnableState ReadStimEnable() {
  StimEnableState state;
  std::lock_guard<std::mutex> lock(*gCacheMutex);
  int module = 0;
  int index = 0;
  const vorn::BoolView value = gCache->FindStimEnable(&module, &index);
  if (value.Value().has_value() && module == 0 && index >= 0 && index <= 0xFFFF) {
    state.found = true;
    state.on = *value.Value() != 0;
    state.index = static_cast<uint16_t>(index);
  }
  return state;
}

bool SwitchStimEnableOn(const StimEnableState& state) {
  if (!state.found || state.on) return false;
  gClient->SetBoolProperty(vorn::PROCESSOR_MODULE, state.index, 1);
  return true;
}

void WhileSwitchedOn(bool switchedOn, const StimEnableState& state,
                     const std::function<void()>& work) {
  try {
    work();
  } catch (const MexError&) {
    throw;   // raised after stimulation was put back as it was
  } catch (...) {
    if (switchedOn) gClient->SetBoolProperty(vorn::PROCESSOR_MODULE, state.index, 0);
    throw;
  }
}

[[noreturn]] void FailStimSend(int result, bool switchedOn, const StimEnableState& state) {
  if (switchedOn) gClient->SetBoolProperty(vorn::PROCESSOR_MODULE, state.index, 0);
  switch (result) {
    case 1: Fail("stim string included invalid electrode(s)");
    case 2: Fail("invalid stim command");
    case 3: Fail("stim commands overrun max buffer length");
    default: Fail("unknown error");
  }
}

void ScheduleStimEnableEvent(bool switchedOn, const StimEnableState& state, uint32_t delayMs,
                             std::vector<uint32_t> electrodes) {
  const vorn::SwitchOffPlan plan =
      vorn::ScheduleStimSwitchOff(gStimEnableEvent, gClient, switchedOn, state.found, state.index,
                                  delayMs, std::move(electrodes));
  if (plan == vorn::SwitchOffPlan::kFiredAtOnce) {
    Fail("could not start the stimulation switch-off thread: stimulation was switched off");
  }
}

void StopPendingStimulation() { vorn::StopStimSwitchOff(gStimEnableEvent); }

namespace {

constexpr size_t kStimStringBufferSize = 10240;

[[noreturn]] void FailUsage() {
  Fail("usage: vornmex('stim', stim_string)\n       vornmex('stim', 'enable', [0|1])");
}

void StimEnableCommand(int nrhs, mxArray* plhs[], const mxArray* prhs[]) {
  const StimEnableState state = ReadStimEnable();
  if (!state.found) Fail("failed to retrieve global stim enable property");
  if (nrhs == 2) {
    plhs[0] = mxCreateDoubleScalar(state.on ? 1.0 : 0.0);
    return;
  }
  // Only a number decides: the text '0' would otherwise switch it on.
  const mxArray* arg = prhs[2];
  if (!mxIsNumeric(arg) || mxGetNumberOfElements(arg) != 1 || std::isnan(mxGetScalar(arg))) {
    FailUsage();
  }
  const bool wanted = mxGetScalar(arg) != 0.0;
  if (wanted != state.on) {
    gClient->SetBoolProperty(vorn::PROCESSOR_MODULE, state.index, wanted ? 1 : 0);
  }
}

}  // namespace

void CmdStim(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 2) FailUsage();
  std::string text;
  if (!ReadString(prhs[1], kStimStringBufferSize, &text)) {
    Fail("stim command requires stim parameter string");
  }
  if (text == "enable") {
    StimEnableCommand(nrhs, plhs, prhs);
    return;
  }

  const StimEnableState state = ReadStimEnable();
  const bool switchedOn = SwitchStimEnableOn(state);
  WhileSwitchedOn(switchedOn, state, [&] {
    const int result = gClient->SendStimString(text);
    if (result != 0) FailStimSend(result, switchedOn, state);
    const vorn::StimParamManager params(text);
    ScheduleStimEnableEvent(switchedOn, state,
                            vorn::StimStringSwitchOffDelayMs(params.GetMaxTrainLength()),
                            params.GetElectrodes());
  });
}

}  // namespace vornmex
