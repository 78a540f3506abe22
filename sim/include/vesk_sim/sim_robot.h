// A robot of the headless simulator: its stand-in model, links, joints and sensors, the
// joint drive by the controllers' position PIDs, the differential-drive base on its two
// wheels (found in the model: joints on the root link about a lateral axis whose child
// reaches the floor), collisions with the world's boxes and falling to the surface below.
#pragma once

#include <gazebo_standin/host.hh>
#include <mutex>
#include <string>
#include <vector>

#include "vesk_sim/dynamics.h"
#include "vesk_sim/math3.h"
#include "vesk_sim/scene.h"
#include "vesk_sim/sdf_world.h"
#include "vesk_sim/sim_world.h"

namespace vesk_sim {

// The horizontal field of view [rad] a camera is drawn with: the renderer is a pinhole
// camera, and draws a wide-angle lens as a pinhole of the lens's field of view, at most
// 2.6 rad wide.
double drawn_hfov(const SensorDesc& d);

// One sensor of a robot as the simulator drives it.
struct SimSensor {
  SensorDesc desc;
  gazebo::sensors::SensorPtr sensor;
  gazebo::sensors::CameraSensorPtr camera;
  gazebo::sensors::ImuSensorPtr imu;
  gazebo::sensors::SonarSensorPtr sonar;
  double next_due = 0.0;  // [s] simulation time of the next report
  double period = -1.0;   // [s] report period next_due was planned with (< 0: none yet)
  // IMU: world position last step, world velocity this step and at the last report.
  Vec3 p_prev, v_step, v_report;
  double t_report = 0.0;
  bool have_prev = false;
  bool failed = false;  // a measurement has failed (warned once)
};

class SimRobot {
 public:
  // Adds the robot's model, links, joints and sensors to `world` and places it at its spawn.
  SimRobot(const gazebo_standin::WorldPtr& world, const RobotDesc& desc, const RobotSpawn& spawn, int index,
           const Scene& scene);

  const RobotDesc& desc() const { return desc_; }
  const gazebo_standin::ModelPtr& model() const { return model_; }
  const BasePose& base() const { return base_; }
  double height() const { return z_; }
  const std::vector<Pose>& link_world() const { return link_world_; }
  std::vector<SimSensor>& sensors() { return sensors_; }
  int index() const { return index_; }
  // Held while one of this robot's sensors reports to the plug-in from a render job: the
  // plug-in sees its camera callbacks one at a time, as from Gazebo's rendering thread.
  std::mutex& callback_lock() { return callback_lock_; }

  // Back to the spawn pose, joints at zero and at rest, controllers' memory cleared.
  void place_at_spawn(const Scene& scene);
  // One physics step of dt [s]: joints, then the base on its wheels, then the published state.
  void step(double dt, const Scene& scene, const Vec3& gravity);

 private:
  void find_wheels();
  static double lowest_point(const LinkDesc& link);
  void add_sensor(const SensorDesc& d);
  void drive_joints(double dt);
  static double armature(const gazebo::common::PID& pid, double dt);
  static bool same_gains(const gazebo::common::PID& a, const gazebo::common::PID& b);
  bool blocked(const BasePose& next, const Scene& scene) const;
  bool rolling(size_t link) const;  // the base or a wheel: the links that meet obstacles
  double rolling_reach() const;
  static Vec3 shape_point(const ShapeBox& shape, int c);
  void settle(double dt, const Scene& scene, const Vec3& gravity);
  void publish_state(double dt);

  RobotDesc desc_;
  RobotSpawn spawn_;
  int index_;
  gazebo_standin::ModelPtr model_;
  std::vector<gazebo::physics::LinkPtr> links_;
  std::vector<gazebo::physics::JointPtr> joints_;
  std::vector<std::string> scoped_;
  std::vector<JointState> q_;
  std::vector<gazebo::common::PID> pid_;
  std::vector<bool> pid_set_;
  std::vector<SimSensor> sensors_;
  std::mutex callback_lock_;
  std::vector<Pose> link_world_;
  int wheel_l_ = -1, wheel_r_ = -1;
  double wheel_radius_ = 0.0, track_ = 0.0;  // [m], from the model's wheels (unused without them)
  double mass_ = 0.0;                        // [kg]
  double reach_ = 0.0;                       // [m] see rolling_reach()
  BasePose base_;
  double z_ = 0.0, vz_ = 0.0;  // base height [m] and vertical speed [m/s]
};

}  // namespace vesk_sim
