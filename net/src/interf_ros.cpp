// vesk::VESK_NET_INTERF_ROS: construction, topic set, control callbacks, receive.
#include "interf_ros.h"

#include <iostream>

#include <vesk_support/os.h>

namespace vesk {

int ros_interf_count = 0;

namespace {
constexpr uint32_t kQueue = 1;
}

VESK_NET_INTERF_ROS::VESK_NET_INTERF_ROS(VESK_NET_CONFIG* net_config, VESK_TOOL_CONFIG* tool_config,
                                         VESK_PLATFORM_PARS* platform_pars)
    : net_config_(net_config),
      tool_config_(tool_config),
      platform_pars_(platform_pars),
      nh_(net_config->robot_name),
      root_("/" + net_config->robot_name),
      output_(net_config->net_flags, net_config->frame_prefix) {
  // A node handle that is not usable fails before anything is printed.
  if (!nh_.ok()) os::fail("bad doggie");
  // Stream packets preset, records reset, ttls full, initial flags in force.
  inbuf_.init(net_config_->initial_flags, tool_config_);

  const bool sim = (net_config_->net_flags & NET_FLAG_SIM) != 0;
  const std::string& prefix = net_config_->frame_prefix;
  output_.camera[0].init(nh_, sim, camera_names[0], prefix);
  output_.camera[1].init(nh_, sim, camera_names[1], prefix);
  if (sim) {
    output_.camera[2].init(nh_, true, camera_names[2], prefix);
    output_.camera[3].init(nh_, true, camera_names[3], prefix);
  }

  publish();
  subscribe();
  if (ros_interf_count == 0) {
    master_watch_.reset(
        new MasterWatch("; this robot cannot be reached until the simulator is started again"));
  }
  ++ros_interf_count;
}

void VESK_NET_INTERF_ROS::publish() {
  if (verbosity() > 2) std::cout << "advertising main topics..." << std::endl;
  const std::string s = root_ + "/sensors/";
  Output& o = output_;
  o.pub_log = nh_.advertise<std_msgs::String>(s + "log", kQueue);
  o.pub_package = nh_.advertise<vesk2_msg::sensors_package>(s + "package", kQueue);
  o.pub_stream = nh_.advertise<std_msgs::UInt16MultiArray>(s + "stream", kQueue);
  o.pub_odom = nh_.advertise<nav_msgs::Odometry>(s + "odom", kQueue);
  o.pub_wheel_speed_cmd = nh_.advertise<std_msgs::Float32MultiArray>(s + "wheel_speed_cmd", kQueue);
  o.pub_wheel_speed_opto = nh_.advertise<std_msgs::Float32MultiArray>(s + "wheel_speed_opto", kQueue);
  o.pub_wheel_speed_back_emf =
      nh_.advertise<std_msgs::Float32MultiArray>(s + "wheel_speed_back_emf", kQueue);
  o.pub_wheel_effort_pwm = nh_.advertise<std_msgs::Float32MultiArray>(s + "wheel_effort_pwm", kQueue);
  o.pub_body_vel = nh_.advertise<geometry_msgs::TwistStamped>(s + "body_vel", kQueue);
  o.pub_kinematic_joints = nh_.advertise<sensor_msgs::JointState>(s + "kinematic_joints", kQueue);
  o.pub_light = nh_.advertise<std_msgs::Float32MultiArray>(s + "light", kQueue);
  o.pub_battery = nh_.advertise<vesk2_msg::BatteryState>(s + "battery", kQueue);
  o.pub_touch_body = nh_.advertise<std_msgs::UInt16>(s + "touch_body", kQueue);
  o.pub_touch_head = nh_.advertise<std_msgs::UInt16>(s + "touch_head", kQueue);
  o.pub_dip = nh_.advertise<std_msgs::UInt16>(s + "dip", kQueue);
  o.pub_cliff = nh_.advertise<std_msgs::Float32MultiArray>(s + "cliff", kQueue);
  o.pub_mics = nh_.advertise<std_msgs::Int16MultiArray>(s + "mics", kQueue);
  o.pub_imu_body = nh_.advertise<sensor_msgs::Imu>(s + "imu_body", kQueue);
  o.pub_imu_head = nh_.advertise<sensor_msgs::Imu>(s + "imu_head", kQueue);
  o.pub_sonar = nh_.advertise<sensor_msgs::Range>(s + "sonar", kQueue);
  o.pub_flags = nh_.advertise<std_msgs::UInt32>(s + "flags", kQueue);
  if (net_config_->net_flags & NET_FLAG_SIM) {
    o.pub_body_pose = nh_.advertise<geometry_msgs::Pose2D>(s + "body_pose", kQueue);
  }
  for (Output::Camera& c : o.camera) {
    if (c.initialised) c.advertise(nh_, root_);
  }
}

void VESK_NET_INTERF_ROS::subscribe() {
  const std::string c = root_ + "/control/";
  const ros::TransportHints hints = ros::TransportHints().tcpNoDelay();
  sub_cmd_vel_ = nh_.subscribe(c + "cmd_vel", kQueue, &VESK_NET_INTERF_ROS::callback_cmd_vel, this, hints);
  sub_kinematic_joints_ = nh_.subscribe(c + "kinematic_joints", kQueue,
                                        &VESK_NET_INTERF_ROS::callback_kinematic_joints, this, hints);
  sub_cosmetic_joints_ = nh_.subscribe(c + "cosmetic_joints", kQueue,
                                       &VESK_NET_INTERF_ROS::callback_cosmetic_joints, this, hints);
  sub_illum_ = nh_.subscribe(c + "illum", kQueue, &VESK_NET_INTERF_ROS::callback_illum, this, hints);
  sub_tone_ = nh_.subscribe(c + "tone", kQueue, &VESK_NET_INTERF_ROS::callback_tone, this, hints);
  sub_stream_ = nh_.subscribe(c + "stream", kQueue, &VESK_NET_INTERF_ROS::callback_stream, this, hints);
  sub_flags_ = nh_.subscribe(c + "flags", kQueue, &VESK_NET_INTERF_ROS::callback_flags, this, hints);
  sub_command_ = nh_.subscribe(c + "command", kQueue, &VESK_NET_INTERF_ROS::callback_command, this, hints);
}

// ---- control callbacks -------------------------------------------------------------

void VESK_NET_INTERF_ROS::callback_cmd_vel(const geometry_msgs::TwistStamped::ConstPtr& msg) {
  inbuf_.cmd_vel(msg->twist.linear.x, msg->twist.angular.z);
}

void VESK_NET_INTERF_ROS::callback_kinematic_joints(const sensor_msgs::JointState::ConstPtr& msg) {
  inbuf_.kinematic_joints(msg->position.data(), msg->position.size());
}

void VESK_NET_INTERF_ROS::callback_cosmetic_joints(const std_msgs::Float32MultiArray::ConstPtr& msg) {
  inbuf_.cosmetic_joints(msg->data.data(), msg->data.size());
}

void VESK_NET_INTERF_ROS::callback_illum(const std_msgs::UInt32MultiArray::ConstPtr& msg) {
  inbuf_.illum(msg->data.data(), msg->data.size());
}

void VESK_NET_INTERF_ROS::callback_tone(const std_msgs::UInt16MultiArray::ConstPtr& msg) {
  inbuf_.tone(msg->data.data(), msg->data.size());
}

void VESK_NET_INTERF_ROS::callback_stream(const std_msgs::Int16MultiArray::ConstPtr& msg) {
  inbuf_.stream(msg->data.data(), msg->data.size());
}

void VESK_NET_INTERF_ROS::callback_flags(const std_msgs::UInt32::ConstPtr& msg) {
  inbuf_.flags(msg->data);
}

void VESK_NET_INTERF_ROS::callback_command(const std_msgs::String::ConstPtr& msg) {
  inbuf_.command(msg->data);
}

VESK_STREAM_PACKET* VESK_NET_INTERF_ROS::receive() {
  ros::spinOnce();
  return inbuf_.take_packet();
}

}  // namespace vesk
