// Tests of the IMU filter, cliff codes and light levels.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "vesk_gazebo/sensor_coding.h"

using namespace vesk_gazebo;

namespace {

TEST(ImuFilter, ConstantGravityRampsOverThreeSamples) {
  ImuFilter f;
  const double a[3] = {0.0, -1.0, 9.81};
  int16_t c[3];
  const int expect_z[3] = {2730, 5461, 8191};  // 8192 * n / 3 just under, truncated
  for (int n = 0; n < 3; ++n) {
    ImuFilterUpdate(f, a, c);
    EXPECT_EQ(0, c[0]);
    EXPECT_EQ(expect_z[n], c[2]) << "sample " << n;
    EXPECT_EQ(static_cast<int>(-(n + 1) * 0.3333333333333333 * kImuCountsPerMs2), c[1]);
  }
  ImuFilterUpdate(f, a, c);
  EXPECT_EQ(8191, c[2]);  // steady
}

TEST(ImuFilter, AveragesTheLastThreeOnly) {
  ImuFilter f;
  int16_t c[3];
  const double s[4][3] = {{3, 0, 0}, {6, 0, 0}, {9, 0, 0}, {0, 0, 0}};
  for (const auto& a : s) ImuFilterUpdate(f, a, c);
  // (6 + 9 + 0) / 3 = 5 m/s^2
  EXPECT_EQ(static_cast<int>(15 * 0.3333333333333333 * kImuCountsPerMs2), c[0]);
}

TEST(ImuFilter, SaturatesInsteadOfWrapping) {
  ImuFilter f;
  int16_t c[3];
  const double big[3] = {400.0, -400.0, 1e300};
  for (int n = 0; n < 3; ++n) ImuFilterUpdate(f, big, c);
  EXPECT_EQ(32767, c[0]);
  EXPECT_EQ(-32768, c[1]);
  EXPECT_EQ(32767, c[2]);
  EXPECT_EQ(32767, SaturateCounts(32767.9));
  EXPECT_EQ(-32768, SaturateCounts(-1e9));
  EXPECT_EQ(-5, SaturateCounts(-5.9));  // toward zero
}

TEST(ImuFilter, NonFiniteSampleCountsAsZero) {
  ImuFilter f;
  int16_t c[3];
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double a[3] = {nan, std::numeric_limits<double>::infinity(), 9.81};
  ImuFilterUpdate(f, a, c);
  EXPECT_EQ(0, c[0]);
  EXPECT_EQ(0, c[1]);
  const double ok[3] = {9.81, 9.81, 9.81};
  ImuFilterUpdate(f, ok, c);
  EXPECT_EQ(2730, c[0]);  // the bad sample did not poison the history
}

TEST(CliffCode, CodesRangesAsInverseMetres) {
  EXPECT_EQ(4, CliffCode(0.25));
  EXPECT_EQ(12, CliffCode(0.08));
  EXPECT_EQ(10, CliffCode(0.1));
  EXPECT_EQ(1, CliffCode(1.0));
  EXPECT_EQ(0, CliffCode(1.5));
  EXPECT_EQ(15, CliffCode(1.0 / 15.5));
  EXPECT_EQ(15, CliffCode(1e-300));  // no overflow converting 1/r
}

TEST(CliffCode, ZeroOrNoReadingGives8AndNothingInRangeGives0) {
  EXPECT_EQ(8, CliffCode(0.0));
  EXPECT_EQ(8, CliffCode(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ(0, CliffCode(DBL_MAX));
  EXPECT_EQ(0, CliffCode(std::numeric_limits<double>::infinity()));
  EXPECT_EQ(0, CliffCode(-0.1));
}

TEST(LightLevel, MeanByteTimesScale) {
  std::vector<unsigned char> white(4 * 3 * 3, 255);
  EXPECT_EQ(1.0f, LightLevel(white.data(), 4, 3));
  std::vector<unsigned char> mid(4 * 3 * 3, 128);
  EXPECT_NEAR(0.50196, LightLevel(mid.data(), 4, 3), 1e-5);
  EXPECT_EQ(static_cast<float>(128 * kLightScale), LightLevel(mid.data(), 4, 3));
  // Integer mean: bytes 1 and 2 (sum 9 over 6) give mean 1.
  std::vector<unsigned char> mixed = {1, 2, 1, 2, 1, 2};
  EXPECT_EQ(static_cast<float>(kLightScale), LightLevel(mixed.data(), 2, 1));
}

TEST(LightLevel, EmptyOrMissingImageIsDark) {
  std::vector<unsigned char> img(3, 200);
  EXPECT_EQ(0.0f, LightLevel(img.data(), 0, 1));
  EXPECT_EQ(0.0f, LightLevel(nullptr, 4, 4));
}

TEST(LightLevel, LargeImageSumDoesNotOverflow) {
  // 3000 x 2000 x 3 bytes of 255 sum to more than 2^32.
  std::vector<unsigned char> img(3000u * 2000u * 3u, 255);
  EXPECT_EQ(1.0f, LightLevel(img.data(), 3000, 2000));
}

}  // namespace
