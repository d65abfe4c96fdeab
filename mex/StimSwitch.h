// What 'stim' and 'stimseq' share: the cached "Stim Enable", switching it on
// for a command, and the switch-off that follows (CmdStim.cpp).
//
// Threads: MATLAB's thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace vornmex {

// What the cache knows of "Stim Enable" (property index of its value in
// module 0).
struct StimEnableState {
  bool found = false;
  bool on = false;
  uint16_t index = 0;
};

StimEnableState ReadStimEnable();

// Switches stimulation on when the cache says it is off; true when this call
// did so.
bool SwitchStimEnableOn(const StimEnableState& state);

// Runs work (the sends and the scheduling of the switch-off). Should it fail
// in a way it does not handle itself (running out of memory), stimulation
// goes back off if this call switched it on, and the failure goes on.
void WhileSwitchedOn(bool switchedOn, const StimEnableState& state,
                     const std::function<void()>& work);

// A failed stimulation send: stimulation goes back off if this call switched
// it on, then the error is raised.
[[noreturn]] void FailStimSend(int result, bool switchedOn, const StimEnableState& state);

// After a successful send: replaces the pending switch-off, if this call
// switched stimulation on or one is pending.
void ScheduleStimEnableEvent(bool switchedOn, const StimEnableState& state, uint32_t delayMs,
                             std::vector<uint32_t> electrodes);

}  // namespace vornmex
