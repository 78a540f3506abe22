// gazebo::VESK_ModelPlugin: the Gazebo 11 model plug-in that plays the vesk robot's platform
// in simulation (shared library libvesk_gazebo, entry RegisterPlugin).
//
// Gazebo creates the object through RegisterPlugin, calls Load once with the robot's model
// (whose name is the robot name), later Reset on a world reset, and deletes it when the model
// goes. Load reads the kit's "simulation_parameters" file, finds the model's sensors, joints
// and links, gives every joint a position PID, connects the world-update-end event and the
// sensor update events, and creates the robot ROS interface (VESK_NET_INTERF). Every tick
// (TICK_PERIOD of simulation time) sends the sensor snapshot, joint angles and body pose up through
// the interface and turns the commands that come back into joint position targets.
//
// Threads: Load, Reset and the destructor run on Gazebo's loading thread, the tick on the
// world-update thread, the sensor callbacks on Gazebo's sensor threads. The sensor snapshot
// `tick_u` is guarded by `tick_u_lock`, held only while a callback writes its fields and while
// the tick or Reset copies or clears it; `pars_lock` guards what the camera threads read.
#pragma once

#include <vesk_net/interf.h>
#include <vesk_net/records.h>
#include <vesk_support/os.h>

#include <atomic>
#include <cstdint>
#include <gazebo/common/common.hh>
#include <gazebo/gazebo.hh>
#include <gazebo/physics/physics.hh>
#include <gazebo/sensors/sensors.hh>
#include <string>

#include "vesk_gazebo/image_resize.h"
#include "vesk_gazebo/joint_control.h"
#include "vesk_gazebo/sensor_coding.h"
#include "vesk_gazebo/speaker.h"

namespace gazebo {

constexpr unsigned MAX_SENSOR_COUNT = 32;

// Joint name suffixes (after the robot name) by slot of the joint table (SimJoint of
// vesk_net/records.h), as the joint controller names them; none for SIM_JOINT_NONE.
extern const char* const kJointSuffix[VESK_JOINT_COUNT_SIM];

class VESK_ModelPlugin : public ModelPlugin {
 public:
  struct State {
    double t_next_tick;  // [s] simulation time of the next tick
    int32_t tick_stamp;  // [us] tick clock
    physics::ModelPtr model;
    VESK_NET_INTERF* interf;  // owned; null until the end of Load
    event::ConnectionPtr connections[MAX_SENSOR_COUNT];
    uint32_t connection_count;
    physics::JointControllerPtr joint_controller;
    physics::JointPtr joint[VESK_JOINT_COUNT_SIM];  // by SimJoint slot; slot 0 stays empty
    physics::LinkPtr link_body;
    physics::LinkPtr link_head;
    VESK_TICK_U tick_u;  // sensor snapshot, written by the sensor callbacks
    // Resized stream 0, resized stream 1, cropped stream 0, cropped stream 1.
    unsigned char frame_buffer[4][vesk_gazebo::kFrameBufferBytes];
    double kinematic_cmd[KINEMATIC_COUNT];  // [rad] tilt, lift, yaw, pitch last commanded
    double wheel_target[2];                 // [rad] integrated wheel position targets, left, right
    uint32_t sensor_count;
    double wheel_angle_prev[2];  // [rad] wheel angles at the previous tick
    // Set by Reset: the wheels' targets and previous angles are taken from the wheels' angles
    // after the next physics step (see Reset).
    bool wheels_unanchored;
    struct {
      sensors::CameraSensor* eye_l;
      sensors::CameraSensor* eye_r;
      sensors::CameraSensor* overhead;
      sensors::CameraSensor* gaze;
      sensors::ImuSensor* acc_head;
      sensors::ImuSensor* acc_body;
      sensors::SonarSensor* sonar;
      sensors::SonarSensor* cliff_l;
      sensors::SonarSensor* cliff_r;
      sensors::CameraSensor* light_fl;
      sensors::CameraSensor* light_fr;
      sensors::CameraSensor* light_rl;
      sensors::CameraSensor* light_rr;
    } sensor;
  };

  VESK_ModelPlugin();
  ~VESK_ModelPlugin() override;

  void Load(physics::ModelPtr _model, sdf::ElementPtr _sdf) override;
  void Reset() override;

  sensors::SensorPtr GetSensor(std::string name, std::string type);
  void connect(event::ConnectionPtr c);

  void ConfigureControllers();
  void SetPID(const std::string& suffix, double P, double D);
  void SetPositions(VESK_TICK_D* d);

  void OnWorldUpdateEnd();
  void OnTick();
  // The speaker's part of a tick: plays the tick's audio, queues the audio that arrived on
  // "control/stream" and writes the buffer's state into the two stream values.
  void TickSpeaker(uint16_t stream[2]);
  // Queues the audio that arrived on "control/stream" since the last call (every world update).
  void CollectAudio();

  void OnIMUUpdate(sensors::ImuSensor* s);
  void OnSonarUpdate(sensors::SonarSensor* s);
  void OnLightUpdate(sensors::CameraSensor* s);
  void OnCamUpdate(sensors::CameraSensor* s);
  void PublishCameraFrame(sensors::CameraSensor* s, int stream);
  // The frame text of a "frame=" command (what follows "frame="), checked against what the
  // cameras can deliver before it takes effect: rates above STREAM_RATE_MAX are clamped to
  // it, other rates that are not 0 or within the bounds, and sizes the eye cameras cannot
  // make from their images, are refused (the streams keep what they had). One warning per
  // run of refused or clamped frame texts.
  void ApplyFrameCommand(const std::string& frame_text);

  void RecursiveReset(physics::BasePtr e);

 private:
  void init();
  // Finds one sensor of the discovery table and keeps, disables or skips it.
  template <class S>
  S* DiscoverSensor(const std::string& name, const std::string& type, bool enabled,
                    void (VESK_ModelPlugin::*callback)(S*));
  // Sets the camera update rates from the eye streams' rates (0 deactivates), with a warning
  // for a rate that is not a frame rate; then ActivateCameras.
  void ApplyCameraRates();
  // Each image camera renders only while its rate is a frame rate and its stream is watched
  // (VESK_NET_INTERF::stream_watched): cameras nobody watches cost nothing.
  void ActivateCameras();
  // Asks the interface which streams are watched (every tick) and activates the cameras anew
  // when that changed.
  void WatchCameras();
  // Hands the interface the projection of the frame about to be published on `stream`, made
  // from a rendered w x h image (see camera_model.h); says once per stream when the camera's
  // lens has no model.
  void SetFrameCameraModel(sensors::CameraSensor* s, int stream, int w, int h, int h_fitted,
                           const vesk_gazebo::FrameImage& frame);
  // Sets a joint's position target when its slot is filled and the target is finite.
  void SetTarget(unsigned slot, double target);
  // Makes each wheel's present angle, when it reads as a number, its position target and its
  // previous angle (after a world reset; see Reset).
  void AnchorWheels();
  // The optional <frame_prefix> of the plug-in's SDF element (empty when absent), which the
  // interface puts in front of every frame id so that several robots in one world keep
  // their frame trees apart. White space around it and leading '/' are dropped.
  std::string ReadFramePrefix(const sdf::ElementPtr& sdf) const;

  uint16_t release;
  std::string robot_name;
  VESK_NET_CONFIG net_config;
  VESK_TOOL_CONFIG tool_config;
  VESK_PLATFORM_PARS platform_pars;
  int32_t verbosity;
  State state;
  os::Mutex tick_u_lock;
  // Guards the eye streams' geometry in platform_pars and state.tick_stamp between their
  // writers (the tick: frame specifications, the clock; Reset) and the camera threads
  // (PublishCameraFrame).
  os::Mutex pars_lock;
  // Sequence number of the next frame of each stream (image header seq).
  uint16_t frame_seq[4] = {0, 0, 0, 0};
  // Per stream: a frame has been dropped and said so; cleared by the next frame published.
  // A camera frame that cannot be published never raises out of the sensor callback: an
  // exception there would end Gazebo.
  std::atomic<bool> frame_drop_told[4] = {{false}, {false}, {false}, {false}};
  bool frame_spec_told = false;  // a frame specification was refused or clamped (tick thread)
  // Per eye stream: its rate is a frame rate (or 0) as ApplyCameraRates found it.
  bool stream_rate_usable[2] = {true, true};
  // Per stream: somebody watches it, as the last tick found (all until the first tick, so
  // that the cameras start as their rates say).
  bool stream_watched[4] = {true, true, true, true};
  // Per stream: the camera's lens has no camera model, and this was said (camera threads).
  std::atomic<bool> lens_told[4] = {{false}, {false}, {false}, {false}};
  // Moving-average history of the accelerometers (set 0 body, set 1 head), this robot's
  // own: several robots in one process must not average each other's readings. Zero at
  // construction, kept across Reset. Guarded by tick_u_lock.
  vesk_gazebo::ImuFilter imu_filter[2];
  // The robot's speaker ("enable_speaker", on by default). Off, the tick reports the stream
  // values 0, 0 and leaves the audio uncollected. Emptied by Reset; else used on the
  // world-update thread only.
  vesk_gazebo::Speaker speaker;
  bool speaker_enabled = true;
  bool speaker_overflow_reported = false;
};

}  // namespace gazebo
