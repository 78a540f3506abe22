// Joint and wheel arithmetic of the simulated platform.
#include "vesk_gazebo/joint_control.h"

#include <algorithm>
#include <cmath>

namespace vesk_gazebo {

ControllerGains GainsForStep(double dt) {
  ControllerGains g;
  g.wheel = {0.0002 / dt, 0.00002 / dt};
  g.kinematic = {0.0005 / dt, 0.0001 / dt};
  return g;
}

PidParams PidFromGains(double P, double D) { return {10 * P, 0.0, 10 * P * D, 0.0, -0.0, 5 * P, -5 * P}; }

float CliffFactor(uint8_t cliff) {
  const int c = std::min(std::max(static_cast<int>(cliff) - 4, 0), 8);
  return static_cast<float>(c) * 0.125f;
}

void WheelSpeeds(uint32_t flags, float v, float w, uint8_t cliff_l, uint8_t cliff_r, float* vl, float* vr) {
  float l = 0.0f, r = 0.0f;
  if (!std::isfinite(v) || !std::isfinite(w)) {
    l = r = 0.0f;
  } else if (flags & PLATFORM_D_FLAG_WHEELS_STOP) {
    l = r = 0.0f;
  } else {
    if (flags & PLATFORM_D_FLAG_WHEELS_STRAIGHT) {
      l = v;
      r = v;
    } else {
      const float turn = HALF_TRACK * w;
      l = v - turn;
      r = v + turn;
    }
    r = std::min(std::max(r, -WHEEL_SPEED_MAX), WHEEL_SPEED_MAX);
    l = std::min(std::max(l, -WHEEL_SPEED_MAX), WHEEL_SPEED_MAX);
  }
  if (!(flags & PLATFORM_D_FLAG_NO_CLIFF_REFLEX)) {
    if (l > 0.0f) l *= CliffFactor(cliff_l);
    if (r > 0.0f) r *= CliffFactor(cliff_r);
  }
  *vl = l;
  *vr = r;
}

double LiftCorrection(double L) { return ((0.020538 * L + 0.00526) * L - 0.071954) * L + (L + 0.014827); }

void CosmeticTargets(const float c[COSMETIC_COUNT], double t[COSMETIC_COUNT]) {
  const double droop = std::min(std::max(static_cast<double>(c[0]), 0.0), 1.0);
  t[0] = droop * -0.3490658402442932;
  t[1] = static_cast<double>(2.0f * c[1] - 1.0f) * 0.3490658402442932;
  t[2] = static_cast<double>(-1.0471975803375244f * c[2] + 0.1745329201221466f);
  t[3] = static_cast<double>(1.0471975803375244f * c[3] - 0.1745329201221466f);
  t[4] = static_cast<double>(1.3962633609771729f * c[4] - 0.3839724361896515f);
  t[5] = static_cast<double>(1.3962633609771729f * c[5] - 0.5585053563117981f);
}

namespace {
constexpr double kPi = 3.141592653589793;
// Surface speed [m/s] of a wheel that turns half a revolution in one tick: pi times the
// wheel radius (the float, widened) over the tick period.
constexpr double kSpeedPerHalfTurn = kPi * (static_cast<double>(WHEEL_RADIUS) / TICK_PERIOD_D);
}  // namespace

float WheelSpeedFromAngles(double angle, double angle_prev) {
  const double x = (angle - angle_prev) * (1.0 / kPi);  // turns per half revolution
  if (!std::isfinite(x)) return 0.0f;
  double r = x - std::floor(x);
  if (r >= 0.5) r -= 1.0;
  return static_cast<float>(r * kSpeedPerHalfTurn);
}

double HeadingFromQuaternion(double w, double x, double y, double z) {
  const double n2 = w * w + x * x + y * y + z * z;
  if (!(n2 > 1e-12)) return 0.0;
  const double n = std::sqrt(n2);
  w /= n;
  x /= n;
  y /= n;
  z /= n;
  const double sp = -2.0 * (x * z - w * y);
  if (std::fabs(sp - 1.0) < 1e-15 || std::fabs(sp + 1.0) < 1e-15) return 0.0;
  return std::atan2(2.0 * (x * y + w * z), w * w + x * x - y * y - z * z);
}

int32_t NextTickStamp(int32_t stamp) {
  int64_t s = static_cast<int64_t>(stamp) + TICK_PERIOD_US;
  if (s >= PLATFORM_CLOCK_WRAP_US) s -= PLATFORM_CLOCK_WRAP_US;
  return static_cast<int32_t>(s);
}

}  // namespace vesk_gazebo
