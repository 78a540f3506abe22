// Outbound sensors through real topics: odometry, scaling, flags, touch,
// static and dynamic transforms, the resolvable frame tree, the map frame,
// hardware-clock stamps and the sensors package.
#include <geometry_msgs/Pose2D.h>
#include <geometry_msgs/TwistStamped.h>
#include <nav_msgs/Odometry.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <sensor_msgs/Range.h>
#include <std_msgs/Float32MultiArray.h>
#include <std_msgs/UInt16.h>
#include <std_msgs/UInt16MultiArray.h>
#include <std_msgs/UInt32.h>
#include <tf2_msgs/TFMessage.h>
#include <tf2_ros/buffer.h>
#include <tf2_ros/transform_listener.h>
#include <vesk2_msg/BatteryState.h>
#include <vesk2_msg/sensors_package.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "ros_test_util.h"

namespace {

using vesk_test::Collector;
using vesk_test::Robot;
using vesk_test::test_nh;
using vesk_test::wait_until;

template <typename M>
std::vector<uint8_t> bytes(const M& m) {
  std::vector<uint8_t> out(ros::serialization::serializationLength(m));
  ros::serialization::OStream s(out.data(), out.size());
  ros::serialization::serialize(s, m);
  return out;
}

TEST(Sensors, StraightLineOdometry) {
  Robot r(NET_FLAG_SIM);
  Collector<nav_msgs::Odometry> odom(test_nh(), r.topic("sensors/odom"));
  Collector<geometry_msgs::TwistStamped> vel(test_nh(), r.topic("sensors/body_vel"));
  ASSERT_TRUE(odom.connected() && vel.connected());
  r.platform.set_wheels(0.1f, 0.1f);
  for (int i = 0; i < 50; ++i) r.tick();
  ASSERT_TRUE(wait_until([&] { return odom.got.size() >= 50 && vel.got.size() >= 50; }));
  const nav_msgs::Odometry& o = odom.last();
  EXPECT_NEAR(o.pose.pose.position.x, 0.1, 1e-5);
  EXPECT_EQ(o.pose.pose.position.y, 0.0);
  EXPECT_EQ(o.pose.pose.orientation.z, 0.0);
  EXPECT_EQ(o.pose.pose.orientation.w, 1.0);
  EXPECT_EQ(o.header.frame_id, "odom");
  EXPECT_EQ(o.child_frame_id, "base_link");
  EXPECT_NEAR(o.twist.twist.linear.x, 0.1, 1e-7);
  EXPECT_EQ(o.header.seq, 49u);
  const geometry_msgs::TwistStamped& v = vel.last();
  EXPECT_NEAR(v.twist.linear.x, 0.1, 1e-7);
  EXPECT_EQ(v.twist.angular.z, 0.0);
  EXPECT_EQ(v.header.frame_id, "base_link");
}

TEST(Sensors, TurnOnSpot) {
  Robot r(NET_FLAG_SIM);
  Collector<nav_msgs::Odometry> odom(test_nh(), r.topic("sensors/odom"));
  ASSERT_TRUE(odom.connected());
  r.platform.set_wheels(-0.082f, 0.082f);
  for (int i = 0; i < 10; ++i) r.tick();
  ASSERT_TRUE(wait_until([&] { return odom.got.size() >= 10; }));
  for (size_t i = 0; i < 10; ++i) {
    const nav_msgs::Odometry& o = odom.got[i];
    const double theta = 2.0 * std::atan2(o.pose.pose.orientation.z, o.pose.pose.orientation.w);
    EXPECT_NEAR(theta, 0.02 * (i + 1), 1e-5) << i;
    EXPECT_NEAR(o.twist.twist.angular.z, 1.0, 1e-6);
    EXPECT_EQ(o.twist.twist.linear.x, 0.0);
    EXPECT_EQ(o.pose.pose.position.x, 0.0);
    EXPECT_EQ(o.pose.pose.position.y, 0.0);
  }
}

TEST(Sensors, ScalingFlagsAndTouch) {
  Robot r(NET_FLAG_SIM);
  Collector<std_msgs::UInt32> flags(test_nh(), r.topic("sensors/flags"));
  Collector<std_msgs::Float32MultiArray> cliff(test_nh(), r.topic("sensors/cliff"));
  Collector<sensor_msgs::Imu> imu(test_nh(), r.topic("sensors/imu_head"));
  Collector<sensor_msgs::Imu> imub(test_nh(), r.topic("sensors/imu_body"));
  Collector<std_msgs::UInt16> touch(test_nh(), r.topic("sensors/touch_body"));
  Collector<vesk2_msg::BatteryState> bat(test_nh(), r.topic("sensors/battery"));
  Collector<sensor_msgs::Range> sonar(test_nh(), r.topic("sensors/sonar"));
  ASSERT_TRUE(flags.connected() && cliff.connected() && imu.connected() && imub.connected() &&
              touch.connected() && bat.connected() && sonar.connected());
  VESK_TICK_U& u = r.platform.record();
  u.flags = 0x1;
  u.cliff[0] = 15;
  u.cliff[1] = 0;
  u.imu_head.acc[0] = 8192;
  u.imu_head.acc[1] = -8192;
  u.imu_head.acc[2] = 4096;
  u.imu_body.acc[2] = 1;
  u.touch_body = 0x7;
  u.battery_voltage = 4.8f;
  u.sonar = 0.33f;
  r.tick();
  ASSERT_TRUE(wait_until([&] {
    return !flags.got.empty() && !cliff.got.empty() && !imu.got.empty() && !imub.got.empty() &&
           !touch.got.empty() && !bat.got.empty() && !sonar.got.empty();
  }));
  EXPECT_EQ(flags.last().data, 0x8001u);
  EXPECT_EQ(cliff.last().data, (std::vector<float>{1.0f, 0.0f}));
  // The scale is the single-precision 9.81 / 8192.
  EXPECT_NEAR(imu.last().linear_acceleration.x, 9.81, 1e-6);
  EXPECT_NEAR(imu.last().linear_acceleration.y, -9.81, 1e-6);
  EXPECT_NEAR(imu.last().linear_acceleration.z, 4.905, 1e-6);
  EXPECT_EQ(imu.last().header.frame_id, "head_imu");
  EXPECT_EQ(imu.last().orientation_covariance[0], -1.0);
  EXPECT_EQ(imu.last().angular_velocity_covariance[0], -1.0);
  EXPECT_EQ(imu.last().linear_acceleration_covariance[0], 0.0);
  EXPECT_EQ(imu.last().orientation.w, 0.0);
  EXPECT_EQ(imub.last().linear_acceleration.z, static_cast<double>(static_cast<float>(9.81 / 8192)));
  EXPECT_EQ(imub.last().header.frame_id, "body_imu");
  EXPECT_EQ(touch.last().data, 0x7);
  EXPECT_EQ(bat.last().voltage, 4.8f);
  EXPECT_EQ(bat.last().header.frame_id, "body_link");
  EXPECT_TRUE(bat.last().present);
  EXPECT_TRUE(std::isnan(bat.last().percentage));
  EXPECT_EQ(sonar.last().range, 0.33f);
  EXPECT_EQ(sonar.last().header.frame_id, "head_sonar");
  EXPECT_EQ(sonar.last().max_range, 1.0f);
  EXPECT_EQ(sonar.last().field_of_view, 0.3f);
}

TEST(Sensors, PhysicalPlatformFlagsAndNoTouch) {
  Robot r(NET_FLAG_NO_TOUCH);
  Collector<std_msgs::UInt32> flags(test_nh(), r.topic("sensors/flags"));
  Collector<vesk2_msg::sensors_package> pkg(test_nh(), r.topic("sensors/package"));
  ros::Subscriber tb, th;
  int touches = 0;
  tb = test_nh().subscribe<std_msgs::UInt16>(r.topic("sensors/touch_body"), 10,
                                             [&](const std_msgs::UInt16::ConstPtr&) { ++touches; });
  th = test_nh().subscribe<std_msgs::UInt16>(r.topic("sensors/touch_head"), 10,
                                             [&](const std_msgs::UInt16::ConstPtr&) { ++touches; });
  ASSERT_TRUE(flags.connected() && pkg.connected());
  ASSERT_TRUE(wait_until([&] { return tb.getNumPublishers() > 0 && th.getNumPublishers() > 0; }));
  r.platform.record().flags = 0x1;
  r.platform.record().touch_body = 5;
  r.platform.set_body_pose(1, 2, 3);
  for (int i = 0; i < 3; ++i) r.tick();
  ASSERT_TRUE(wait_until([&] { return pkg.got.size() >= 3 && flags.got.size() >= 3; }));
  wait_until([] { return false; }, 0.05);
  EXPECT_EQ(touches, 0);
  EXPECT_EQ(flags.last().data, 0x1u);
  EXPECT_EQ(pkg.last().touch_body.data, 0);
  EXPECT_EQ(pkg.last().body_pose.x, 0.0);
  EXPECT_EQ(pkg.last().flags.data, 0x1u);
}

// Eight /tf_static messages (one per fixed transform) on the first and every
// 50th tick. Delivery is asynchronous, so each message is attributed to its
// tick by the newest header seq it carries.
TEST(Sensors, StaticTransformsEvery50Ticks) {
  Robot r(NET_FLAG_SIM);
  std::map<uint32_t, int> per_tick;
  int total = 0;
  ros::Subscriber s = test_nh().subscribe<tf2_msgs::TFMessage>("/tf_static", 100,
                                                               [&](const tf2_msgs::TFMessage::ConstPtr& m) {
                                                                 uint32_t newest = 0;
                                                                 for (const auto& t : m->transforms)
                                                                   newest = std::max(newest, t.header.seq);
                                                                 ++per_tick[newest];
                                                                 ++total;
                                                               });
  ASSERT_TRUE(wait_until([&] { return s.getNumPublishers() > 0; }));
  wait_until([] { return false; }, 0.1);  // latched messages of earlier publishers
  per_tick.clear();
  total = 0;
  for (int i = 0; i < 101; ++i) r.tick();
  ASSERT_TRUE(wait_until([&] { return total >= 24; }));
  wait_until([] { return false; }, 0.1);
  EXPECT_EQ(total, 24);
  EXPECT_EQ(per_tick[0], 8);
  EXPECT_EQ(per_tick[50], 8);
  EXPECT_EQ(per_tick[100], 8);
  EXPECT_EQ(per_tick.size(), 3u);
}

// ---- the frame tree, computed independently -----------------------------------------

struct Pose {
  double R[3][3];
  double t[3];
};

Pose make_pose(double x, double y, double z, double roll, double pitch, double yaw) {
  const double cr = std::cos(roll), sr = std::sin(roll), cp = std::cos(pitch), sp = std::sin(pitch),
               cy = std::cos(yaw), sy = std::sin(yaw);
  // Rz(yaw) * Ry(pitch) * Rx(roll)
  Pose p = {{{cy * cp, cy * sp * sr - sy * cr, cy * sp * cr + sy * sr},
             {sy * cp, sy * sp * sr + cy * cr, sy * sp * cr - cy * sr},
             {-sp, cp * sr, cp * cr}},
            {x, y, z}};
  return p;
}

Pose compose(const Pose& a, const Pose& b) {
  Pose c;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      c.R[i][j] = 0;
      for (int k = 0; k < 3; ++k) c.R[i][j] += a.R[i][k] * b.R[k][j];
    }
    c.t[i] = a.t[i];
    for (int k = 0; k < 3; ++k) c.t[i] += a.R[i][k] * b.t[k];
  }
  return c;
}

void expect_pose(const geometry_msgs::TransformStamped& got, const Pose& want, const char* what) {
  const geometry_msgs::Quaternion& q = got.transform.rotation;
  const double x = q.x, y = q.y, z = q.z, w = q.w;
  const double R[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                          {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                          {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(R[i][j], want.R[i][j], 1e-5) << what << " R" << i << j;
  }
  EXPECT_NEAR(got.transform.translation.x, want.t[0], 1e-5) << what;
  EXPECT_NEAR(got.transform.translation.y, want.t[1], 1e-5) << what;
  EXPECT_NEAR(got.transform.translation.z, want.t[2], 1e-5) << what;
}

TEST(Sensors, FrameTreeResolvable) {
  Robot r(NET_FLAG_SIM);
  tf2_ros::Buffer buffer;
  tf2_ros::TransformListener listener(buffer);
  const float tilt = 0.1f, lift = 0.5f, yaw = 0.3f, pitch = -0.2f;
  r.platform.set_joints(tilt, lift, yaw, pitch);
  r.platform.set_wheels(0.2f, 0.3f);
  const float px = 1.5f, py = -0.5f, pth = 2.0f;
  r.platform.set_body_pose(px, py, pth);
  // Tick until the listener holds the whole tree, then once more for the final state.
  const int kTicks = 20;
  for (int i = 0; i < kTicks; ++i) {
    r.tick();
    wait_until([] { return false; }, 0.01);
  }
  ASSERT_TRUE(wait_until([&] {
    return buffer.canTransform("map", "head_camr_optical", ros::Time(0)) &&
           buffer.canTransform("odom", "body_imu", ros::Time(0));
  }));

  // Odometry, integrated independently.
  double ox = 0, oy = 0, oth = 0;
  for (int i = 0; i < kTicks; ++i) {
    const double v = 0.25, w = (0.3 - 0.2) / 0.164;
    ox += std::cos(oth) * v * 0.02;
    oy += std::sin(oth) * v * 0.02;
    oth += w * 0.02;
  }
  const Pose odom_base = make_pose(ox, oy, 0, 0, 0, oth);
  const Pose head = compose(compose(compose(compose(odom_base, make_pose(0, 0, 0.045, 0, tilt, 0)),
                                            make_pose(0.0022, 0, 0.0357, 0, lift, 0)),
                                    make_pose(0, 0, 0.1201, 0, 0, yaw)),
                            make_pose(0, 0, 0, 0, pitch, 0));
  const double q = std::acos(-1.0) / 4;
  const Pose cams = compose(head, make_pose(0.0377, 0, 0.0568, 0, -q, 0));
  const double eye = 27.0 * std::acos(-1.0) / 180.0;
  const double half_pi = std::acos(-1.0) / 2;
  const Pose left =
      compose(compose(cams, make_pose(0, 0.0431, 0, 0, 0, eye)), make_pose(0, 0, 0, -half_pi, 0, -half_pi));
  const Pose right =
      compose(compose(cams, make_pose(0, -0.0431, 0, 0, 0, -eye)), make_pose(0, 0, 0, -half_pi, 0, -half_pi));

  expect_pose(buffer.lookupTransform("odom", "head_caml_optical", ros::Time(0)), left, "left eye");
  expect_pose(buffer.lookupTransform("odom", "head_camr_optical", ros::Time(0)), right, "right eye");
  expect_pose(buffer.lookupTransform("odom", "head_sonar", ros::Time(0)),
              compose(head, make_pose(0.082, 0, 0.035, 0, 0, 0)), "sonar");
  expect_pose(buffer.lookupTransform("odom", "body_imu", ros::Time(0)),
              compose(compose(odom_base, make_pose(0, 0, 0.045, 0, tilt, 0)),
                      make_pose(-0.095, 0.048, 0.01, 0, 0, 0)),
              "body imu");

  // The map frame puts base_link at the ground-truth pose.
  expect_pose(buffer.lookupTransform("map", "base_link", ros::Time(0)), make_pose(px, py, 0, 0, 0, pth),
              "ground truth");
  const Pose map_odom_rot = make_pose(0, 0, 0, 0, 0, pth - oth);
  const double tx = px - (map_odom_rot.R[0][0] * ox + map_odom_rot.R[0][1] * oy);
  const double ty = py - (map_odom_rot.R[1][0] * ox + map_odom_rot.R[1][1] * oy);
  expect_pose(buffer.lookupTransform("map", "odom", ros::Time(0)), make_pose(tx, ty, 0, 0, 0, pth - oth),
              "map to odom");
}

TEST(Sensors, NoMapFrameOnPhysicalPlatform) {
  Robot r(0);
  std::vector<std::string> parents;
  ros::Subscriber s =
      test_nh().subscribe<tf2_msgs::TFMessage>("/tf", 100, [&](const tf2_msgs::TFMessage::ConstPtr& m) {
        for (const auto& t : m->transforms) parents.push_back(t.header.frame_id);
      });
  ASSERT_TRUE(wait_until([&] { return s.getNumPublishers() > 0; }));
  for (int i = 0; i < 5; ++i) r.tick();
  ASSERT_TRUE(wait_until([&] { return parents.size() >= 25; }));
  for (const std::string& p : parents) EXPECT_NE(p, "map");
  EXPECT_EQ(parents.size(), 25u);
}

TEST(Sensors, HardwareClockStampsAcrossWrap) {
  Robot r(NET_FLAG_SIM | NET_FLAG_HW_CLOCK);
  Collector<geometry_msgs::TwistStamped> vel(test_nh(), r.topic("sensors/body_vel"));
  ASSERT_TRUE(vel.connected());
  r.platform.set_clock(999950000);
  for (int i = 0; i < 5; ++i) r.tick();  // 999950000, 999970000, 999990000, 10000, 30000
  ASSERT_TRUE(wait_until([&] { return vel.got.size() >= 5; }));
  for (size_t i = 1; i < 5; ++i) {
    const ros::Duration d = vel.got[i].header.stamp - vel.got[i - 1].header.stamp;
    EXPECT_EQ(d.toNSec(), 20000000) << i;
  }
}

TEST(Sensors, PackageEqualsSingleTopics) {
  Robot r(NET_FLAG_SIM);
  Collector<vesk2_msg::sensors_package> pkg(test_nh(), r.topic("sensors/package"));
  Collector<vesk2_msg::BatteryState> battery(test_nh(), r.topic("sensors/battery"));
  Collector<std_msgs::Float32MultiArray> cliff(test_nh(), r.topic("sensors/cliff"));
  Collector<std_msgs::UInt16> dip(test_nh(), r.topic("sensors/dip"));
  Collector<std_msgs::UInt32> flags(test_nh(), r.topic("sensors/flags"));
  Collector<sensor_msgs::Imu> imu_head(test_nh(), r.topic("sensors/imu_head"));
  Collector<sensor_msgs::Imu> imu_body(test_nh(), r.topic("sensors/imu_body"));
  Collector<sensor_msgs::JointState> joints(test_nh(), r.topic("sensors/kinematic_joints"));
  Collector<std_msgs::Float32MultiArray> light(test_nh(), r.topic("sensors/light"));
  Collector<nav_msgs::Odometry> odom(test_nh(), r.topic("sensors/odom"));
  Collector<sensor_msgs::Range> sonar(test_nh(), r.topic("sensors/sonar"));
  Collector<std_msgs::UInt16MultiArray> stream(test_nh(), r.topic("sensors/stream"));
  Collector<std_msgs::UInt16> touch_body(test_nh(), r.topic("sensors/touch_body"));
  Collector<std_msgs::UInt16> touch_head(test_nh(), r.topic("sensors/touch_head"));
  Collector<std_msgs::Float32MultiArray> cmd(test_nh(), r.topic("sensors/wheel_speed_cmd"));
  Collector<std_msgs::Float32MultiArray> emf(test_nh(), r.topic("sensors/wheel_speed_back_emf"));
  Collector<std_msgs::Float32MultiArray> opto(test_nh(), r.topic("sensors/wheel_speed_opto"));
  Collector<std_msgs::Float32MultiArray> pwm(test_nh(), r.topic("sensors/wheel_effort_pwm"));
  Collector<geometry_msgs::Pose2D> pose(test_nh(), r.topic("sensors/body_pose"));
  ASSERT_TRUE(pkg.connected() && battery.connected() && cliff.connected() && dip.connected() &&
              flags.connected() && imu_head.connected() && imu_body.connected() && joints.connected() &&
              light.connected() && odom.connected() && sonar.connected() && stream.connected() &&
              touch_body.connected() && touch_head.connected() && cmd.connected() && emf.connected() &&
              opto.connected() && pwm.connected() && pose.connected());
  const int kTicks = 3;
  for (int k = 0; k < kTicks; ++k) {
    r.platform.fill_distinct(k);
    r.platform.set_wheels(0.1f * k, 0.05f);
    r.platform.set_joints(0.1f, 0.2f * k, 0.3f, 0.4f);
    r.platform.set_body_pose(k, 2.0f * k, 0.5f);
    r.tick();
  }
  ASSERT_TRUE(wait_until([&] { return pkg.got.size() >= kTicks && pose.got.size() >= kTicks; }));
  for (int k = 0; k < kTicks; ++k) {
    const vesk2_msg::sensors_package& p = pkg.got[k];
    EXPECT_EQ(p.header.seq, static_cast<uint32_t>(k));
    EXPECT_EQ(p.header.frame_id, "");
    EXPECT_EQ(p.header.stamp, odom.got[k].header.stamp);
    EXPECT_EQ(bytes(p.battery), bytes(battery.got[k])) << k;
    EXPECT_EQ(bytes(p.cliff), bytes(cliff.got[k])) << k;
    EXPECT_EQ(bytes(p.dip), bytes(dip.got[k])) << k;
    EXPECT_EQ(bytes(p.flags), bytes(flags.got[k])) << k;
    EXPECT_EQ(bytes(p.imu_head), bytes(imu_head.got[k])) << k;
    EXPECT_EQ(bytes(p.imu_body), bytes(imu_body.got[k])) << k;
    EXPECT_EQ(bytes(p.kinematic_joints), bytes(joints.got[k])) << k;
    EXPECT_EQ(bytes(p.light), bytes(light.got[k])) << k;
    EXPECT_EQ(bytes(p.odom), bytes(odom.got[k])) << k;
    EXPECT_EQ(bytes(p.sonar), bytes(sonar.got[k])) << k;
    EXPECT_EQ(bytes(p.stream), bytes(stream.got[k])) << k;
    EXPECT_EQ(bytes(p.touch_body), bytes(touch_body.got[k])) << k;
    EXPECT_EQ(bytes(p.touch_head), bytes(touch_head.got[k])) << k;
    EXPECT_EQ(bytes(p.wheel_speed_cmd), bytes(cmd.got[k])) << k;
    EXPECT_EQ(bytes(p.wheel_speed_back_emf), bytes(emf.got[k])) << k;
    EXPECT_EQ(bytes(p.wheel_speed_opto), bytes(opto.got[k])) << k;
    EXPECT_EQ(bytes(p.wheel_effort_pwm), bytes(pwm.got[k])) << k;
    EXPECT_EQ(bytes(p.body_pose), bytes(pose.got[k])) << k;
  }
  // Spot checks of the single topics against the record.
  const vesk2_msg::sensors_package& p = pkg.got[2];
  EXPECT_EQ(p.stream.data, (std::vector<uint16_t>{12, 22}));
  EXPECT_EQ(p.kinematic_joints.name, (std::vector<std::string>{"tilt", "lift", "yaw", "pitch"}));
  EXPECT_EQ(p.kinematic_joints.position[1], static_cast<double>(0.4f));
  EXPECT_EQ(p.kinematic_joints.effort[3], static_cast<double>(0.4f + 2));
  EXPECT_TRUE(p.kinematic_joints.velocity.empty());
  EXPECT_EQ(p.wheel_speed_opto.layout.dim.size(), 1u);
  EXPECT_EQ(p.wheel_speed_opto.layout.dim[0].label, "side");
  EXPECT_EQ(p.wheel_speed_opto.data, (std::vector<float>{0.2f, 0.05f}));
  EXPECT_EQ(p.wheel_speed_back_emf.data[1], 0.04f + 2);
  EXPECT_EQ(p.dip.data, 0x0f2);
  EXPECT_EQ(p.flags.data, (0x102u | 0x8000u));
  EXPECT_EQ(p.body_pose.y, 4.0);
}

}  // namespace
