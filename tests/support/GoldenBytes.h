// Golden byte comparisons for tests:
//   EXPECT_TRUE(vorn::test::BytesEqual(actual, Hex("05 00 00 00 01 00 00 00")));
// On a mismatch the message names the first differing offset and both
// lengths, and shows the bytes around it.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorn {
namespace test {

// Bytes from hex text; spaces, commas and line breaks are ignored.
inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ',' || c == '\n' || c == '\t') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      throw std::invalid_argument("Hex: not a hex digit in \"" + text + "\"");
    }
    const int v = std::isdigit(static_cast<unsigned char>(c))
                      ? c - '0'
                      : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("Hex: odd number of digits in \"" + text + "\"");
  return out;
}

inline std::string HexDump(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  std::string s;
  char b[4];
  for (size_t i = from; i < to && i < bytes.size(); ++i) {
    std::snprintf(b, sizeof b, i > from ? " %02X" : "%02X", bytes[i]);
    s += b;
  }
  return s;
}

inline ::testing::AssertionResult BytesEqual(const std::vector<uint8_t>& actual,
                                             const std::vector<uint8_t>& expected) {
  const size_t common = actual.size() < expected.size() ? actual.size() : expected.size();
  size_t first = 0;
  while (first < common && actual[first] == expected[first]) ++first;
  if (first == common && actual.size() == expected.size()) {
    return ::testing::AssertionSuccess();
  }
  const size_t from = first >= 8 ? first - 8 : 0;
  std::ostringstream msg;
  msg << "bytes first differ at offset " << first << " (actual " << actual.size()
      << " bytes, expected " << expected.size() << ")\n"
      << "  actual   [" << from << "..]: " << HexDump(actual, from, first + 8) << "\n"
      << "  expected [" << from << "..]: " << HexDump(expected, from, first + 8);
  return ::testing::AssertionFailure() << msg.str();
}

}  // namespace test
}  // namespace vorn
