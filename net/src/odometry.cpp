// Wheel odometry of the robot interface.
#include "vesk_net/odometry.h"

#include <cmath>

namespace vesk {

void Odometry::step(float left, float right) {
  v = (left + right) * 0.5f;
  omega = (right - left) * INV_WHEEL_TRACK;
  const float d = v * TICK_PERIOD;
  const float nx = x + std::cos(theta) * d;
  const float ny = y + std::sin(theta) * d;
  const float nt = theta + omega * TICK_PERIOD;
  if (!std::isfinite(nx) || !std::isfinite(ny) || !std::isfinite(nt)) return;
  x = nx;
  y = ny;
  theta = nt;
}

}  // namespace vesk
