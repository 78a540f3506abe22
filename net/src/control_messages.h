// What the interface does with each control topic's message: the control
// callbacks hand the message to apply_control, which writes the control
// buffer. Kept apart from the callbacks so that a message can be applied
// without a ROS master (the fuzz targets do). Private to the library.
#pragma once

#include <geometry_msgs/TwistStamped.h>
#include <sensor_msgs/JointState.h>
#include <std_msgs/Float32MultiArray.h>
#include <std_msgs/Int16MultiArray.h>
#include <std_msgs/String.h>
#include <std_msgs/UInt16MultiArray.h>
#include <std_msgs/UInt32.h>
#include <std_msgs/UInt32MultiArray.h>

#include "vesk_net/core.h"

namespace vesk {

// "control/cmd_vel"
inline void apply_control(Inbuf& in, const geometry_msgs::TwistStamped& msg) {
  in.cmd_vel(msg.twist.linear.x, msg.twist.angular.z);
}
// "control/kinematic_joints"
inline void apply_control(Inbuf& in, const sensor_msgs::JointState& msg) {
  in.kinematic_joints(msg.position.data(), msg.position.size());
}
// "control/cosmetic_joints"
inline void apply_control(Inbuf& in, const std_msgs::Float32MultiArray& msg) {
  in.cosmetic_joints(msg.data.data(), msg.data.size());
}
// "control/illum"
inline void apply_control(Inbuf& in, const std_msgs::UInt32MultiArray& msg) {
  in.illum(msg.data.data(), msg.data.size());
}
// "control/tone"
inline void apply_control(Inbuf& in, const std_msgs::UInt16MultiArray& msg) {
  in.tone(msg.data.data(), msg.data.size());
}
// "control/stream"
inline void apply_control(Inbuf& in, const std_msgs::Int16MultiArray& msg) {
  in.stream(msg.data.data(), msg.data.size());
}
// "control/flags"
inline void apply_control(Inbuf& in, const std_msgs::UInt32& msg) { in.flags(msg.data); }
// "control/command"
inline void apply_control(Inbuf& in, const std_msgs::String& msg) { in.command(msg.data); }

}  // namespace vesk
