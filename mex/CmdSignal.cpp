#include "VornMex.h"

namespace vornmex {

void CmdSignal(int, mxArray*[], int, const mxArray*[]) { Fail("command not available yet"); }

}  // namespace vornmex
