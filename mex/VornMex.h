// Shared by the MEX entry point and the command handlers: the connection's
// process-wide variables, the handler signature and the one way a handler
// reports a user error.
//
// Threads: everything declared here is used on MATLAB's thread only; the
// listening thread sees the cache through gCacheMutex.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>

#include "mex.h"

namespace vorn {
class VornClient;
class VornCache;
class VornConnection;
}  // namespace vorn

namespace vornmex {

// The connection (null while there is none).
extern vorn::VornClient* gClient;
extern vorn::VornCache* gCache;
extern std::mutex* gCacheMutex;
// Owns the three above and the listening thread (vornmex.cpp).
extern vorn::VornConnection* gConnection;

// A user error. Handlers throw it (through Fail) instead of calling
// mexErrMsgTxt; the entry point raises it once the handler's locks and
// buffers are gone.
struct MexError {
  std::string message;
};

// Formats like printf and throws MexError.
[[noreturn]] void Fail(const char* format, ...);

// mxGetString into a buffer of bufferSize bytes: false when the argument is
// not a char array or has bufferSize characters or more.
bool ReadString(const mxArray* arg, size_t bufferSize, std::string* out);

using Handler = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// Command handlers, one file per family.
void CmdHelp(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);      // CmdHelp.cpp
void CmdPriority(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);  // CmdHelp.cpp
void CmdCont(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);      // CmdCont.cpp
void CmdSpike(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);     // CmdSpike.cpp
void CmdDigin(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);     // CmdDigin.cpp
void CmdElec(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);      // CmdElec.cpp
void CmdSignal(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);    // CmdSignal.cpp
void CmdFilter(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);    // CmdFilter.cpp
void CmdDigout(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);    // CmdDigout.cpp
void CmdOpers(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);     // CmdTrial.cpp
void CmdTrial(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);     // CmdTrial.cpp
void CmdStim(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);      // CmdStim.cpp
void CmdStimSeq(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);   // CmdStimSeq.cpp

// Called by the connection's end before the client is deleted: a pending
// stimulation switch-off acts at once (stop packets, then "Stim Enable"
// false) and the event is deleted. Safe to call with nothing pending.
void StopPendingStimulation();                                                 // CmdStim.cpp

}  // namespace vornmex
