#include "VornMex.h"

namespace vornmex {

void CmdSpike(int, mxArray*[], int, const mxArray*[]) { Fail("command not available yet"); }

}  // namespace vornmex
