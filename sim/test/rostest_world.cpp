// The headless simulator's world through ROS: two robots in one world keep their topics
// and their frame trees apart (each under its name as frame prefix), and a world reset stops a driving robot
// with the next tick carrying stamp 0. The world runs as fast as possible; everything here is paced by the
// robots' own ticks.
#include <geometry_msgs/TwistStamped.h>
#include <gtest/gtest.h>
#include <ros/ros.h>
#include <sensor_msgs/Image.h>
#include <std_msgs/String.h>
#include <std_srvs/Empty.h>
#include <tf2_ros/buffer.h>
#include <tf2_ros/transform_listener.h>
#include <vesk2_msg/sensors_package.h>

#include <cmath>
#include <deque>
#include <mutex>

#include "tick_clock.h"

namespace {

constexpr double kWaitS = 30.0;  // [s] wall time: the machine may be heavily loaded

// Spins the global queue until `done` or kWaitS of wall time have passed.
template <class Pred>
bool spin_until(Pred done) {
  const ros::WallTime end = ros::WallTime::now() + ros::WallDuration(kWaitS);
  while (!done()) {
    if (ros::WallTime::now() > end) return false;
    ros::spinOnce();
    ros::WallDuration(0.001).sleep();
  }
  return true;
}

// Collects a robot's sensors packages.
class Robot {
 public:
  Robot(ros::NodeHandle& nh, const std::string& name) {
    sub_ = nh.subscribe("/" + name + "/sensors/package", 1000, &Robot::on_package, this,
                        ros::TransportHints().tcpNoDelay());
    cmd_ = nh.advertise<geometry_msgs::TwistStamped>("/" + name + "/control/cmd_vel", 10);
  }
  // Spins until `n` more packages have arrived (false after 30 s of wall time).
  bool wait(size_t n) {
    const size_t goal = count() + n;
    return spin_until([&] { return count() >= goal; });
  }
  // Spins until the simulator takes this robot's velocity commands and sends its packages.
  bool connected() {
    return spin_until([&] { return cmd_.getNumSubscribers() > 0 && sub_.getNumPublishers() > 0; });
  }
  size_t count() const { return packages_.size(); }
  const vesk2_msg::sensors_package& last() const { return packages_.back(); }
  const std::deque<vesk2_msg::sensors_package>& all() const { return packages_; }
  // Drives for `ticks` ticks, one velocity command per received package.
  void drive(double forward, int ticks) {
    for (int i = 0; i < ticks; ++i) {
      geometry_msgs::TwistStamped t;
      t.twist.linear.x = forward;
      cmd_.publish(t);
      ASSERT_TRUE(wait(1));
    }
  }

 private:
  void on_package(const vesk2_msg::sensors_package::ConstPtr& m) { packages_.push_back(*m); }
  ros::Subscriber sub_;
  ros::Publisher cmd_;
  std::deque<vesk2_msg::sensors_package> packages_;
};

TEST(TwoRobots, EachRobotsTopicsCarryOnlyItsOwnState) {
  ros::NodeHandle nh;
  Robot a(nh, "vesk"), b(nh, "vesk2");
  ASSERT_TRUE(a.connected() && b.connected());
  ASSERT_TRUE(a.wait(5));
  ASSERT_TRUE(b.wait(5));
  // Spawn poses of two_robots: vesk at 0, 0, 0; vesk2 at -0.6, 1.0 facing +y.
  EXPECT_NEAR(a.last().body_pose.x, 0.0, 1e-3);
  EXPECT_NEAR(b.last().body_pose.x, -0.6, 1e-3);
  EXPECT_NEAR(b.last().body_pose.y, 1.0, 1e-3);
  EXPECT_NEAR(b.last().body_pose.theta, 1.57, 1e-3);

  b.drive(0.2, 60);
  a.wait(2);
  // vesk2 moved along +y; vesk did not move, and neither did its odometry.
  EXPECT_GT(b.last().body_pose.y, 1.1);
  EXPECT_NEAR(b.last().body_pose.x, -0.6, 0.02);
  EXPECT_GT(b.last().odom.pose.pose.position.x, 0.1);
  EXPECT_NEAR(a.last().body_pose.x, 0.0, 1e-3);
  EXPECT_NEAR(a.last().body_pose.y, 0.0, 1e-3);
  EXPECT_EQ(a.last().odom.pose.pose.position.x, 0.0);
  EXPECT_EQ(a.last().wheel_speed_opto.data.at(0), 0.0f);
}

TEST(TwoRobots, EachRobotsFramesLieUnderItsNameAndFollowItsOwnMotion) {
  ros::NodeHandle nh;
  tf2_ros::Buffer buffer;
  tf2_ros::TransformListener listener(buffer);
  Robot a(nh, "vesk"), b(nh, "vesk2");
  ASSERT_TRUE(a.connected() && b.connected());
  ASSERT_TRUE(a.wait(5));
  ASSERT_TRUE(b.wait(5));
  // Whole trees, eyes and sensors included, under each robot's prefix.
  for (const std::string p : {"vesk/", "vesk2/"}) {
    for (int i = 0; i < 200 && !(buffer.canTransform(p + "map", p + "head_caml_optical", ros::Time(0)) &&
                                 buffer.canTransform(p + "odom", p + "body_imu", ros::Time(0)));
         ++i) {
      ASSERT_TRUE(a.wait(1));
    }
    EXPECT_TRUE(buffer.canTransform(p + "map", p + "head_caml_optical", ros::Time(0))) << p;
    EXPECT_TRUE(buffer.canTransform(p + "odom", p + "body_imu", ros::Time(0))) << p;
  }
  EXPECT_FALSE(buffer._frameExists("odom"));
  EXPECT_FALSE(buffer._frameExists("base_link"));
  EXPECT_FALSE(buffer.canTransform("vesk/odom", "vesk2/odom", ros::Time(0)));
  for (const auto* r : {&a, &b}) {
    EXPECT_EQ(r == &a ? "vesk/odom" : "vesk2/odom", r->last().odom.header.frame_id);
    EXPECT_EQ(r == &a ? "vesk/base_link" : "vesk2/base_link", r->last().odom.child_frame_id);
  }

  // vesk2 drives, vesk stands: each odom -> base_link follows its own robot.
  auto odom_x = [&](const std::string& p) {
    return buffer.lookupTransform(p + "odom", p + "base_link", ros::Time(0)).transform.translation.x;
  };
  const double a0 = odom_x("vesk/"), b0 = odom_x("vesk2/");
  b.drive(0.2, 60);
  ASSERT_TRUE(b.wait(20));  // the wheels' command runs out and the robot stands again
  ASSERT_TRUE(a.wait(2));
  EXPECT_GT(odom_x("vesk2/") - b0, 0.1);
  EXPECT_NEAR(b.last().odom.pose.pose.position.x, odom_x("vesk2/"), 0.01);
  EXPECT_EQ(a0, odom_x("vesk/"));
  EXPECT_EQ(a.last().odom.pose.pose.position.x, odom_x("vesk/"));
  // And the ground truth puts each base_link where that robot is.
  const geometry_msgs::TransformStamped ma =
      buffer.lookupTransform("vesk/map", "vesk/base_link", ros::Time(0));
  const geometry_msgs::TransformStamped mb =
      buffer.lookupTransform("vesk2/map", "vesk2/base_link", ros::Time(0));
  EXPECT_NEAR(a.last().body_pose.x, ma.transform.translation.x, 1e-3);
  EXPECT_NEAR(a.last().body_pose.y, ma.transform.translation.y, 1e-3);
  EXPECT_NEAR(b.last().body_pose.x, mb.transform.translation.x, 0.01);
  EXPECT_NEAR(b.last().body_pose.y, mb.transform.translation.y, 0.01);
  EXPECT_GT(std::abs(ma.transform.translation.y - mb.transform.translation.y), 0.5);
}

TEST(WorldReset, StopsTheRobotAndRestartsTheTickClock) {
  ros::NodeHandle nh;
  Robot r(nh, "vesk");
  ASSERT_TRUE(r.connected());
  ASSERT_TRUE(r.wait(3));
  // A robot alone in the world keeps the plain frame names.
  EXPECT_EQ("odom", r.last().odom.header.frame_id);
  EXPECT_EQ("base_link", r.last().odom.child_frame_id);
  // With the tick clock, every stamp is the clock's time base plus the tick stamp, and until
  // a reset the tick stamp of tick number seq is seq * 20 ms: the base follows from any
  // package (this node may have missed the first ticks).
  const ros::Time base = tick_clock_base(r.all().front());
  ASSERT_EQ((r.all()[1].header.stamp - r.all()[0].header.stamp).toNSec(),
            20000000ll * (r.all()[1].header.seq - r.all()[0].header.seq));

  r.drive(0.3, 50);
  const double moved = r.last().body_pose.x;
  ASSERT_GT(moved, 0.1);

  ros::ServiceClient reset = nh.serviceClient<std_srvs::Empty>("/gazebo/reset_world");
  ASSERT_TRUE(reset.waitForExistence(ros::Duration(10.0)));
  std_srvs::Empty call;
  const size_t before = r.count();
  ASSERT_TRUE(reset.call(call));
  ASSERT_TRUE(r.wait(200));

  // The first tick after the reset carries tick stamp 0, so its stamp is the time base itself.
  const size_t first = first_tick_after_reset(r.all(), before);
  ASSERT_GT(first, 0u) << "no tick after the reset";
  EXPECT_EQ(r.all()[first].header.stamp, base);
  EXPECT_EQ((r.all()[first + 1].header.stamp - base).toNSec(), 20000000);
  // Back at the spawn pose, and stopped: the velocity commanded before the reset runs out
  // within the interface's wheel timeout, after which the robot stands still.
  // The interface keeps obeying a velocity command for its wheel timeout of 10 ticks after
  // the tick that received it, so a command that arrived just before the reset can still
  // roll the robot for 11 ticks of 0.02 s at 0.3 m/s.
  const auto& end = r.last();
  EXPECT_LT(std::fabs(end.body_pose.x), 11 * 0.02 * 0.3 + 0.005);
  // (the torque-limited wheel motors settle within a few seconds: what remains then is far
  // below a micrometre per second)
  EXPECT_NEAR(end.wheel_speed_opto.data.at(0), 0.0f, 1e-6);
  EXPECT_NEAR(end.wheel_speed_opto.data.at(1), 0.0f, 1e-6);
  EXPECT_NEAR(end.body_pose.x, r.all()[r.count() - 25].body_pose.x, 1e-5);
}

TEST(Cameras, FrameCommandsResizeTheEyesAndAnImpossibleOneLeavesTheWorldRunning) {
  ros::NodeHandle nh;
  Robot r(nh, "vesk");
  std::vector<std::pair<uint32_t, uint32_t>> sizes;
  ros::Subscriber eye = nh.subscribe<sensor_msgs::Image>(
      "/vesk/sensors/caml", 100,
      [&](const sensor_msgs::Image::ConstPtr& m) { sizes.emplace_back(m->width, m->height); });
  ros::Publisher command = nh.advertise<std_msgs::String>("/vesk/control/command", 10);
  ASSERT_TRUE(r.connected());
  ASSERT_TRUE(spin_until([&] { return command.getNumSubscribers() > 0 && !sizes.empty(); }));
  EXPECT_EQ(sizes.back(), std::make_pair(640u, 360u));

  std_msgs::String c;
  c.data = "frame=180p";  // halved to 320 x 180, then two rows off top and bottom
  command.publish(c);
  EXPECT_TRUE(spin_until([&] { return sizes.back() == std::make_pair(320u, 176u); }));
  EXPECT_EQ(sizes.back(), std::make_pair(320u, 176u));

  // The eye cameras render 640 x 360: 720 rows cannot be made from them. The plug-in fails
  // those frames; the simulator drops them and keeps ticking.
  c.data = "frame=720p";
  command.publish(c);
  const size_t frames = sizes.size();
  ASSERT_TRUE(r.wait(60));
  for (size_t i = frames; i < sizes.size(); ++i) EXPECT_NE(sizes[i].first, 1280u);
  const uint32_t seq = r.last().header.seq;
  ASSERT_TRUE(r.wait(10));
  EXPECT_GT(r.last().header.seq, seq);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ros::init(argc, argv, "rostest_world");
  ::testing::GTEST_FLAG(filter) = argc > 1 ? argv[1] : "*";
  return RUN_ALL_TESTS();
}
