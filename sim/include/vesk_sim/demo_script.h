// The scripted demo's behaviour, free of ROS: what to send the robot at each tick.
//
// Timeline over `duration` simulated seconds:
//   0 s ... 1 s            settle: no pushes;
//   1 s ... duration - 1 s wake requests to the voice (about 10 per second);
//   1 s ... arrival        pursuit of the first target: a velocity push on the head's fovea
//                          point, given in the base frame, that leads the fovea to where it
//                          sits when the base stands on the target facing along the way
//                          there: the head turns toward the target and the body drives after
//                          it, slowing down over the last few centimetres;
//   arrival ... + 2 s      look around: sideways head pushes with no base motion;
//   then                   pursuit of the next target, and so on; after the last target
//                          the robot looks around until the end.
// Cosmetic joints move all the time: the tail wags, the ears flick and the eyes blink.
#pragma once

#include <cstdint>
#include <vector>

#include "vesk_sim/dynamics.h"
#include "vesk_sim/math3.h"

namespace vesk_sim {

// Push flags of the body node's push message.
constexpr uint32_t kPushDisplacement = 0x01;
constexpr uint32_t kPushVelocity = 0x02;
constexpr uint32_t kPushNoBase = 0x08;
constexpr uint32_t kPushVecInFoot = 0x40;
constexpr int kLinkHead = 4;

struct DemoCommand {
  bool push = false;
  int link = kLinkHead;
  uint32_t flags = 0;
  Vec3 pushpos, pushvec;  // [m] in the head frame; [m/s] in the base frame
  // In the order of the "control/cosmetic_joints" message: tail droop, tail wag, left
  // eyelid, right eyelid, left ear, right ear (0 ... 1; eyelids 0 open, 1 closed).
  float cosmetic[6] = {};
  bool wake = false;  // send a wake request to the voice this tick
  int target = 0;     // index of the target pursued or last reached
};

enum class DemoPhase { kSettle, kPursuit, kLookAround };

class DemoScript {
 public:
  // `targets` are the points to reach in turn, in the base frame the robot started in [m].
  DemoScript(double duration, const std::vector<Vec3>& targets);

  // The command for the tick at simulated time t [s] since the demo began, with the
  // robot's own estimate of its pose (odometry, start frame).
  DemoCommand step(double t, const BasePose& odom);

  DemoPhase phase() const { return phase_; }
  int target() const { return target_; }

  static constexpr double kArrive = 0.02;    // [m] pursuit ends with the base this close (odometry)
  static constexpr double kSlowDown = 0.25;  // [m] the push slows down within this distance
  static constexpr double kMinSpeed = 0.04;  // [m/s] slowest push of the final approach
  static constexpr double kPushSpeed = 0.2;  // [m/s] speed of the pursuit push
  // The report counts a target as reached when the base's ground-truth path came this close.
  static constexpr double kReachRadius = 0.15;  // [m]
  static constexpr double kLookTime = 2.0;      // [s] looking around between two targets

 private:
  double duration_;
  std::vector<Vec3> targets_;
  int target_ = 0;
  double look_until_ = 0.0;  // [s] end of the current look-around
  DemoPhase phase_ = DemoPhase::kSettle;
  int wake_counter_ = 0;
};

}  // namespace vesk_sim
