// The ROS side of VESK_NET_INTERF: node handle, control subscribers, the
// preallocated sensor messages and their publishers, broadcasters and cameras.
// Private to the library.
#pragma once

#include <camera_info_manager/camera_info_manager.h>
#include <geometry_msgs/Pose2D.h>
#include <geometry_msgs/TransformStamped.h>
#include <geometry_msgs/TwistStamped.h>
#include <image_transport/image_transport.h>
#include <nav_msgs/Odometry.h>
#include <ros/ros.h>
#include <sensor_msgs/CameraInfo.h>
#include <sensor_msgs/CompressedImage.h>
#include <sensor_msgs/Image.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <sensor_msgs/Range.h>
#include <std_msgs/Float32MultiArray.h>
#include <std_msgs/Int16MultiArray.h>
#include <std_msgs/String.h>
#include <std_msgs/UInt16.h>
#include <std_msgs/UInt16MultiArray.h>
#include <std_msgs/UInt32.h>
#include <std_msgs/UInt32MultiArray.h>
#include <tf2/LinearMath/Quaternion.h>
#include <tf2_ros/static_transform_broadcaster.h>
#include <tf2_ros/transform_broadcaster.h>
#include <vesk2_msg/BatteryState.h>
#include <vesk2_msg/sensors_package.h>
#include <vesk_support/master_watch.h>

#include <memory>
#include <string>

#include "vesk_net/core.h"
#include "vesk_net/records.h"

namespace vesk {

// Number of live ROS implementation objects; ROS is shut down when it returns to 0.
extern int ros_interf_count;

// One transform from a tick header (frame id replaced by the parent).
geometry_msgs::TransformStamped create_tf(const std_msgs::Header& header, const std::string& parent,
                                          const std::string& child, double x, double y, double z,
                                          const tf2::Quaternion& q);

constexpr unsigned CAMERA_COUNT = 4;
extern const char* const camera_names[CAMERA_COUNT];  // stream order

// Everything the interface sends: the tick counter, the broadcasters, one
// publisher and one reusable message per sensor topic, the cameras, the
// odometry and the platform clock state.
struct Output {
  struct TF {
    tf2_ros::TransformBroadcaster dynamic;
    tf2_ros::StaticTransformBroadcaster fixed;
  };

  struct Camera {
    bool initialised = false;
    bool raw = false;
    bool has_info = false;
    bool has_model = false;   // raw mode: a projection was set, camera info follows each image
    VESK_CAMERA_MODEL model;  // raw mode: the projection of the next frames
    std::string name;
    std::string topic;    // "sensors/" + name
    std::string optical;  // frame prefix + "head_" + name + "_optical"
    std::string url;
    sensor_msgs::Image image;
    sensor_msgs::CompressedImage compressed;
    sensor_msgs::CameraInfo info;
    std::unique_ptr<image_transport::ImageTransport> transport;
    image_transport::Publisher pub_raw;
    ros::Publisher pub_compressed;
    ros::Publisher pub_info;
    std::unique_ptr<camera_info_manager::CameraInfoManager> manager;

    void init(ros::NodeHandle& nh, bool raw_mode, const std::string& camera_name,
              const std::string& frame_prefix);
    void advertise(ros::NodeHandle& nh, const std::string& root);
    void publish_camera_info(const std_msgs::Header& header, unsigned width, unsigned height);
    // Raw mode: the camera info of `model` for this header and size.
    void publish_model_info(const std_msgs::Header& header, unsigned width, unsigned height);
    bool watched() const;
  };

  // Frame ids of the messages are `frame_prefix` + the frame's name.
  Output(uint32_t net_flags, const std::string& frame_prefix);

  // Copies every part of the package from the message of the same name.
  void fill_package();

  std::string frame_prefix;  // in front of every frame id
  uint32_t seq = 0;
  TF tf;

  ros::Publisher pub_log, pub_package, pub_stream, pub_odom, pub_wheel_speed_cmd, pub_wheel_speed_opto,
      pub_wheel_speed_back_emf, pub_wheel_effort_pwm, pub_body_vel, pub_kinematic_joints, pub_light,
      pub_battery, pub_touch_body, pub_touch_head, pub_dip, pub_cliff, pub_mics, pub_imu_body, pub_imu_head,
      pub_sonar, pub_flags, pub_body_pose;

  std_msgs::String log;
  std_msgs::UInt16MultiArray stream;
  sensor_msgs::JointState kinematic_joints;
  std_msgs::Float32MultiArray wheel_speed_cmd, wheel_speed_opto, wheel_speed_back_emf, wheel_effort_pwm;
  std_msgs::Float32MultiArray light, cliff;
  vesk2_msg::BatteryState battery;
  sensor_msgs::Range sonar;
  sensor_msgs::Imu imu_body, imu_head;
  geometry_msgs::TwistStamped body_vel;
  nav_msgs::Odometry odom;
  std_msgs::UInt32 flags;
  std_msgs::UInt16 touch_body, touch_head, dip;
  geometry_msgs::Pose2D body_pose;
  std_msgs::Int16MultiArray mics;
  vesk2_msg::sensors_package package;

  std::vector<geometry_msgs::TransformStamped> dynamic_tf;  // the five joint-chain transforms
  geometry_msgs::TransformStamped map_tf;

  Camera camera[CAMERA_COUNT];

  Odometry odometry;
  int64_t clock_last_us = 0;
  ros::Time clock_base;
};

class VESK_NET_INTERF_ROS {
 public:
  VESK_NET_INTERF_ROS(VESK_NET_CONFIG* net_config, VESK_TOOL_CONFIG* tool_config,
                      VESK_PLATFORM_PARS* platform_pars);
  ~VESK_NET_INTERF_ROS() = default;
  VESK_NET_INTERF_ROS(const VESK_NET_INTERF_ROS&) = delete;
  VESK_NET_INTERF_ROS& operator=(const VESK_NET_INTERF_ROS&) = delete;

  void publish();
  void subscribe();

  VESK_TICK_D* exchange(const VESK_TICK_U& u);
  VESK_STREAM_PACKET* receive();
  void publish_frame(const VESK_MSG_FRAME* frame);
  bool stream_watched(unsigned stream_index) const;
  void set_camera_model(unsigned stream_index, const VESK_CAMERA_MODEL& model);
  void publish_mics(const MICS_ALL* mics);
  void publish_log(const unsigned char* text, unsigned length);

  void callback_cmd_vel(const geometry_msgs::TwistStamped::ConstPtr& msg);
  void callback_kinematic_joints(const sensor_msgs::JointState::ConstPtr& msg);
  void callback_cosmetic_joints(const std_msgs::Float32MultiArray::ConstPtr& msg);
  void callback_illum(const std_msgs::UInt32MultiArray::ConstPtr& msg);
  void callback_tone(const std_msgs::UInt16MultiArray::ConstPtr& msg);
  void callback_stream(const std_msgs::Int16MultiArray::ConstPtr& msg);
  void callback_flags(const std_msgs::UInt32::ConstPtr& msg);
  void callback_command(const std_msgs::String::ConstPtr& msg);

  // Ends the watch on the master (before ROS shuts down).
  void stop_master_watch() { master_watch_.reset(); }

 private:
  int verbosity() const { return tool_config_->verbosity; }
  // Stamp of a platform clock reading (NET_FLAG_HW_CLOCK).
  ros::Time platform_stamp(int32_t clock_us);
  // True when the frame's size holds `bytes` of data behind the header and
  // the data are there; otherwise warns and the frame is dropped.
  bool frame_holds(const VESK_MSG_FRAME* frame, size_t bytes);
  void publish_static_tf(const std_msgs::Header& header);

  VESK_NET_CONFIG* net_config_;
  VESK_TOOL_CONFIG* tool_config_;
  VESK_PLATFORM_PARS* platform_pars_;

  // Declaration order is construction order; teardown runs in reverse:
  // output, subscribers (last first), inbuf, node handle.
  ros::NodeHandle nh_;
  std::string root_;
  Inbuf inbuf_;
  ros::Subscriber sub_cmd_vel_, sub_kinematic_joints_, sub_cosmetic_joints_, sub_illum_, sub_tone_,
      sub_stream_, sub_flags_, sub_command_;
  Output output_;
  // The first interface of a process watches the master it registered with and says once
  // when a new master has replaced it (a simulator cannot end under its host; it keeps
  // running, unreachable to new peers, until it is started again).
  std::unique_ptr<MasterWatch> master_watch_;
};

}  // namespace vesk
