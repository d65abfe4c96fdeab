// 'filter': lists an electrode's filter types and their selections, makes a
// selection current ('set'), and uploads a user filter into a filter type's
// last selection ('custom'). 'list' reads the cache only; 'set' and 'custom'
// send one property set each and wait for nothing. The filters of an
// electrode on front-end module M are properties of module M + 1.
// Runs on MATLAB's thread; the cache lock is held only while cached records
// are copied out.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "SosFilterRecord.h"
#include "TruncateDouble.h"
#include "VornCache.h"
#include "VornClient.h"
#include "VornMex.h"
#include "VornProtocol.h"

namespace vornmex {

namespace {

constexpr size_t kSubcommandBuffer = 16;
constexpr size_t kShortTextChars = 15;   // filter type of list/custom, label
constexpr int kMaxFilterTypes = 10;

const char* const kInfoFields[] = {"label",       "lowCutoff", "highCutoff", "center",
                                   "centerOrder", "centerFlags", "lowOrder", "lowFlags",
                                   "highOrder",   "highFlags",  "maxStages", "numStages",
                                   "sos"};
constexpr int kInfoFieldCount = 13;

bool IsRealDouble(const mxArray* a) { return mxIsDouble(a) && !mxIsComplex(a); }

// The zero-based electrode key of an electrode number: the number truncated
// toward zero, minus 1; -1 (no electrode) when it is not a usable number.
int ReadElectrodeKey(const mxArray* elec) {
  if (!IsRealDouble(elec) || mxIsEmpty(elec)) Fail("elec must be an electrode number");
  const std::optional<int32_t> number = vorn::TruncToInt32(mxGetScalar(elec));
  if (!number || *number <= 0) return -1;
  return *number - 1;
}

// A filter type name; list and custom keep at most 15 characters of it.
std::string ReadFilterType(const mxArray* ftype, bool cut) {
  if (!mxIsChar(ftype)) Fail("filter type must be a char array");
  std::string text;
  ReadString(ftype, mxGetNumberOfElements(ftype) + 1, &text);
  if (cut && text.size() > kShortTextChars) text.resize(kShortTextChars);
  return text;
}

// A selection number counted from 1, truncated toward zero; 0 (never valid)
// when it is not a usable number.
int ReadSelection(const mxArray* select) {
  if (!IsRealDouble(select) || mxIsEmpty(select)) return 0;
  return vorn::SaturatingTrunc(mxGetScalar(select), 0);
}

// A double as the f32 of a record; values beyond f32's range become
// infinities instead of an undefined conversion.
float ToF32(double v) {
  if (v > FLT_MAX) return INFINITY;
  if (v < -FLT_MAX) return -INFINITY;
  return static_cast<float>(v);
}

// The cached combo box of a filter type, copied out. Caller holds the lock.
struct FilterType {
  bool valid = false;
  int module = -1;
  int property = -1;
  uint8_t record[vorn::kComboBoxBytes] = {};
  int selection = 0;   // counted from 0
  int itemCount = 0;
};

FilterType LookUpFilterType(int key, const std::string& ftype) {
  FilterType t;
  const vorn::ComboBoxView combo = gCache->FindFilterCombo(key, ftype, &t.module, &t.property);
  // A combo box record is 140 bytes; a shorter one is not a usable filter.
  if (combo.Size() < vorn::kComboBoxBytes || t.module < 0 || t.module > 255 || t.property < 0 ||
      t.property > 65535) {
    return t;
  }
  std::memcpy(t.record, combo.Data(), vorn::kComboBoxBytes);
  t.selection = *combo.Selection();
  t.itemCount = *combo.ItemCount();
  t.valid = true;
  return t;
}

mxArray* MakeSosMatrix(const vorn::SosFilterRecord& f) {
  const size_t rows = f.stages.size();
  mxArray* m = mxCreateDoubleMatrix(rows, 6, mxREAL);
  double* p = mxGetPr(m);
  for (size_t i = 0; i < rows; ++i) {
    const std::array<double, 6> row = f.SosRow(i);
    for (size_t c = 0; c < 6; ++c) p[i + c * rows] = row[c];
  }
  return m;
}

void SetInfoElement(mxArray* info, size_t i, const vorn::SosFilterRecord& f) {
  auto num = [](double v) { return mxCreateDoubleScalar(v); };
  mxSetField(info, i, "label", mxCreateString(f.label.c_str()));
  mxSetField(info, i, "lowCutoff", num(f.lowCutoff));
  mxSetField(info, i, "highCutoff", num(f.highCutoff));
  mxSetField(info, i, "center", num(f.center));
  mxSetField(info, i, "centerOrder", num(f.centerOrder));
  mxSetField(info, i, "centerFlags", num(f.centerFlags));
  mxSetField(info, i, "lowOrder", num(f.lowOrder));
  mxSetField(info, i, "lowFlags", num(f.lowFlags));
  mxSetField(info, i, "highOrder", num(f.highOrder));
  mxSetField(info, i, "highFlags", num(f.highFlags));
  mxSetField(info, i, "maxStages", num(f.maxStages));
  mxSetField(info, i, "numStages", num(static_cast<double>(f.stages.size())));
  mxSetField(info, i, "sos", MakeSosMatrix(f));
}

// types = vornmex('filter', 'list', elec)
// [sel, info] = vornmex('filter', 'list', elec, ftype [, select])
void List(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 3) Fail("usage: vornmex('filter', 'list', elec, [filter type [, select]])");
  const int key = ReadElectrodeKey(prhs[2]);

  if (nrhs == 3) {
    std::vector<std::string> names;
    {
      std::lock_guard<std::mutex> lock(*gCacheMutex);
      gCache->ListFilterTypes(&names, kMaxFilterTypes, key);
    }
    plhs[0] = mxCreateCellMatrix(1, names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      mxSetCell(plhs[0], i, mxCreateString(names[i].c_str()));
    }
    return;
  }

  const std::string ftype = ReadFilterType(prhs[3], true);
  const bool one = nrhs == 5;
  const int select = one ? ReadSelection(prhs[4]) : 0;

  FilterType type;
  bool selectionValid = true;
  bool descriptorsValid = true;
  std::vector<vorn::SosFilterRecord> filters;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    type = LookUpFilterType(key, ftype);
    if (type.valid) {
      int first = 0;
      int last = type.itemCount - 1;
      if (one) {
        selectionValid = select >= 1 && select <= type.itemCount;
        first = last = select - 1;
      }
      for (int s = first; selectionValid && descriptorsValid && s <= last; ++s) {
        vorn::SosFilterRecord f;
        const vorn::SosFilterView d = gCache->GetFilterDesc(key, ftype, s, nullptr, nullptr);
        descriptorsValid = vorn::SosFilterRecord::Parse(d, &f);
        filters.push_back(std::move(f));
      }
    }
  }
  if (!type.valid) Fail("Invalid filter.");
  if (!selectionValid) Fail("Invalid selection");
  if (!descriptorsValid) Fail("Invalid filter.");

  plhs[0] = mxCreateDoubleScalar(type.selection + 1);
  if (nlhs < 2) return;
  const char** names = const_cast<const char**>(kInfoFields);
  plhs[1] = one ? mxCreateStructMatrix(1, 1, kInfoFieldCount, names)
                : mxCreateStructMatrix(filters.size(), 1, kInfoFieldCount, names);
  for (size_t i = 0; i < filters.size(); ++i) SetInfoElement(plhs[1], i, filters[i]);
}

// vornmex('filter', 'set', elec, ftype, select)
void Set(int nrhs, const mxArray* prhs[]) {
  if (nrhs < 5) Fail("usage: vornmex('filter', 'set', elec, filter type, select)");
  const int key = ReadElectrodeKey(prhs[2]);
  const std::string ftype = ReadFilterType(prhs[3], false);
  const int select = ReadSelection(prhs[4]);

  FilterType type;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    type = LookUpFilterType(key, ftype);
  }
  if (!type.valid) Fail("Invalid filter.");
  if (select < 1 || select > type.itemCount) Fail("Invalid filter selection.");

  // The cached record goes back with only its current selection changed.
  vorn::StoreU16(type.record + vorn::ComboBoxView::kSelection, static_cast<uint16_t>(select - 1));
  gClient->SetFixedSizeProperty(type.record, static_cast<uint8_t>(type.module),
                                static_cast<uint16_t>(type.property));
}

// The sos_struct fields 'custom' reads, in the order they are checked.
const char* const kCustomFields[] = {"label",       "center",   "lowCutoff",
                                     "highCutoff",  "centerOrder", "lowOrder",
                                     "highOrder",   "numStages", "sos"};

// A numeric field of sos_struct truncated toward zero as 32 bits.
uint32_t ReadWholeField(const mxArray* field, const char* name) {
  if (!(mxIsNumeric(field) || mxIsLogical(field)) || mxIsEmpty(field)) {
    Fail("invalid sos struct: %s must be a number", name);
  }
  const std::optional<uint32_t> v = vorn::TruncToU32Bits(mxGetScalar(field));
  if (!v) Fail("invalid sos struct: %s out of range", name);
  return *v;
}

float ReadFloatField(const mxArray* field, const char* name) {
  if (!(mxIsNumeric(field) || mxIsLogical(field)) || mxIsEmpty(field)) {
    Fail("invalid sos struct: %s must be a number", name);
  }
  return ToF32(mxGetScalar(field));
}

// vornmex('filter', 'custom', elec, ftype, sos_struct)
void Custom(int nrhs, const mxArray* prhs[]) {
  if (nrhs < 5) Fail("usage: vornmex('filter', 'custom', elec, filter type, sos_struct)");
  const int key = ReadElectrodeKey(prhs[2]);
  const mxArray* sos = prhs[4];
  if (!mxIsStruct(sos) || mxGetNumberOfElements(sos) == 0) Fail("invalid sos struct");
  const std::string ftype = ReadFilterType(prhs[3], true);

  const mxArray* fields[9];
  for (int i = 0; i < 9; ++i) {
    fields[i] = mxGetField(sos, 0, kCustomFields[i]);
    if (fields[i] == nullptr) Fail("invalid sos struct: %s", kCustomFields[i]);
  }

  vorn::SosFilterRecord filter;
  if (!mxIsChar(fields[0])) Fail("invalid sos struct: label must be a char array");
  ReadString(fields[0], mxGetNumberOfElements(fields[0]) + 1, &filter.label);
  if (filter.label.size() > kShortTextChars) filter.label.resize(kShortTextChars);
  filter.center = ReadFloatField(fields[1], "center");
  filter.lowCutoff = ReadFloatField(fields[2], "lowCutoff");
  filter.highCutoff = ReadFloatField(fields[3], "highCutoff");
  filter.centerOrder = static_cast<uint8_t>(ReadWholeField(fields[4], "centerOrder"));
  filter.lowOrder = static_cast<uint8_t>(ReadWholeField(fields[5], "lowOrder"));
  filter.highOrder = static_cast<uint8_t>(ReadWholeField(fields[6], "highOrder"));
  const mxArray* numStagesField = fields[7];
  if (!(mxIsNumeric(numStagesField) || mxIsLogical(numStagesField)) ||
      mxIsEmpty(numStagesField)) {
    Fail("invalid sos struct: numStages must be a number");
  }
  const double numStagesValue = mxGetScalar(numStagesField);
  const mxArray* matrix = fields[8];
  // Read below as a full column-major matrix: a sparse one holds fewer values.
  if (!IsRealDouble(matrix) || mxIsSparse(matrix)) {
    Fail("invalid sos struct: sos must be a real double matrix");
  }
  const size_t rows = mxGetM(matrix);
  if (mxGetN(matrix) < 6) Fail("invalid sos struct: sos must have 6 columns");
  const std::optional<int32_t> numStages = vorn::TruncToInt32(numStagesValue);
  if (!numStages || *numStages < 0 || *numStages > 255) {
    Fail("invalid sos struct: numStages must be 0 to 255");
  }
  if (static_cast<size_t>(*numStages) > rows) {
    Fail("invalid sos struct: numStages (%d) is larger than the rows of sos (%zu)", *numStages,
         rows);
  }
  if (static_cast<size_t>(*numStages) > vorn::SosFilterRecord::kUploadStageLimit) {
    Fail("invalid sos struct: at most %zu stages fit in one packet",
         vorn::SosFilterRecord::kUploadStageLimit);
  }
  // Column-major: sos(i, c) is p[i + c * rows]. Columns 3 and 4 (b2 = b0
  // and a0 = 1) are implied by the record and not read.
  const double* p = mxGetPr(matrix);
  filter.stages.resize(static_cast<size_t>(*numStages));
  for (size_t i = 0; i < filter.stages.size(); ++i) {
    filter.stages[i] = {ToF32(p[i]), ToF32(p[i + rows]), ToF32(p[i + 4 * rows]),
                        ToF32(p[i + 5 * rows])};
  }
  const std::vector<uint8_t> record = filter.EncodeUpload();

  FilterType type;
  bool hasTarget = false;
  int module = -1;
  int property = -1;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    type = LookUpFilterType(key, ftype);
    if (type.valid && type.itemCount > 0) {
      const int last = type.itemCount - 1;
      hasTarget = !gCache->GetFilterDesc(key, ftype, last, &module, &property).Empty();
    }
  }
  if (!type.valid) Fail("Invalid filter.");
  if (type.itemCount == 0) Fail("Invalid filter: the filter type has no selection to write");
  if (!hasTarget || module < 0 || module > 255 || property < 0 || property > 65535) {
    Fail("Invalid filter.");
  }
  gClient->SetProperty(record.data(), static_cast<uint8_t>(module),
                       static_cast<uint16_t>(property), static_cast<uint32_t>(record.size()));
}

}  // namespace

// vornmex('filter', 'list' | 'set' | 'custom', ...)
void CmdFilter(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 2) Fail("usage: vornmex('filter', cmd ('list', 'set', 'custom')");
  std::string command;
  if (!ReadString(prhs[1], kSubcommandBuffer, &command)) Fail("invalid filter string");
  if (command == "list") {
    List(nlhs, plhs, nrhs, prhs);
  } else if (command == "set") {
    Set(nrhs, prhs);
  } else if (command == "custom") {
    Custom(nrhs, prhs);
  } else {
    Fail("filter string must be 'set', 'list', or 'custom'");
  }
}

}  // namespace vornmex
