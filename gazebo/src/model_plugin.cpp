// gazebo::VESK_ModelPlugin: creation, Load, sensor discovery, Reset and teardown.
#include "vesk_gazebo/model_plugin.h"

#include <vesk_support/qor.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>

#include "vesk_gazebo/frame_prefix.h"

namespace gazebo {

namespace {

constexpr const char* kBodyLink = "vesk_body::body";
constexpr const char* kHeadLink = "vesk_head::head";

// The platform's default pose, widened (tilt, lift, yaw, pitch).
constexpr double kDefaultKinematicCmd[KINEMATIC_COUNT] = {static_cast<double>(TICK_D_DEFAULT_TILT),
                                                          static_cast<double>(TICK_D_DEFAULT_LIFT), 0.0, 0.0};

// Parameters of "simulation_parameters" (booleans, in the order they are echoed).
struct SimParameters {
  bool use_wideanglecamera_eyes = false;
  bool enable_eyes = true;
  bool enable_gaze = true;
  bool enable_overhead = true;
  bool enable_sonar = true;
  bool enable_cliff_sensors = true;
  bool enable_light_sensors = true;
  bool enable_sun = true;
  bool enable_publish_touch = true;
  bool use_hw_clock = false;
  bool enable_speaker = true;
};

struct BoolKey {
  const char* key;
  bool SimParameters::*field;
};

const BoolKey kBoolKeys[] = {
    {"use_wideanglecamera_eyes", &SimParameters::use_wideanglecamera_eyes},
    {"enable_eyes", &SimParameters::enable_eyes},
    {"enable_gaze", &SimParameters::enable_gaze},
    {"enable_overhead", &SimParameters::enable_overhead},
    {"enable_sonar", &SimParameters::enable_sonar},
    {"enable_cliff_sensors", &SimParameters::enable_cliff_sensors},
    {"enable_light_sensors", &SimParameters::enable_light_sensors},
    {"enable_sun", &SimParameters::enable_sun},
    {"enable_publish_touch", &SimParameters::enable_publish_touch},
    {"use_hw_clock", &SimParameters::use_hw_clock},
    {"enable_speaker", &SimParameters::enable_speaker},
};

// The models nested in `model`, at any depth, each before the models nested in it.
void CollectNestedModels(const physics::ModelPtr& model, physics::Model_V* out) {
  for (const physics::ModelPtr& nested : model->NestedModels()) {
    if (!nested) continue;
    out->push_back(nested);
    CollectNestedModels(nested, out);
  }
}

// A link of `model` or of a model nested in it, by its name relative to `model`
// ("vesk_body::body"). A Gazebo model finds only its own links, by leaf or scoped name, so
// each model of the tree is asked for the full scoped name.
physics::LinkPtr FindLink(const physics::ModelPtr& model, const physics::Model_V& nested,
                          const std::string& relative_name) {
  const std::string scoped = model->GetScopedName() + "::" + relative_name;
  if (physics::LinkPtr link = model->GetLink(scoped)) return link;
  for (const physics::ModelPtr& m : nested)
    if (physics::LinkPtr link = m->GetLink(scoped)) return link;
  return physics::LinkPtr();
}

}  // namespace

std::string VESK_ModelPlugin::ReadFramePrefix(const sdf::ElementPtr& sdf) const {
  if (!sdf || !sdf->HasElement("frame_prefix")) return "";
  return vesk_gazebo::clean_frame_prefix(sdf->Get<std::string>("frame_prefix"), verbosity);
}

const char* const kJointSuffix[VESK_JOINT_COUNT_SIM] = {
    nullptr,                           // SIM_JOINT_NONE
    "::body_neck",                     // SIM_JOINT_LIFT
    "::neck_gmbl",                     // SIM_JOINT_YAW
    "::gmbl_head",                     // SIM_JOINT_PITCH
    "::vesk_head::head_eyelid_lh",     // SIM_JOINT_EYELID_L
    "::vesk_head::head_eyelid_rh",     // SIM_JOINT_EYELID_R
    "::vesk_body::body_wheel_lh",      // SIM_JOINT_WHEEL_L
    "::vesk_body::body_wheel_rh",      // SIM_JOINT_WHEEL_R
    "::vesk_head::head_ear_lh",        // SIM_JOINT_EAR_L
    "::vesk_head::head_ear_rh",        // SIM_JOINT_EAR_R
    "::vesk_tail::tail_gmbl_tail",     // SIM_JOINT_TAIL_WAG
    "::vesk_tail::body_tail_gmbl",     // SIM_JOINT_TAIL_DROOP
    "::vesk_head::head_camera_calib",  // SIM_JOINT_CAMERA_CALIB
};

VESK_ModelPlugin::VESK_ModelPlugin() {
  release = 0;
  verbosity = 2;
  std::memset(&platform_pars, 0, sizeof platform_pars);
  platform_pars.frame_flags = 0;
  platform_pars.frame_aux = 1;
  for (VESK_STREAM_PARS& s : platform_pars.stream) {
    s.stream_geom.width = 640;
    s.stream_geom.height = 360;
    s.stream_rate = 15.0f;
    s.stream_aux = 192;
  }
  state.t_next_tick = TICK_PERIOD_WIDENED;
  state.tick_stamp = 0;
  state.interf = nullptr;
  state.connection_count = 0;
  state.tick_u = VESK_TICK_U{};
  for (unsigned i = 0; i < KINEMATIC_COUNT; ++i) state.kinematic_cmd[i] = kDefaultKinematicCmd[i];
  state.wheel_target[0] = state.wheel_target[1] = 0.0;
  state.sensor_count = 0;
  state.wheel_angle_prev[0] = state.wheel_angle_prev[1] = 0.0;
  state.wheels_unanchored = false;
  state.sensor = {};
  if (verbosity > 1) std::cout << os::cout_global_elapsed() << "VESK_ModelPlugin() [ctor]" << std::endl;
  init();
}

void VESK_ModelPlugin::init() {
  release = qor::get_release();
  if (verbosity > 1)
    std::cout << os::cout_global_elapsed() << "QOR release: " << qor::release_to_string(release) << std::endl;
}

VESK_ModelPlugin::~VESK_ModelPlugin() {
  if (verbosity > 1) std::cout << os::cout_global_elapsed() << "~VESK_ModelPlugin() [dtor]" << std::endl;
  if (verbosity > 1 && speaker_enabled)
    std::cout << os::cout_global_elapsed() << "speaker: " << speaker.queued() << " samples queued, "
              << speaker.played() << " played, " << speaker.held() << " left, " << speaker.dropped()
              << " dropped (buffer full)" << std::endl;
  delete state.interf;
  state.interf = nullptr;
  state.link_head.reset();
  state.link_body.reset();
  for (int i = VESK_JOINT_COUNT_SIM - 1; i >= 0; --i) state.joint[i].reset();
  state.joint_controller.reset();
  for (int i = MAX_SENSOR_COUNT - 1; i >= 0; --i) state.connections[i].reset();
  state.model.reset();
}

void VESK_ModelPlugin::connect(event::ConnectionPtr c) {
  if (state.connection_count >= MAX_SENSOR_COUNT) os::fail("ran out of space to store sensor connections");
  state.connections[state.connection_count++] = c;
}

sensors::SensorPtr VESK_ModelPlugin::GetSensor(std::string name, std::string type) {
  name = robot_name + "::" + name;
  sensors::SensorPtr found;
  for (const sensors::SensorPtr& s : sensors::SensorManager::Instance()->GetSensors()) {
    if (s && s->ScopedName().find(name) != std::string::npos) {
      found = s;
      break;
    }
  }
  if (!found) {
    if (verbosity > 1)
      std::cout << os::cout_global_elapsed() << "could not retrieve sensor \"" << name << "\"" << std::endl;
    return found;
  }
  if (found->Type() != type) os::fail("sensor \"" + name + "\" was not of expected type \"" + type + "\"");
  if (verbosity > 2)
    std::cout << os::cout_global_elapsed() << "retrieved sensor \"" << found->ScopedName() << "\" of type \""
              << type << "\" " << (found->IsActive() ? "(active, " : "(inactive, ") << found->UpdateRate()
              << ")" << std::endl;
  return found;
}

template <class S>
S* VESK_ModelPlugin::DiscoverSensor(const std::string& name, const std::string& type, bool enabled,
                                    void (VESK_ModelPlugin::*callback)(S*)) {
  sensors::SensorPtr s = GetSensor(name, type);
  if (!s) return nullptr;
  if (!enabled) {
    if (type == "sonar") {
      s->SetActive(false);
      s->SetUpdateRate(0.0);
    } else {
      sensors::SensorManager::Instance()->RemoveSensor(s->ScopedName());
    }
    return nullptr;
  }
  s->SetActive(true);
  S* typed = std::dynamic_pointer_cast<S>(s).get();
  if (!typed)
    os::fail("sensor \"" + robot_name + "::" + name + "\" was not of expected type \"" + type + "\"");
  if (callback) connect(s->ConnectUpdated([this, typed, callback]() { (this->*callback)(typed); }));
  return typed;
}

void VESK_ModelPlugin::ApplyCameraRates() {
  // A rate outside the bounds a camera can deliver (a frame specification accepts any number)
  // is no frame rate: Gazebo would render such a camera at every physics step, or put its
  // next frame out of reach. The cameras of that stream stay off instead; rates above the
  // maximum run at the maximum.
  for (int s = 0; s < 2; ++s) {
    const float rate = platform_pars.stream[s].stream_rate;
    stream_rate_usable[s] = rate == 0.0f || (rate >= STREAM_RATE_MIN && std::isfinite(rate));
    if (!stream_rate_usable[s] && verbosity > 0) {
      std::ostringstream msg;
      msg << "camera stream " << s << " rate " << rate << " is not a frame rate (its cameras are turned off)";
      os::warn(msg.str());
    }
  }
  ActivateCameras();
}

void VESK_ModelPlugin::ActivateCameras() {
  sensors::CameraSensor* cams[4] = {state.sensor.eye_l, state.sensor.eye_r, state.sensor.overhead,
                                    state.sensor.gaze};
  const int stream_of[4] = {0, 1, 0, 0};
  for (int i = 0; i < 4; ++i) {
    if (!cams[i]) continue;
    const float rate = std::min(platform_pars.stream[stream_of[i]].stream_rate, STREAM_RATE_MAX);
    if (rate != 0.0f && stream_rate_usable[stream_of[i]]) {
      cams[i]->SetUpdateRate(rate);
      cams[i]->SetActive(stream_watched[i]);
    } else {
      cams[i]->SetActive(false);
    }
  }
}

void VESK_ModelPlugin::WatchCameras() {
  bool changed = false;
  for (unsigned i = 0; i < 4; ++i) {
    const bool watched = state.interf->stream_watched(i);
    changed = changed || watched != stream_watched[i];
    stream_watched[i] = watched;
  }
  if (changed) ActivateCameras();
}

void VESK_ModelPlugin::Load(physics::ModelPtr _model, sdf::ElementPtr _sdf) {
  if (verbosity > 1) std::cout << os::cout_global_elapsed() << "Load()" << std::endl;

  // Parameters: the booleans and frame specifications of "simulation_parameters".
  SimParameters par;
  for (const qor::KeyValuePair& kv : qor::get_parameters("simulation_parameters")) {
    if (kv.key == "frame") {
      VESK_NET_INTERF::parse_frame_spec(kv.value, &platform_pars);
      continue;
    }
    for (const BoolKey& b : kBoolKeys)
      if (kv.key == b.key) par.*b.field = qor::parse_int(kv.value.c_str()) != 0;
  }
  // Echo of the boolean parameters.
  if (verbosity > 1)
    for (const BoolKey& b : kBoolKeys)
      std::cout << os::cout_global_elapsed() << "\t" << b.key << ": " << (par.*b.field ? "true" : "false")
                << std::endl;

  // The model, its name and its sensor count. Gazebo gives every nested model ("vesk_body",
  // "vesk_head", ...) its own links, sensor count and joint controller: the robot is the
  // model with all the models nested in it.
  if (!_model) os::fail("no model given to Load");
  state.model = _model;
  robot_name = _model->GetName();
  physics::Model_V nested;
  CollectNestedModels(_model, &nested);
  state.sensor_count = _model->GetSensorCount();
  for (const physics::ModelPtr& m : nested) state.sensor_count += m->GetSensorCount();
  if (verbosity > 1) {
    std::cout << os::cout_global_elapsed() << "GetSensorCount(): " << state.sensor_count << std::endl;
    std::cout << os::cout_global_elapsed() << "SensorManager: "
              << (sensors::SensorManager::Instance()->SensorsInitialized() ? "all sensors are initialized"
                                                                           : "not initialized ****")
              << std::endl;
  }
  if (state.sensor_count > MAX_SENSOR_COUNT)
    os::fail("too many sensors in robot - increase MAX_SENSOR_COUNT");

  // Sensors: each found by name and type, connected when enabled.
  typedef sensors::CameraSensor Cam;
  const char* narrow[2] = {"vesk_head::head::eye_l_narrow", "vesk_head::head::eye_r_narrow"};
  const char* wide[2] = {"vesk_head::head::eye_l", "vesk_head::head::eye_r"};
  const bool wide_eyes = par.use_wideanglecamera_eyes;
  const char** off_names = wide_eyes ? narrow : wide;
  const char* off_type = wide_eyes ? "camera" : "wideanglecamera";
  const char** on_names = wide_eyes ? wide : narrow;
  const char* on_type = wide_eyes ? "wideanglecamera" : "camera";
  DiscoverSensor<Cam>(off_names[0], off_type, false, nullptr);
  DiscoverSensor<Cam>(off_names[1], off_type, false, nullptr);
  state.sensor.eye_l = DiscoverSensor(on_names[0], on_type, par.enable_eyes, &VESK_ModelPlugin::OnCamUpdate);
  state.sensor.eye_r = DiscoverSensor(on_names[1], on_type, par.enable_eyes, &VESK_ModelPlugin::OnCamUpdate);
  state.sensor.gaze =
      DiscoverSensor("vesk_head::head::gaze", "camera", par.enable_gaze, &VESK_ModelPlugin::OnCamUpdate);
  state.sensor.overhead = DiscoverSensor("vesk_head::head::overhead", "camera", par.enable_overhead,
                                         &VESK_ModelPlugin::OnCamUpdate);
  state.sensor.acc_head =
      DiscoverSensor("vesk_head::head::acc_head", "imu", true, &VESK_ModelPlugin::OnIMUUpdate);
  state.sensor.acc_body =
      DiscoverSensor("vesk_body::body::acc_body", "imu", true, &VESK_ModelPlugin::OnIMUUpdate);
  state.sensor.sonar =
      DiscoverSensor("vesk_head::head::sonar", "sonar", par.enable_sonar, &VESK_ModelPlugin::OnSonarUpdate);
  state.sensor.cliff_l = DiscoverSensor("vesk_body::body::cliff_l", "sonar", par.enable_cliff_sensors,
                                        &VESK_ModelPlugin::OnSonarUpdate);
  state.sensor.cliff_r = DiscoverSensor("vesk_body::body::cliff_r", "sonar", par.enable_cliff_sensors,
                                        &VESK_ModelPlugin::OnSonarUpdate);
  state.sensor.light_fl = DiscoverSensor("vesk_body::body::lightfl", "camera", par.enable_light_sensors,
                                         &VESK_ModelPlugin::OnLightUpdate);
  state.sensor.light_fr = DiscoverSensor("vesk_body::body::lightfr", "camera", par.enable_light_sensors,
                                         &VESK_ModelPlugin::OnLightUpdate);
  state.sensor.light_rl = DiscoverSensor("vesk_body::body::lightrl", "camera", par.enable_light_sensors,
                                         &VESK_ModelPlugin::OnLightUpdate);
  state.sensor.light_rr = DiscoverSensor("vesk_body::body::lightrr", "camera", par.enable_light_sensors,
                                         &VESK_ModelPlugin::OnLightUpdate);

  // Camera update rates from the stream rates.
  ApplyCameraRates();

  // Joints, each into its slot by name. The joints of nested models are handed to the model's own controller
  // (under their scoped names), which then drives every joint of the robot.
  state.joint_controller = _model->GetJointController();
  if (!state.joint_controller) os::fail("failed to get joint controller");
  {
    const std::map<std::string, physics::JointPtr> own = state.joint_controller->GetJoints();
    for (const physics::ModelPtr& m : nested) {
      for (const physics::JointPtr& j : m->GetJoints()) {
        if (j && !own.count(j->GetScopedName())) state.joint_controller->AddJoint(j);
      }
    }
  }
  const std::map<std::string, physics::JointPtr> joints = state.joint_controller->GetJoints();
  if (joints.size() > VESK_JOINT_COUNT_SIM) os::fail("joint.size() > VESK_JOINT_COUNT_SIM");
  for (const auto& j : joints) {
    const std::string& name = j.first;
    if (verbosity > 2) std::cout << os::cout_global_elapsed() << "SEARCH: " << name << std::endl;
    bool matched = false;
    for (unsigned slot = SIM_JOINT_LIFT; slot < VESK_JOINT_COUNT_SIM && !matched; ++slot) {
      if (name == robot_name + kJointSuffix[slot]) {
        state.joint[slot] = j.second;
        matched = true;
      }
    }
    if (matched) continue;
    if (name == robot_name + "::dev_fix_body_to_world") {
      std::cout << "saw developer joint \"" << name << "\"" << std::endl;
      continue;
    }
    os::fail("unrecognised joint " + name + " in joint controller");
  }

  // The body and head links (ground-truth pose).
  state.link_body = FindLink(_model, nested, kBodyLink);
  state.link_head = FindLink(_model, nested, kHeadLink);
  if (verbosity > 0) {
    if (!state.link_body) os::warn(std::string("link not found: ") + kBodyLink + " (no body pose)");
    if (!state.link_head) os::warn(std::string("link not found: ") + kHeadLink);
  }

  // Joint gains, and the tick on the end of every world update.
  ConfigureControllers();
  connect(event::Events::ConnectWorldUpdateEnd([this]() { OnWorldUpdateEnd(); }));

  // The robot's ROS interface.
  net_config.mode = NET_MODE_ROS;
  net_config.robot_name = robot_name;
  net_config.net_flags = NET_FLAG_SIM;
  if (par.use_hw_clock) net_config.net_flags |= NET_FLAG_HW_CLOCK;
  if (!par.enable_publish_touch) net_config.net_flags |= NET_FLAG_NO_TOUCH;
  net_config.frame_prefix = ReadFramePrefix(_sdf);
  speaker_enabled = par.enable_speaker;
  tool_config.verbosity = 2;
  state.interf = new VESK_NET_INTERF(&net_config, &tool_config, &platform_pars);
}

void VESK_ModelPlugin::RecursiveReset(physics::BasePtr e) {
  if (!e) return;
  if (e->HasType(physics::Base::LINK)) boost::static_pointer_cast<physics::Link>(e)->ResetPhysicsStates();
  for (unsigned int i = 0; i < e->GetChildCount(); ++i) RecursiveReset(e->GetChild(i));
}

void VESK_ModelPlugin::Reset() {
  if (verbosity > 1) std::cout << os::cout_global_elapsed() << "Reset()" << std::endl;
  if (state.model) RecursiveReset(state.model);
  {
    os::ScopedLock lock(tick_u_lock);
    state.tick_u = VESK_TICK_U{};
  }
  state.t_next_tick = TICK_PERIOD_WIDENED;
  {
    os::ScopedLock lock(pars_lock);
    state.tick_stamp = 0;
  }
  for (unsigned i = 0; i < KINEMATIC_COUNT; ++i) state.kinematic_cmd[i] = kDefaultKinematicCmd[i];
  // A world reset puts the links back but not always the wheels' angles: a joint that turns
  // without limit keeps its count of whole turns in Gazebo (ODE's hinge angle). A target of 0
  // would then make the wheels unwind every turn they made, racing the robot backwards from
  // its start. So the wheels hold the angle they have, and the first world update after the
  // reset (when the physics has settled that angle) makes it their new target and previous
  // angle. Where the reset zeroes the joints (the headless simulator), that is 0, as before.
  state.wheel_target[0] = state.wheel_target[1] = 0.0;
  state.wheel_angle_prev[0] = state.wheel_angle_prev[1] = 0.0;
  AnchorWheels();
  state.wheels_unanchored = true;
  speaker.Reset();
  VESK_TICK_D d;
  d.reset();
  SetPositions(&d);
}

GZ_REGISTER_MODEL_PLUGIN(VESK_ModelPlugin)

}  // namespace gazebo
