// The simulator's log: one JSON object per line, flushed after each line so
// that a test can read it while the simulator runs. JsonLine builds one
// object; SimLog writes it. Field names are documented in sim/LAYOUT.md.
//
// Threads: the simulator's loop thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vornsim {

class JsonLine {
 public:
  explicit JsonLine(const char* kind);
  JsonLine& Num(const char* key, int64_t value);
  JsonLine& Real(const char* key, double value);
  JsonLine& Bool(const char* key, bool value);
  JsonLine& Str(const char* key, const std::string& value);
  JsonLine& Hex(const char* key, const uint8_t* data, size_t length);
  JsonLine& Array(const char* key, const std::vector<int64_t>& values);
  const std::string& Text();   // the finished object, without line feed

 private:
  void Key(const char* key);
  std::string mText;
  bool mClosed = false;
};

class SimLog {
 public:
  SimLog() = default;
  ~SimLog();
  SimLog(const SimLog&) = delete;
  SimLog& operator=(const SimLog&) = delete;

  // "-" writes to standard output. False when the file cannot be opened.
  bool Open(const std::string& path);
  bool Enabled() const { return mFile != nullptr; }
  void Write(JsonLine& line);

 private:
  FILE* mFile = nullptr;
  bool mOwned = false;
};

}  // namespace vornsim
