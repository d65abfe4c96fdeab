#include "VornMex.h"

namespace vornmex {

void CmdElec(int, mxArray*[], int, const mxArray*[]) { Fail("command not available yet"); }

}  // namespace vornmex
