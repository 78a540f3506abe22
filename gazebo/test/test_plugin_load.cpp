// Load of the model plug-in through the test host, up to the point where it would open
// ROS: parameters, sensor discovery, joint table and the failures of Load. No ROS master is
// needed: every case here stops before the ROS interface is created.
#include <gtest/gtest.h>

#include <stdexcept>

#include "test_host.h"

using namespace vesk_test;
namespace sensors = gazebo::sensors;

namespace {

// Loads the plug-in into the world and returns the failure message ("" when Load returned).
std::string LoadFailure(RobotWorld& w, std::string* console = nullptr) {
  gs::ModelPluginInstance plugin(PluginLibrary(), "vesk_gazebo");
  std::string message;
  testing::internal::CaptureStdout();
  try {
    plugin.Load(w.model);
  } catch (const std::runtime_error& e) {
    message = e.what();
  }
  plugin.Release();
  const std::string out = testing::internal::GetCapturedStdout();
  if (console) *console = out;
  if (!message.empty()) {
    EXPECT_NE(std::string::npos, out.find("[ERROR] " + message + "\n")) << out;
  }
  return message;
}

TEST(PluginLoad, RegisterPluginMakesAModelPlugin) {
  testing::internal::CaptureStdout();
  gs::ModelPluginInstance plugin(PluginLibrary(), "vesk_gazebo");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(gazebo::MODEL_PLUGIN, plugin->GetType());
  EXPECT_NE(std::string::npos, out.find("VESK_ModelPlugin() [ctor]\n")) << out;
  EXPECT_NE(std::string::npos, out.find("QOR release: R")) << out;
  testing::internal::CaptureStdout();
  plugin.Release();
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find("~VESK_ModelPlugin() [dtor]"));
}

TEST(PluginLoad, JointControllerWithFourteenJointsFails) {
  MakeConfigDir("load", "");
  RobotOptions o;
  o.developer_joint = true;
  o.extra_joints = {"extra"};  // 12 + 2
  RobotWorld w(o);
  EXPECT_EQ("joint.size() > VESK_JOINT_COUNT_SIM", LoadFailure(w));
}

TEST(PluginLoad, UnknownJointFailsAndConnectionsAreReleased) {
  MakeConfigDir("load", "");
  RobotOptions o;
  o.extra_joints = {"vesk_body::mystery"};
  RobotWorld w(o);
  EXPECT_EQ("unrecognised joint vesk::vesk_body::mystery in joint controller", LoadFailure(w));
  // The sensor callbacks were connected before the failure; deleting the plug-in
  // disconnected them, so updates reach nobody (and touch no freed object).
  EXPECT_TRUE(gs::UpdateImu(w.acc_body, {0, 0, 9.81}));
  EXPECT_TRUE(gs::UpdateSonar(w.cliff_l, 0.1));
  w.Step(40);
}

TEST(PluginLoad, MissingJointControllerFails) {
  MakeConfigDir("load", "");
  RobotOptions o;
  o.joint_controller = false;
  RobotWorld w(o);
  EXPECT_EQ("failed to get joint controller", LoadFailure(w));
}

TEST(PluginLoad, SubstringMatchTakesTheFirstListedSensor) {
  // "vesk::vesk_head::head::eye_l" also matches "...::eye_l_narrow"; listed first, the
  // narrow camera is found for the wide-angle lookup and its type does not fit.
  MakeConfigDir("load", "");
  RobotOptions o;
  o.narrow_eyes_first = true;
  RobotWorld w(o);
  EXPECT_EQ("sensor \"vesk::vesk_head::head::eye_l\" was not of expected type \"wideanglecamera\"",
            LoadFailure(w));
}

TEST(PluginLoad, TooManySensorsFails) {
  MakeConfigDir("load", "");
  RobotOptions o;
  o.extra_sensors = 18;  // 15 + 18 = 33
  RobotWorld w(o);
  EXPECT_EQ("too many sensors in robot - increase MAX_SENSOR_COUNT", LoadFailure(w));
  o.extra_sensors = 17;  // exactly 32 passes the check (and fails later, at the joints)
  o.joint_controller = false;
  RobotWorld w32(o);
  EXPECT_EQ("failed to get joint controller", LoadFailure(w32));
}

TEST(PluginLoad, NonPositivePhysicsStepFails) {
  MakeConfigDir("load", "");
  for (double step : {0.0, -0.001}) {
    RobotOptions o;
    o.step = step;
    RobotWorld w(o);
    const std::string msg = LoadFailure(w);
    EXPECT_EQ(0u, msg.find("physics max step size must be positive")) << msg;
  }
}

TEST(PluginLoad, LinksOfNestedModelsAreFoundAndAMissingOneIsSaid) {
  // The body and head links lie in the nested models "vesk_body" and "vesk_head"; this
  // model's head link has another name. (The zero step ends Load after the link lookup.)
  MakeConfigDir("load", "");
  RobotOptions o;
  o.step = 0.0;
  o.head_link = "vesk_head::skull";
  RobotWorld w(o);
  std::string out;
  LoadFailure(w, &out);
  EXPECT_NE(std::string::npos, out.find("**** WARNING **** \n\tlink not found: vesk_head::head\n")) << out;
  EXPECT_EQ(std::string::npos, out.find("link not found: vesk_body::body")) << out;
}

TEST(PluginLoad, DefaultsWithoutParameterFile) {
  MakeConfigDir("load", "");
  RobotOptions o;
  o.joint_controller = false;  // stop before the ROS interface
  RobotWorld w(o);
  std::string out;
  LoadFailure(w, &out);
  const char* lines[] = {"Load()\n",
                         "\tuse_wideanglecamera_eyes: false\n",
                         "\tenable_eyes: true\n",
                         "\tenable_gaze: true\n",
                         "\tenable_overhead: true\n",
                         "\tenable_sonar: true\n",
                         "\tenable_cliff_sensors: true\n",
                         "\tenable_light_sensors: true\n",
                         "\tenable_sun: true\n",
                         "\tenable_publish_touch: true\n",
                         "\tuse_hw_clock: false\n",
                         "GetSensorCount(): 15\n",
                         "SensorManager: all sensors are initialized\n"};
  size_t at = 0;
  for (const char* l : lines) {
    const size_t found = out.find(l, at);
    ASSERT_NE(std::string::npos, found) << "missing or out of order: " << l << "\n" << out;
    at = found;
  }
  // Wide-angle eyes are removed; the narrow ones, the sonar and the rest stay active.
  gs::FlushSensorRemovals();
  EXPECT_TRUE(gs::IsRemoved(w.eye_l));
  EXPECT_TRUE(gs::IsRemoved(w.eye_r));
  EXPECT_FALSE(gs::IsRemoved(w.eye_l_narrow));
  EXPECT_TRUE(w.eye_l_narrow->IsActive());
  EXPECT_EQ(15.0, w.eye_l_narrow->UpdateRate());
  EXPECT_TRUE(w.sonar->IsActive());
  EXPECT_FALSE(gs::IsRemoved(w.gaze));
}

TEST(PluginLoad, SensorManagerNotInitialisedIsReported) {
  MakeConfigDir("load", "");
  RobotOptions o;
  o.joint_controller = false;
  RobotWorld w(o);
  gs::SetSensorsInitialized(false);
  std::string out;
  LoadFailure(w, &out);
  gs::SetSensorsInitialized(true);
  EXPECT_NE(std::string::npos, out.find("SensorManager: not initialized ****\n")) << out;
}

TEST(PluginLoad, ParameterValuesAndDisabledSensors) {
  MakeConfigDir("load",
                "# test parameters\n"
                "use_wideanglecamera_eyes=2\n"
                "enable_sonar=0\n"
                "enable_gaze=0\n"
                "enable_light_sensors=-1\n"
                "enable_cliff_sensors=0\n"
                "use_hw_clock=-1\n"
                "Enable_sun=0\n"  // keys are case-sensitive: ignored
                "enable_overhead=0\n"
                "enable_overhead=5\n"  // a later pair overrides
                "frame=360s@5\n"
                "frame=@7\n");
  RobotOptions o;
  o.joint_controller = false;
  RobotWorld w(o);
  std::string out;
  LoadFailure(w, &out);
  EXPECT_NE(std::string::npos, out.find("\tuse_wideanglecamera_eyes: true\n"));
  EXPECT_NE(std::string::npos, out.find("\tenable_sonar: false\n"));
  EXPECT_NE(std::string::npos, out.find("\tenable_light_sensors: true\n"));
  EXPECT_NE(std::string::npos, out.find("\tuse_hw_clock: true\n"));
  EXPECT_NE(std::string::npos, out.find("\tenable_sun: true\n"));
  EXPECT_NE(std::string::npos, out.find("\tenable_overhead: true\n"));
  gs::FlushSensorRemovals();
  // Wide-angle eyes kept, narrow ones removed.
  EXPECT_FALSE(gs::IsRemoved(w.eye_l));
  EXPECT_TRUE(gs::IsRemoved(w.eye_l_narrow));
  EXPECT_TRUE(gs::IsRemoved(w.eye_r_narrow));
  // Sonar-type sensors stay in the world, inactive at rate 0; other types are removed.
  EXPECT_FALSE(gs::IsRemoved(w.sonar));
  EXPECT_FALSE(w.sonar->IsActive());
  EXPECT_EQ(0.0, w.sonar->UpdateRate());
  EXPECT_FALSE(w.cliff_l->IsActive());
  EXPECT_FALSE(w.cliff_r->IsActive());
  EXPECT_TRUE(gs::IsRemoved(w.gaze));
  EXPECT_FALSE(gs::IsRemoved(w.light[0]));
  // Both frame entries applied in order: the rate of the second (7) wins over the first (5).
  EXPECT_TRUE(w.overhead->IsActive());
  EXPECT_FLOAT_EQ(7.0, w.overhead->UpdateRate());
  EXPECT_FLOAT_EQ(7.0, w.eye_l->UpdateRate());
}

TEST(PluginLoad, DisabledEyesAreRemovedAndAMissingSensorIsSkipped) {
  MakeConfigDir("load", "enable_eyes=0\n");
  RobotOptions o;
  o.joint_controller = false;
  o.gaze = false;
  RobotWorld w(o);
  std::string out;
  LoadFailure(w, &out);
  EXPECT_NE(std::string::npos, out.find("] could not retrieve sensor \"vesk::vesk_head::head::gaze\"\n"))
      << out;
  EXPECT_NE(std::string::npos, out.find("\tenable_eyes: false\n")) << out;
  gs::FlushSensorRemovals();
  // Both kinds of eye camera leave the world; the others stay and report.
  EXPECT_TRUE(gs::IsRemoved(w.eye_l));
  EXPECT_TRUE(gs::IsRemoved(w.eye_r));
  EXPECT_TRUE(gs::IsRemoved(w.eye_l_narrow));
  EXPECT_TRUE(gs::IsRemoved(w.eye_r_narrow));
  EXPECT_FALSE(gs::IsRemoved(w.overhead));
  EXPECT_TRUE(w.overhead->IsActive());
  EXPECT_FALSE(gs::IsRemoved(w.light[0]));
}

TEST(PluginLoad, ZeroStreamRateLeavesCamerasInactive) {
  MakeConfigDir("load", "frame=@0\n");
  RobotOptions o;
  o.joint_controller = false;
  RobotWorld w(o);
  LoadFailure(w);
  EXPECT_FALSE(w.eye_l_narrow->IsActive());
  EXPECT_FALSE(w.eye_r_narrow->IsActive());
  EXPECT_FALSE(w.overhead->IsActive());
  EXPECT_FALSE(w.gaze->IsActive());
  EXPECT_TRUE(w.acc_head->IsActive());
}

TEST(PluginLoad, NegativeOrInfiniteStreamRateTurnsTheCamerasOff) {
  for (const char* rate : {"-5", "inf"}) {
    MakeConfigDir("load", std::string("frame=@") + rate + "\n");
    RobotOptions o;
    o.joint_controller = false;
    RobotWorld w(o);
    std::string out;
    LoadFailure(w, &out);
    EXPECT_NE(std::string::npos, out.find("**** WARNING **** \n\tcamera stream 0 rate ")) << out;
    EXPECT_NE(std::string::npos, out.find("is not a frame rate (its cameras are turned off)\n")) << out;
    EXPECT_FALSE(w.eye_l_narrow->IsActive()) << rate;
    EXPECT_FALSE(w.eye_r_narrow->IsActive()) << rate;
    EXPECT_FALSE(w.overhead->IsActive()) << rate;
    EXPECT_FALSE(w.gaze->IsActive()) << rate;
    EXPECT_EQ(15.0, w.gaze->UpdateRate()) << rate;  // the rate was not handed on
  }
}

}  // namespace

namespace {
TEST(PluginLoad, CameraFrameBeforeTheInterfaceIsSkipped) {
  // Load stops after connecting the sensors and before creating the ROS interface; a
  // camera update then has no interface to publish to and is dropped.
  MakeConfigDir("load", "");
  RobotOptions o;
  o.joint_controller = false;
  RobotWorld w(o);
  gs::ModelPluginInstance plugin(PluginLibrary(), "vesk_gazebo");
  testing::internal::CaptureStdout();
  EXPECT_THROW(plugin.Load(w.model), std::runtime_error);
  const auto img = UniformImage(1280, 720, 7);
  EXPECT_TRUE(gs::UpdateCamera(w.eye_l_narrow, img.data(), 1280, 720));
  EXPECT_TRUE(gs::UpdateCamera(w.gaze, img.data(), 640, 360));
  // Other sensors still feed the snapshot.
  EXPECT_TRUE(gs::UpdateImu(w.acc_head, {1, 2, 3}));
  plugin.Release();
  EXPECT_EQ(std::string::npos, testing::internal::GetCapturedStdout().find("resizing stream"));
}
}  // namespace
