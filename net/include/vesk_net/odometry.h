// Wheel odometry of the robot interface, as the platform reports it.
#pragma once

#include "vesk_net/records.h"

namespace vesk {

// Planar wheel odometry in single precision, integrated once per tick (TICK_PERIOD) over the
// wheel track (INV_WHEEL_TRACK).
struct Odometry {
  float x = 0.0f;      // [m]
  float y = 0.0f;      // [m]
  float theta = 0.0f;  // heading [rad]
  float v = 0.0f;      // last forward speed [m/s]
  float omega = 0.0f;  // last turn rate [rad/s]

  // Integrates one tick of left and right wheel speeds [m/s]; both position
  // updates use the heading from before this tick's turn. v and omega always
  // take this tick's values, but a tick that would leave the pose not finite
  // (a NaN or infinite speed from a faulty sensor) is not integrated, so that
  // one bad reading cannot spoil the pose for good.
  void step(float left, float right);
};

}  // namespace vesk
