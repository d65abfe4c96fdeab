// 'help' and 'priority'.
#include <string>

#include "ThreadPriority.h"
#include "VornConnection.h"
#include "VornMex.h"

namespace vornmex {

namespace {

constexpr size_t kPriorityBufferSize = 10240;

// The listening thread's kernel id, or kNoThread when none runs.
vorn::ThreadId ListenThread() {
  return gConnection != nullptr ? gConnection->GetListenThreadId() : vorn::kNoThread;
}

}  // namespace

void CmdHelp(int, mxArray*[], int, const mxArray*[]) {
  mexPrintf("usage: vornmex(cmdstr [, args])\n");
  mexPrintf("\t'close' - close UDP socket and delete cached data\n");
  mexPrintf("\t'time' - display latest KEL time\n");
  mexPrintf("\t'priority' - change vornmex thread priority\n");
  mexPrintf("\t'opers' - find Osprane operators on the network\n");
  mexPrintf("\t'trial' - control file save on Osprane operators\n");
  mexPrintf("\t'elec' - retrieve electrode numbers by type of headstage.\n");
  mexPrintf("\t'signal' - enable or disable signals\n");
  mexPrintf("\t'filter' - modify and retrieve filter information\n");
  mexPrintf("\t'cont' - get continuous data\n");
  mexPrintf("\t'spike' - get recent spike counts and times\n");
  mexPrintf("\t'digin' - retrieve digital inputs\n");
  mexPrintf("\t'digout' - control digital outputs\n");
  mexPrintf("\t'stim' - send stim control string\n");
  mexPrintf("\t'stimseq' - complex control of stimulation\n");
  mexPrintf("\n");
  mexPrintf("\tFor more info, type command strings without arguments\n");
}

// vornmex('priority') reads the listening thread's priority (no output when
// it is none of the six names, or no thread runs); vornmex('priority', name)
// sets it.
void CmdPriority(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs == 1) {
    const char* name = vorn::GetPriorityName(ListenThread());
    if (name != nullptr) plhs[0] = mxCreateString(name);
    return;
  }
  std::string name;
  if (!ReadString(prhs[1], kPriorityBufferSize, &name)) Fail("priority must be string\n");
  switch (vorn::SetPriorityByName(ListenThread(), name.c_str())) {
    case 0: return;
    case -1:
      Fail("Invalid error string.  Must be: 'time-critical', 'highest', 'above', 'normal', "
           "'below', and 'lowest'");
    default: Fail("failed ot set thread priority");
  }
}

}  // namespace vornmex
