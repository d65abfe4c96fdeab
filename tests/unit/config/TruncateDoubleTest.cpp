#include "TruncateDouble.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(TruncateDouble, Int32TruncatesTowardZeroAndRefusesWhatDoesNotFit) {
  EXPECT_EQ(vorn::TruncToInt32(0.7), 0);
  EXPECT_EQ(vorn::TruncToInt32(-0.7), 0);
  EXPECT_EQ(vorn::TruncToInt32(-1.9), -1);
  EXPECT_EQ(vorn::TruncToInt32(65537.9), 65537);
  EXPECT_EQ(vorn::TruncToInt32(2147483647.9), 2147483647);
  EXPECT_EQ(vorn::TruncToInt32(-2147483648.9), -2147483647 - 1);
  EXPECT_FALSE(vorn::TruncToInt32(2147483648.0));
  EXPECT_FALSE(vorn::TruncToInt32(-2147483649.0));
  EXPECT_FALSE(vorn::TruncToInt32(std::nan("")));
  EXPECT_FALSE(vorn::TruncToInt32(std::numeric_limits<double>::infinity()));
}

TEST(TruncateDouble, U32BitsKeepTwosComplementAndTheFullUnsignedRange) {
  EXPECT_EQ(vorn::TruncToU32Bits(60.5), 60u);
  EXPECT_EQ(vorn::TruncToU32Bits(-5.5), 0xFFFFFFFBu);
  EXPECT_EQ(vorn::TruncToU32Bits(4294967295.0), 0xFFFFFFFFu);
  EXPECT_EQ(vorn::TruncToU32Bits(-2147483648.0), 0x80000000u);
  EXPECT_FALSE(vorn::TruncToU32Bits(4294967296.0));
  EXPECT_FALSE(vorn::TruncToU32Bits(-2147483649.0));
  EXPECT_FALSE(vorn::TruncToU32Bits(std::nan("")));
  EXPECT_FALSE(vorn::TruncToU32Bits(-std::numeric_limits<double>::infinity()));
}

TEST(TruncateDouble, SaturatingLookupValues) {
  EXPECT_EQ(vorn::SaturatingTrunc(1.7, -1), 1);
  EXPECT_EQ(vorn::SaturatingTrunc(-0.5, -1), 0);
  EXPECT_EQ(vorn::SaturatingTrunc(1e300, -1), std::numeric_limits<int>::max());
  EXPECT_EQ(vorn::SaturatingTrunc(-1e300, -1), std::numeric_limits<int>::min());
  EXPECT_EQ(vorn::SaturatingTrunc(std::nan(""), -7), -7);
}
