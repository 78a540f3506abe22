// Simple rigid dynamics of the simulated robot: one revolute joint driven by a torque,
// and the planar motion of a differential-drive base whose tyres slip as they push.
#pragma once

namespace vesk_sim {

// One revolute degree of freedom: J q'' = tau - b q', with hard stops at the limits.
struct JointState {
  double position = 0.0;  // [rad]
  double velocity = 0.0;  // [rad/s]
};

struct JointParams {
  double inertia = 1e-4;  // about the axis [kg m^2], > 0
  double damping = 0.0;   // viscous [N m s/rad]
  double effort = 1e9;    // largest torque the actuator delivers [N m]
  double lower = -1e16;   // [rad]
  double upper = 1e16;    // [rad]
};

// Advances the joint by dt [s] under the torque tau [N m] (clamped to the effort limit),
// semi-implicit Euler with the damping treated implicitly so that stiff damping stays
// stable. At a limit the joint stops and loses the velocity that pushes it outward.
void joint_step(JointState& s, const JointParams& p, double tau, double dt);

// Planar pose of the base frame on the floor.
struct BasePose {
  double x = 0.0, y = 0.0;  // [m]
  double yaw = 0.0;         // [rad], counter-clockwise seen from above
};

struct BaseTwist {
  double forward = 0.0;  // [m/s] along the base x axis
  double turn = 0.0;     // [rad/s]
};

// Tyre slip. A wheel that speeds up pushes its share of the robot (half its mass m) with the
// force F = (m / 2) a, a the rim's acceleration, and its tyre gives: the rim runs ahead of
// the floor by the slip speed F / c, with c the tyre's longitudinal slip damping [N s/m].
// That is a slip speed of kTyreSlipTime times the rim's acceleration, the same for braking
// with the sign turned: while a wheel speeds up the robot falls behind its wheel odometry by
// kTyreSlipTime times the speed gained, and it catches up again as the wheel slows down. At
// steady speed, on a straight line or an arc, the tyres roll without slip. The slip time is
// what gzserver's tyre contact shows on the demo (2.6 ms of path per m/s of speed change,
// 3.7 ms of heading per rad/s of turn-rate change).
constexpr double kTyreSlipTime = 0.003;  // [s]

// The rate [rad/s] at which a wheel rolls over the floor in a step of dt [s] during which its
// rate went from `rate_before` to `rate`, with slip time `slip_time` [s] (see above).
double ground_rate(double rate, double rate_before, double dt, double slip_time);

// Body twist from the two wheel rates [rad/s] of wheels of radius r and track t [m]
// (positive wheel rate rolls the robot forward).
BaseTwist diff_drive_twist(double left_rate, double right_rate, double radius, double track);

// Moves the base by the twist over dt [s], exactly along the arc it describes.
void base_integrate(BasePose& pose, const BaseTwist& twist, double dt);

}  // namespace vesk_sim
