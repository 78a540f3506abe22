// Outbound sensors: the preallocated messages and one tick of exchange().
#include <tf2/LinearMath/Matrix3x3.h>

#include <cmath>
#include <limits>

#include "interf_ros.h"

namespace vesk {

namespace {

constexpr double kAccScale = 0.0011975098168477416;  // 9.81 / 8192 [m/s^2 per count]
constexpr float kCliffScale = 0.06666667f;           // 1 / 15
constexpr uint32_t kStaticEvery = 50;                // ticks between static transforms

// A fixed transform of the frame tree (translation [m] as the single
// constants, rotation roll, pitch, yaw [rad]).
struct FixedTf {
  const char* parent;
  const char* child;
  float x, y, z;
  double roll, pitch, yaw;
};

constexpr double kOpticalTurn = -1.570796326795;
constexpr float kEyeYaw = 0.4712388813495636f;

const FixedTf kStaticTf[] = {
    {"head_link", "head_cams", 0.0377f, 0.0f, 0.0568f, 0.0, -0.7853982f, 0.0},
    {"head_cams", "head_caml", 0.0f, 0.0431f, 0.0f, 0.0, 0.0, kEyeYaw},
    {"head_caml", "head_caml_optical", 0.0f, 0.0f, 0.0f, kOpticalTurn, 0.0, kOpticalTurn},
    {"head_cams", "head_camr", 0.0f, -0.0431f, 0.0f, 0.0, 0.0, -kEyeYaw},
    {"head_camr", "head_camr_optical", 0.0f, 0.0f, 0.0f, kOpticalTurn, 0.0, kOpticalTurn},
    {"head_link", "head_sonar", 0.082f, 0.0f, 0.035f, 0.0, 0.0, 0.0},
    {"head_link", "head_imu", 0.05f, 0.04f, 0.025f, 0.0, 0.0, 0.0},
    {"body_link", "body_imu", -0.095f, 0.048f, 0.01f, 0.0, 0.0, 0.0},
};

// The joint chain: translation of each link, and which joint turns it about which axis.
enum Axis { PITCH, YAW };
struct ChainTf {
  const char* parent;
  const char* child;
  float x, y, z;
  int joint;  // KinematicJoint slot of joint_pos, -1: the odometry pose
  Axis axis;
};
const ChainTf kChainTf[] = {
    {"odom", "base_link", 0.0f, 0.0f, 0.0f, -1, YAW},
    {"base_link", "body_link", 0.0f, 0.0f, WHEEL_RADIUS, KINEMATIC_TILT,
     PITCH},  // tilts about the wheel axle
    {"body_link", "neck_link", 0.0022f, 0.0f, 0.0357f, KINEMATIC_LIFT, PITCH},
    {"neck_link", "gimbal_link", 0.0f, 0.0f, 0.1201f, KINEMATIC_YAW, YAW},
    {"gimbal_link", "head_link", 0.0f, 0.0f, 0.0f, KINEMATIC_PITCH, PITCH},
};

void wheel_array(std_msgs::Float32MultiArray& m) {
  m.layout.dim.resize(1);
  m.layout.dim[0].label = "side";
  m.layout.dim[0].size = 2;
  m.layout.dim[0].stride = 1;
  m.data.assign(2, 0.0f);
}

void imu_preset(sensor_msgs::Imu& m, const std::string& frame) {
  m.header.frame_id = frame;
  m.orientation.x = m.orientation.y = m.orientation.z = m.orientation.w = 0.0;
  m.orientation_covariance.fill(0.0);
  m.angular_velocity_covariance.fill(0.0);
  m.linear_acceleration_covariance.fill(0.0);
  m.orientation_covariance[0] = -1.0;
  m.angular_velocity_covariance[0] = -1.0;
}

void set_msg(geometry_msgs::Quaternion& m, const tf2::Quaternion& q) {
  m.x = q.x();
  m.y = q.y();
  m.z = q.z();
  m.w = q.w();
}

}  // namespace

const char* const camera_names[CAMERA_COUNT] = {"caml", "camr", "overhead", "gaze"};

geometry_msgs::TransformStamped create_tf(const std_msgs::Header& header, const std::string& parent,
                                          const std::string& child, double x, double y, double z,
                                          const tf2::Quaternion& q) {
  geometry_msgs::TransformStamped t;
  t.header = header;
  t.header.frame_id = parent;
  t.child_frame_id = child;
  t.transform.translation.x = x;
  t.transform.translation.y = y;
  t.transform.translation.z = z;
  set_msg(t.transform.rotation, q);
  return t;
}

Output::Output(uint32_t /*net_flags*/, const std::string& prefix) : frame_prefix(prefix) {
  stream.data.assign(2, 0);
  kinematic_joints.name = {"tilt", "lift", "yaw", "pitch"};
  kinematic_joints.position.assign(KINEMATIC_COUNT, 0.0);
  kinematic_joints.effort.assign(KINEMATIC_COUNT, 0.0);
  wheel_array(wheel_speed_cmd);
  wheel_array(wheel_speed_opto);
  wheel_array(wheel_speed_back_emf);
  wheel_array(wheel_effort_pwm);
  light.data.assign(4, 0.0f);
  cliff.data.assign(2, 0.0f);

  const float nan = std::numeric_limits<float>::quiet_NaN();
  battery.header.frame_id = prefix + "body_link";
  battery.current = battery.charge = battery.capacity = battery.design_capacity = nan;
  battery.percentage = nan;
  battery.power_supply_status = vesk2_msg::BatteryState::POWER_SUPPLY_STATUS_UNKNOWN;
  battery.power_supply_health = vesk2_msg::BatteryState::POWER_SUPPLY_HEALTH_UNKNOWN;
  battery.power_supply_technology = vesk2_msg::BatteryState::POWER_SUPPLY_TECHNOLOGY_UNKNOWN;
  battery.present = true;

  sonar.header.frame_id = prefix + "head_sonar";
  sonar.radiation_type = sensor_msgs::Range::ULTRASOUND;
  sonar.field_of_view = 0.3f;
  sonar.min_range = 0.0f;
  sonar.max_range = 1.0f;

  imu_preset(imu_body, prefix + "body_imu");
  imu_preset(imu_head, prefix + "head_imu");

  body_vel.header.frame_id = prefix + "base_link";
  odom.header.frame_id = prefix + "odom";
  odom.child_frame_id = prefix + "base_link";

  mics.layout.dim.resize(2);
  mics.layout.dim[0].label = "channel";
  mics.layout.dim[0].size = MICS_CHANNELS;
  mics.layout.dim[0].stride = 1;
  mics.layout.dim[1].label = "sample_number";
  mics.layout.dim[1].size = MICS_SAMPLES;
  mics.layout.dim[1].stride = MICS_CHANNELS;
  mics.layout.data_offset = 0;
  mics.data.assign(MICS_CHANNELS * MICS_SAMPLES, 0);

  // The package's parts start as copies so that their buffers exist already.
  fill_package();

  dynamic_tf.resize(sizeof(kChainTf) / sizeof(kChainTf[0]));
  for (size_t i = 0; i < dynamic_tf.size(); ++i) {
    dynamic_tf[i].header.frame_id = prefix + kChainTf[i].parent;
    dynamic_tf[i].child_frame_id = prefix + kChainTf[i].child;
    dynamic_tf[i].transform.translation.x = kChainTf[i].x;
    dynamic_tf[i].transform.translation.y = kChainTf[i].y;
    dynamic_tf[i].transform.translation.z = kChainTf[i].z;
  }
  map_tf.header.frame_id = prefix + "map";
  map_tf.child_frame_id = prefix + "odom";
}

void Output::fill_package() {
  package.battery = battery;
  package.cliff = cliff;
  package.dip = dip;
  package.flags = flags;
  package.imu_head = imu_head;
  package.imu_body = imu_body;
  package.kinematic_joints = kinematic_joints;
  package.light = light;
  package.odom = odom;
  package.sonar = sonar;
  package.stream = stream;
  package.touch_body = touch_body;
  package.touch_head = touch_head;
  package.wheel_speed_cmd = wheel_speed_cmd;
  package.wheel_speed_back_emf = wheel_speed_back_emf;
  package.wheel_speed_opto = wheel_speed_opto;
  package.wheel_effort_pwm = wheel_effort_pwm;
  package.body_pose = body_pose;
}

ros::Time VESK_NET_INTERF_ROS::platform_stamp(int32_t clock_us) {
  const int64_t t = unwrap_platform_clock(output_.clock_last_us, clock_us);
  if (output_.clock_base.isZero()) output_.clock_base = ros::Time::now();
  ros::Time stamp;
  stamp.fromNSec(platform_stamp_ns(output_.clock_base.toNSec(), t));
  return stamp;
}

void VESK_NET_INTERF_ROS::publish_static_tf(const std_msgs::Header& header) {
  for (const FixedTf& f : kStaticTf) {
    tf2::Quaternion q;
    q.setRPY(f.roll, f.pitch, f.yaw);
    output_.tf.fixed.sendTransform(
        create_tf(header, output_.frame_prefix + f.parent, output_.frame_prefix + f.child, f.x, f.y, f.z, q));
  }
}

VESK_TICK_D* VESK_NET_INTERF_ROS::exchange(const VESK_TICK_U& u) {
  Output& o = output_;
  const uint32_t net_flags = net_config_->net_flags;
  const bool sim = (net_flags & NET_FLAG_SIM) != 0;

  // The tick's header: the next sequence number, stamped now or from the platform clock.
  std_msgs::Header header;
  header.seq = o.seq++;
  header.stamp = (net_flags & NET_FLAG_HW_CLOCK) ? platform_stamp(u.tick_stamp) : ros::Time::now();
  auto stamp = [&header](std_msgs::Header& h) {
    h.seq = header.seq;
    h.stamp = header.stamp;
  };

  // Stream status and the kinematic joints.
  o.stream.data[0] = u.stream[0];
  o.stream.data[1] = u.stream[1];
  o.pub_stream.publish(o.stream);
  stamp(o.kinematic_joints.header);
  for (unsigned i = 0; i < KINEMATIC_COUNT; ++i) {
    o.kinematic_joints.position[i] = u.joint_pos[i];
    o.kinematic_joints.effort[i] = u.joint_effort[i];
  }
  o.pub_kinematic_joints.publish(o.kinematic_joints);

  // Odometry from the measured wheel speeds.
  o.odometry.step(u.wheel_speed_opto[0], u.wheel_speed_opto[1]);
  const Odometry& od = o.odometry;
  const double half = static_cast<double>(od.theta) * 0.5;
  const tf2::Quaternion q_odom(0.0, 0.0, std::sin(half), std::cos(half));

  // The joint chain: the odometry pose and each joint's turn.
  for (size_t i = 0; i < o.dynamic_tf.size(); ++i) {
    geometry_msgs::TransformStamped& t = o.dynamic_tf[i];
    stamp(t.header);
    const ChainTf& c = kChainTf[i];
    if (c.joint < 0) {
      t.transform.translation.x = od.x;
      t.transform.translation.y = od.y;
      set_msg(t.transform.rotation, q_odom);
    } else {
      tf2::Quaternion q;
      const double a = u.joint_pos[c.joint];
      q.setRPY(0.0, c.axis == PITCH ? a : 0.0, c.axis == YAW ? a : 0.0);
      set_msg(t.transform.rotation, q);
    }
  }
  o.tf.dynamic.sendTransform(o.dynamic_tf);

  // Fixed transforms on the first and every 50th tick.
  if (header.seq % kStaticEvery == 0) publish_static_tf(header);

  // Body velocity and odometry messages.
  stamp(o.body_vel.header);
  o.body_vel.twist.linear.x = od.v;
  o.body_vel.twist.angular.z = od.omega;
  o.pub_body_vel.publish(o.body_vel);
  stamp(o.odom.header);
  o.odom.pose.pose.position.x = od.x;
  o.odom.pose.pose.position.y = od.y;
  o.odom.pose.pose.position.z = 0.0;
  set_msg(o.odom.pose.pose.orientation, q_odom);
  o.odom.twist.twist.linear.x = od.v;
  o.odom.twist.twist.angular.z = od.omega;
  o.pub_odom.publish(o.odom);

  // Wheels, light sensors and battery.
  for (int i = 0; i < 2; ++i) {
    o.wheel_speed_cmd.data[i] = u.wheel_speed_cmd[i];
    o.wheel_speed_opto.data[i] = u.wheel_speed_opto[i];
    o.wheel_speed_back_emf.data[i] = u.wheel_speed_back_emf[i];
    o.wheel_effort_pwm.data[i] = u.wheel_effort_pwm[i];
  }
  o.pub_wheel_speed_cmd.publish(o.wheel_speed_cmd);
  o.pub_wheel_speed_opto.publish(o.wheel_speed_opto);
  o.pub_wheel_speed_back_emf.publish(o.wheel_speed_back_emf);
  o.pub_wheel_effort_pwm.publish(o.wheel_effort_pwm);
  for (int i = 0; i < 4; ++i) o.light.data[i] = u.light[i];
  o.pub_light.publish(o.light);
  stamp(o.battery.header);
  o.battery.voltage = u.battery_voltage;
  o.pub_battery.publish(o.battery);

  // Touch (unless turned off), DIP switches, cliff sensors, sonar and platform flags.
  if (!(net_flags & NET_FLAG_NO_TOUCH)) {
    o.touch_body.data = u.touch_body;
    o.pub_touch_body.publish(o.touch_body);
    o.touch_head.data = u.touch_head;
    o.pub_touch_head.publish(o.touch_head);
  }
  o.dip.data = u.dip;
  o.pub_dip.publish(o.dip);
  for (int i = 0; i < 2; ++i) o.cliff.data[i] = u.cliff[i] * kCliffScale;
  o.pub_cliff.publish(o.cliff);
  stamp(o.sonar.header);
  o.sonar.range = u.sonar;
  o.pub_sonar.publish(o.sonar);
  o.flags.data = sim ? (u.flags | PLATFORM_U_FLAG_SIM) : u.flags;
  o.pub_flags.publish(o.flags);

  // Inertial units: accelerometer counts to m/s^2.
  stamp(o.imu_body.header);
  o.imu_body.linear_acceleration.x = u.imu_body.acc[0] * kAccScale;
  o.imu_body.linear_acceleration.y = u.imu_body.acc[1] * kAccScale;
  o.imu_body.linear_acceleration.z = u.imu_body.acc[2] * kAccScale;
  o.pub_imu_body.publish(o.imu_body);
  stamp(o.imu_head.header);
  o.imu_head.linear_acceleration.x = u.imu_head.acc[0] * kAccScale;
  o.imu_head.linear_acceleration.y = u.imu_head.acc[1] * kAccScale;
  o.imu_head.linear_acceleration.z = u.imu_head.acc[2] * kAccScale;
  o.pub_imu_head.publish(o.imu_head);

  // Ground truth and the map frame (simulation only): the true pose
  // composed with the inverse of the odometry pose.
  if (sim) {
    o.body_pose.x = u.body_pose[0];
    o.body_pose.y = u.body_pose[1];
    o.body_pose.theta = u.body_pose[2];
    o.pub_body_pose.publish(o.body_pose);

    tf2::Quaternion q_true, q_od;
    q_true.setRPY(0.0, 0.0, u.body_pose[2]);
    q_od.setRPY(0.0, 0.0, od.theta);
    const tf2::Matrix3x3 r = tf2::Matrix3x3(q_true) * tf2::Matrix3x3(q_od).transpose();
    tf2::Quaternion q;
    r.getRotation(q);
    const tf2::Vector3 t =
        tf2::Vector3(u.body_pose[0], u.body_pose[1], 0.0) - r * tf2::Vector3(od.x, od.y, 0.0);
    stamp(o.map_tf.header);
    o.map_tf.transform.translation.x = t.x();
    o.map_tf.transform.translation.y = t.y();
    o.map_tf.transform.translation.z = 0.0;
    set_msg(o.map_tf.transform.rotation, q);
    o.tf.dynamic.sendTransform(o.map_tf);
  }

  // Everything once more in one package.
  stamp(o.package.header);
  o.fill_package();
  o.pub_package.publish(o.package);

  // Deliver pending control messages, then hand over the commands.
  ros::spinOnce();
  return inbuf_.exchange();
}

}  // namespace vesk
