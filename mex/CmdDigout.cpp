#include "VornMex.h"

namespace vornmex {

void CmdDigout(int, mxArray*[], int, const mxArray*[]) { Fail("command not available yet"); }

}  // namespace vornmex
