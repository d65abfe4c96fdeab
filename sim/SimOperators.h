// The Osprane operator workstations: processors above 128 with one module
// (0) holding an operator descriptor (property 0) and the recording trial
// record (property 1). A record sent to an operator sets its status, file
// name base, auto stop time, auto increment and increment number.
// --operator-status gives an operator another initial status code;
// --operator-answers lets it answer only its first N trial requests, after
// which it is silent about its record (see Answer and Reports).
//
// Threads: the simulator's loop thread only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SimLayout.h"
#include "SimOptions.h"

namespace vornsim {

class SimOperators {
 public:
  // The operators of options.operators with their initial records,
  // --operator-status and --operator-answers applied.
  explicit SimOperators(const SimOptions& options);

  bool Has(int id) const { return mOperators.count(id) != 0; }
  std::vector<int> Ids() const;

  // The (property index, record) pairs operator `id` answers a request for
  // (module, property) with: module 0 or 255; property 0, 1 or 65535. The
  // trial record is left out once the operator is silent; an answer that
  // carries it counts against its --operator-answers.
  std::vector<std::pair<uint16_t, const Bytes*>> Answer(int id, int module, uint16_t property);
  // Whether the operator still sends its trial record: it has not yet
  // answered as many trial requests as --operator-answers allows. A silent
  // operator still applies the records it receives but does not report them.
  bool Reports(int id) const;
  // Applies a received trial record (at least 544 bytes). False with
  // *error when it cannot be applied; the stored record is then unchanged.
  bool ApplyTrial(int id, const uint8_t* record, size_t length, std::string* error);
  const Bytes* Trial(int id) const;

 private:
  struct Station {
    Bytes descriptor;
    Bytes trial;
    int answersLeft = -1;   // trial requests it still answers; -1 = no limit
  };
  std::map<int, Station> mOperators;
};

}  // namespace vornsim
