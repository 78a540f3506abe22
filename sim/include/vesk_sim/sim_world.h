// The headless simulator's world: the Gazebo API stand-in's world filled from SDF files,
// one or more robots with their links, joints, joint controller and sensors, each with
// the model plug-in of its SDF loaded as Gazebo loads it, and the physics that moves them.
//
// Physics, per world step of dt (the world's max step size):
//   - every joint that the model's joint controller holds a position PID and target for
//     is driven by the PID's effort (the controller's own gains and limits) through
//     joint_step on the inertia of the subtree it carries (at least the armature that keeps
//     the PID stable at this step); joints without a PID stay put;
//   - a wheel joint (a continuous joint whose child touches the floor) also carries half
//     the robot's mass at its rim; the base then moves by differential-drive kinematics
//     from the two wheel rates less their tyres' slip (dynamics.h). A step that would push the body
//     into a solid box is not taken and the wheels stall. When the floor under the base
//     centre drops away, the robot falls under gravity to the next surface below;
//   - sensors whose update period has elapsed are computed from the world and reported:
//     IMUs read gravity plus the sensor's mean acceleration since its last report, in the
//     sensor frame; sonars and cliff sensors by ray casting (robots do not see themselves);
//     cameras by the software renderer, which also draws the other robots and the
//     robot's own links. The cameras due in one step are rendered in parallel on the
//     world's worker threads (SimOptions::threads), each image handed to its sensor from
//     the thread that drew it, one callback of a robot at a time; the step ends when all
//     are done, and the images do not depend on the number of threads.
//     A sensor callback of a plug-in that throws ends the process (std::terminate), as
//     it ends gzserver; a sensor whose own measurement fails in the simulator is dropped
//     with one warning.
// The world's update-end event (the plug-ins' ticks) follows the physics, as in Gazebo.
#pragma once

#include <gazebo_standin/host.hh>
#include <memory>
#include <string>
#include <vector>

#include "vesk_sim/render.h"
#include "vesk_sim/sdf_world.h"
#include "vesk_sim/worker_pool.h"

namespace vesk_sim {

struct RobotSpawn {
  std::string name = "vesk";
  double x = 0, y = 0, yaw = 0;  // spawn pose on the floor [m, m, rad]
};

struct SimOptions {
  std::string world_file;
  std::string model_file;
  std::vector<RobotSpawn> robots;
  bool load_plugins = true;
  std::string plugin_override;  // a library path to load instead of the SDF's file name
  unsigned threads = 0;         // threads that render cameras (the stepping one included); 0: one per core
};

class SimRobot;
struct SimSensor;

class SimWorld {
 public:
  explicit SimWorld(const SimOptions& options);  // fails (os::fail) on bad files or plug-ins
  ~SimWorld();
  SimWorld(const SimWorld&) = delete;
  SimWorld& operator=(const SimWorld&) = delete;

  // One world update: time advances by the step, physics and sensors, then the plug-ins.
  void step();
  // A world reset as Gazebo does it: simulation time back to zero, every robot back to its
  // spawn pose with its joints at zero and at rest, then each plug-in's Reset.
  void reset();

  double sim_time() const;  // [s]
  double step_size() const { return desc_.max_step_size; }
  size_t robot_count() const;
  // Ground truth of robot i: base pose on the floor.
  BasePose robot_pose(size_t i) const;
  double robot_height(size_t i) const;
  // The stand-in model of robot i (for hosts that drive its joint controller themselves).
  gazebo_standin::ModelPtr model(size_t i) const;
  // Number of sensor reports made to the stand-in so far, by sensor type.
  unsigned long long camera_frames() const { return camera_frames_; }

 private:
  void physics(double dt);
  void update_scene();
  CameraSpec camera_spec(const SimSensor& s, const Pose& pose) const;
  // Renders the cameras due in this step and reports their images to the stand-in (which
  // runs the plug-ins' callbacks), on the worker pool.
  void render_cameras();
  void report_failure(SimSensor& s, const std::string& what);

  struct RenderJob;

  WorldDesc desc_;
  gazebo_standin::WorldPtr world_;
  std::vector<std::unique_ptr<SimRobot>> robots_;
  std::vector<std::unique_ptr<gazebo_standin::ModelPluginInstance>> plugins_;
  Scene scene_;  // static boxes, then every robot's link boxes
  size_t static_boxes_ = 0;
  WorkerPool pool_;
  std::vector<Renderer> renderers_;           // one per worker
  std::vector<std::vector<uint8_t>> images_;  // one per worker
  std::vector<RenderJob> jobs_;               // the cameras due in this step
  unsigned long long camera_frames_ = 0;
};

// Where a plug-in library of an SDF <plugin filename> is found: the directories of
// GAZEBO_PLUGIN_PATH, then of LD_LIBRARY_PATH, each first in its "vesk_gazebo/headless/"
// (the kit's plug-in built against the stand-in where Gazebo 11 is installed); the bare name
// when none holds it.
std::string find_plugin_library(const std::string& filename);

// The SDF element a robot's model plug-in is loaded with, as Gazebo hands over the model's
// <plugin> element. With more than one robot in the world it holds <frame_prefix> = the
// robot's name + "/", so that the robots' frame trees stay apart on /tf; a robot alone in
// the world gets no prefix and keeps the plain frame names.
sdf::ElementPtr plugin_element(const std::string& robot, size_t robot_count);

}  // namespace vesk_sim
