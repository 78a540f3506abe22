#include <cmath>
#include <limits>
#include <stdexcept>

#include "test_util.h"
#include "vesk_body/float3.h"

namespace {

constexpr float kTol = 1e-6f;

TEST(Float3Arithmetic, ScaleAddSubtract) {
  float3 a = {1.0f, -2.0f, 3.0f};
  const float3 b = {0.5f, 0.25f, -1.0f};
  float3_scale(&a, 2.0f);
  EXPECT_FLOAT3_EQ(a, (float3{2.0f, -4.0f, 6.0f}));
  float3_add_unary(&a, &b);
  EXPECT_FLOAT3_EQ(a, (float3{2.5f, -3.75f, 5.0f}));
  float3_subtract_unary(&a, &b);
  EXPECT_FLOAT3_EQ(a, (float3{2.0f, -4.0f, 6.0f}));
}

TEST(Float3Arithmetic, ModulusAndNormalise) {
  const float3 v = {1.0f, 2.0f, 2.0f};
  EXPECT_FLOAT_EQ(float3_modulus(&v), 3.0f);
  const float3 w = {0.0f, -3.0f, 4.0f};
  EXPECT_FLOAT_EQ(float3_modulus(&w), 5.0f);

  float3 n = {3.0f, 0.0f, 4.0f};
  float3_normalise(&n);
  EXPECT_FLOAT3_NEAR(n, (float3{0.6f, 0.0f, 0.8f}), kTol);

  float3 zero = {0.0f, 0.0f, 0.0f};
  float3_normalise(&zero);
  EXPECT_FLOAT3_EQ(zero, (float3{1.0f, 0.0f, 0.0f}));

  // A NaN length only sets x; y and z are left as they are.
  float3 bad = {std::nanf(""), 2.0f, 3.0f};
  float3_normalise(&bad);
  EXPECT_EQ(bad.x, 1.0f);
  EXPECT_EQ(bad.y, 2.0f);
  EXPECT_EQ(bad.z, 3.0f);
}

TEST(Float3Rotate, QuarterTurnsAreRightHanded) {
  const float q = kPiF / 2.0f;
  float3 v = {1.0f, 0.0f, 0.0f};
  float3_rotate(&v, AXIS_Z, q);
  EXPECT_FLOAT3_NEAR(v, (float3{0.0f, 1.0f, 0.0f}), kTol);
  v = {0.0f, 1.0f, 0.0f};
  float3_rotate(&v, AXIS_X, q);
  EXPECT_FLOAT3_NEAR(v, (float3{0.0f, 0.0f, 1.0f}), kTol);
  v = {0.0f, 0.0f, 1.0f};
  float3_rotate(&v, AXIS_Y, q);
  EXPECT_FLOAT3_NEAR(v, (float3{1.0f, 0.0f, 0.0f}), kTol);

  // The second basis vector of each plane goes on round to minus the first.
  v = {0.0f, 1.0f, 0.0f};
  float3_rotate(&v, AXIS_Z, q);
  EXPECT_FLOAT3_NEAR(v, (float3{-1.0f, 0.0f, 0.0f}), kTol);
  v = {0.0f, 0.0f, 1.0f};
  float3_rotate(&v, AXIS_X, q);
  EXPECT_FLOAT3_NEAR(v, (float3{0.0f, -1.0f, 0.0f}), kTol);
  v = {1.0f, 0.0f, 0.0f};
  float3_rotate(&v, AXIS_Y, q);
  EXPECT_FLOAT3_NEAR(v, (float3{0.0f, 0.0f, -1.0f}), kTol);
}

TEST(Float3Rotate, AxisComponentKeptAndLengthPreserved) {
  for (axis_xyz axis : {AXIS_X, AXIS_Y, AXIS_Z}) {
    float3 v = {0.3f, -0.7f, 1.1f};
    const float before = float3_modulus(&v);
    float3_rotate(&v, axis, 0.8f);
    EXPECT_NEAR(float3_modulus(&v), before, kTol);
    const float kept = axis == AXIS_X ? v.x : axis == AXIS_Y ? v.y : v.z;
    const float expect = axis == AXIS_X ? 0.3f : axis == AXIS_Y ? -0.7f : 1.1f;
    EXPECT_EQ(kept, expect);
    float3_rotate(&v, axis, -0.8f);
    EXPECT_FLOAT3_NEAR(v, (float3{0.3f, -0.7f, 1.1f}), kTol);
  }
}

TEST(Float3Rotate, InvalidAxisFailsAndLeavesVector) {
  for (int axis : {0, 4, -1}) {
    float3 v = {1.0f, 2.0f, 3.0f};
    std::string what;
    const std::string out = capture_stdout([&] {
      try {
        float3_rotate(&v, static_cast<axis_xyz>(axis), 0.5f);
      } catch (const std::runtime_error& e) {
        what = e.what();
      }
    });
    EXPECT_EQ(what, "unrecognised axis");
    EXPECT_EQ(out, "[ERROR] unrecognised axis\n");
    EXPECT_FLOAT3_EQ(v, (float3{1.0f, 2.0f, 3.0f}));
  }
}

TEST(GeomSmallAngle, NormalInputs) {
  EXPECT_EQ(geom_smallangle(0.5f), 0.5f);
  EXPECT_EQ(geom_smallangle(kPiF), -kPiF);
  EXPECT_EQ(geom_smallangle(-kPiF), -kPiF);
  EXPECT_EQ(geom_smallangle(4.0f), 4.0f - kTwoPiF);
  EXPECT_EQ(geom_smallangle(-4.0f), -4.0f + kTwoPiF);
  EXPECT_EQ(geom_smallangle(0.0f), 0.0f);
  // Just inside the interval stays.
  EXPECT_EQ(geom_smallangle(3.14159f), 3.14159f);
  EXPECT_EQ(geom_smallangle(-3.14159f), -3.14159f);
  // 3 pi takes two steps down to just below -pi, and one back up: in single
  // precision the rule ends just below +pi.
  const float three = geom_smallangle(kThreePiF);
  EXPECT_NEAR(three, kPiF, 1e-6f);
  EXPECT_LT(three, kPiF);
}

TEST(GeomSmallAngle, SevenPiFollowsTheStepwiseRule) {
  // In single precision the stepwise rule leaves 7 pi (the float nearest to
  // it) just below +pi, not at -pi.
  const float r = geom_smallangle(static_cast<float>(7.0 * M_PI));
  EXPECT_NEAR(r, 3.1415906f, 1e-7f);
  EXPECT_LT(r, kPiF);
  EXPECT_GE(r, -kPiF);
  // Seven times the float pi is one step further up and ends nearer +pi.
  const float r7 = geom_smallangle(7.0f * kPiF);
  EXPECT_NEAR(r7, kPiF, 1e-6f);
  EXPECT_LT(r7, kPiF);
  const float s = geom_smallangle(-7.0f * kPiF);
  EXPECT_GE(s, -kPiF);
  EXPECT_LT(s, kPiF);
  EXPECT_NEAR(std::fabs(s), kPiF, 1e-5f);
}

TEST(GeomSmallAngle, AlwaysInRangeOverManyTurns) {
  for (float a = -60.0f * kPiF; a < 60.0f * kPiF; a += 0.37f) {
    const float r = geom_smallangle(a);
    ASSERT_GE(r, -kPiF) << a;
    ASSERT_LT(r, kPiF) << a;
    // Same direction as the input.
    ASSERT_NEAR(std::sin(r), std::sin(a), 1e-4f) << a;
    ASSERT_NEAR(std::cos(r), std::cos(a), 1e-4f) << a;
  }
}

TEST(GeomSmallAngle, HugeAndNonFiniteInputsTerminate) {
  // Beyond the stepwise range: reduced, in range, same direction.
  for (float a : {64.0f * kPiF + 0.5f, -64.0f * kPiF - 2.0f, 1.0e5f, -3.0e7f, 1.0e30f, -3.0e38f}) {
    const float r = geom_smallangle(a);
    EXPECT_TRUE(std::isfinite(r)) << a;
    EXPECT_GE(r, -kPiF) << a;
    EXPECT_LT(r, kPiF) << a;
    const double exact = std::remainder(static_cast<double>(a), 2.0 * M_PI);
    EXPECT_NEAR(std::cos(r), std::cos(exact), 1e-5) << a;
    EXPECT_NEAR(std::sin(r), std::sin(exact), 1e-5) << a;
  }
  EXPECT_NEAR(geom_smallangle(64.0f * kPiF + 0.5f), 0.5f, 1e-4f);
  EXPECT_TRUE(std::isnan(geom_smallangle(std::nanf(""))));
  EXPECT_TRUE(std::isnan(geom_smallangle(std::numeric_limits<float>::infinity())));
  EXPECT_TRUE(std::isnan(geom_smallangle(-std::numeric_limits<float>::infinity())));
}

}  // namespace
