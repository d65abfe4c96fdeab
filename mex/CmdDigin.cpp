#include "VornMex.h"

namespace vornmex {

void CmdDigin(int, mxArray*[], int, const mxArray*[]) { Fail("command not available yet"); }

}  // namespace vornmex
