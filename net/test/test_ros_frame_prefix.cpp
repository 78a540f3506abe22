// The frame prefix: two robots on one master with prefixes "rob1/" and "rob2/" keep their
// frame trees apart on /tf and /tf_static, and every message header carries prefixed frame
// ids. (Without a prefix the plain names are checked by the other sensor and camera tests.)
#include <geometry_msgs/TwistStamped.h>
#include <nav_msgs/Odometry.h>
#include <sensor_msgs/CameraInfo.h>
#include <sensor_msgs/CompressedImage.h>
#include <sensor_msgs/Image.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/Range.h>
#include <tf2_msgs/TFMessage.h>
#include <tf2_ros/buffer.h>
#include <tf2_ros/transform_listener.h>
#include <vesk2_msg/BatteryState.h>
#include <vesk2_msg/sensors_package.h>

#include <cmath>
#include <set>

#include "ros_test_util.h"

namespace {

using vesk_test::Collector;
using vesk_test::Robot;
using vesk_test::test_nh;
using vesk_test::wait_until;

// Every frame of the robot's tree (with the map frame of a simulated platform).
const char* const kFrames[] = {"map",        "odom",        "base_link",         "body_link",
                               "neck_link",  "gimbal_link", "head_link",         "head_cams",
                               "head_caml",  "head_camr",   "head_caml_optical", "head_camr_optical",
                               "head_sonar", "head_imu",    "body_imu"};

bool starts_with(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }

TEST(FramePrefix, TwoTreesApartOnOneMaster) {
  Robot a(NET_FLAG_SIM, 1, 0, "r", "rob1/");
  Robot b(NET_FLAG_SIM, 1, 0, "r", "rob2/");
  tf2_ros::Buffer buffer;
  tf2_ros::TransformListener listener(buffer);
  std::set<std::string> frames;  // every parent and child seen on /tf and /tf_static
  auto keep = [&](const tf2_msgs::TFMessage::ConstPtr& m) {
    for (const auto& t : m->transforms) {
      frames.insert(t.header.frame_id);
      frames.insert(t.child_frame_id);
    }
  };
  ros::Subscriber s1 = test_nh().subscribe<tf2_msgs::TFMessage>("/tf", 100, keep);
  ros::Subscriber s2 = test_nh().subscribe<tf2_msgs::TFMessage>("/tf_static", 100, keep);
  ASSERT_TRUE(wait_until([&] { return s1.getNumPublishers() > 0 && s2.getNumPublishers() > 0; }));

  // Robot a drives straight, robot b turns on the spot, each with its own joints.
  a.platform.set_wheels(0.1f, 0.1f);
  b.platform.set_wheels(-0.05f, 0.05f);
  a.platform.set_joints(0.1f, 0.5f, 0.3f, -0.2f);
  b.platform.set_joints(-0.1f, 0.2f, -0.4f, 0.1f);
  a.platform.set_body_pose(1.0f, 2.0f, 0.5f);
  b.platform.set_body_pose(-1.0f, 0.0f, 0.0f);
  const int kTicks = 20;
  for (int i = 0; i < kTicks; ++i) {
    a.tick();
    b.tick();
    wait_until([] { return false; }, 0.01);
  }
  ASSERT_TRUE(wait_until([&] {
    return buffer.canTransform("rob1/map", "rob1/head_camr_optical", ros::Time(0)) &&
           buffer.canTransform("rob1/odom", "rob1/body_imu", ros::Time(0)) &&
           buffer.canTransform("rob2/map", "rob2/head_caml_optical", ros::Time(0)) &&
           buffer.canTransform("rob2/odom", "rob2/head_sonar", ros::Time(0));
  }));

  // Each robot's whole tree under its own prefix, nothing under the plain names.
  for (const char* f : kFrames) {
    EXPECT_EQ(1u, frames.count(std::string("rob1/") + f)) << f;
    EXPECT_EQ(1u, frames.count(std::string("rob2/") + f)) << f;
  }
  EXPECT_EQ(2 * sizeof(kFrames) / sizeof(kFrames[0]), frames.size());
  for (const std::string& f : frames) {
    EXPECT_TRUE(starts_with(f, "rob1/") || starts_with(f, "rob2/")) << f;
  }
  EXPECT_FALSE(buffer._frameExists("odom"));
  EXPECT_FALSE(buffer._frameExists("base_link"));
  // The two trees are not connected.
  EXPECT_FALSE(buffer.canTransform("rob1/odom", "rob2/odom", ros::Time(0)));

  // Each odometry follows its own robot's wheels.
  const geometry_msgs::TransformStamped ta =
      buffer.lookupTransform("rob1/odom", "rob1/base_link", ros::Time(0));
  const geometry_msgs::TransformStamped tb =
      buffer.lookupTransform("rob2/odom", "rob2/base_link", ros::Time(0));
  EXPECT_NEAR(0.1 * 0.02 * kTicks, ta.transform.translation.x, 1e-5);
  EXPECT_NEAR(0.0, ta.transform.rotation.z, 1e-9);
  EXPECT_NEAR(0.0, tb.transform.translation.x, 1e-6);
  const double turn = 0.1 / 0.164 * 0.02 * kTicks;  // [rad]
  EXPECT_NEAR(std::sin(turn / 2), tb.transform.rotation.z, 1e-4);
  // And each head its own joints (yaw of the gimbal).
  const geometry_msgs::TransformStamped ga =
      buffer.lookupTransform("rob1/neck_link", "rob1/gimbal_link", ros::Time(0));
  const geometry_msgs::TransformStamped gb =
      buffer.lookupTransform("rob2/neck_link", "rob2/gimbal_link", ros::Time(0));
  EXPECT_NEAR(std::sin(0.3 / 2), ga.transform.rotation.z, 1e-6);
  EXPECT_NEAR(std::sin(-0.4 / 2), gb.transform.rotation.z, 1e-6);
  // The ground truth places each base_link in its own map frame.
  const geometry_msgs::TransformStamped ma =
      buffer.lookupTransform("rob1/map", "rob1/base_link", ros::Time(0));
  EXPECT_NEAR(1.0, ma.transform.translation.x, 1e-5);
  EXPECT_NEAR(2.0, ma.transform.translation.y, 1e-5);
}

TEST(FramePrefix, MessageHeadersCarryPrefixedFrames) {
  Robot r(NET_FLAG_SIM, 1, 0, "r", "rob1/");
  Collector<nav_msgs::Odometry> odom(test_nh(), r.topic("sensors/odom"));
  Collector<geometry_msgs::TwistStamped> vel(test_nh(), r.topic("sensors/body_vel"));
  Collector<sensor_msgs::Imu> imu_body(test_nh(), r.topic("sensors/imu_body"));
  Collector<sensor_msgs::Imu> imu_head(test_nh(), r.topic("sensors/imu_head"));
  Collector<sensor_msgs::Range> sonar(test_nh(), r.topic("sensors/sonar"));
  Collector<vesk2_msg::BatteryState> battery(test_nh(), r.topic("sensors/battery"));
  Collector<vesk2_msg::sensors_package> package(test_nh(), r.topic("sensors/package"));
  Collector<sensor_msgs::Image> caml(test_nh(), r.topic("sensors/caml"));
  Collector<sensor_msgs::Image> overhead(test_nh(), r.topic("sensors/overhead"));
  ASSERT_TRUE(odom.connected() && vel.connected() && imu_body.connected() && imu_head.connected() &&
              sonar.connected() && battery.connected() && package.connected() && caml.connected() &&
              overhead.connected());
  for (int i = 0; i < 3; ++i) r.tick();
  std::vector<uint8_t> pixels(4 * 2 * 3, 7);
  VESK_MSG_FRAME f;
  std::memset(&f, 0, sizeof(f));
  f.flags = FRAME_FLAG_RAW;
  f.width = 4;
  f.height = 2;
  f.size = FRAME_HEADER_BYTES + pixels.size();
  f.data = pixels.data();
  r.interf->publish_frame(&f);
  f.stream_index = 2;
  r.interf->publish_frame(&f);
  ASSERT_TRUE(wait_until([&] {
    return odom.got.size() >= 3 && vel.got.size() >= 3 && imu_body.got.size() >= 3 &&
           imu_head.got.size() >= 3 && sonar.got.size() >= 3 && battery.got.size() >= 3 &&
           package.got.size() >= 3 && !caml.got.empty() && !overhead.got.empty();
  }));
  EXPECT_EQ("rob1/odom", odom.last().header.frame_id);
  EXPECT_EQ("rob1/base_link", odom.last().child_frame_id);
  EXPECT_EQ("rob1/base_link", vel.last().header.frame_id);
  EXPECT_EQ("rob1/body_imu", imu_body.last().header.frame_id);
  EXPECT_EQ("rob1/head_imu", imu_head.last().header.frame_id);
  EXPECT_EQ("rob1/head_sonar", sonar.last().header.frame_id);
  EXPECT_EQ("rob1/body_link", battery.last().header.frame_id);
  const vesk2_msg::sensors_package& p = package.last();
  EXPECT_EQ("rob1/odom", p.odom.header.frame_id);
  EXPECT_EQ("rob1/base_link", p.odom.child_frame_id);
  EXPECT_EQ("rob1/body_imu", p.imu_body.header.frame_id);
  EXPECT_EQ("rob1/head_imu", p.imu_head.header.frame_id);
  EXPECT_EQ("rob1/head_sonar", p.sonar.header.frame_id);
  EXPECT_EQ("rob1/body_link", p.battery.header.frame_id);
  EXPECT_EQ("rob1/head_caml_optical", caml.last().header.frame_id);
  EXPECT_EQ("rob1/head_overhead_optical", overhead.last().header.frame_id);
}

TEST(FramePrefix, CompressedImageAndCameraInfoCarryPrefixedFrames) {
  Robot r(0, 1, 0, "r", "rob2/");
  Collector<sensor_msgs::CompressedImage> img(test_nh(), r.topic("sensors/camr/compressed"));
  Collector<sensor_msgs::CameraInfo> info(test_nh(), r.topic("sensors/camr/camera_info"));
  ASSERT_TRUE(img.connected() && info.connected());
  std::vector<uint8_t> jpeg(100, 3);
  VESK_MSG_FRAME f;
  std::memset(&f, 0, sizeof(f));
  f.stream_index = 1;
  f.flags = FRAME_FLAG_JPEG;
  f.width = 640;
  f.height = 360;
  f.size = FRAME_HEADER_BYTES + jpeg.size();
  f.data = jpeg.data();
  r.interf->publish_frame(&f);
  ASSERT_TRUE(wait_until([&] { return !img.got.empty() && !info.got.empty(); }));
  EXPECT_EQ("rob2/head_camr_optical", img.last().header.frame_id);
  EXPECT_EQ("rob2/head_camr_optical", info.last().header.frame_id);
}

}  // namespace
