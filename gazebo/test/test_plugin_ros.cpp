// The model plug-in in a stand-in world with a real ROS master (rostest), default
// parameters (no "simulation_parameters" file), physics step 0.001 s. The tests run in
// order against one loaded plug-in: deleting it shuts ROS down.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "ros_probe.h"
#include "test_host.h"
#include "vesk_gazebo/joint_control.h"

using namespace vesk_test;

namespace {

const std::string kWheelL = "::vesk_body::body_wheel_lh";
const std::string kWheelR = "::vesk_body::body_wheel_rh";
const std::string kLift = "::body_neck";

std::unique_ptr<RobotWorld> g_world;
std::unique_ptr<gs::ModelPluginInstance> g_plugin;
std::unique_ptr<RosProbe> g_probe;

void Tick() {
  g_world->StepTick();
  g_probe->queue.callAvailable();
}

// Ticks (giving ROS a moment between ticks) until `done`, at most `ticks` times.
bool TickUntil(const std::function<bool()>& done, int ticks = 150) {
  for (int i = 0; i < ticks; ++i) {
    Tick();
    if (done()) return true;
    ros::WallDuration(0.005).sleep();
  }
  return false;
}

// Takes in the packages of earlier ticks still on their way (none arrives for 50 ms), so
// that the next package received is the next tick's.
void Settle() {
  unsigned n;
  do {
    n = g_probe->packages;
  } while (g_probe->WaitFor([&]() { return g_probe->packages > n; }, 0.05));
}

// One tick, then waits for its sensors package (packages of earlier ticks taken in first).
bool TickAndReceive() {
  Settle();
  const unsigned before = g_probe->packages;
  g_world->StepTick();
  return g_probe->WaitFor([&]() { return g_probe->packages > before; }, 3.0);
}

void SetFloorNear() {
  // Cliff sensors seeing the floor at 5 cm: code 15, the reflex leaves the wheels alone.
  gs::UpdateSonar(g_world->cliff_l, 0.05);
  gs::UpdateSonar(g_world->cliff_r, 0.05);
}

struct Increments {
  double l, r;
};
// Wheel target change over one tick.
Increments WheelStep() {
  const double l0 = g_world->Target(kWheelL), r0 = g_world->Target(kWheelR);
  Tick();
  return {g_world->Target(kWheelL) - l0, g_world->Target(kWheelR) - r0};
}

TEST(PluginRos, LoadsWithDefaultsAndTheDeveloperJoint) {
  MakeConfigDir("ros", "");
  RobotOptions o;
  o.developer_joint = true;  // 12 joints of the table + 1 = 13: still loads
  g_world.reset(new RobotWorld(o));
  g_plugin.reset(new gs::ModelPluginInstance(PluginLibrary(), "vesk_gazebo"));
  testing::internal::CaptureStdout();
  g_plugin->Load(g_world->model);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find("\nsaw developer joint \"vesk::dev_fix_body_to_world\"\n")) << out;
  EXPECT_NE(std::string::npos, out.find("max_step_size = 0.001\n")) << out;
  EXPECT_NE(std::string::npos, out.find("wheels P/D: 0.2, 0.02\n")) << out;
  EXPECT_NE(std::string::npos, out.find("kinematic P/D: 0.5, 0.1\n")) << out;
  EXPECT_NE(std::string::npos, out.find("] cosmetic P/D: 0.2, 0.02\n")) << out;
  EXPECT_EQ(std::string::npos, out.find("joint not found")) << out;

  gazebo::common::PID pid;
  ASSERT_TRUE(gs::JointPid(g_world->model, g_world->Joint(kWheelL), &pid));
  EXPECT_NEAR(2.0, pid.GetPGain(), 1e-12);
  EXPECT_NEAR(0.04, pid.GetDGain(), 1e-12);
  EXPECT_NEAR(1.0, pid.GetCmdMax(), 1e-12);
  EXPECT_NEAR(-1.0, pid.GetCmdMin(), 1e-12);
  ASSERT_TRUE(gs::JointPid(g_world->model, g_world->Joint(kLift), &pid));
  EXPECT_NEAR(5.0, pid.GetPGain(), 1e-12);
  EXPECT_NEAR(0.5, pid.GetDGain(), 1e-12);
  EXPECT_NEAR(2.5, pid.GetCmdMax(), 1e-12);
  ASSERT_TRUE(gs::JointPid(g_world->model, g_world->Joint("::vesk_tail::tail_gmbl_tail"), &pid));
  EXPECT_NEAR(2.0, pid.GetPGain(), 1e-12);
  EXPECT_FALSE(gs::JointPid(g_world->model, g_world->Joint("::vesk_head::head_camera_calib"), nullptr));
  EXPECT_EQ(0.0, g_world->Target(kWheelL));

  g_probe.reset(new RosProbe("vesk"));
  ASSERT_TRUE(g_probe->WaitConnected());
}

TEST(PluginRos, TicksEveryTwentyUpdatesOfOneMillisecond) {
  ASSERT_TRUE(g_plugin);
  auto jc = g_world->model->GetJointController();
  const std::string lift = g_world->Joint(kLift);
  // A target the plug-in would never set: a tick overwrites it.
  jc->SetPositionTarget(lift, 123.0);
  g_world->Step(19);
  EXPECT_EQ(123.0, g_world->Target(kLift)) << "tick before 0.02 s";
  g_world->Step(1);
  EXPECT_NE(123.0, g_world->Target(kLift)) << "no tick at 0.02 s";
  for (int tick = 0; tick < 3; ++tick) {
    jc->SetPositionTarget(lift, 123.0);
    g_world->Step(19);
    EXPECT_EQ(123.0, g_world->Target(kLift));
    g_world->Step(1);
    EXPECT_NE(123.0, g_world->Target(kLift));
  }
  // With no command yet, the lift follows the default 34 deg through the lift correction.
  EXPECT_DOUBLE_EQ(vesk_gazebo::LiftCorrection(0.593411922454834), g_world->Target(kLift));
}

TEST(PluginRos, SensorsPackageAt50HzOfSimulationTime) {
  ASSERT_TRUE(TickAndReceive());
  const uint32_t first = g_probe->package.header.seq;
  const double t0 = g_world->world->SimTime().Double();
  for (int i = 0; i < 49; ++i) ASSERT_TRUE(TickAndReceive()) << "tick " << i;
  EXPECT_NEAR(0.98, g_world->world->SimTime().Double() - t0, 1e-9);
  EXPECT_EQ(first + 49, g_probe->package.header.seq);  // one package per tick, none lost
}

TEST(PluginRos, SensorReadingsReachThePackage) {
  const double g = 9.81;
  // The accelerometer average starts from zero: one third, two thirds, then whole.
  const double counts_per_ms2 = 8192 / 9.81;
  for (int n = 1; n <= 3; ++n) {
    gs::UpdateImu(g_world->acc_body, {0, 0, g});
    gs::UpdateImu(g_world->acc_head, {g, 0, 0});
    ASSERT_TRUE(TickAndReceive());
    const double expect = std::trunc(n * g / 3 * counts_per_ms2 - 1e-9) / counts_per_ms2;
    EXPECT_NEAR(expect, g_probe->package.imu_body.linear_acceleration.z, 2e-3) << n;
    EXPECT_NEAR(expect, g_probe->package.imu_head.linear_acceleration.x, 2e-3) << n;
  }
  EXPECT_NEAR(8191 * 9.81 / 8192, g_probe->package.imu_body.linear_acceleration.z, 1e-6);

  gs::UpdateSonar(g_world->sonar, 0.37);
  gs::UpdateSonar(g_world->cliff_l, 0.25);  // code 4
  gs::UpdateSonar(g_world->cliff_r, 0.0);   // code 8
  auto white = UniformImage(8, 6, 255);
  auto mid = UniformImage(8, 6, 128);
  gs::UpdateCamera(g_world->light[0], white.data(), 8, 6);
  gs::UpdateCamera(g_world->light[3], mid.data(), 8, 6);
  gs::SetLinkWorldPose(g_world->body, ignition::math::Pose3d(1.5, -2.0, 0.1, 0, 0, 0.75));
  ASSERT_TRUE(TickAndReceive());
  const vesk2_msg::sensors_package& p = g_probe->package;
  EXPECT_FLOAT_EQ(0.37f, p.sonar.range);
  ASSERT_EQ(2u, p.cliff.data.size());
  EXPECT_FLOAT_EQ(4 / 15.0f, p.cliff.data[0]);
  EXPECT_FLOAT_EQ(8 / 15.0f, p.cliff.data[1]);
  ASSERT_EQ(4u, p.light.data.size());
  EXPECT_FLOAT_EQ(1.0f, p.light.data[0]);
  EXPECT_NEAR(0.50196, p.light.data[3], 1e-5);
  EXPECT_FLOAT_EQ(4.8f, p.battery.voltage);
  EXPECT_FLOAT_EQ(1.5f, p.body_pose.x);
  EXPECT_FLOAT_EQ(-2.0f, p.body_pose.y);
  EXPECT_NEAR(0.75, p.body_pose.theta, 1e-6);
  ASSERT_EQ(4u, p.kinematic_joints.position.size());
  EXPECT_NEAR(-0.10471976, p.kinematic_joints.position[0], 1e-7);
  EXPECT_NEAR(g_world->JointPtr(kLift)->Position(0), p.kinematic_joints.position[1], 1e-6);
  EXPECT_EQ(0x8000u, p.flags.data);
}

TEST(PluginRos, CmdVelIsClampedOnBothWheels) {
  SetFloorNear();
  g_probe->CmdVel(1.0, 0.0);
  const double l0 = g_world->Target(kWheelL);
  ASSERT_TRUE(TickUntil([&]() { return g_world->Target(kWheelL) != l0; }));
  const double step = static_cast<double>(WHEEL_SPEED_MAX) * vesk_gazebo::kWheelAnglePerSpeed;
  EXPECT_NEAR(0.1778, step, 1e-4);
  for (int i = 0; i < 5; ++i) {
    const Increments inc = WheelStep();
    EXPECT_DOUBLE_EQ(step, inc.l) << i;
    EXPECT_DOUBLE_EQ(step, inc.r) << i;
  }
  // The wheels follow; their measured speed reaches the odometry.
  ASSERT_TRUE(TickAndReceive());
  ASSERT_EQ(2u, g_probe->package.wheel_speed_opto.data.size());
  EXPECT_NEAR(0.4, g_probe->package.wheel_speed_opto.data[0], 0.01);
  EXPECT_NEAR(0.4, g_probe->package.wheel_speed_opto.data[1], 0.01);
  EXPECT_NEAR(0.4, g_probe->package.odom.twist.twist.linear.x, 0.01);
  // One message lasts 11 ticks; then the wheels stop.
  for (int i = 0; i < 12; ++i) Tick();
  const Increments rest = WheelStep();
  EXPECT_EQ(0.0, rest.l);
  EXPECT_EQ(0.0, rest.r);
}

TEST(PluginRos, CliffReflexSlowsAndStopsForwardMotion) {
  gs::UpdateSonar(g_world->cliff_l, 0.125);  // code 8: half speed
  gs::UpdateSonar(g_world->cliff_r, 0.25);   // code 4: no forward motion
  g_probe->CmdVel(0.2, 0.0);
  const double l0 = g_world->Target(kWheelL);
  ASSERT_TRUE(TickUntil([&]() { return g_world->Target(kWheelL) != l0; }));
  const Increments inc = WheelStep();
  EXPECT_NEAR(0.1 * vesk_gazebo::kWheelAnglePerSpeed, inc.l, 1e-8);
  EXPECT_EQ(0.0, inc.r);
  // Reversing is never reduced.
  g_probe->CmdVel(-0.2, 0.0);
  ASSERT_TRUE(TickUntil([&]() { return WheelStep().r < 0; }));
  const Increments back = WheelStep();
  EXPECT_NEAR(static_cast<double>(-0.2f) * vesk_gazebo::kWheelAnglePerSpeed, back.l, 1e-12);
  EXPECT_NEAR(static_cast<double>(-0.2f) * vesk_gazebo::kWheelAnglePerSpeed, back.r, 1e-12);
  for (int i = 0; i < 12; ++i) Tick();
}

TEST(PluginRos, StraightAndStopFlags) {
  SetFloorNear();
  const double k = vesk_gazebo::kWheelAnglePerSpeed;
  // 0x1000000: both wheels at the forward speed, the turn rate ignored.
  g_probe->Flags(0x1000000);
  bool straight = false;
  for (int i = 0; i < 150 && !straight; ++i) {
    g_probe->CmdVel(0.2, 1.0);
    ros::WallDuration(0.005).sleep();
    const Increments inc = WheelStep();
    straight = inc.l > 0 && inc.l == inc.r;
  }
  ASSERT_TRUE(straight);
  g_probe->CmdVel(0.2, 1.0);
  ros::WallDuration(0.005).sleep();
  Increments inc = WheelStep();
  EXPECT_NEAR(static_cast<double>(0.2f) * k, inc.l, 1e-12);
  EXPECT_NEAR(static_cast<double>(0.2f) * k, inc.r, 1e-12);

  // 0x800000: no wheel moves whatever the speed.
  g_probe->Flags(0x800000);
  bool stopped = false;
  for (int i = 0; i < 150 && !stopped; ++i) {
    g_probe->CmdVel(0.2, 1.0);
    ros::WallDuration(0.005).sleep();
    inc = WheelStep();
    stopped = inc.l == 0 && inc.r == 0;
  }
  ASSERT_TRUE(stopped);
  for (int i = 0; i < 5; ++i) {
    g_probe->CmdVel(0.3, -1.0);
    inc = WheelStep();
    EXPECT_EQ(0.0, inc.l);
    EXPECT_EQ(0.0, inc.r);
  }
  g_probe->Flags(0);
  // Without flags the turn splits the wheels again.
  bool split = false;
  for (int i = 0; i < 150 && !split; ++i) {
    g_probe->CmdVel(0.2, 1.0);
    ros::WallDuration(0.005).sleep();
    inc = WheelStep();
    split = inc.r > inc.l && inc.l > 0;
  }
  ASSERT_TRUE(split);
  EXPECT_NEAR(static_cast<double>(0.2f - 0.082f * 1.0f) * k, inc.l, 1e-12);
  EXPECT_NEAR(static_cast<double>(0.2f + 0.082f * 1.0f) * k, inc.r, 1e-12);
  for (int i = 0; i < 12; ++i) Tick();
}

TEST(PluginRos, KinematicJointsThroughTheLiftCorrection) {
  g_probe->Kinematic(-0.2, 0.3, 0.25, -0.15);
  const double lift = vesk_gazebo::LiftCorrection(static_cast<double>(0.3f));
  ASSERT_TRUE(TickUntil([&]() { return g_world->Target(kLift) == lift; }));
  EXPECT_EQ(static_cast<double>(0.25f), g_world->Target("::neck_gmbl"));
  EXPECT_EQ(static_cast<double>(-0.15f), g_world->Target("::gmbl_head"));
  // The joints follow and are reported as they read (no inverse correction).
  for (int i = 0; i < 10; ++i) Tick();
  ASSERT_TRUE(TickAndReceive());
  EXPECT_NEAR(lift, g_probe->package.kinematic_joints.position[1], 1e-4);
  EXPECT_NEAR(0.25, g_probe->package.kinematic_joints.position[2], 1e-4);
  EXPECT_NEAR(-0.10471976, g_probe->package.kinematic_joints.position[0], 1e-7);
}

TEST(PluginRos, CosmeticTargets) {
  // Message order: droop, wag, left eyelid, right eyelid, left ear, right ear.
  g_probe->Cosmetic({0.5f, 1.0f, 0.25f, 0.75f, 0.0f, 1.0f});
  const float platform[6] = {0.5f, 1.0f, 0.0f, 1.0f, 0.25f, 0.75f};
  double t[6];
  vesk_gazebo::CosmeticTargets(platform, t);
  ASSERT_TRUE(TickUntil([&]() { return g_world->Target("::vesk_tail::body_tail_gmbl") == t[0]; }));
  EXPECT_EQ(t[1], g_world->Target("::vesk_tail::tail_gmbl_tail"));
  EXPECT_EQ(t[2], g_world->Target("::vesk_head::head_ear_lh"));
  EXPECT_EQ(t[3], g_world->Target("::vesk_head::head_ear_rh"));
  EXPECT_EQ(t[4], g_world->Target("::vesk_head::head_eyelid_lh"));
  EXPECT_EQ(t[5], g_world->Target("::vesk_head::head_eyelid_rh"));
  EXPECT_NEAR(-10 * M_PI / 180, t[0], 1e-7);
  EXPECT_NEAR(20 * M_PI / 180, t[1], 1e-7);
}

// Renders one eye frame and waits for its image; returns false when none came.
bool RenderEye(bool left, unsigned w, unsigned h, unsigned char value) {
  const auto img = UniformImage(w, h, value);
  const unsigned before = left ? g_probe->caml_count : g_probe->camr_count;
  gs::UpdateCamera(left ? g_world->eye_l_narrow : g_world->eye_r_narrow, img.data(), w, h);
  return g_probe->WaitFor([&]() { return (left ? g_probe->caml_count : g_probe->camr_count) > before; }, 3.0);
}

TEST(PluginRos, FrameCommandsChangeTheEyeImageSize) {
  testing::internal::CaptureStdout();
  ASSERT_TRUE(RenderEye(true, 1280, 720, 90));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find("resizing stream 0 from 1280 x 720 to 640 x 360\n")) << out;
  EXPECT_EQ(640u, g_probe->caml.width);
  EXPECT_EQ(360u, g_probe->caml.height);
  EXPECT_EQ(1920u, g_probe->caml.step);
  EXPECT_EQ("rgb8", g_probe->caml.encoding);
  EXPECT_EQ(90, g_probe->caml.data[1000]);
  ASSERT_TRUE(RenderEye(false, 1280, 720, 30));
  EXPECT_EQ(640u, g_probe->camr.width);
  // Each stream numbers its frames.
  const uint32_t seq = g_probe->caml.header.seq;
  ASSERT_TRUE(RenderEye(true, 1280, 720, 90));
  EXPECT_EQ(seq + 1, g_probe->caml.header.seq);

  // "frame=180w": factor 4, then 180 rows trimmed to 176.
  g_probe->Command("frame=180w");
  ASSERT_TRUE(TickUntil([&]() { return RenderEye(true, 1280, 720, 90) && g_probe->caml.width == 320u; }, 50));
  EXPECT_EQ(176u, g_probe->caml.height);
  EXPECT_EQ(320u * 176u * 3u, g_probe->caml.data.size());

  // "frame=360s": halved to 640 x 360, then the central 480 columns.
  g_probe->Command("frame=360s");
  ASSERT_TRUE(TickUntil([&]() { return RenderEye(true, 1280, 720, 90) && g_probe->caml.width == 480u; }, 50));
  EXPECT_EQ(360u, g_probe->caml.height);

  // Commands that are not frame specifications change nothing; a zero rate stops the eyes.
  g_probe->Command("frame;fram=360w;frame");
  for (int i = 0; i < 5; ++i) Tick();
  ASSERT_TRUE(RenderEye(true, 1280, 720, 90));
  EXPECT_EQ(480u, g_probe->caml.width);
  g_probe->Command("frame=@0");
  ASSERT_TRUE(TickUntil([&]() { return !g_world->eye_l_narrow->IsActive(); }, 50));
  EXPECT_FALSE(g_world->eye_r_narrow->IsActive());
  EXPECT_FALSE(g_world->overhead->IsActive());
  g_probe->Command("frame=360w@15");
  ASSERT_TRUE(TickUntil([&]() { return g_world->eye_l_narrow->IsActive(); }, 50));
  EXPECT_EQ(15.0, g_world->eye_l_narrow->UpdateRate());
}

// Frame specifications come from any node: a size the eyes cannot make from their images is
// refused, a rate beyond what a camera delivers is clamped, one too small to be a rate is
// refused; one warning per run of such specifications, and a good one takes effect at once.
TEST(PluginRos, FrameSpecificationsTheCamerasCannotServeAreRefusedOrClamped) {
  ASSERT_TRUE(TickUntil([&]() { return RenderEye(true, 1280, 720, 90) && g_probe->caml.width == 640u; }, 50));
  // The eyes render 1280 x 720: 240 rows are a third of them, but 1280 columns are not
  // three times anything.
  testing::internal::CaptureStdout();
  g_probe->Command("frame=240s@1e38");
  const bool clamped = TickUntil([&]() { return g_world->eye_l_narrow->UpdateRate() == 50.0; }, 50);
  const bool kept =
      RenderEye(true, 1280, 720, 90) && g_probe->caml.width == 640u && g_probe->caml.height == 360u;
  // Within the same run of refusals: refused again without a word; a good one follows.
  g_probe->Command("frame=@0.001;frame=180p");
  const bool resized =
      TickUntil([&]() { return RenderEye(true, 1280, 720, 90) && g_probe->caml.width == 320u; }, 50);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(clamped);
  EXPECT_TRUE(kept);
  EXPECT_TRUE(resized);
  EXPECT_EQ(50.0, g_world->eye_l_narrow->UpdateRate());
  EXPECT_EQ(50.0, g_world->eye_r_narrow->UpdateRate());
  EXPECT_TRUE(g_world->eye_l_narrow->IsActive());
  EXPECT_NE(
      std::string::npos,
      out.find("**** WARNING **** \n\tframe specification \"240s@1e38\": rate 1e+38 clamped to 50 frames per "
               "second; frame size 320 x 240 refused: the eye cameras render 1280 x 720\n"))
      << out;
  EXPECT_EQ(out.find("WARNING"), out.rfind("WARNING")) << out;
  EXPECT_EQ(std::string::npos, out.find("[ERROR]")) << out;

  g_probe->Command("frame=360w@15");
  ASSERT_TRUE(TickUntil([&]() { return RenderEye(true, 1280, 720, 90) && g_probe->caml.width == 640u; }, 50));
  EXPECT_EQ(15.0, g_world->eye_l_narrow->UpdateRate());
}

TEST(PluginRos, OverheadAndGazeKeepTheirRenderedSizeApartFromTheTrim) {
  ASSERT_TRUE(g_probe->WaitFor([]() {
    return g_probe->sub_overhead.getNumPublishers() > 0 && g_probe->sub_gaze.getNumPublishers() > 0;
  }));
  // Overhead 320 x 180, each row holding its row number: published as 176 rows from row 2.
  std::vector<unsigned char> rows(320 * 180 * 3);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<unsigned char>(i / (320 * 3));
  unsigned before = g_probe->overhead_count;
  const unsigned gaze_before = g_probe->gaze_count;
  ASSERT_TRUE(gs::UpdateCamera(g_world->overhead, rows.data(), 320, 180));
  ASSERT_TRUE(g_probe->WaitFor([&]() { return g_probe->overhead_count > before; }, 3.0));
  EXPECT_EQ(320u, g_probe->overhead.width);
  EXPECT_EQ(176u, g_probe->overhead.height);
  ASSERT_EQ(320u * 176u * 3u, g_probe->overhead.data.size());
  EXPECT_EQ(2, g_probe->overhead.data[0]);
  EXPECT_EQ(177, g_probe->overhead.data.back());
  EXPECT_EQ(gaze_before, g_probe->gaze_count);  // the overhead frame went to its own topic
  // Gaze 1280 x 720 while the eye streams are 640 x 360: neither resized nor cropped.
  const auto big = UniformImage(1280, 720, 66);
  before = g_probe->gaze_count;
  ASSERT_TRUE(gs::UpdateCamera(g_world->gaze, big.data(), 1280, 720));
  ASSERT_TRUE(g_probe->WaitFor([&]() { return g_probe->gaze_count > before; }, 3.0));
  EXPECT_EQ(1280u, g_probe->gaze.width);
  EXPECT_EQ(720u, g_probe->gaze.height);
  EXPECT_EQ(66, g_probe->gaze.data[12345]);
}

TEST(PluginRos, ResetStopsTheWheelsAndRestartsTheTickClock) {
  g_probe->Command("frame=360s");
  ASSERT_TRUE(TickUntil([&]() { return RenderEye(true, 1280, 720, 90) && g_probe->caml.width == 480u; }, 50));
  SetFloorNear();
  const double l0 = g_world->Target(kWheelL);
  g_probe->CmdVel(0.3, 0.0);
  ASSERT_TRUE(TickUntil([&]() { return g_world->Target(kWheelL) > l0; }));
  ASSERT_GT(g_world->Target(kWheelL), 0.0);

  // Gazebo's world reset puts the links back, but a wheel's angle keeps its whole turns
  // (here three and one back): the wheels hold those angles instead of unwinding them.
  gs::ResetWorldTime(g_world->world);
  gs::SetJointPosition(g_world->JointPtr(kWheelL), 6 * M_PI);
  gs::SetJointPosition(g_world->JointPtr(kWheelR), -2 * M_PI);
  testing::internal::CaptureStdout();
  g_plugin->Reset();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find("Reset()\n"));
  g_world->Step();
  EXPECT_DOUBLE_EQ(6 * M_PI, g_world->Target(kWheelL));
  EXPECT_DOUBLE_EQ(-2 * M_PI, g_world->Target(kWheelR));
  EXPECT_NEAR(0.5717, g_world->Target(kLift), 1e-4);
  EXPECT_EQ(0.0, g_world->Target("::neck_gmbl"));
  EXPECT_NEAR(-10 * M_PI / 180, g_world->Target("::vesk_head::head_ear_lh"), 1e-4);
  EXPECT_NEAR(10 * M_PI / 180, g_world->Target("::vesk_head::head_ear_rh"), 1e-4);
  EXPECT_NEAR(-22 * M_PI / 180, g_world->Target("::vesk_head::head_eyelid_lh"), 1e-6);
  EXPECT_NEAR(-32 * M_PI / 180, g_world->Target("::vesk_head::head_eyelid_rh"), 1e-6);
  EXPECT_EQ(1u, gs::LinkResetCount(g_world->body));
  EXPECT_EQ(1u, gs::LinkResetCount(g_world->head));
  EXPECT_EQ(1u, gs::LinkResetCount(g_world->tail));
  // The frame geometry that frame specifications set survives the reset.
  ASSERT_TRUE(RenderEye(true, 1280, 720, 90));
  EXPECT_EQ(480u, g_probe->caml.width);

  // The next tick is due at 0.02 s again (one update has run since the reset).
  auto jc = g_world->model->GetJointController();
  jc->SetPositionTarget(g_world->Joint(kLift), 123.0);
  g_world->Step(18);
  EXPECT_EQ(123.0, g_world->Target(kLift));
  g_world->Step(1);
  EXPECT_NE(123.0, g_world->Target(kLift));

  // The resize announcement is not repeated after a reset.
  testing::internal::CaptureStdout();
  g_probe->Command("frame=360w");
  const bool resized =
      TickUntil([&]() { return RenderEye(true, 1280, 720, 90) && g_probe->caml.width == 640u; });
  EXPECT_EQ(std::string::npos, testing::internal::GetCapturedStdout().find("resizing stream"));
  ASSERT_TRUE(resized);
  for (int i = 0; i < 15; ++i) Tick();  // the drive command lapses
}

TEST(PluginRos, NonFiniteWheelAngleDoesNotSpoilLaterSpeeds) {
  // The wheels stand still at their targets; one tick the left joint reads NaN.
  for (int i = 0; i < 5; ++i) Tick();
  const gs::JointPtr wheel = g_world->JointPtr(kWheelL);
  const double rest = g_world->Target(kWheelL);
  gs::SetJointPosition(wheel, std::nan(""));
  ASSERT_TRUE(TickAndReceive());
  EXPECT_EQ(0.0f, g_probe->package.wheel_speed_opto.data[0]);
  // Sound again and turning by about 0.02 rad over the tick: the speed comes from the last
  // sound angle, not from the NaN.
  gs::SetJointPosition(wheel, rest);
  g_world->model->GetJointController()->SetPositionTarget(g_world->Joint(kWheelL), rest + 0.02);
  ASSERT_TRUE(TickAndReceive());
  EXPECT_TRUE(std::isfinite(g_probe->package.wheel_speed_opto.data[0]));
  EXPECT_NEAR(0.045, g_probe->package.wheel_speed_opto.data[0], 0.005);
}

TEST(PluginRos, LargeStepsDropTicksAndSayTheyDid) {
  Settle();
  gs::SetMaxStepSize(g_world->world, 0.05);
  const unsigned before = g_probe->packages;
  testing::internal::CaptureStdout();
  for (int i = 0; i < 3; ++i) {
    const unsigned n = g_probe->packages;
    g_world->Step(1);
    ASSERT_TRUE(g_probe->WaitFor([&]() { return g_probe->packages > n; }, 3.0));
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(before + 3, g_probe->packages);  // one tick per world update
  size_t lines = 0;
  for (size_t at = out.find("dropped some interface frames ("); at != std::string::npos;
       at = out.find("dropped some interface frames (", at + 1))
    ++lines;
  EXPECT_EQ(3u, lines) << out;
  gs::SetMaxStepSize(g_world->world, 0.001);
}

TEST(PluginRos, CameraFrameTheStreamCannotUseIsDroppedWithOneWarning) {
  // With the stream at 640 x 360, 7680 x 720 would halve to 3840 x 360: more than a frame
  // buffer holds. Nothing may raise out of a sensor callback (it would end Gazebo): the
  // frames are dropped, said once.
  const auto img = UniformImage(7680, 720, 10);
  testing::internal::CaptureStdout();
  EXPECT_NO_THROW(gs::UpdateCamera(g_world->eye_l_narrow, img.data(), 7680, 720));
  EXPECT_NO_THROW(gs::UpdateCamera(g_world->eye_l_narrow, img.data(), 7680, 720));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::string::npos, out.find("[ERROR]")) << out;
  const std::string warning =
      "**** WARNING **** \n\tcamera frame of stream 0 dropped: frame too large for frame buffer (7680 x 720 "
      "image, stream 640 x 360); further frames dropped the same way are not reported\n";
  EXPECT_NE(std::string::npos, out.find(warning)) << out;
  EXPECT_EQ(out.find("WARNING"), out.rfind("WARNING")) << out;
  ASSERT_TRUE(RenderEye(true, 1280, 720, 5));  // and the stream goes on
  EXPECT_EQ(640u, g_probe->caml.width);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  ros::init(argc, argv, "vesk_gazebo_test", ros::init_options::NoSigintHandler);
  const int result = RUN_ALL_TESTS();
  g_probe.reset();
  g_plugin.reset();  // deletes the interface, which shuts ROS down
  g_world.reset();
  return result;
}
