// Test host of the model plug-in: does what Gazebo does with a model plug-in, on the
// Gazebo 11 stand-in. It builds a world with the robot model (the joints, links and sensors
// the plug-in expects, under the model's name), obtains the plug-in from the built
// libvesk_gazebo through RegisterPlugin, calls Load, steps the world and fires the sensors'
// update events with values the test controls, calls Reset and deletes the plug-in.
#pragma once

#include <gazebo_standin/host.hh>
#include <memory>
#include <string>
#include <vector>

namespace vesk_test {

namespace gs = gazebo_standin;

// Joint suffixes after "<robot>::" in the order the host adds them.
extern const char* const kRobotJoints[12];

struct RobotOptions {
  std::string robot = "vesk";
  double step = 0.001;  // [s] physics step
  bool joint_controller = true;
  bool developer_joint = false;               // adds "<robot>::dev_fix_body_to_world"
  std::vector<std::string> extra_joints;      // further joints (relative names)
  std::vector<std::string> skip_joints;       // suffixes of kRobotJoints left out
  bool narrow_eyes_first = false;             // registers "eye_l_narrow" before "eye_l"
  unsigned extra_sensors = 0;                 // further IMUs on the body link
  bool gaze = true;                           // false: the head has no gaze camera
  std::string head_link = "vesk_head::head";  // link that carries the head's sensors
  unsigned eye_width = 1280, eye_height = 720;
};

// The simulated world with the robot model. Owns the world and destroys it at the end.
class RobotWorld {
 public:
  explicit RobotWorld(const RobotOptions& options = RobotOptions());
  ~RobotWorld();

  gs::WorldPtr world;
  gs::ModelPtr model;
  gs::LinkPtr body, head, tail;
  gazebo::sensors::WideAngleCameraSensorPtr eye_l, eye_r;
  gazebo::sensors::CameraSensorPtr eye_l_narrow, eye_r_narrow, gaze, overhead;
  gazebo::sensors::ImuSensorPtr acc_head, acc_body;
  gazebo::sensors::SonarSensorPtr sonar, cliff_l, cliff_r;
  gazebo::sensors::CameraSensorPtr light[4];  // fl, fr, rl, rr

  // Scoped name of a joint: "<robot>" + suffix.
  std::string Joint(const std::string& suffix) const { return options.robot + suffix; }
  // Position target the joint controller holds for the joint (NaN when none).
  double Target(const std::string& suffix) const;
  gs::JointPtr JointPtr(const std::string& suffix) const;
  // Steps n world updates.
  void Step(unsigned n = 1) { gs::StepWorld(world, n); }
  // Steps the updates of one platform tick (0.02 s) at the current step size.
  void StepTick();

  RobotOptions options;
};

// The plug-in library built by this package.
std::string PluginLibrary();

// Makes a fresh directory for the kit's configuration (VESK_DIR_CONFIG and VESK_DIR_QOR
// point at it) and writes "simulation_parameters" into it unless `parameters` is empty.
std::string MakeConfigDir(const std::string& tag, const std::string& parameters);

// A w x h RGB image of one value.
std::vector<unsigned char> UniformImage(unsigned w, unsigned h, unsigned char value);

}  // namespace vesk_test
