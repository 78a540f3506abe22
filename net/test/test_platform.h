// A small ROS-free stand-in for a robot platform: produces upward tick
// records the way a platform would, with a platform clock that advances by
// one tick (20000 us) per record and wraps at 1000 s.
#pragma once

#include <cstring>

#include "vesk_net/records.h"

namespace vesk_test {

constexpr int32_t kTickUs = 20000;

class TestPlatform {
 public:
  TestPlatform() { std::memset(&u_, 0, sizeof(u_)); }

  // The record of the next tick; the clock advances after each call.
  VESK_TICK_U& next() {
    u_.tick_stamp = stamp_;
    stamp_ += kTickUs;
    if (stamp_ >= 1000000000) stamp_ -= 1000000000;
    return u_;
  }

  void set_clock(int32_t stamp_us) { stamp_ = stamp_us; }
  void set_wheels(float left, float right) {
    u_.wheel_speed_opto[0] = left;
    u_.wheel_speed_opto[1] = right;
  }
  void set_joints(float tilt, float lift, float yaw, float pitch) {
    u_.joint_pos[0] = tilt;
    u_.joint_pos[1] = lift;
    u_.joint_pos[2] = yaw;
    u_.joint_pos[3] = pitch;
  }
  void set_body_pose(float x, float y, float theta) {
    u_.body_pose[0] = x;
    u_.body_pose[1] = y;
    u_.body_pose[2] = theta;
  }

  // Fills every published field with distinct values derived from `k`.
  void fill_distinct(int k) {
    u_.flags = 0x100u + k;
    u_.stream[0] = static_cast<uint16_t>(10 + k);
    u_.stream[1] = static_cast<uint16_t>(20 + k);
    for (int i = 0; i < 2; ++i) {
      u_.wheel_speed_cmd[i] = 0.01f * (i + 1) + k;
      u_.wheel_speed_back_emf[i] = 0.02f * (i + 1) + k;
      u_.wheel_effort_pwm[i] = 0.03f * (i + 1) + k;
      u_.cliff[i] = static_cast<uint8_t>((3 + i + k) % 16);
    }
    for (int i = 0; i < 4; ++i) {
      u_.joint_effort[i] = 0.1f * (i + 1) + k;
      u_.light[i] = 0.2f * (i + 1);
    }
    u_.battery_voltage = 4.8f + 0.01f * k;
    u_.touch_body = static_cast<uint16_t>(0x11 + k);
    u_.touch_head = static_cast<uint16_t>(0x22 + k);
    for (int i = 0; i < 3; ++i) {
      u_.imu_body.acc[i] = static_cast<int16_t>(100 * (i + 1) + k);
      u_.imu_head.acc[i] = static_cast<int16_t>(-200 * (i + 1) - k);
    }
    u_.sonar = 0.5f + 0.01f * k;
    u_.dip = static_cast<uint16_t>(0x0f0 + k);
  }

  VESK_TICK_U& record() { return u_; }

 private:
  VESK_TICK_U u_;
  int32_t stamp_ = 0;
};

}  // namespace vesk_test
