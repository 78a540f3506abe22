// Joint and base dynamics.
#include <gtest/gtest.h>

#include <cmath>

#include "vesk_sim/dynamics.h"

namespace vesk_sim {
namespace {

TEST(DiffDrive, TwistFromWheelRates) {
  const double r = 0.045, t = 0.164;
  BaseTwist a = diff_drive_twist(10, 10, r, t);
  EXPECT_NEAR(a.forward, 0.45, 1e-12);
  EXPECT_NEAR(a.turn, 0.0, 1e-12);
  BaseTwist b = diff_drive_twist(-2, 2, r, t);  // spin left on the spot
  EXPECT_NEAR(b.forward, 0.0, 1e-12);
  EXPECT_NEAR(b.turn, 2 * 2 * r / t, 1e-12);
}

TEST(DiffDrive, ArcIntegrationClosesAFullCircle) {
  BasePose p;
  const BaseTwist tw{0.2, 1.0};  // radius 0.2 m
  const int steps = 6283;
  const double dt = 2 * M_PI / steps;
  for (int i = 0; i < steps; ++i) base_integrate(p, tw, dt);
  EXPECT_NEAR(p.x, 0.0, 1e-9);
  EXPECT_NEAR(p.y, 0.0, 1e-9);
  // Half-way round the circle the base is 0.4 m to the left.
  BasePose h;
  for (int i = 0; i < steps / 2; ++i) base_integrate(h, tw, 2 * M_PI / steps);
  EXPECT_NEAR(h.y, 0.4, 1e-4);
  EXPECT_NEAR(std::fabs(h.yaw), M_PI, 1e-3);
}

TEST(DiffDrive, StraightLineFollowsHeading) {
  BasePose p;
  p.yaw = M_PI / 2;
  base_integrate(p, BaseTwist{0.3, 0.0}, 2.0);
  EXPECT_NEAR(p.x, 0.0, 1e-12);
  EXPECT_NEAR(p.y, 0.6, 1e-12);
}

TEST(TyreSlip, FloorLagsTheRimWhileTheWheelSpeedsUpAndCatchesUpAsItSlows) {
  // A wheel speeding up from rest to 4 rad/s over 0.1 s, rolling for 0.5 s, then stopping.
  const double dt = 0.001, slip = kTyreSlipTime;
  double rate = 0.0, rim = 0.0, floor = 0.0;
  auto step = [&](double next) {
    floor += ground_rate(next, rate, dt, slip) * dt;
    rate = next;
    rim += rate * dt;
  };
  for (int i = 1; i <= 100; ++i) step(0.04 * i);
  // behind by the slip time times the rate gained
  EXPECT_NEAR(rim - floor, slip * 4.0, 1e-12);
  for (int i = 0; i < 500; ++i) step(4.0);
  EXPECT_NEAR(rim - floor, slip * 4.0, 1e-12);  // no slip at steady speed
  for (int i = 99; i >= 0; --i) step(0.04 * i);
  EXPECT_NEAR(rim - floor, 0.0, 1e-12);
  // a wheel at steady speed rolls at its rate
  EXPECT_DOUBLE_EQ(ground_rate(3.0, 3.0, dt, slip), 3.0);
}

TEST(JointStep, TorqueAcceleratesDampingBrakesAndEffortLimits) {
  JointParams p;
  p.inertia = 0.01;
  p.effort = 0.5;
  JointState s;
  joint_step(s, p, 5.0, 0.01);  // clamped to 0.5
  EXPECT_NEAR(s.velocity, 0.5, 1e-12);
  EXPECT_NEAR(s.position, 0.005, 1e-12);
  p.damping = 1.0;
  JointState d{0.0, 1.0};
  for (int i = 0; i < 1000; ++i) joint_step(d, p, 0.0, 0.001);
  EXPECT_LT(d.velocity, 1e-3);  // decays with time constant J / b = 0.01 s
  EXPECT_GT(d.velocity, 0.0);
}

TEST(JointStep, StopsAtLimitsAndLeavesThemFreely) {
  JointParams p;
  p.inertia = 0.01;
  p.lower = -0.1;
  p.upper = 0.1;
  JointState s;
  for (int i = 0; i < 100; ++i) joint_step(s, p, 1.0, 0.01);
  EXPECT_EQ(s.position, 0.1);
  EXPECT_EQ(s.velocity, 0.0);
  joint_step(s, p, -1.0, 0.01);
  EXPECT_LT(s.position, 0.1);
}

TEST(JointStep, PdControlSettlesOnTarget) {
  // The plug-in's kinematic gains at a 1 ms step: P 5, D 0.5, limit 2.5.
  JointParams p;
  p.inertia = 2e-3;
  p.effort = 2.5;
  JointState s;
  double prev_err = 0.0;
  for (int i = 0; i < 3000; ++i) {
    const double err = s.position - 0.5;
    const double tau = -(5.0 * err + 0.5 * (err - prev_err) / 0.001);
    prev_err = err;
    joint_step(s, p, tau, 0.001);
  }
  EXPECT_NEAR(s.position, 0.5, 1e-3);
}

}  // namespace
}  // namespace vesk_sim
