// The extension's side of the simulator's namespace test: runs in the host
// namespace, opens a real connection (sockets, listening thread, discovery)
// against vornsim in the instrument namespace and checks the cache against
// sim/LAYOUT.md and the simulator's log.
//   sim_net_probe discover SIMLOG   discovery succeeds: index, stim map, log
//   sim_net_probe noready SIMLOG    (vornsim --loss 100) the cache never gets ready
// Exit status 0 when every check holds; each failed check is printed.
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "VornCache.h"
#include "VornClient.h"
#include "VornConnection.h"

namespace {

int gFailures = 0;

void Check(bool ok, const std::string& what) {
  if (!ok) std::printf("FAILED: %s\n", what.c_str());
  gFailures += ok ? 0 : 1;
}

// The fields of a logged request for processor/module/property.
const std::string kRequest = "\"kind\":\"request\"";
std::string Request(int processor, int module, int property) {
  return "\"target_processor\":" + std::to_string(processor) +
         ",\"target_module\":" + std::to_string(module) + ",\"property\":" + std::to_string(property);
}

// Some line of the simulator's log holds every one of parts.
void CheckLogged(const std::string& path, const std::vector<std::string>& parts) {
  std::ifstream in(path);
  bool found = false;
  for (std::string line; !found && std::getline(in, line);) {
    found = true;
    for (const std::string& p : parts) found = found && line.find(p) != std::string::npos;
  }
  std::string what = "log:";
  for (const std::string& p : parts) what += " " + p;
  Check(found, what);
}

void Discover(const std::string& simLog) {
  vorn::VornConnection connection;
  connection.Open();
  vorn::VornClient* client = connection.GetClient();
  vorn::VornCache* cache = connection.GetCache();
  Check(client != nullptr && client->GetInitStatus() == 0, "client initialised");
  Check(cache != nullptr && cache->IsReady() && cache->GetStatus() == 0, "cache ready after discovery");
  if (cache == nullptr || client == nullptr || connection.GetCacheMutex() == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(*connection.GetCacheMutex());
    Check(cache->GetModuleCount() == 35, "35 modules");
    std::vector<int32_t> keys(600);
    const int n = cache->ListElectrodes(keys.data(), 600, "");
    Check(n == 176 && keys[159] == 159 && keys[160] == 10240,
          "160 front-end electrodes, then 16 analog inputs from 10240; got " + std::to_string(n));
    Check(cache->FindElectrodeModule(0) == 1 && cache->FindElectrodeModule(128) == 9 &&
              cache->FindElectrodeModule(10240) == 11,
          "electrode modules 1, 9, 11");
    int module = -1, index = -1;
    Check(cache->FindStimEnable(&module, &index).Value() == 0 && module == 0 && index == 6,
          "Stim Enable at 0/6, off");
  }
  const auto& stimMap = client->GetStimElectrodes();
  bool mapOk = stimMap.size() == 32;
  for (int c = 0; c < 32 && mapOk; ++c) {
    auto it = stimMap.find(128 + c);
    mapOk = it != stimMap.end() && it->second == std::make_pair(9, 302 + c);
  }
  Check(mapOk, "stim map: 32 keys, 128 + c -> (9, 302 + c)");

  CheckLogged(simLog, {kRequest, Request(255, 0, 0), "\"from\":\"192.168.42.20\""});
  CheckLogged(simLog, {kRequest, Request(1, 0, 5)});
  CheckLogged(simLog, {kRequest, Request(1, 255, 0), "\"answered\":36"});
  CheckLogged(simLog, {kRequest, Request(1, 9, 65535), "\"answered\":334"});
  connection.Close();
}

void NoReady(const std::string& simLog) {
  vorn::ConnectionTiming timing;
  timing.moduleWaitMs = 1500;
  timing.propertyWaitMs = 500;
  vorn::VornConnection connection(nullptr, timing);
  connection.Open();
  vorn::VornCache* cache = connection.GetCache();
  Check(cache != nullptr && !cache->IsReady() && cache->GetStatus() == 1,
        "cache not ready, status 1: no KEL time seen");
  // The simulator heard and answered; the answers were lost.
  CheckLogged(simLog, {kRequest, Request(1, 255, 0), "\"answered\":36"});
  connection.Close();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  if (mode != "discover" && mode != "noready") {
    std::fprintf(stderr, "usage: sim_net_probe discover|noready SIMLOG\n");
    return 2;
  }
  mode == "discover" ? Discover(argv[2]) : NoReady(argv[2]);
  std::printf("sim_net_probe %s: %s\n", mode.c_str(), gFailures == 0 ? "passed" : "FAILED");
  return gFailures == 0 ? 0 : 1;
}
