// 'digout': sets any of the four single-bit digital outputs (1 to 4) and the
// 16-bit parallel output (5) of the digital I/O module with one packet.
// Reads nothing from the cache; runs on MATLAB's thread.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "TruncateDouble.h"
#include "VornClient.h"
#include "VornMex.h"

namespace vornmex {

namespace {

constexpr size_t kMaxOutputs = 5;

// A double as MATLAB shows it in a message: NaN, Inf, -Inf or up to 15
// significant digits.
std::string NumberText(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Inf" : "Inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", v);
  return text;
}

}  // namespace

// vornmex('digout', outputs, values)
void CmdDigout(int, mxArray*[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 3) Fail("usage: vornmex('digital', outputs, values)");
  const mxArray* outputs = prhs[1];
  const mxArray* values = prhs[2];

  const mwSize dims = mxGetNumberOfDimensions(outputs);
  if (mxGetNumberOfDimensions(values) != dims) Fail("outputs and values sizes must match");
  if (dims > 2) Fail("dimensions must be less than 2");
  const mwSize* outDims = mxGetDimensions(outputs);
  const mwSize* valDims = mxGetDimensions(values);
  size_t n = 1;
  for (mwSize d = 0; d < dims; ++d) {
    if (outDims[d] != valDims[d]) Fail("outputs and values sizes must match");
    n *= outDims[d];
  }
  if (n < 1 || n > kMaxOutputs) Fail("invalid inputs");

  // Both must be real doubles to be read element by element.
  if (!mxIsDouble(outputs) || mxIsComplex(outputs)) Fail("invalid output.");
  if (!mxIsDouble(values) || mxIsComplex(values)) {
    Fail("digital output values must be real numbers");
  }
  const double* out = mxGetPr(outputs);
  const double* val = mxGetPr(values);

  uint32_t indexes[kMaxOutputs];
  uint32_t words[kMaxOutputs];
  for (size_t i = 0; i < n; ++i) {
    if (!(out[i] >= 1.0 && out[i] <= 5.0)) Fail("invalid output.");
    indexes[i] = static_cast<uint32_t>(vorn::TruncToInt32(out[i]).value_or(1) - 1);
    const std::optional<int32_t> v = vorn::TruncToInt32(val[i]);
    if (!v) {
      Fail("digital output value %s out of range (an integer from -2147483648 to 2147483647)",
           NumberText(val[i]).c_str());
    }
    words[i] = static_cast<uint32_t>(*v);
  }
  // Adding the same output twice would carry into the neighbouring bits of
  // the control word and set an output nobody named.
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (indexes[i] == indexes[j]) {
        Fail("digital output %u named more than once", static_cast<unsigned>(indexes[i] + 1));
      }
    }
  }
  gClient->SetDigitalOutputs(indexes, words, static_cast<uint32_t>(n));
}

}  // namespace vornmex
