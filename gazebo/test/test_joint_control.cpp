// Tests of the joint and wheel arithmetic.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "vesk_gazebo/joint_control.h"

using namespace vesk_gazebo;

namespace {

constexpr double kDeg = M_PI / 180.0;

TEST(Gains, StepOfOneMillisecond) {
  const ControllerGains g = GainsForStep(0.001);
  const PidParams w = PidFromGains(g.wheel.P, g.wheel.D);
  EXPECT_NEAR(2.0, w.p, 1e-12);
  EXPECT_NEAR(0.04, w.d, 1e-12);
  EXPECT_NEAR(1.0, w.cmdMax, 1e-12);
  EXPECT_NEAR(-1.0, w.cmdMin, 1e-12);
  EXPECT_EQ(0.0, w.i);
  EXPECT_EQ(0.0, w.imax);
  EXPECT_TRUE(std::signbit(w.imin));
  const PidParams k = PidFromGains(g.kinematic.P, g.kinematic.D);
  EXPECT_NEAR(5.0, k.p, 1e-12);
  EXPECT_NEAR(0.5, k.d, 1e-12);
  EXPECT_NEAR(2.5, k.cmdMax, 1e-12);
}

TEST(WheelSpeeds, ForwardSpeedIsClampedOnBothWheels) {
  float l, r;
  WheelSpeeds(0, 1.0f, 0.0f, 15, 15, &l, &r);
  EXPECT_EQ(WHEEL_SPEED_MAX, l);
  EXPECT_EQ(WHEEL_SPEED_MAX, r);
  EXPECT_NEAR(0.1778, l * kWheelAnglePerSpeed, 1e-4);
  WheelSpeeds(0, -1.0f, 0.0f, 15, 15, &l, &r);
  EXPECT_EQ(-WHEEL_SPEED_MAX, l);
  EXPECT_EQ(-WHEEL_SPEED_MAX, r);
}

TEST(WheelSpeeds, TurnOnTheSpot) {
  float l, r;
  WheelSpeeds(0, 0.0f, 1.0f, 0, 0, &l, &r);
  EXPECT_FLOAT_EQ(-0.082f, l);  // reversing is not touched by the cliff reflex
  EXPECT_EQ(0.0f, r);           // cliff 0 stops forward motion
  WheelSpeeds(0, 0.0f, 1.0f, 12, 12, &l, &r);
  EXPECT_FLOAT_EQ(-0.082f, l);
  EXPECT_FLOAT_EQ(0.082f, r);
}

TEST(WheelSpeeds, CliffReflex) {
  float l, r;
  WheelSpeeds(0, 0.2f, 0.0f, 8, 8, &l, &r);
  EXPECT_FLOAT_EQ(0.1f, l);
  EXPECT_FLOAT_EQ(0.1f, r);
  WheelSpeeds(0, 0.2f, 0.0f, 4, 3, &l, &r);
  EXPECT_EQ(0.0f, l);
  EXPECT_EQ(0.0f, r);
  WheelSpeeds(PLATFORM_D_FLAG_NO_CLIFF_REFLEX, 0.2f, 0.0f, 4, 0, &l, &r);
  EXPECT_FLOAT_EQ(0.2f, l);
  EXPECT_FLOAT_EQ(0.2f, r);
  WheelSpeeds(0, 0.2f, 0.0f, 12, 15, &l, &r);
  EXPECT_FLOAT_EQ(0.2f, l);
  EXPECT_FLOAT_EQ(0.2f, r);
  EXPECT_EQ(0.0f, CliffFactor(4));
  EXPECT_EQ(0.5f, CliffFactor(8));
  EXPECT_EQ(1.0f, CliffFactor(12));
  EXPECT_EQ(1.0f, CliffFactor(255));
}

TEST(WheelSpeeds, Flags) {
  float l, r;
  WheelSpeeds(PLATFORM_D_FLAG_WHEELS_STOP | PLATFORM_D_FLAG_WHEELS_STRAIGHT, 0.3f, 2.0f, 15, 15, &l, &r);
  EXPECT_EQ(0.0f, l);
  EXPECT_EQ(0.0f, r);
  WheelSpeeds(PLATFORM_D_FLAG_WHEELS_STRAIGHT, 0.3f, 2.0f, 15, 15, &l, &r);
  EXPECT_FLOAT_EQ(0.3f, l);
  EXPECT_FLOAT_EQ(0.3f, r);
  WheelSpeeds(PLATFORM_D_FLAG_WHEELS_STRAIGHT, 0.9f, 2.0f, 15, 15, &l, &r);
  EXPECT_EQ(WHEEL_SPEED_MAX, l);
  EXPECT_EQ(WHEEL_SPEED_MAX, r);
}

TEST(WheelSpeeds, NonFiniteCommandDrivesNothing) {
  float l, r;
  WheelSpeeds(0, std::numeric_limits<float>::quiet_NaN(), 0.0f, 15, 15, &l, &r);
  EXPECT_EQ(0.0f, l);
  EXPECT_EQ(0.0f, r);
  WheelSpeeds(0, 0.1f, std::numeric_limits<float>::infinity(), 15, 15, &l, &r);
  EXPECT_EQ(0.0f, l);
  EXPECT_EQ(0.0f, r);
}

TEST(LiftCorrection, KnownPoints) {
  EXPECT_DOUBLE_EQ(0.014827, LiftCorrection(0.0));
  EXPECT_NEAR(0.5717, LiftCorrection(0.593411922454834), 1e-4);
  const double L = 0.3;
  EXPECT_NEAR(0.020538 * L * L * L + 0.00526 * L * L - 0.071954 * L + L + 0.014827, LiftCorrection(L), 1e-15);
}

TEST(CosmeticTargets, Mappings) {
  double t[6];
  const float rest[6] = {0.0f, 0.5f, 0.3333f, 0.3333f, 0.0f, 0.0f};
  CosmeticTargets(rest, t);
  EXPECT_EQ(0.0, std::fabs(t[0]));
  EXPECT_NEAR(0.0, t[1], 1e-9);
  EXPECT_NEAR(-10 * kDeg, t[2], 1e-4);
  EXPECT_NEAR(10 * kDeg, t[3], 1e-4);
  EXPECT_NEAR(-22 * kDeg, t[4], 1e-7);
  EXPECT_NEAR(-32 * kDeg, t[5], 1e-7);
  const float low[6] = {-1.0f, -1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
  CosmeticTargets(low, t);
  EXPECT_EQ(0.0, std::fabs(t[0]));  // droop clamped
  EXPECT_NEAR(-1.047, t[1], 1e-3);  // wag not clamped
  EXPECT_NEAR(-50 * kDeg, t[2], 1e-6);
  EXPECT_NEAR(50 * kDeg, t[3], 1e-6);
  EXPECT_NEAR(58 * kDeg, t[4], 1e-6);
  EXPECT_NEAR(48 * kDeg, t[5], 1e-6);
  const float full[6] = {2.0f, 1.0f, 0, 0, 0, 0};
  CosmeticTargets(full, t);
  EXPECT_NEAR(-20 * kDeg, t[0], 1e-7);
  EXPECT_NEAR(20 * kDeg, t[1], 1e-7);
}

TEST(WheelSpeedFromAngles, SmallChangesAndAliasing) {
  EXPECT_NEAR(0.045, WheelSpeedFromAngles(1.02, 1.0), 1e-6);
  EXPECT_NEAR(-0.045, WheelSpeedFromAngles(-0.02, 0.0), 1e-6);
  EXPECT_LT(WheelSpeedFromAngles(M_PI / 2 + 0.01, 0.0), 0.0f);
  EXPECT_NEAR(0.045, WheelSpeedFromAngles(100.0 * M_PI + 0.02, 100.0 * M_PI), 1e-6);
  EXPECT_EQ(0.0f, WheelSpeedFromAngles(5.0, 5.0));
}

TEST(WheelSpeedFromAngles, NonFiniteAnglesGiveZero) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(0.0f, WheelSpeedFromAngles(nan, 1.0));
  EXPECT_EQ(0.0f, WheelSpeedFromAngles(1.0, nan));
  EXPECT_EQ(0.0f, WheelSpeedFromAngles(inf, 1.0));
  EXPECT_EQ(0.0f, WheelSpeedFromAngles(inf, inf));
}

TEST(Heading, YawOfQuaternions) {
  const double yaw = 0.7;
  EXPECT_NEAR(yaw, HeadingFromQuaternion(std::cos(yaw / 2), 0, 0, std::sin(yaw / 2)), 1e-12);
  EXPECT_NEAR(yaw, HeadingFromQuaternion(3 * std::cos(yaw / 2), 0, 0, 3 * std::sin(yaw / 2)),
              1e-12);  // normalised first
  EXPECT_EQ(0.0, HeadingFromQuaternion(0, 0, 0, 0));
  EXPECT_EQ(0.0, HeadingFromQuaternion(1e-7, 0, 0, 0));
  // Pitch +90 deg: no defined heading.
  EXPECT_EQ(0.0, HeadingFromQuaternion(std::sqrt(0.5), 0, std::sqrt(0.5), 0));
  EXPECT_NEAR(M_PI, std::fabs(HeadingFromQuaternion(0, 0, 0, 1)), 1e-12);
}

TEST(TickStamp, StepsAndWraps) {
  EXPECT_EQ(20000, NextTickStamp(0));
  int32_t s = 0;
  for (int i = 0; i < 50000; ++i) s = NextTickStamp(s);
  EXPECT_EQ(0, s);
  EXPECT_EQ(10000, NextTickStamp(999990000));
  EXPECT_FLOAT_EQ(0.02f, static_cast<float>(TICK_PERIOD_WIDENED));
  EXPECT_EQ(0.019999999552965164, TICK_PERIOD_WIDENED);
}

}  // namespace
