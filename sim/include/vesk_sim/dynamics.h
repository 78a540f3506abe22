// Simple rigid dynamics of the simulated robot: one revolute joint driven by a torque,
// and the planar motion of a differential-drive base rolling without slip.
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

// Body twist from the two wheel rates [rad/s] of wheels of radius r and track t [m]
// (positive wheel rate rolls the robot forward).
BaseTwist diff_drive_twist(double left_rate, double right_rate, double radius, double track);

// Moves the base by the twist over dt [s], exactly along the arc it describes.
void base_integrate(BasePose& pose, const BaseTwist& twist, double dt);

}  // namespace vesk_sim
