#include "SimLog.h"

#include <cmath>

namespace vornsim {

JsonLine::JsonLine(const char* kind) {
  mText = "{";
  Str("kind", kind);
}

void JsonLine::Key(const char* key) {
  if (mText.size() > 1) mText += ',';
  mText += '"';
  mText += key;
  mText += "\":";
}

JsonLine& JsonLine::Num(const char* key, int64_t value) {
  Key(key);
  mText += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Real(const char* key, double value) {
  Key(key);
  if (!std::isfinite(value)) {
    mText += "null";
  } else {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", value);
    mText += buf;
  }
  return *this;
}

JsonLine& JsonLine::Bool(const char* key, bool value) {
  Key(key);
  mText += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::Str(const char* key, const std::string& value) {
  Key(key);
  mText += '"';
  for (unsigned char c : value) {
    switch (c) {
      case '"': mText += "\\\""; break;
      case '\\': mText += "\\\\"; break;
      case '\n': mText += "\\n"; break;
      case '\r': mText += "\\r"; break;
      case '\t': mText += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          // Bytes from the network need not be UTF-8: escape everything
          // outside printable ASCII so that every line stays valid JSON.
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          mText += buf;
        } else {
          mText += static_cast<char>(c);
        }
    }
  }
  mText += '"';
  return *this;
}

JsonLine& JsonLine::Hex(const char* key, const uint8_t* data, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  Key(key);
  mText += '"';
  for (size_t i = 0; i < length; ++i) {
    mText += kDigits[data[i] >> 4];
    mText += kDigits[data[i] & 0x0F];
  }
  mText += '"';
  return *this;
}

JsonLine& JsonLine::Array(const char* key, const std::vector<int64_t>& values) {
  Key(key);
  mText += '[';
  for (size_t i = 0; i < values.size(); ++i) {
    if (i != 0) mText += ',';
    mText += std::to_string(values[i]);
  }
  mText += ']';
  return *this;
}

const std::string& JsonLine::Text() {
  if (!mClosed) {
    mText += '}';
    mClosed = true;
  }
  return mText;
}

SimLog::~SimLog() {
  if (mFile != nullptr && mOwned) std::fclose(mFile);
}

bool SimLog::Open(const std::string& path) {
  if (path == "-") {
    mFile = stdout;
    mOwned = false;
    return true;
  }
  mFile = std::fopen(path.c_str(), "w");
  mOwned = mFile != nullptr;
  // Room for the longest line, so that each line reaches the file in one
  // write and a reader never sees half of one.
  if (mFile != nullptr) std::setvbuf(mFile, nullptr, _IOFBF, 1 << 16);
  return mFile != nullptr;
}

void SimLog::Write(JsonLine& line) {
  if (mFile == nullptr) return;
  const std::string& text = line.Text();
  std::fwrite(text.data(), 1, text.size(), mFile);
  std::fputc('\n', mFile);
  std::fflush(mFile);
}

}  // namespace vornsim
