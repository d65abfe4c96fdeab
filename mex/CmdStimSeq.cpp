#include "VornMex.h"

namespace vornmex {

void CmdStimSeq(int, mxArray*[], int, const mxArray*[]) { Fail("command not available yet"); }

}  // namespace vornmex
