// Tables, table functions and the random generator of the voice's fast maths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "vesk_voice/fastmath.h"

namespace {

const double kPi = std::acos(-1.0);

float rounded6(double v) { return static_cast<float>(std::round(v * 1e6) / 1e6); }

// Difference of two angles folded into [-pi, pi].
double angle_diff(double a, double b) {
  double d = std::fmod(a - b, 2.0 * kPi);
  if (d > kPi) d -= 2.0 * kPi;
  if (d < -kPi) d += 2.0 * kPi;
  return d;
}

TEST(FastTables, EveryEntryIsTheRuleRoundedToSixDecimals) {
  for (int i = 0; i < kFastTableSize; ++i) {
    ASSERT_EQ(table_cosf[i], rounded6(std::cos(i * kPi / 8192.0))) << "cos entry " << i;
    ASSERT_EQ(table_exp_minus_sq[i], rounded6(std::exp(-(i / 1024.0) * (i / 1024.0)))) << "exp entry " << i;
    ASSERT_EQ(table_tanh[i], rounded6(std::tanh(i / 512.0))) << "tanh entry " << i;
    ASSERT_EQ(table_asin[i], rounded6(std::asin(i / 4096.0))) << "asin entry " << i;
  }
}

TEST(FastTables, EndpointsAndSecondEntries) {
  EXPECT_EQ(table_cosf[0], 1.0f);
  EXPECT_EQ(table_cosf[1], 1.0f);
  EXPECT_EQ(table_cosf[4096], 0.0f);
  EXPECT_EQ(table_exp_minus_sq[0], 1.0f);
  EXPECT_EQ(table_exp_minus_sq[1], 0.999999f);
  EXPECT_EQ(table_exp_minus_sq[4096], 0.0f);
  EXPECT_EQ(table_tanh[0], 0.0f);
  EXPECT_EQ(table_tanh[1], 0.001953f);
  EXPECT_EQ(table_tanh[4096], 1.0f);
  EXPECT_EQ(table_asin[0], 0.0f);
  EXPECT_EQ(table_asin[1], 0.000244f);
  EXPECT_EQ(table_asin[4096], 1.570796f);
}

TEST(CosSin, EdgeCases) {
  EXPECT_EQ(cosf_approx_norm(0.0f), 1.0f);
  const float quarter = cosf_approx_norm(0.25f);
  EXPECT_EQ(quarter, 0.0f);
  EXPECT_TRUE(std::signbit(quarter)) << "entry 4096 negated";
  EXPECT_EQ(cosf_approx_norm(0.5f), -1.0f);
  EXPECT_EQ(cosf_approx_norm(-0.1f), cosf_approx_norm(0.1f));
  EXPECT_EQ(cosf_approx_norm(1.25f), cosf_approx_norm(0.25f));
  EXPECT_EQ(sinf_approx_norm(0.25f), 1.0f);
  EXPECT_NEAR(sinf_approx(static_cast<float>(kPi / 2)), 1.0f, 1e-6f);
  EXPECT_NEAR(cosf_approx(static_cast<float>(kPi)), -1.0f, 1e-6f);
}

TEST(CosSin, OutOfRangePhaseGivesZeroNotGarbage) {
  EXPECT_EQ(cosf_approx_norm(5e9f), 0.0f);
  EXPECT_EQ(cosf_approx_norm(-5e9f), 0.0f);
  EXPECT_EQ(cosf_approx_norm(INFINITY), 0.0f);
  EXPECT_EQ(cosf_approx_norm(NAN), 0.0f);
  EXPECT_EQ(sinf_approx(NAN), 0.0f);
}

// Nearest-entry lookup on a step of 1/16384 turn: the error is at most half a
// step times the largest slope (2*pi per turn), plus the six-decimal rounding
// and the float rounding of the phase.
TEST(CosSin, AccuracySweepWithinHalfTableStep) {
  const double bound_norm = 0.5 / 16384.0 * 2.0 * kPi + 1e-6;
  for (int k = -200000; k <= 200000; ++k) {
    const float x = k * 1.7e-5f;  // about -3.4 to 3.4 turns
    ASSERT_NEAR(cosf_approx_norm(x), std::cos(2.0 * kPi * x), bound_norm) << "turns " << x;
    ASSERT_NEAR(sinf_approx_norm(x), std::sin(2.0 * kPi * x), bound_norm + 1e-6) << "turns " << x;
  }
  // Radians up to 50: the phase in turns loses about 4e-6 turns to float rounding.
  const double bound_rad = bound_norm + 2.0 * kPi * 4e-6;
  for (int k = -100000; k <= 100000; ++k) {
    const float x = k * 5e-4f;
    ASSERT_NEAR(cosf_approx(x), cosf_accurate(x), bound_rad) << "rad " << x;
    ASSERT_NEAR(sinf_approx(x), sinf_accurate(x), bound_rad) << "rad " << x;
  }
}

// The lookups written out step by step as the rules state them, to check the
// branch-free forms bit for bit.
float cos_norm_by_rule(float x) {
  x = std::fabs(x) + 3.0517578e-05f;
  const float f = x - static_cast<float>(static_cast<uint32_t>(x));
  const int q = static_cast<int>(4.0f * f);
  const float r = 4.0f * f - static_cast<float>(q);
  const int i = static_cast<int>(4096.0f * r);
  switch (q) {
    case 0:
      return table_cosf[i];
    case 1:
      return -table_cosf[4096 - i];
    case 2:
      return -table_cosf[i];
    case 3:
      return table_cosf[4096 - i];
    default:
      return 0.0f;
  }
}
float exp_by_rule(float x) {
  const uint32_t i = static_cast<uint32_t>(std::fabs(x) * 1024.0f);
  return i > 4095 ? 0.0f : table_exp_minus_sq[i];
}
float tanh_by_rule(float x) {
  if (x < 0.0f) return -tanh_by_rule(-x);
  const uint32_t i = static_cast<uint32_t>(x * 512.0f);
  return i > 4095 ? 1.0f : table_tanh[i];
}
float asin_by_rule(float x) {
  float sign = 1.0f;
  if (x < 0.0f) {
    x = -x;
    sign = -1.0f;
  }
  const uint32_t i = static_cast<uint32_t>(x * 4096.0f);
  return (i <= 4095 ? table_asin[i] : 1.5707964f) * sign;
}
float atan2_by_rule(float y, float x) {
  if (y == 0.0f && x == 0.0f) return 0.0f;
  float z, offset;
  if (y >= x && y > -x) {
    z = -x / y;
    offset = 1.5707964f;
  } else if (y >= x) {
    z = y / x;
    offset = 3.1415927f;
  } else if (y > -x) {
    z = y / x;
    offset = 0.0f;
  } else {
    z = -x / y;
    offset = -1.5707964f;
  }
  return ((0.0663f * std::fabs(z) + 0.2447f) * (1.0f - std::fabs(z)) + 0.7853982f) * z + offset;
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Lookups, MatchTheirRulesBitForBit) {
  rng_seed = 99;
  for (int k = 0; k < 100000; ++k) {
    // Exact table points, their neighbours, and random values over and past each domain.
    const float grid = k / 16384.0f;  // 0 to about 6 turns
    const float rnd = (rng_unif_f() * 2.0f - 1.0f) * 12.0f;
    for (float x : {grid, -grid, std::nextafter(grid, 0.0f), std::nextafter(grid, 9.0f), rnd}) {
      ASSERT_TRUE(same_bits(cosf_approx_norm(x), cos_norm_by_rule(x))) << x;
      ASSERT_TRUE(same_bits(exp_minus_sq_approx(x), exp_by_rule(x))) << x;
      ASSERT_TRUE(same_bits(tanhf_approx(x), tanh_by_rule(x))) << x;
      ASSERT_TRUE(same_bits(asinf_approx(x / 8.0f), asin_by_rule(x / 8.0f))) << x;
      const float y = grid - 1.2f;
      ASSERT_TRUE(same_bits(atan2f_approx(y, rnd), atan2_by_rule(y, rnd))) << y << " " << rnd;
      ASSERT_TRUE(same_bits(atan2f_approx(rnd, rnd), atan2_by_rule(rnd, rnd))) << rnd;
      ASSERT_TRUE(same_bits(atan2f_approx(rnd, -rnd), atan2_by_rule(rnd, -rnd))) << rnd;
    }
  }
}

TEST(ExpMinusSq, EdgeCases) {
  EXPECT_EQ(exp_minus_sq_approx(3.999f), table_exp_minus_sq[4095]);
  EXPECT_LT(exp_minus_sq_approx(3.999f), 1e-6f);
  EXPECT_EQ(exp_minus_sq_approx(4.0f), 0.0f);
  EXPECT_EQ(exp_minus_sq_approx(-1.0f), exp_minus_sq_approx(1.0f));
  EXPECT_EQ(exp_minus_sq_approx(1.0f), 0.367879f);
  EXPECT_EQ(exp_minus_sq_approx(1e30f), 0.0f);
  EXPECT_EQ(exp_minus_sq_approx(NAN), 0.0f);
}

// Truncation on a step of 1/1024: error at most one step times the largest
// slope of exp(-x^2), sqrt(2/e).
TEST(ExpMinusSq, AccuracySweepWithinOneTableStep) {
  const double bound = std::sqrt(2.0 / std::exp(1.0)) / 1024.0 + 1e-6;
  for (int k = -60000; k <= 60000; ++k) {
    const float x = k * 1e-4f;
    ASSERT_NEAR(exp_minus_sq_approx(x), std::exp(-static_cast<double>(x) * x), bound) << x;
  }
}

TEST(Tanh, EdgeCases) {
  EXPECT_EQ(tanhf_approx(8.0f), 1.0f);
  EXPECT_EQ(tanhf_approx(1e30f), 1.0f);
  EXPECT_EQ(tanhf_approx(-8.0f), -1.0f);
  const float small = tanhf_approx(-0.001f);
  EXPECT_EQ(small, 0.0f);
  EXPECT_TRUE(std::signbit(small)) << "entry 0 negated";
  EXPECT_EQ(tanhf_approx_pos(-0.5f), table_tanh[0]);
  EXPECT_EQ(tanhf_approx(0.75f), -tanhf_approx(-0.75f));
}

// Truncation on a step of 1/512 with slope at most 1.
TEST(Tanh, AccuracySweepWithinOneTableStep) {
  const double bound = 1.0 / 512.0 + 1e-6;
  for (int k = -120000; k <= 120000; ++k) {
    const float x = k * 1e-4f;
    ASSERT_NEAR(tanhf_approx(x), tanhf_accurate(x), bound) << x;
  }
}

TEST(Asin, EdgeCases) {
  EXPECT_EQ(asinf_approx(1.0f), 1.5707964f);
  EXPECT_EQ(asinf_approx(-2.0f), -1.5707964f);
  EXPECT_EQ(asinf_approx(0.5f), table_asin[2048]);
  EXPECT_EQ(asinf_approx(0.5f), 0.523599f);
  EXPECT_EQ(asinf_approx(-0.5f), -asinf_approx(0.5f));
}

// Truncation on a step of 1/4096: the error at x is at most the rise of asin
// over the step below x, which grows towards |x| = 1.
TEST(Asin, AccuracySweepWithinOneTableStep) {
  for (int k = -12000; k <= 12000; ++k) {
    const float x = k * 1e-4f;
    const double ax = std::min(1.0, std::fabs(static_cast<double>(x)));
    const double bound = std::asin(ax) - std::asin(std::max(0.0, ax - 1.0 / 4096.0)) + 1e-6;
    const double expected = std::fabs(x) >= 1.0f ? std::copysign(kPi / 2, x) : asinf_accurate(x);
    ASSERT_NEAR(asinf_approx(x), expected, bound) << x;
  }
}

TEST(Atan2, EdgeCases) {
  EXPECT_EQ(atan2f_approx(0.0f, 0.0f), 0.0f);
  EXPECT_NEAR(atan2f_approx(1.0f, 0.0f), kPi / 2, 1e-6);
  EXPECT_NEAR(atan2f_approx(0.0f, -1.0f), kPi, 1e-6);
  EXPECT_NEAR(atan2f_approx(-0.5f, -1.0f), kPi + std::atan(0.5), 2e-3);
  EXPECT_NEAR(atan2f_approx(-1.0f, 0.0f), -kPi / 2, 1e-6);
}

// The four sectors and their borders: the diagonals belong to the sector the
// comparisons y >= x and y > -x pick.
TEST(Atan2, SectorsAndTheirBorders) {
  EXPECT_NEAR(atan2f_approx(1.0f, 1.0f), kPi / 4, 1e-6);         // upper
  EXPECT_NEAR(atan2f_approx(1.0f, -1.0f), 3 * kPi / 4, 1e-6);    // left, upper border
  EXPECT_NEAR(atan2f_approx(-1.0f, -1.0f), 5 * kPi / 4, 1e-6);   // left, lower border
  EXPECT_NEAR(atan2f_approx(-1.0f, 1.0f), -kPi / 4, 1e-6);       // lower
  EXPECT_NEAR(atan2f_approx(0.3f, 1.0f), std::atan(0.3), 2e-3);  // right
  EXPECT_NEAR(atan2f_approx(-0.3f, 1.0f), -std::atan(0.3), 2e-3);
  // The left sector runs continuously through pi instead of jumping to -pi.
  const float above = atan2f_approx(1e-4f, -1.0f);
  const float below = atan2f_approx(-1e-4f, -1.0f);
  EXPECT_GT(above, 3.0f);
  EXPECT_GT(below, above);
  EXPECT_LT(below - above, 1e-3f);
  // Range -3pi/4 .. 5pi/4 over a full circle.
  for (int k = 0; k < 3600; ++k) {
    const double a = k * 2.0 * kPi / 3600.0;
    const float r = atan2f_approx(static_cast<float>(std::sin(a)), static_cast<float>(std::cos(a)));
    ASSERT_GE(r, -3 * kPi / 4 - 1e-5) << a;
    ASSERT_LE(r, 5 * kPi / 4 + 1e-5) << a;
  }
}

// The polynomial's own error is about 1.5e-3 rad; compared modulo 2*pi.
TEST(Atan2, AccuracySweep) {
  for (int k = 0; k < 20000; ++k) {
    const double a = k * 2.0 * kPi / 20000.0;
    for (double radius : {1e-3, 1.0, 250.0}) {
      const float y = static_cast<float>(radius * std::sin(a));
      const float x = static_cast<float>(radius * std::cos(a));
      ASSERT_LT(std::fabs(angle_diff(atan2f_approx(y, x), atan2f_accurate(y, x))), 1.6e-3)
          << a << " r " << radius;
    }
  }
}

TEST(Rng, FirstDrawsFromTheStartValue) {
  rng_seed = kRngSeedStart;
  EXPECT_EQ(rng_unif(), 20433);
  EXPECT_EQ(rng_unif(), 22044);
  EXPECT_EQ(rng_unif(), 9937);
}

TEST(Rng, StepIsTheWrappingCongruence) {
  rng_seed = kRngSeedStart;
  int64_t expected = kRngSeedStart;
  for (int k = 0; k < 1000; ++k) {
    expected = (expected * 8253729 + 2396403) & 0xffffffffLL;
    const int u = rng_unif();
    ASSERT_EQ(static_cast<uint32_t>(rng_seed), static_cast<uint32_t>(expected));
    ASSERT_EQ(u, static_cast<int>(expected % 32767));
  }
}

TEST(Rng, RangesAndMoments) {
  rng_seed = kRngSeedStart;
  const int n = 40000;
  double sum = 0.0, sum_sq = 0.0;
  for (int k = 0; k < n; ++k) {
    const int u = rng_unif();
    ASSERT_GE(u, 0);
    ASSERT_LE(u, 32766);
    const float uf = rng_unif_f();
    ASSERT_GE(uf, 0.0f);
    ASSERT_LT(uf, 1.0f);
    const double g = rng_norm();
    sum += g;
    sum_sq += g * g;
  }
  const double mean = sum / n;
  const double sd = std::sqrt(sum_sq / n - mean * mean);
  EXPECT_LT(std::fabs(mean), 0.02 * 32767);
  EXPECT_NEAR(sd, 32767.0, 0.03 * 32767);
}

TEST(Rng, NormIsTheScaledSumOfFourUniforms) {
  for (int32_t start : {kRngSeedStart, 0, -1, 123456789}) {
    rng_seed = start;
    int32_t s = 0;
    for (int k = 0; k < 4; ++k) s += rng_unif();
    const int expected = static_cast<int>(std::floor((s - 65536) * 3546 / 2048.0));
    rng_seed = start;
    EXPECT_EQ(rng_norm(), expected);
    rng_seed = start;
    EXPECT_FLOAT_EQ(rng_norm_f(), expected * kRngScale);
  }
}

}  // namespace
