// Joint and wheel arithmetic of the simulated platform: controller gains, wheel speeds with
// the cliff reflex, the lift correction, cosmetic joint mappings, wheel speed from angle
// changes and the heading of a quaternion. ROS-free and Gazebo-free.
#pragma once

#include <cstdint>

#include "vesk_net/records.h"

namespace vesk_gazebo {

// The tick, the wheels and the downward flags are the platform's (vesk_net/records.h); what
// follows is derived from them or belongs to the simulated platform alone.

// Angle a wheel turns in one tick per m/s of surface speed [rad]: the float quotient
// TICK_PERIOD / WHEEL_RADIUS (4/9 for 0.02 s and 0.045 m), widened.
constexpr double kWheelAnglePerSpeed = double(TICK_PERIOD / WHEEL_RADIUS);
constexpr float kBatteryVoltage = 4.8f;  // [V]

// Position-PID settings of one joint group: proportional P and the derivative factor D.
struct GainPair {
  double P;
  double D;
};
struct ControllerGains {
  GainPair wheel;  // also the cosmetic joints
  GainPair kinematic;
};
// Gains for a physics step dt [s] > 0.
ControllerGains GainsForStep(double dt);

// The PID parameters that SetPID builds from (P, D), in common::PID constructor order.
struct PidParams {
  double p, i, d, imax, imin, cmdMax, cmdMin;
};
PidParams PidFromGains(double P, double D);

// Wheel speeds [m/s] for a forward speed v [m/s] and turn rate w [rad/s] under `flags`, with
// the cliff reflex applied from the two cliff codes unless PLATFORM_D_FLAG_NO_CLIFF_REFLEX is set. A
// non-finite speed or turn rate drives nothing (both speeds 0).
void WheelSpeeds(uint32_t flags, float v, float w, uint8_t cliff_l, uint8_t cliff_r, float* vl, float* vr);

// Cliff reflex factor for forward motion: min(max(c - 4, 0), 8) * 0.125.
float CliffFactor(uint8_t cliff);

// Lift joint target [rad] for a commanded lift angle L [rad].
double LiftCorrection(double L);

// Cosmetic joint targets [rad] from the six platform values (droop, wag, left ear, right ear,
// left eyelid, right eyelid), in the same order.
void CosmeticTargets(const float c[COSMETIC_COUNT], double targets[COSMETIC_COUNT]);

// Wheel surface speed [m/s] from the change of its joint angle over one tick; changes of more
// than a quarter turn alias. A non-finite change (a physics fault) gives 0.
float WheelSpeedFromAngles(double angle, double angle_prev);

// Yaw [rad] of the orientation quaternion (w, x, y, z); 0 for a degenerate quaternion or
// at pitch +-90 deg.
double HeadingFromQuaternion(double w, double x, double y, double z);

// Next tick stamp [us]: one tick (TICK_PERIOD_US) on, wrapping below PLATFORM_CLOCK_WRAP_US.
int32_t NextTickStamp(int32_t stamp);

}  // namespace vesk_gazebo
