// Several robots in one process, each with its own plug-in object in a stand-in world of its
// own, against a real ROS master (rostest): the <frame_prefix> element of each plug-in's SDF
// element reaches its interface, and each plug-in filters its own accelerometers.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "ros_probe.h"
#include "test_host.h"

using namespace vesk_test;

namespace {

// One robot: world, plug-in and the ROS probe of its topics.
struct Robot {
  std::unique_ptr<RobotWorld> world;
  std::unique_ptr<gs::ModelPluginInstance> plugin;
  std::unique_ptr<RosProbe> probe;
  std::string out;  // console output of Load

  // Loads the plug-in with an SDF element that has a <frame_prefix> child holding `prefix`,
  // or none when `with_prefix` is false.
  void Load(const std::string& name, bool with_prefix, const std::string& prefix) {
    RobotOptions o;
    o.robot = name;
    world.reset(new RobotWorld(o));
    plugin.reset(new gs::ModelPluginInstance(PluginLibrary(), "vesk_gazebo"));
    sdf::ElementPtr sdf = std::make_shared<sdf::Element>();
    sdf->SetName("plugin");
    if (with_prefix) sdf->AddElement("frame_prefix")->Set(prefix);
    testing::internal::CaptureStdout();
    plugin->Load(world->model, sdf);
    out = testing::internal::GetCapturedStdout();
    probe.reset(new RosProbe(name));
  }

  // Takes in packages still on their way, ticks once and waits for that tick's package.
  bool TickAndReceive() {
    unsigned n;
    do {
      n = probe->packages;
    } while (probe->WaitFor([&]() { return probe->packages > n; }, 0.05));
    world->StepTick();
    return probe->WaitFor([&]() { return probe->packages > n; }, 3.0);
  }
};

Robot g_rob[3];

TEST(PluginTwoRobots, LoadWithAndWithoutFramePrefix) {
  MakeConfigDir("two", "");
  g_rob[0].Load("rob1", true, "rob1/");
  g_rob[1].Load("rob2", false, "");
  g_rob[2].Load("rob3", true, " /rob3/\n");
  for (Robot& r : g_rob) ASSERT_TRUE(r.probe->WaitConnected());
  EXPECT_NE(std::string::npos, g_rob[0].out.find("] frame prefix: \"rob1/\"\n")) << g_rob[0].out;
  EXPECT_EQ(std::string::npos, g_rob[1].out.find("frame prefix")) << g_rob[1].out;
  EXPECT_NE(std::string::npos,
            g_rob[2].out.find("**** WARNING **** \n\tframe_prefix may not begin with '/': using \"rob3/\"\n"))
      << g_rob[2].out;
}

TEST(PluginTwoRobots, EachRobotsFramesCarryItsOwnPrefix) {
  for (Robot& r : g_rob) ASSERT_TRUE(r.TickAndReceive());
  const char* prefix[3] = {"rob1/", "", "rob3/"};
  for (int i = 0; i < 3; ++i) {
    const vesk2_msg::sensors_package& p = g_rob[i].probe->package;
    const std::string f = prefix[i];
    EXPECT_EQ(f + "odom", p.odom.header.frame_id) << i;
    EXPECT_EQ(f + "base_link", p.odom.child_frame_id) << i;
    EXPECT_EQ(f + "body_imu", p.imu_body.header.frame_id) << i;
    EXPECT_EQ(f + "head_imu", p.imu_head.header.frame_id) << i;
    EXPECT_EQ(f + "head_sonar", p.sonar.header.frame_id) << i;
  }
}

TEST(PluginTwoRobots, EachPluginFiltersItsOwnAccelerometers) {
  // Interleaved readings: robot 1 feels +g on its body z and head x, robot 2 -g/2 on the
  // same axes. Each average starts from zero and sees only its own robot's readings.
  const double g = 9.81;
  const double counts_per_ms2 = 8192 / 9.81;
  const double reading[2] = {g, -g / 2};
  for (int n = 1; n <= 4; ++n) {
    for (int i = 0; i < 2; ++i) {
      gs::UpdateImu(g_rob[i].world->acc_body, {0, 0, reading[i]});
      gs::UpdateImu(g_rob[i].world->acc_head, {reading[i], 0, 0});
    }
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(g_rob[i].TickAndReceive());
      const double mean = std::min(n, 3) * reading[i] / 3;
      const double expect = std::trunc(mean * counts_per_ms2 - std::copysign(1e-9, mean)) / counts_per_ms2;
      const vesk2_msg::sensors_package& p = g_rob[i].probe->package;
      EXPECT_NEAR(expect, p.imu_body.linear_acceleration.z, 1e-6) << "robot " << i << " reading " << n;
      EXPECT_NEAR(expect, p.imu_head.linear_acceleration.x, 1e-6) << "robot " << i << " reading " << n;
    }
  }
  // The known sequence of the first robot: 2730, 5461, then 8191 counts.
  EXPECT_NEAR(8191 * 9.81 / 8192, g_rob[0].probe->package.imu_body.linear_acceleration.z, 1e-6);
  // The third robot had no reading at all.
  EXPECT_TRUE(g_rob[2].TickAndReceive());
  EXPECT_EQ(0.0, g_rob[2].probe->package.imu_body.linear_acceleration.z);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  ros::init(argc, argv, "vesk_gazebo_two_robots_test", ros::init_options::NoSigintHandler);
  const int result = RUN_ALL_TESTS();
  for (Robot& r : g_rob) {  // the last interface deleted shuts ROS down
    r.probe.reset();
    r.plugin.reset();
    r.world.reset();
  }
  return result;
}
