// The model plug-in with a "simulation_parameters" file and a real ROS master (rostest):
// the platform tick clock as time stamp source, wide-angle eyes, frame entries applied in
// file order, disabled sensors, the speaker turned off and joints the model lacks.
#include <gtest/gtest.h>
#include <std_msgs/Int16MultiArray.h>

#include <memory>

#include "ros_probe.h"
#include "test_host.h"

using namespace vesk_test;

namespace {

std::unique_ptr<RobotWorld> g_world;
std::unique_ptr<gs::ModelPluginInstance> g_plugin;
std::unique_ptr<RosProbe> g_probe;

bool TickAndReceive() {
  const unsigned before = g_probe->packages;
  g_world->StepTick();
  return g_probe->WaitFor([&]() { return g_probe->packages > before; }, 3.0);
}

TEST(PluginRosParams, LoadsWithParametersAndWarnsOfAMissingJoint) {
  MakeConfigDir("params",
                "use_wideanglecamera_eyes=1\n"
                "enable_gaze=0\n"
                "enable_sonar=0\n"
                "enable_light_sensors=-1\n"
                "enable_publish_touch=0\n"
                "use_hw_clock=2\n"
                "enable_speaker=0\n"
                "frame=720p@5\n"
                "frame=360s\n");
  RobotOptions o;
  o.skip_joints = {"::vesk_tail::tail_gmbl_tail", "::vesk_head::head_camera_calib"};
  g_world.reset(new RobotWorld(o));
  g_plugin.reset(new gs::ModelPluginInstance(PluginLibrary(), "vesk_gazebo"));
  testing::internal::CaptureStdout();
  g_plugin->Load(g_world->model);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find("**** WARNING **** \n\tjoint not found: TAIL_GMBL_TAIL\n")) << out;
  EXPECT_NE(std::string::npos, out.find("**** WARNING **** \n\tjoint not found: HEAD_CAMERA_CALIB\n")) << out;
  EXPECT_EQ(std::string::npos, out.find("saw developer joint"));
  EXPECT_NE(std::string::npos, out.find("\tuse_hw_clock: true\n"));
  EXPECT_FALSE(gs::JointPid(g_world->model, g_world->Joint("::vesk_tail::tail_gmbl_tail"), nullptr));

  g_world->Step(1);  // the sensor manager performs the removals
  EXPECT_TRUE(gs::IsRemoved(g_world->gaze));
  EXPECT_TRUE(gs::IsRemoved(g_world->eye_l_narrow));
  EXPECT_FALSE(gs::IsRemoved(g_world->eye_l));
  EXPECT_FALSE(gs::IsRemoved(g_world->sonar));
  EXPECT_FALSE(g_world->sonar->IsActive());
  EXPECT_EQ(0.0, g_world->sonar->UpdateRate());
  // "720p@5" then "360s": the rate of the first entry stays, the size of the second wins.
  EXPECT_FLOAT_EQ(5.0, g_world->overhead->UpdateRate());
  EXPECT_FLOAT_EQ(5.0, g_world->eye_r->UpdateRate());

  g_probe.reset(new RosProbe("vesk"));
  ASSERT_TRUE(g_probe->WaitConnected());
}

TEST(PluginRosParams, StampsComeFromTheTickClock) {
  g_world->Step(18);  // 19 updates so far: the first tick is one update away
  ASSERT_TRUE(TickAndReceive());
  std::vector<ros::Time> stamps{g_probe->package.header.stamp};
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(TickAndReceive());
    stamps.push_back(g_probe->package.header.stamp);
  }
  for (size_t i = 1; i < stamps.size(); ++i)
    EXPECT_EQ(ros::Duration(0, 20000000), stamps[i] - stamps[i - 1]) << i;
  // After a reset the tick clock starts from 0 again: the first stamp comes back.
  gs::ResetWorldTime(g_world->world);
  testing::internal::CaptureStdout();
  g_plugin->Reset();
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(TickAndReceive());
  EXPECT_EQ(stamps[0], g_probe->package.header.stamp);
  ASSERT_TRUE(TickAndReceive());
  EXPECT_EQ(stamps[1], g_probe->package.header.stamp);
}

TEST(PluginRosParams, WideAngleEyesAreResizedAndCropped) {
  const auto img = UniformImage(1280, 720, 200);
  const unsigned before = g_probe->caml_count;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(gs::UpdateCamera(g_world->eye_l, img.data(), 1280, 720));
  ASSERT_TRUE(g_probe->WaitFor([&]() { return g_probe->caml_count > before; }, 3.0));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find("resizing stream 0 from 1280 x 720 to 640 x 360\n")) << out;
  EXPECT_EQ(480u, g_probe->caml.width);
  EXPECT_EQ(360u, g_probe->caml.height);
  EXPECT_EQ(200, g_probe->caml.data[0]);
  // A frame carries the tick clock as the last tick left it: the stamp of the next tick.
  ASSERT_TRUE(TickAndReceive());
  const ros::Time last_tick = g_probe->package.header.stamp;
  const unsigned n = g_probe->caml_count;
  EXPECT_TRUE(gs::UpdateCamera(g_world->eye_l, img.data(), 1280, 720));
  ASSERT_TRUE(g_probe->WaitFor([&]() { return g_probe->caml_count > n; }, 3.0));
  EXPECT_EQ(last_tick + ros::Duration(0, 20000000), g_probe->caml.header.stamp);
  ASSERT_TRUE(TickAndReceive());
  EXPECT_EQ(g_probe->caml.header.stamp, g_probe->package.header.stamp);
  // Narrow eye cameras were removed: their updates reach nobody.
  EXPECT_FALSE(gs::UpdateCamera(g_world->eye_l_narrow, img.data(), 1280, 720));
}

TEST(PluginRosParams, DisabledSonarReportsNothing) {
  EXPECT_FALSE(gs::UpdateSonar(g_world->sonar, 0.5));  // inactive: no update event
  ASSERT_TRUE(TickAndReceive());
  EXPECT_EQ(0.0f, g_probe->package.sonar.range);
}

TEST(PluginRosParams, SpeakerOffKeepsReportingAnEmptyBuffer) {
  ros::NodeHandle nh;
  ros::Publisher audio = nh.advertise<std_msgs::Int16MultiArray>("/vesk/control/stream", 1);
  ASSERT_TRUE(g_probe->WaitFor([&]() { return audio.getNumSubscribers() > 0; }, 30.0));
  std_msgs::Int16MultiArray block;
  block.data.assign(320, 1000);
  // With the speaker on, the blocks would show as samples to play within a few ticks. Off,
  // every tick reports (0, 0), however long the blocks have had to arrive.
  const ros::WallTime until = ros::WallTime::now() + ros::WallDuration(1.0);
  for (int ticks = 1; ros::WallTime::now() < until; ++ticks) {
    audio.publish(block);
    ros::WallDuration(0.002).sleep();
    ASSERT_TRUE(TickAndReceive());
    ASSERT_EQ(2u, g_probe->package.stream.data.size());
    ASSERT_EQ(0, g_probe->package.stream.data[0]) << ticks;
    ASSERT_EQ(0, g_probe->package.stream.data[1]) << ticks;
  }
}

TEST(PluginRosParams, WorldKeepsRunningWhenTheInterfaceCannotBeCreated) {
  // A model name that is no valid ROS name: the interface fails at the end of Load, after
  // the world-update event was connected. Further world updates must not tick.
  RobotOptions o;
  o.robot = "9vesk";
  RobotWorld w(o);
  gs::ModelPluginInstance plugin(PluginLibrary(), "vesk_gazebo");
  testing::internal::CaptureStdout();
  EXPECT_ANY_THROW(plugin.Load(w.model));
  w.Step(100);
  testing::internal::GetCapturedStdout();
  const auto img = UniformImage(1280, 720, 1);
  EXPECT_TRUE(gs::UpdateCamera(w.eye_l, img.data(), 1280, 720));  // wide-angle eyes kept
  EXPECT_TRUE(gs::UpdateImu(w.acc_body, {0, 0, 9.81}));
  // The pacing goes on all the same: at 0.1 s the next tick is due at 0.12 s; steps of
  // 0.05 s skip one period each and say which.
  gs::SetMaxStepSize(w.world, 0.05);
  testing::internal::CaptureStdout();
  w.Step(3);
  EXPECT_EQ(
      "dropped some interface frames (0.14 to 0.16)\n"
      "dropped some interface frames (0.18 to 0.22)\n"
      "dropped some interface frames (0.24 to 0.26)\n",
      testing::internal::GetCapturedStdout());
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  ros::init(argc, argv, "vesk_gazebo_test_params", ros::init_options::NoSigintHandler);
  const int result = RUN_ALL_TESTS();
  g_probe.reset();
  g_plugin.reset();
  g_world.reset();
  return result;
}
