// The extension's side of the simulator's namespace test: runs in the host
// namespace, opens a real connection (VornConnection: sockets, listening
// thread, discovery) against vornsim in the instrument namespace and checks
// what the cache then holds against sim/LAYOUT.md and the simulator's log.
//   sim_net_probe discover SIMLOG   discovery succeeds; index, map, data, log
//   sim_net_probe noready SIMLOG    (vornsim --loss 100) the cache never gets ready
// Exit status 0 when every check holds; each failed check is printed.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VornCache.h"
#include "VornClient.h"
#include "VornConnection.h"

namespace {

int gFailures = 0;

void Check(bool ok, const std::string& what) {
  if (!ok) {
    std::printf("FAILED: %s\n", what.c_str());
    ++gFailures;
  }
}

// Polls pred until it holds or the (generous) deadline passes.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return pred();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool LogHas(const std::string& path, const std::vector<std::string>& parts) {
  for (const std::string& line : ReadLines(path)) {
    bool all = true;
    for (const std::string& p : parts) all = all && line.find(p) != std::string::npos;
    if (all) return true;
  }
  return false;
}

std::string RequestFields(int processor, int module, int property) {
  return "\"target_processor\":" + std::to_string(processor) + ",\"target_module\":" +
         std::to_string(module) + ",\"property\":" + std::to_string(property);
}

int Discover(const std::string& simLog) {
  vorn::VornConnection connection;
  connection.Open();
  vorn::VornClient* client = connection.GetClient();
  vorn::VornCache* cache = connection.GetCache();
  Check(client != nullptr && client->GetInitStatus() == 0, "client initialised");
  if (cache == nullptr || connection.GetCacheMutex() == nullptr) return 1;
  std::mutex& mutex = *connection.GetCacheMutex();
  Check(cache->IsReady(), "cache ready after discovery");
  Check(cache->GetStatus() == 0, "cache status 0");

  {
    std::lock_guard<std::mutex> lock(mutex);
    Check(cache->GetModuleCount() == 35, "35 modules");
    std::vector<int32_t> keys(600);
    const int n = cache->ListElectrodes(keys.data(), 600, "");
    Check(n == 176, "160 front-end electrodes and 16 analog inputs, got " + std::to_string(n));
    Check(n > 160 && keys[159] == 159 && keys[160] == 10240, "electrode order");
    Check(cache->FindElectrodeModule(0) == 1 && cache->FindElectrodeModule(128) == 9 &&
              cache->FindElectrodeModule(10240) == 11,
          "electrode modules 1, 9, 11");
    int module = -1, index = -1;
    const auto enable = cache->FindStimEnable(&module, &index);
    Check(module == 0 && index == 6 && enable.Value() == 0, "Stim Enable at 0/6, off");
  }
  const auto& stimMap = client->GetStimElectrodes();
  Check(stimMap.size() == 32, "32 stimulation electrodes");
  bool mapOk = stimMap.size() == 32;
  for (int c = 0; c < 32 && mapOk; ++c) {
    auto it = stimMap.find(128 + c);
    mapOk = it != stimMap.end() && it->second == std::make_pair(9, 302 + c);
  }
  Check(mapOk, "stim map: key 128 + c -> (9, 302 + c)");

  // The start-up asked every operator for its trial record.
  Check(WaitUntil([&] {
          std::lock_guard<std::mutex> lock(mutex);
          connection.DrainBacklogLocked();
          return cache->CopyOperatorTrial(129).size() == 552 && cache->CopyOperatorTrial(131).size() == 552;
        }, 5000),
        "trial records of operators 129 and 131");

  // Data flows and carries the documented values: electrode 6 (key 5), raw.
  std::vector<float> values(10);
  uint32_t t0 = 0;
  bool dataOk = WaitUntil([&] {
    std::lock_guard<std::mutex> lock(mutex);
    connection.DrainBacklogLocked();
    return cache->GetContData(&t0, values.data(), 10, 5, 1, 1, 0) == 10 && t0 != 0;
  }, 5000);
  Check(dataOk, "raw data of electrode 6 arrives");
  if (dataOk) {
    bool valuesOk = true;
    for (uint32_t j = 0; j < 10; ++j) {
      const uint32_t t = t0 + j + 1;
      const int base = static_cast<int>((t + 97u * 5u + 1009u + 31u) % 4096u) - 2048;
      valuesOk = valuesOk && values[j] == static_cast<float>(base) * 0.25f;
    }
    Check(valuesOk, "raw values follow the documented formula");
  }
  Check(cache->IsConfigValid(), "configuration still valid");

  // The simulator's log shows the discovery requests, from the host.
  Check(LogHas(simLog, {"\"kind\":\"request\"", "\"from\":\"192.168.42.20\"", RequestFields(255, 0, 0)}),
        "log: request 255/0/0");
  Check(LogHas(simLog, {"\"kind\":\"request\"", RequestFields(1, 0, 5)}), "log: request 1/0/5");
  Check(LogHas(simLog, {"\"kind\":\"request\"", RequestFields(1, 255, 0), "\"answered\":36"}),
        "log: request 1/255/0 answered with 36 packets");
  Check(LogHas(simLog, {"\"kind\":\"request\"", RequestFields(1, 9, 65535), "\"answered\":334"}),
        "log: request 1/9/65535 answered with 334 packets");
  Check(LogHas(simLog, {"\"kind\":\"trial_request\"", "\"operator\":131"}), "log: trial request 131");

  connection.Close();
  return gFailures == 0 ? 0 : 1;
}

int NoReady(const std::string& simLog) {
  vorn::ConnectionTiming timing;
  timing.moduleWaitMs = 1500;
  timing.propertyWaitMs = 500;
  vorn::VornConnection connection(nullptr, timing);
  connection.Open();
  vorn::VornCache* cache = connection.GetCache();
  Check(cache != nullptr && !cache->IsReady(), "cache not ready");
  Check(cache != nullptr && cache->GetStatus() == 1, "status 1: no KEL time seen");
  Check(LogHas(simLog, {"\"kind\":\"request\"", RequestFields(1, 255, 0), "\"answered\":36"}),
        "log: the simulator heard and answered 1/255/0 (the answers were lost)");
  connection.Close();
  return gFailures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: sim_net_probe discover|noready SIMLOG\n");
    return 2;
  }
  const std::string mode = argv[1];
  int status = 2;
  if (mode == "discover") status = Discover(argv[2]);
  if (mode == "noready") status = NoReady(argv[2]);
  std::printf("sim_net_probe %s: %s\n", mode.c_str(), status == 0 ? "passed" : "FAILED");
  return status;
}
