#include "VornMex.h"

namespace vornmex {

void CmdOpers(int, mxArray*[], int, const mxArray*[]) { Fail("command not available yet"); }
void CmdTrial(int, mxArray*[], int, const mxArray*[]) { Fail("command not available yet"); }

}  // namespace vornmex
