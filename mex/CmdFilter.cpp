#include "VornMex.h"

namespace vornmex {

void CmdFilter(int, mxArray*[], int, const mxArray*[]) { Fail("command not available yet"); }

}  // namespace vornmex
