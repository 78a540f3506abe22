// ROS side of the plug-in's rostests: subscribers on their own callback queue (the plug-in's
// interface services the global queue inside every tick), the control publishers, and waits.
#pragma once

#include <geometry_msgs/TwistStamped.h>
#include <ros/callback_queue.h>
#include <ros/ros.h>
#include <sensor_msgs/Image.h>
#include <sensor_msgs/JointState.h>
#include <std_msgs/Float32MultiArray.h>
#include <std_msgs/String.h>
#include <std_msgs/UInt32.h>
#include <vesk2_msg/sensors_package.h>

#include <functional>
#include <string>

namespace vesk_test {

class RosProbe {
 public:
  explicit RosProbe(const std::string& robot) : nh("/" + robot) {
    nh.setCallbackQueue(&queue);
    sub_package = nh.subscribe("sensors/package", 100, &RosProbe::OnPackage, this);
    sub_caml = nh.subscribe("sensors/caml", 10, &RosProbe::OnCaml, this);
    sub_camr = nh.subscribe("sensors/camr", 10, &RosProbe::OnCamr, this);
    sub_overhead = nh.subscribe("sensors/overhead", 10, &RosProbe::OnOverhead, this);
    sub_gaze = nh.subscribe("sensors/gaze", 10, &RosProbe::OnGaze, this);
    pub_cmd_vel = nh.advertise<geometry_msgs::TwistStamped>("control/cmd_vel", 10);
    pub_kinematic = nh.advertise<sensor_msgs::JointState>("control/kinematic_joints", 10);
    pub_cosmetic = nh.advertise<std_msgs::Float32MultiArray>("control/cosmetic_joints", 10);
    pub_flags = nh.advertise<std_msgs::UInt32>("control/flags", 10);
    pub_command = nh.advertise<std_msgs::String>("control/command", 10);
  }

  // Services this probe's queue until `done` or `seconds` of wall time pass.
  bool WaitFor(const std::function<bool()>& done, double seconds = 5.0) {
    const ros::WallTime end = ros::WallTime::now() + ros::WallDuration(seconds);
    while (!done()) {
      if (ros::WallTime::now() > end) return false;
      queue.callAvailable(ros::WallDuration(0.005));
    }
    return true;
  }
  // Waits until every control topic and the package have their peers.
  bool WaitConnected() {
    return WaitFor([this]() {
      return sub_package.getNumPublishers() > 0 && sub_caml.getNumPublishers() > 0 &&
             pub_cmd_vel.getNumSubscribers() > 0 && pub_kinematic.getNumSubscribers() > 0 &&
             pub_cosmetic.getNumSubscribers() > 0 && pub_flags.getNumSubscribers() > 0 &&
             pub_command.getNumSubscribers() > 0;
    });
  }

  void CmdVel(double v, double w) {
    geometry_msgs::TwistStamped m;
    m.twist.linear.x = v;
    m.twist.angular.z = w;
    pub_cmd_vel.publish(m);
  }
  void Flags(uint32_t f) {
    std_msgs::UInt32 m;
    m.data = f;
    pub_flags.publish(m);
  }
  void Command(const std::string& c) {
    std_msgs::String m;
    m.data = c;
    pub_command.publish(m);
  }
  void Kinematic(double tilt, double lift, double yaw, double pitch) {
    sensor_msgs::JointState m;
    m.position = {tilt, lift, yaw, pitch};
    pub_kinematic.publish(m);
  }
  void Cosmetic(const std::vector<float>& message_order) {
    std_msgs::Float32MultiArray m;
    m.data = message_order;
    pub_cosmetic.publish(m);
  }

  ros::NodeHandle nh;
  ros::CallbackQueue queue;
  ros::Subscriber sub_package, sub_caml, sub_camr, sub_overhead, sub_gaze;
  ros::Publisher pub_cmd_vel, pub_kinematic, pub_cosmetic, pub_flags, pub_command;

  unsigned packages = 0;
  vesk2_msg::sensors_package package;
  unsigned caml_count = 0, camr_count = 0;
  sensor_msgs::Image caml, camr;
  unsigned overhead_count = 0, gaze_count = 0;
  sensor_msgs::Image overhead, gaze;

 private:
  void OnPackage(const vesk2_msg::sensors_package::ConstPtr& m) {
    package = *m;
    ++packages;
  }
  void OnCaml(const sensor_msgs::Image::ConstPtr& m) {
    caml = *m;
    ++caml_count;
  }
  void OnCamr(const sensor_msgs::Image::ConstPtr& m) {
    camr = *m;
    ++camr_count;
  }
  void OnOverhead(const sensor_msgs::Image::ConstPtr& m) {
    overhead = *m;
    ++overhead_count;
  }
  void OnGaze(const sensor_msgs::Image::ConstPtr& m) {
    gaze = *m;
    ++gaze_count;
  }
};

}  // namespace vesk_test
