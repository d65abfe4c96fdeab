// 'signal': lists an electrode's data streams, reads a stream's enable flag
// for a set of electrodes, switches streams on and off, and reads and
// switches the digital-input stream. Listing and reading use the cache only;
// switching sends one property set per enable flag and waits for nothing.
// Runs on MATLAB's thread; the cache lock is held only while cached values
// are copied out.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "TruncateDouble.h"
#include "VornCache.h"
#include "VornClient.h"
#include "VornMex.h"
#include "VornProtocol.h"

namespace vornmex {

namespace {

constexpr size_t kMaxElectrodes = 1024;
constexpr int kMaxStreamNames = 10;
constexpr size_t kSignalNameBuffer = 32;      // the digital-input form's name
constexpr size_t kStreamNameBuffer = 10240;
constexpr int kLastPropertyIndex = 65535;

bool IsRealDouble(const mxArray* a) { return mxIsDouble(a) && !mxIsComplex(a); }

// Number of columns, or 0 for an array without elements (a 0-by-3 array has
// three columns but nothing to read).
size_t ColumnCount(const mxArray* a) {
  return mxGetNumberOfElements(a) == 0 ? 0 : mxGetN(a);
}

// The whole text of a char array, however long.
std::string WholeString(const mxArray* a) {
  std::string text;
  ReadString(a, mxGetNumberOfElements(a) + 1, &text);
  return text;
}

// A double as MATLAB shows it in a message: NaN, Inf, -Inf or up to 15
// significant digits.
std::string NumberText(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Inf" : "Inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", v);
  return text;
}

struct Electrode {
  int key = -1;     // (x - 1) truncated toward zero; -1 when x is not usable
  int number = 0;   // the 1-based electrode it addresses: key + 1
};

// vornmex('signal', 'digin' [, value])
void DigitalInputForm(int nrhs, mxArray* plhs[], const mxArray* prhs[]) {
  const std::string name = WholeString(prhs[1]);
  if (name.size() >= kSignalNameBuffer) {
    Fail("invalid signal: name of %zu characters (the only signal name is 'digin')", name.size());
  }
  if (name != "digin") Fail("invalid signal: %s", name.c_str());
  if (nrhs > 3) Fail("usage: vornmex('signal', 'digin', [value (0|1)])");

  int module = -1;
  int property = -1;
  int enabled;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    enabled = gCache->GetDigitalInputEnable(&module, &property);
  }
  if (enabled < 0 || module < 0 || module > 255 || property < 0 ||
      property > kLastPropertyIndex) {
    Fail("failed to find signal descriptor");
  }

  if (nrhs == 2) {
    plhs[0] = mxCreateNumericMatrix(1, 1, mxINT32_CLASS, mxREAL);
    const int32_t flag = enabled;
    std::memcpy(mxGetData(plhs[0]), &flag, sizeof flag);
    return;
  }

  const mxArray* value = prhs[2];
  if (!IsRealDouble(value) || mxIsEmpty(value)) Fail("invalid value: digin takes 0 or 1");
  // Truncated toward zero: 0.5 switches off. NaN counts as not zero, as it
  // does in the electrode form.
  const double v = mxGetScalar(value);
  const bool on = std::isnan(v) || v >= 1.0 || v <= -1.0;
  gClient->SetBoolProperty(static_cast<uint8_t>(module), static_cast<uint16_t>(property),
                           on ? 1 : 0);
}

// Electrode numbers of elecs, all checked against the electrode index. An
// element x addresses the electrode key (x - 1) truncated toward zero, so
// 0.5 and 1.7 both address electrode 1 (key 0); an unknown one is named in
// the message as the element truncated toward zero (0 for 0 and -0.5).
std::vector<Electrode> ReadElectrodes(const mxArray* elecs, size_t n) {
  std::vector<Electrode> result(n);
  const double* x = mxGetPr(elecs);
  for (size_t i = 0; i < n; ++i) {
    // NaN, infinities and keys beyond 32 bits address nothing.
    const std::optional<int32_t> key = vorn::TruncToInt32(x[i] - 1.0);
    if (key && *key >= 0 && *key < INT32_MAX) {
      result[i].key = *key;
      result[i].number = *key + 1;
    }
  }
  std::optional<size_t> missing;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    for (size_t i = 0; i < n && !missing; ++i) {
      if (result[i].key < 0 || !gCache->HasElectrode(result[i].key)) missing = i;
    }
  }
  if (missing) {
    const double element = x[*missing];
    if (const std::optional<int32_t> written = vorn::TruncToInt32(element)) {
      Fail("electrode %d not found", static_cast<int>(*written));
    }
    Fail("electrode %s not found", NumberText(element).c_str());
  }
  return result;
}

// names = vornmex('signal', elecs)
void ListStreams(mxArray* plhs[], const std::vector<Electrode>& electrodes) {
  std::vector<std::vector<std::string>> visible(electrodes.size());
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    for (size_t i = 0; i < electrodes.size(); ++i) {
      std::vector<std::string> names;
      gCache->ListElectrodeStreams(electrodes[i].key, &names, kMaxStreamNames);
      for (const std::string& name : names) {
        const vorn::OutputStreamView d =
            gCache->FindStreamForElectrode(electrodes[i].key, name, nullptr, nullptr);
        if (!d.Empty() && !d.Hidden()) visible[i].push_back(name);
      }
    }
  }

  auto makeCell = [](const std::vector<std::string>& names) {
    mxArray* cell = mxCreateCellMatrix(1, names.size());
    for (size_t j = 0; j < names.size(); ++j) {
      mxSetCell(cell, j, mxCreateString(names[j].c_str()));
    }
    return cell;
  };
  if (electrodes.empty()) return;
  if (electrodes.size() == 1) {
    plhs[0] = makeCell(visible[0]);
    return;
  }
  plhs[0] = mxCreateCellMatrix(1, electrodes.size());
  for (size_t i = 0; i < electrodes.size(); ++i) mxSetCell(plhs[0], i, makeCell(visible[i]));
}

// What one electrode's named stream resolves to.
struct StreamEnable {
  enum Outcome { kFound, kNoStream, kNotSelectable } outcome = kNoStream;
  int flag = 0;
  int module = -1;
  int property = -1;
  int channelCount = 0;
};

// Caller holds the cache lock.
StreamEnable LookUpEnable(int key, const std::string& stream) {
  StreamEnable r;
  const vorn::OutputStreamView d = gCache->FindStreamForElectrode(key, stream, nullptr, nullptr);
  if (d.Empty()) return r;
  r.flag = gCache->GetStreamEnable(key, stream, &r.module, &r.property, &r.channelCount);
  if (r.flag < 0 || d.Hidden() || r.module < 0 || r.module > 255 || r.property < 0 ||
      r.property > kLastPropertyIndex) {
    r.outcome = StreamEnable::kNotSelectable;
    return r;
  }
  r.outcome = StreamEnable::kFound;
  return r;
}

void FailFor(const StreamEnable& r, const std::string& stream, const Electrode& e) {
  if (r.outcome == StreamEnable::kNoStream) {
    Fail("stream %s not found for electrode %d", stream.c_str(), e.number);
  }
  Fail("cannot find stream %s for electrode %d", stream.c_str(), e.number);
}

// v = vornmex('signal', elecs, stream)
void ReadEnables(mxArray* plhs[], const std::vector<Electrode>& electrodes,
                 const std::string& stream) {
  std::vector<int32_t> flags(electrodes.size());
  std::optional<std::pair<StreamEnable, size_t>> failed;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    for (size_t i = 0; i < electrodes.size(); ++i) {
      const StreamEnable r = LookUpEnable(electrodes[i].key, stream);
      if (r.outcome != StreamEnable::kFound) {
        failed = std::make_pair(r, i);
        break;
      }
      flags[i] = r.flag;
    }
  }
  if (failed) FailFor(failed->first, stream, electrodes[failed->second]);

  plhs[0] = mxCreateNumericMatrix(1, electrodes.size(), mxINT32_CLASS, mxREAL);
  if (!flags.empty()) {
    std::memcpy(mxGetData(plhs[0]), flags.data(), flags.size() * sizeof(int32_t));
  }
}

// vornmex('signal', elecs, stream, values). Electrode by electrode, as
// documented: switches already sent for earlier electrodes stay sent when a
// later electrode has no such stream.
void SwitchStreams(const std::vector<Electrode>& electrodes, const std::string& stream,
                   const std::vector<bool>& on) {
  for (size_t i = 0; i < electrodes.size(); ++i) {
    StreamEnable r;
    {
      std::lock_guard<std::mutex> lock(*gCacheMutex);
      r = LookUpEnable(electrodes[i].key, stream);
    }
    if (r.outcome != StreamEnable::kFound) FailFor(r, stream, electrodes[i]);
    for (int j = 0; j < r.channelCount && r.property + j <= kLastPropertyIndex; ++j) {
      gClient->SetBoolProperty(static_cast<uint8_t>(r.module),
                               static_cast<uint16_t>(r.property + j), on[i] ? 1 : 0);
    }
  }
}

}  // namespace

// vornmex('signal', elec, [stream, [value (0|1)]])
void CmdSignal(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 2) Fail("usage: vornmex('signal', elec, [stream, [value (0|1))] ]");
  if (mxIsChar(prhs[1])) {
    DigitalInputForm(nrhs, plhs, prhs);
    return;
  }

  const mxArray* elecs = prhs[1];
  if (!IsRealDouble(elecs)) Fail("elec must be an array of electrode numbers");
  const size_t n = ColumnCount(elecs);
  if (n > kMaxElectrodes) Fail("too many electrodes: %zu (at most 1024 per call)", n);

  std::string stream;
  if (nrhs >= 3 && !ReadString(prhs[2], kStreamNameBuffer, &stream)) {
    Fail("invalid signal string\n");
  }

  std::vector<bool> on;
  if (nrhs >= 4) {
    const mxArray* values = prhs[3];
    if (!IsRealDouble(values)) Fail("enable values must be real numbers");
    const size_t m = ColumnCount(values);
    const double* v = mxGetPr(values);
    if (n >= 2 && m == 1) {
      on.assign(n, v[0] != 0.0);
    } else {
      if (n != m) Fail("size of electrodes and enables values must match");
      on.resize(n);
      for (size_t i = 0; i < n; ++i) on[i] = v[i] != 0.0;
    }
  }

  const std::vector<Electrode> electrodes = ReadElectrodes(elecs, n);
  if (nrhs == 2) {
    ListStreams(plhs, electrodes);
  } else if (nrhs == 3) {
    ReadEnables(plhs, electrodes, stream);
  } else {
    SwitchStreams(electrodes, stream, on);
  }
}

}  // namespace vornmex
