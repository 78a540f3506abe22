// Joint and wheel arithmetic of the simulated platform: controller gains, wheel speeds with
// the cliff reflex, the lift correction, cosmetic joint mappings, wheel speed from angle
// changes and the heading of a quaternion. ROS-free and Gazebo-free.
#pragma once

#include <cstdint>

namespace vesk_gazebo {

constexpr float kTickPeriod = 0.02f;                        // [s], platform tick
constexpr double kTickPeriodD = kTickPeriod;                // 0.019999999552965164 s
constexpr int32_t kTickStampStep = 20000;                   // [us] per tick
constexpr int32_t kTickStampWrap = 1000000000;              // tick_stamp stays below this
constexpr float kWheelRadius = 0.045f;                      // [m]
constexpr float kHalfTrack = 0.082f;                        // [m]
constexpr float kWheelSpeedMax = 0.4f;                      // [m/s]
constexpr double kWheelAnglePerSpeed = 0.4444444179534912;  // [rad per m/s] per tick (float 4/9)
constexpr float kReportedTilt = -0.10471976f;               // [rad], -6 deg
constexpr float kBatteryVoltage = 4.8f;                     // [V]

// Platform flags of the downward record read by the simulated platform.
constexpr uint32_t kFlagNoCliffReflex = 0x200000;
constexpr uint32_t kFlagWheelsStop = 0x800000;
constexpr uint32_t kFlagWheelsStraight = 0x1000000;

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
// the cliff reflex applied from the two cliff codes unless kFlagNoCliffReflex is set. A
// non-finite speed or turn rate drives nothing (both speeds 0).
void WheelSpeeds(uint32_t flags, float v, float w, uint8_t cliff_l, uint8_t cliff_r, float* vl, float* vr);

// Cliff reflex factor for forward motion: min(max(c - 4, 0), 8) * 0.125.
float CliffFactor(uint8_t cliff);

// Lift joint target [rad] for a commanded lift angle L [rad].
double LiftCorrection(double L);

// Cosmetic joint targets [rad] from the six platform values (droop, wag, left ear, right ear,
// left eyelid, right eyelid), in the same order.
void CosmeticTargets(const float c[6], double targets[6]);

// Wheel surface speed [m/s] from the change of its joint angle over one tick; changes of more
// than a quarter turn alias. A non-finite change (a physics fault) gives 0.
float WheelSpeedFromAngles(double angle, double angle_prev);

// Yaw [rad] of the orientation quaternion (w, x, y, z); 0 for a degenerate quaternion or
// at pitch +-90 deg.
double HeadingFromQuaternion(double w, double x, double y, double z);

// Next tick stamp [us], wrapping below kTickStampWrap.
int32_t NextTickStamp(int32_t stamp);

}  // namespace vesk_gazebo
