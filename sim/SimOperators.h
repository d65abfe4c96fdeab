// The Osprane operator workstations: processors above 128 with one module
// (0) holding an operator descriptor (property 0) and the recording trial
// record (property 1). A record sent to an operator sets its status, file
// name base, auto stop time, auto increment and increment number.
//
// Threads: the simulator's loop thread only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SimLayout.h"

namespace vornsim {

class SimOperators {
 public:
  explicit SimOperators(const std::vector<int>& ids);

  bool Has(int id) const { return mOperators.count(id) != 0; }
  std::vector<int> Ids() const;

  // The (property index, record) pairs operator `id` answers a request for
  // (module, property) with: module 0 or 255; property 0, 1 or 65535.
  std::vector<std::pair<uint16_t, const Bytes*>> Answer(int id, int module,
                                                        uint16_t property) const;
  // Applies a received trial record (at least 544 bytes). False with
  // *error when it cannot be applied; the stored record is then unchanged.
  bool ApplyTrial(int id, const uint8_t* record, size_t length, std::string* error);
  const Bytes* Trial(int id) const;

 private:
  struct Station {
    Bytes descriptor;
    Bytes trial;
  };
  std::map<int, Station> mOperators;
};

}  // namespace vornsim
