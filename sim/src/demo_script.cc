#include "vesk_sim/demo_script.h"

#include <algorithm>
#include <cmath>

namespace vesk_sim {
namespace {

// The fovea point in the head frame, and roughly where it sits ahead of the base [m].
const Vec3 kFovea(0.125, 0.0, 0.035);
const Vec3 kFoveaInBase(0.18, 0.0, 0.16);

}  // namespace

DemoScript::DemoScript(double duration, const std::vector<Vec3>& targets)
    : duration_(duration), targets_(targets) {}

DemoCommand DemoScript::step(double t, const BasePose& odom) {
  DemoCommand c;
  // Cosmetic joints: wag at 1.5 Hz, ears flick at 0.5 Hz, a blink every 3 s.
  c.cosmetic[0] = 0.3f;
  c.cosmetic[1] = static_cast<float>(0.5 + 0.5 * std::sin(2 * M_PI * 1.5 * t));
  const bool blink = std::fmod(t, 3.0) > 2.8 && t < duration_ - 1.0;  // eyes open for the last frames
  c.cosmetic[2] = c.cosmetic[3] = blink ? 1.0f : 0.0f;
  c.cosmetic[4] = c.cosmetic[5] = static_cast<float>(0.3333 + 0.3 * std::sin(2 * M_PI * 0.5 * t));

  if (t >= 1.0 && t < duration_ - 1.0) c.wake = (wake_counter_++ % 5) == 0;

  if (t < 1.0) {
    phase_ = DemoPhase::kSettle;
    return c;
  }
  if (phase_ == DemoPhase::kSettle) phase_ = targets_.empty() ? DemoPhase::kLookAround : DemoPhase::kPursuit;
  if (phase_ == DemoPhase::kLookAround && t >= look_until_ &&
      target_ + 1 < static_cast<int>(targets_.size())) {
    ++target_;
    phase_ = DemoPhase::kPursuit;
  }
  c.target = target_;
  if (phase_ == DemoPhase::kPursuit) {
    // The target in the robot's current base frame.
    const Vec3& goal = targets_[target_];
    const double dx = goal.x - odom.x, dy = goal.y - odom.y;
    const double dist = std::hypot(dx, dy);
    if (dist > kArrive) {
      const double cy = std::cos(odom.yaw), sy = std::sin(odom.yaw);
      const Vec3 rel(cy * dx + sy * dy, -sy * dx + cy * dy, 0.0);
      // Where the fovea sits with the base on the target, facing along the way there.
      const Vec3 fovea_goal = rel + rel.normalized() * kFoveaInBase.x;
      Vec3 d = fovea_goal - Vec3(kFoveaInBase.x, kFoveaInBase.y, 0.0);
      d.z = 0.0;
      c.push = true;
      c.link = kLinkHead;
      c.flags = kPushVelocity | kPushVecInFoot;
      c.pushpos = kFovea;
      c.pushvec = d.normalized() * std::max(kMinSpeed, kPushSpeed * std::min(1.0, dist / kSlowDown));
      return c;
    }
    look_until_ = t + kLookTime;
  }
  phase_ = DemoPhase::kLookAround;
  c.push = true;
  c.link = kLinkHead;
  c.flags = kPushVelocity | kPushVecInFoot | kPushNoBase;
  c.pushpos = kFovea;
  c.pushvec = Vec3(0.0, 0.1 * std::sin(2 * M_PI * 0.4 * t), 0.0);
  return c;
}

}  // namespace vesk_sim
