// The whole loop, end to end: a push to kinemod on "/vesk/core/mpg/push" becomes its
// cmd_vel, which reaches the plug-in through the robot ROS interface, turns the wheels of
// the stand-in world, and comes back as odometry in "/vesk/sensors/package" moving in the
// pushed direction. kinemod runs as its own process, started by rostest.
#include <gtest/gtest.h>
#include <vesk2_msg/push.h>

#include <cmath>
#include <memory>

#include "ros_probe.h"
#include "test_host.h"

using namespace vesk_test;

namespace {

constexpr int kFoot = 0;                  // link index of the wheeled base
constexpr uint32_t kPushVelocity = 0x02;  // pushvec is a velocity [m/s]

TEST(EndToEnd, PushMovesTheSimulatedRobot) {
  MakeConfigDir("e2e", "");
  RobotWorld world;
  gs::ModelPluginInstance plugin(PluginLibrary(), "vesk_gazebo");
  plugin.Load(world.model);
  RosProbe probe("vesk");
  ASSERT_TRUE(probe.WaitConnected());
  ros::Publisher push = probe.nh.advertise<vesk2_msg::push>("core/mpg/push", 10);
  unsigned commands = 0;
  boost::function<void(const geometry_msgs::TwistStamped::ConstPtr&)> on_cmd =
      [&commands](const geometry_msgs::TwistStamped::ConstPtr&) { ++commands; };
  ros::Subscriber kinemod_cmd =
      probe.nh.subscribe<geometry_msgs::TwistStamped>("control/cmd_vel", 10, on_cmd);
  // kinemod is up when it listens for pushes, publishes cmd_vel and takes packages.
  ASSERT_TRUE(probe.WaitFor(
      [&]() {
        return push.getNumSubscribers() > 0 && kinemod_cmd.getNumPublishers() > 0 &&
               probe.pub_cmd_vel.getNumSubscribers() > 0;
      },
      30.0))
      << "kinemod did not come up";

  // The cliff sensors see the floor close by, so the reflex leaves the wheels alone.
  gs::UpdateSonar(world.cliff_l, 0.03);
  gs::UpdateSonar(world.cliff_r, 0.03);

  // Push a point ahead of the base forward at 0.2 m/s for about 1.5 s of simulation time.
  vesk2_msg::push p;
  p.link = kFoot;
  p.flags = kPushVelocity;
  p.pushpos.x = 0.1;
  p.pushvec.x = 0.2;
  double x = 0, y = 0;
  for (int tick = 0; tick < 75; ++tick) {
    const unsigned answered = commands;
    push.publish(p);
    // kinemod answers every push with a velocity command; the interface takes it in at the tick.
    ASSERT_TRUE(probe.WaitFor([&]() { return commands > answered; }, 10.0)) << "kinemod did not answer";
    const unsigned before = probe.packages;
    world.StepTick();
    ASSERT_TRUE(probe.WaitFor([&]() { return probe.packages > before; }, 3.0));
    x = probe.package.odom.pose.pose.position.x;
    y = probe.package.odom.pose.pose.position.y;
  }
  RecordProperty("odom_x_mm", static_cast<int>(x * 1000));
  RecordProperty("odom_y_mm", static_cast<int>(y * 1000));
  // The wheels turned forward and the odometry moved along +x, not sideways.
  EXPECT_GT(world.JointPtr("::vesk_body::body_wheel_lh")->Position(0), 0.5);
  EXPECT_GT(world.JointPtr("::vesk_body::body_wheel_rh")->Position(0), 0.5);
  // 0.2 m/s for 1.5 s is 0.3 m; the wheels lag the commands by a tick or two.
  EXPECT_GT(x, 0.15);
  EXPECT_LT(x, 0.45);
  EXPECT_LT(std::fabs(y), 0.2 * x);
  EXPECT_GT(probe.package.odom.twist.twist.linear.x, 0.0);
  EXPECT_GT(commands, 0u);  // kinemod's velocity commands were on the wire
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  ros::init(argc, argv, "vesk_gazebo_e2e", ros::init_options::NoSigintHandler);
  return RUN_ALL_TESTS();
}
