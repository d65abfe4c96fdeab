// The MEX entry point: argument checks, the connection's start and end, the
// health check, the command table and 'time'. Every user error of every
// command reaches MATLAB through the one mexErrMsgTxt call at the end of
// mexFunction, after the handler's locks and buffers are gone.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "VornCache.h"
#include "VornClient.h"
#include "VornConnection.h"
#include "VornMex.h"

namespace vornmex {

vorn::VornClient* gClient = nullptr;
vorn::VornCache* gCache = nullptr;
std::mutex* gCacheMutex = nullptr;
vorn::VornConnection* gConnection = nullptr;

void Fail(const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  throw MexError{text};
}

bool ReadString(const mxArray* arg, size_t bufferSize, std::string* out) {
  if (arg == nullptr || bufferSize == 0 || !mxIsChar(arg)) return false;
  std::vector<char> buffer(bufferSize, '\0');
  if (mxGetString(arg, buffer.data(), static_cast<mwSize>(bufferSize)) != 0) return false;
  out->assign(buffer.data());
  return true;
}

namespace {

// 15 characters and the terminating zero.
constexpr size_t kCommandBufferSize = 16;

// Stops the listening thread and deletes the connection. Registered with
// mexAtExit, so it must never throw.
void CloseConnection() {
  // A pending stimulation switch-off acts now, while the client can still send.
  try {
    StopPendingStimulation();
  } catch (...) {
    std::fprintf(stderr, "stopping the pending stimulation failed\n");
  }
  if (gConnection != nullptr) {
    gConnection->Close();
    delete gConnection;
    gConnection = nullptr;
  }
  gClient = nullptr;
  gCache = nullptr;
  gCacheMutex = nullptr;
}

void OpenConnection() {
  if (gConnection != nullptr) CloseConnection();   // what is left of a failed start
  try {
    gConnection = new vorn::VornConnection();
  } catch (const std::bad_alloc&) {
    gConnection = nullptr;
    return;
  }
  gConnection->Open();
  gClient = gConnection->GetClient();
  gCache = gConnection->GetCache();
  gCacheMutex = gConnection->GetCacheMutex();
}

void CheckArgumentTypes(int nrhs, const mxArray* prhs[]) {
  for (int i = 0; i < nrhs; ++i) {
    const mxArray* arg = prhs[i];
    if (mxIsNumeric(arg)) {
      if (!mxIsDouble(arg)) Fail("all numeric inputs must be doubles");
      // The handlers read doubles as full column-major arrays; a sparse
      // array holds only its non-zero elements.
      if (mxIsSparse(arg)) Fail("sparse inputs are not supported: use full()");
    } else if (mxIsLogical(arg)) {
      Fail("convert logical inputs to double");
    } else if (!mxIsChar(arg) && !mxIsStruct(arg)) {
      Fail("vornmex inputs must be of types char, double, or struct");
    }
  }
}

void StartConnection() {
  OpenConnection();
  if (gClient == nullptr || gCache == nullptr) Fail("failed to allocate memory");
  mexAtExit(CloseConnection);
  switch (gClient->GetInitStatus()) {
    case 0: break;
    case 1: Fail("could not create receive socket");
    case 2: Fail("could not create send socket");
    case 3: Fail("could not find instrument network");
    case 4: Fail("could not bind to VORN config port");
    default: Fail("unknown error occured");
  }
}

int CacheStatus() {
  if (gCacheMutex == nullptr) return gCache->GetStatus();   // no thread writes it
  std::lock_guard<std::mutex> lock(*gCacheMutex);
  // Datagrams queued while the mutex was busy belong in the answer.
  gConnection->DrainBacklogLocked();
  return gCache->GetStatus();
}

void CheckHealth() {
  switch (CacheStatus()) {
    case 0: return;
    case 1: Fail("could not find KEL");
    case 2: Fail("did not receive all KEL modules");
    case 3: Fail("did not recieve all KEL properties");
    case 4:
      CloseConnection();
      Fail("KEL configuration changed.  Please restart vornmex.");
    default: Fail("unknown error occured");
  }
}

// The latest instrument time, an unsigned 32-bit count of the 30 kHz clock.
void CmdTime(int, mxArray* plhs[], int, const mxArray*[]) {
  plhs[0] = mxCreateDoubleScalar(static_cast<double>(gCache->GetLatestTime()));
}

struct Command {
  const char* name;
  Handler handler;
};

// Compared in this order, exactly and case-sensitively.
const Command kCommands[] = {
    {"time", CmdTime},         {"elec", CmdElec},       {"stim", CmdStim},
    {"digin", CmdDigin},       {"spike", CmdSpike},     {"stimdata", CmdSpike},
    {"cont", CmdCont},         {"stimseq", CmdStimSeq}, {"trial", CmdTrial},
    {"opers", CmdOpers},       {"signal", CmdSignal},   {"filter", CmdFilter},
    {"digout", CmdDigout},     {"help", CmdHelp},       {"priority", CmdPriority},
};

void Gateway(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  CheckArgumentTypes(nrhs, prhs);

  if (gClient == nullptr) StartConnection();

  std::string command;
  if (nrhs > 0 && !ReadString(prhs[0], kCommandBufferSize, &command)) {
    Fail("usage: vornmex(<command>, <args>");
  }

  if (command == "close") {
    CloseConnection();
    return;
  }

  CheckHealth();

  for (const Command& c : kCommands) {
    if (command == c.name) {
      c.handler(nlhs, plhs, nrhs, prhs);
      return;
    }
  }
  plhs[0] = mxCreateLogicalScalar(gCache->IsReady());
}

}  // namespace
}  // namespace vornmex

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  // The message outlives this call: mexErrMsgTxt does not return.
  static char message[2048];
  bool failed = false;
  std::exception_ptr foreign;
  try {
    vornmex::Gateway(nlhs, plhs, nrhs, prhs);
  } catch (const vornmex::MexError& e) {
    std::snprintf(message, sizeof message, "%s", e.message.c_str());
    failed = true;
  } catch (const std::bad_alloc&) {
    std::snprintf(message, sizeof message, "%s", "failed to allocate memory");
    failed = true;
  } catch (...) {
    // The host's own errors (raised inside mx functions) pass through as
    // they are.
    foreign = std::current_exception();
  }
  // Every lock and buffer of the handler is released by now.
  if (foreign) std::rethrow_exception(foreign);
  if (failed) mexErrMsgTxt(message);
}
