#include "VornMex.h"

namespace vornmex {

void CmdStim(int, mxArray*[], int, const mxArray*[]) { Fail("command not available yet"); }
void StopPendingStimulation() {}

}  // namespace vornmex
