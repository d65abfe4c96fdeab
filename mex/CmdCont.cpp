#include "VornMex.h"

namespace vornmex {

void CmdCont(int, mxArray*[], int, const mxArray*[]) { Fail("command not available yet"); }

}  // namespace vornmex
