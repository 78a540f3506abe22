// Test host of the model plug-in (see test_host.h).
#include "test_host.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>

namespace vesk_test {

const char* const kRobotJoints[12] = {
    "::vesk_body::body_wheel_lh",
    "::vesk_body::body_wheel_rh",
    "::body_neck",
    "::neck_gmbl",
    "::gmbl_head",
    "::vesk_head::head_eyelid_lh",
    "::vesk_head::head_eyelid_rh",
    "::vesk_head::head_ear_lh",
    "::vesk_head::head_ear_rh",
    "::vesk_tail::body_tail_gmbl",
    "::vesk_tail::tail_gmbl_tail",
    "::vesk_head::head_camera_calib",
};

RobotWorld::RobotWorld(const RobotOptions& opt) : options(opt) {
  world = gs::CreateWorld("default", opt.step);
  model = gs::AddModel(world, opt.robot, opt.joint_controller);
  body = gs::AddLink(model, "vesk_body::body");
  head = gs::AddLink(model, opt.head_link);
  tail = gs::AddLink(model, "vesk_tail::tail");
  for (const char* j : kRobotJoints) {
    bool skip = false;
    for (const std::string& s : opt.skip_joints) skip = skip || s == j;
    if (!skip) gs::AddJoint(model, std::string(j).substr(2));
  }
  if (opt.developer_joint) gs::AddJoint(model, "dev_fix_body_to_world");
  for (const std::string& j : opt.extra_joints) gs::AddJoint(model, j);

  using gazebo::sensors::WideAngleCameraSensor;
  auto wide = [&](const char* name) {
    return std::static_pointer_cast<WideAngleCameraSensor>(
        gs::AddCameraSensor(head, name, opt.eye_width, opt.eye_height, 15, "wideanglecamera"));
  };
  auto narrow = [&](const char* name) {
    return gs::AddCameraSensor(head, name, opt.eye_width, opt.eye_height, 15, "camera");
  };
  if (opt.narrow_eyes_first) {
    eye_l_narrow = narrow("eye_l_narrow");
    eye_r_narrow = narrow("eye_r_narrow");
    eye_l = wide("eye_l");
    eye_r = wide("eye_r");
  } else {
    eye_l = wide("eye_l");
    eye_r = wide("eye_r");
    eye_l_narrow = narrow("eye_l_narrow");
    eye_r_narrow = narrow("eye_r_narrow");
  }
  if (opt.gaze) gaze = gs::AddCameraSensor(head, "gaze", 640, 360, 15);
  overhead = gs::AddCameraSensor(head, "overhead", 320, 180, 15);
  acc_head = gs::AddImuSensor(head, "acc_head", 50);
  acc_body = gs::AddImuSensor(body, "acc_body", 50);
  sonar = gs::AddSonarSensor(head, "sonar", 50);
  cliff_l = gs::AddSonarSensor(body, "cliff_l", 50);
  cliff_r = gs::AddSonarSensor(body, "cliff_r", 50);
  const char* lights[4] = {"lightfl", "lightfr", "lightrl", "lightrr"};
  for (int i = 0; i < 4; ++i) light[i] = gs::AddCameraSensor(body, lights[i], 8, 6, 50);
  for (unsigned i = 0; i < opt.extra_sensors; ++i)
    gs::AddImuSensor(body, "extra_imu_" + std::to_string(i), 10);
}

RobotWorld::~RobotWorld() { gs::DestroyWorld(world); }

double RobotWorld::Target(const std::string& suffix) const {
  double t = std::numeric_limits<double>::quiet_NaN();
  gs::JointTarget(model, Joint(suffix), &t);
  return t;
}

namespace {
// A joint of the model or of a model nested in it, by scoped name.
gs::JointPtr FindJoint(const gs::ModelPtr& m, const std::string& scoped) {
  if (gs::JointPtr j = m->GetJoint(scoped)) return j;
  for (const gs::ModelPtr& nested : m->NestedModels())
    if (gs::JointPtr j = FindJoint(nested, scoped)) return j;
  return gs::JointPtr();
}
}  // namespace

gs::JointPtr RobotWorld::JointPtr(const std::string& suffix) const { return FindJoint(model, Joint(suffix)); }

void RobotWorld::StepTick() {
  const double dt = world->Physics()->GetMaxStepSize();
  const unsigned n = static_cast<unsigned>(std::lround(0.02 / dt));
  Step(n < 1 ? 1 : n);
}

std::string PluginLibrary() { return VESK_GAZEBO_PLUGIN_PATH; }

namespace {
// Removes the configuration directories this process made when it exits.
struct ConfigDirs {
  std::vector<std::string> made;
  ~ConfigDirs() {
    for (const auto& dir : made) {
      std::error_code ignored;
      std::filesystem::remove_all(dir, ignored);
    }
  }
};
ConfigDirs g_config_dirs;
}  // namespace

std::string MakeConfigDir(const std::string& tag, const std::string& parameters) {
  char templ[256];
  snprintf(templ, sizeof templ, "/tmp/vesk_gazebo_%s_XXXXXX", tag.c_str());
  if (!mkdtemp(templ)) throw std::runtime_error("cannot make a configuration directory");
  const std::string dir = templ;
  g_config_dirs.made.push_back(dir);
  if (!parameters.empty()) {
    std::ofstream f(dir + "/simulation_parameters");
    f << parameters;
  }
  setenv("VESK_DIR_CONFIG", dir.c_str(), 1);
  setenv("VESK_DIR_QOR", dir.c_str(), 1);
  setenv("VESK_DIR_STATE", dir.c_str(), 1);
  return dir;
}

std::vector<unsigned char> UniformImage(unsigned w, unsigned h, unsigned char value) {
  return std::vector<unsigned char>(static_cast<size_t>(w) * h * 3, value);
}

}  // namespace vesk_test
