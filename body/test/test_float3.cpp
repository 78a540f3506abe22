#include <cmath>
#include <limits>
#include <stdexcept>

#include "test_util.h"
#include "vesk_body/float3.h"

namespace {

constexpr float kTol = 1e-6f;

TEST(Float3, ArithmeticModulusNormalise) {
  float3 a = {1.0f, -2.0f, 3.0f};
  const float3 b = {0.5f, 0.25f, -1.0f};
  float3_scale(&a, 2.0f);
  float3_add_unary(&a, &b);
  EXPECT_FLOAT3_EQ(a, (float3{2.5f, -3.75f, 5.0f}));
  float3_subtract_unary(&a, &b);
  EXPECT_FLOAT3_EQ(a, (float3{2.0f, -4.0f, 6.0f}));

  const float3 v = {1.0f, 2.0f, 2.0f};
  EXPECT_FLOAT_EQ(float3_modulus(&v), 3.0f);
  float3 n = {3.0f, 0.0f, 4.0f};
  float3_normalise(&n);
  EXPECT_FLOAT3_NEAR(n, (float3{0.6f, 0.0f, 0.8f}), kTol);
  float3 zero = {0.0f, 0.0f, 0.0f};
  float3_normalise(&zero);
  EXPECT_FLOAT3_EQ(zero, (float3{1.0f, 0.0f, 0.0f}));
  float3 bad = {std::nanf(""), 2.0f, 3.0f};  // NaN length: only x is set
  float3_normalise(&bad);
  EXPECT_FLOAT3_EQ(bad, (float3{1.0f, 2.0f, 3.0f}));
}

TEST(Float3, RotationsAreRightHanded) {
  const float q = kPiF / 2.0f;
  const struct {
    axis_xyz axis;
    float3 from, to;
  } cases[] = {
      {AXIS_Z, {1, 0, 0}, {0, 1, 0}},  {AXIS_X, {0, 1, 0}, {0, 0, 1}},  {AXIS_Y, {0, 0, 1}, {1, 0, 0}},
      {AXIS_Z, {0, 1, 0}, {-1, 0, 0}}, {AXIS_X, {0, 0, 1}, {0, -1, 0}}, {AXIS_Y, {1, 0, 0}, {0, 0, -1}},
  };
  for (const auto& c : cases) {
    float3 v = c.from;
    float3_rotate(&v, c.axis, q);
    EXPECT_FLOAT3_NEAR(v, c.to, kTol) << "axis " << c.axis;
    float3_rotate(&v, c.axis, -q);
    EXPECT_FLOAT3_NEAR(v, c.from, kTol) << "axis " << c.axis;
  }
}

TEST(Float3, InvalidAxisFailsAndLeavesVector) {
  for (int axis : {0, 4}) {
    float3 v = {1.0f, 2.0f, 3.0f};
    std::string out;
    EXPECT_EQ(failure_of([&] { float3_rotate(&v, static_cast<axis_xyz>(axis), 0.5f); }, &out),
              "unrecognised axis");
    EXPECT_EQ(out, "[ERROR] unrecognised axis\n");
    EXPECT_FLOAT3_EQ(v, (float3{1.0f, 2.0f, 3.0f}));
  }
}

TEST(GeomSmallAngle, StepwiseWrapping) {
  EXPECT_EQ(geom_smallangle(0.5f), 0.5f);
  EXPECT_EQ(geom_smallangle(kPiF), -kPiF);
  EXPECT_EQ(geom_smallangle(-kPiF), -kPiF);
  EXPECT_EQ(geom_smallangle(4.0f), 4.0f - kTwoPiF);
  EXPECT_EQ(geom_smallangle(-4.0f), -4.0f + kTwoPiF);
  // In single precision 7 pi (the float nearest to it) ends just below +pi.
  EXPECT_NEAR(geom_smallangle(static_cast<float>(7.0 * M_PI)), 3.1415906f, 1e-7f);
  // 3 pi steps down to just below -pi and back up once: just below +pi.
  EXPECT_NEAR(geom_smallangle(kThreePiF), kPiF, 1e-6f);
  for (float a = -60.0f * kPiF; a < 60.0f * kPiF; a += 0.37f) {
    const float r = geom_smallangle(a);
    ASSERT_GE(r, -kPiF) << a;
    ASSERT_LT(r, kPiF) << a;
    ASSERT_NEAR(std::sin(r), std::sin(a), 1e-4f) << a;  // same direction
    ASSERT_NEAR(std::cos(r), std::cos(a), 1e-4f) << a;
  }
}

TEST(GeomSmallAngle, HugeAndNonFiniteInputsTerminate) {
  for (float a : {64.0f * kPiF + 0.5f, -64.0f * kPiF - 2.0f, 1.0e5f, -3.0e7f, 1.0e30f, -3.0e38f}) {
    const float r = geom_smallangle(a);
    EXPECT_GE(r, -kPiF) << a;
    EXPECT_LT(r, kPiF) << a;
    const double exact = std::remainder(static_cast<double>(a), 2.0 * M_PI);
    EXPECT_NEAR(std::cos(r), std::cos(exact), 1e-5) << a;
    EXPECT_NEAR(std::sin(r), std::sin(exact), 1e-5) << a;
  }
  const float inf = std::numeric_limits<float>::infinity();
  for (float a : {std::nanf(""), inf, -inf}) EXPECT_TRUE(std::isnan(geom_smallangle(a))) << a;
}

}  // namespace
