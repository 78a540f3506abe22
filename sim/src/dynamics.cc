#include "vesk_sim/dynamics.h"

#include <algorithm>
#include <cmath>

namespace vesk_sim {

void joint_step(JointState& s, const JointParams& p, double tau, double dt) {
  tau = std::clamp(tau, -p.effort, p.effort);
  // J (v1 - v0) / dt = tau - b v1
  s.velocity = (p.inertia * s.velocity + dt * tau) / (p.inertia + dt * p.damping);
  s.position += s.velocity * dt;
  if (s.position > p.upper) {
    s.position = p.upper;
    if (s.velocity > 0.0) s.velocity = 0.0;
  } else if (s.position < p.lower) {
    s.position = p.lower;
    if (s.velocity < 0.0) s.velocity = 0.0;
  }
}

double ground_rate(double rate, double rate_before, double dt, double slip_time) {
  return rate - slip_time * (rate - rate_before) / dt;
}

BaseTwist diff_drive_twist(double left_rate, double right_rate, double radius, double track) {
  BaseTwist t;
  t.forward = 0.5 * radius * (left_rate + right_rate);
  t.turn = radius * (right_rate - left_rate) / track;
  return t;
}

void base_integrate(BasePose& pose, const BaseTwist& twist, double dt) {
  const double dtheta = twist.turn * dt;
  const double ds = twist.forward * dt;
  if (std::fabs(dtheta) < 1e-9) {
    // Straight (second-order term kept for tiny turns).
    const double mid = pose.yaw + 0.5 * dtheta;
    pose.x += ds * std::cos(mid);
    pose.y += ds * std::sin(mid);
  } else {
    const double radius = ds / dtheta;
    pose.x += radius * (std::sin(pose.yaw + dtheta) - std::sin(pose.yaw));
    pose.y -= radius * (std::cos(pose.yaw + dtheta) - std::cos(pose.yaw));
  }
  pose.yaw = std::remainder(pose.yaw + dtheta, 2.0 * M_PI);
}

}  // namespace vesk_sim
