#include "vesk_sim/sim_world.h"

#include <sys/stat.h>
#include <vesk_support/os.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <mutex>
#include <sstream>

#include "vesk_sim/raycast.h"

namespace vesk_sim {

namespace physics = gazebo::physics;
namespace sensors = gazebo::sensors;

namespace {

constexpr double kStepHeight = 0.02;    // [m] obstacles lower than this are driven over
constexpr double kLowestFloor = -10.0;  // [m] a robot falling off everything stops here

ignition::math::Pose3d to_ign(const Pose& p) {
  return ignition::math::Pose3d(p.pos.x, p.pos.y, p.pos.z, p.rot.w, p.rot.x, p.rot.y, p.rot.z);
}

// Measuring direction of a sonar in its sensor frame, as the Gazebo API defines it.
const Vec3 kSonarAxis(gazebo_standin::kSonarAxis.X(), gazebo_standin::kSonarAxis.Y(),
                      gazebo_standin::kSonarAxis.Z());

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string find_plugin_library(const std::string& filename) {
  if (filename.find('/') != std::string::npos) return filename;
  for (const char* var : {"GAZEBO_PLUGIN_PATH", "LD_LIBRARY_PATH"}) {
    const char* value = std::getenv(var);
    if (!value) continue;
    std::stringstream dirs(value);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
      if (!dir.empty() && file_exists(dir + "/" + filename)) return dir + "/" + filename;
    }
  }
  return filename;
}

sdf::ElementPtr plugin_element(const std::string& robot, size_t robot_count) {
  sdf::ElementPtr e = std::make_shared<sdf::Element>();
  e->SetName("plugin");
  if (robot_count > 1) e->AddElement("frame_prefix")->Set(robot + "/");
  return e;
}

// One sensor of a robot as the simulator drives it.
struct SimSensor {
  SensorDesc desc;
  sensors::SensorPtr sensor;
  sensors::CameraSensorPtr camera;
  sensors::ImuSensorPtr imu;
  sensors::SonarSensorPtr sonar;
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
  SimRobot(const gazebo_standin::WorldPtr& world, const RobotDesc& desc, const RobotSpawn& spawn, int index,
           const Scene& scene)
      : desc_(desc), spawn_(spawn), index_(index) {
    model_ = gazebo_standin::AddModel(world, desc.name, true);
    for (const LinkDesc& l : desc.links) links_.push_back(gazebo_standin::AddLink(model_, l.name));
    for (const JointDesc& j : desc.joints) {
      joints_.push_back(gazebo_standin::AddJoint(model_, j.name, true));
      scoped_.push_back(desc.name + "::" + j.name);
    }
    q_.assign(desc.joints.size(), JointState());
    pid_.assign(desc.joints.size(), gazebo::common::PID());
    pid_set_.assign(desc.joints.size(), false);
    find_wheels();
    for (const SensorDesc& s : desc.sensors) add_sensor(s);
    for (const LinkDesc& l : desc.links) mass_ += l.mass;
    place_at_spawn(scene);
  }

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
  void place_at_spawn(const Scene& scene) {
    base_ = BasePose{spawn_.x, spawn_.y, spawn_.yaw};
    const double floor = support_height(scene, spawn_.x, spawn_.y, 1e3, index_);
    z_ = std::isfinite(floor) ? floor : 0.0;
    vz_ = 0.0;
    for (size_t j = 0; j < q_.size(); ++j) {
      q_[j] = JointState();
      pid_[j].Reset();
    }
    for (SimSensor& s : sensors_) {
      s.next_due = 0.0;
      s.period = -1.0;
      s.have_prev = false;
      s.v_step = s.v_report = Vec3();
      s.t_report = 0.0;
    }
    publish_state(0.001);
  }

  void step(double dt, const Scene& scene, const Vec3& gravity) {
    const bool mobile = !desc_.fixed_to_world && wheel_l_ >= 0 && wheel_r_ >= 0;
    const double before_l = mobile ? q_[wheel_l_].position : 0.0;
    const double before_r = mobile ? q_[wheel_r_].position : 0.0;
    drive_joints(dt);
    if (mobile) {
      const BaseTwist twist =
          diff_drive_twist(q_[wheel_l_].velocity, q_[wheel_r_].velocity, wheel_radius_, track_);
      BasePose next = base_;
      base_integrate(next, twist, dt);
      if (blocked(next, scene)) {
        // The body would enter a box: the robot stays and its wheels stall.
        q_[wheel_l_] = JointState{before_l, 0.0};
        q_[wheel_r_] = JointState{before_r, 0.0};
      } else {
        base_ = next;
      }
      settle(dt, scene, gravity);
    }
    publish_state(dt);
  }

 private:
  // The wheels: joints on the root link about a lateral axis whose child reaches down to
  // the floor (the model frame's z = 0); left has positive y.
  void find_wheels() {
    for (size_t j = 0; j < desc_.joints.size(); ++j) {
      const JointDesc& jd = desc_.joints[j];
      if (jd.parent != desc_.root || std::fabs(jd.axis0.y) < 0.9) continue;
      if (jd.type != "revolute" && jd.type != "continuous") continue;
      if (lowest_point(desc_.links[jd.child]) > 0.005) continue;
      if (jd.anchor0.y > 0 && wheel_l_ < 0) wheel_l_ = static_cast<int>(j);
      if (jd.anchor0.y < 0 && wheel_r_ < 0) wheel_r_ = static_cast<int>(j);
    }
    if (wheel_l_ >= 0 && wheel_r_ >= 0) {
      const JointDesc& l = desc_.joints[wheel_l_];
      const JointDesc& r = desc_.joints[wheel_r_];
      wheel_radius_ = 0.5 * (l.anchor0.z + r.anchor0.z);  // axle height above the floor
      track_ = l.anchor0.y - r.anchor0.y;
    } else {
      os::warn("robot \"" + desc_.name + "\" has no pair of wheels: its base will not move");
      wheel_l_ = wheel_r_ = -1;
    }
  }

  // Lowest point of a link's shapes at zero joint angles, in the model frame [m]. A wheel
  // turns about its axle, so its lowest point is the same at every angle.
  static double lowest_point(const LinkDesc& link) {
    double lowest = std::numeric_limits<double>::infinity();
    for (const ShapeBox& shape : link.shapes) {
      const Pose box = link.pose0 * shape.pose;
      for (int c = 0; c < 8; ++c) {
        const Vec3 corner((c & 1) ? shape.half.x : -shape.half.x, (c & 2) ? shape.half.y : -shape.half.y,
                          (c & 4) ? shape.half.z : -shape.half.z);
        lowest = std::min(lowest, box.transform(corner).z);
      }
    }
    return lowest;
  }

  void add_sensor(const SensorDesc& d) {
    SimSensor s;
    s.desc = d;
    const physics::LinkPtr& link = links_[d.link];
    if (d.type == "camera" || d.type == "wideanglecamera") {
      s.camera = gazebo_standin::AddCameraSensor(link, d.name, d.width, d.height, d.update_rate, d.type);
      s.sensor = s.camera;
    } else if (d.type == "imu") {
      s.imu = gazebo_standin::AddImuSensor(link, d.name, d.update_rate);
      s.sensor = s.imu;
    } else if (d.type == "sonar") {
      s.sonar = gazebo_standin::AddSonarSensor(link, d.name, d.update_rate);
      s.sensor = s.sonar;
    } else {
      os::warn("sensor \"" + d.scoped_name + "\" of type \"" + d.type + "\" is not simulated");
      return;
    }
    if (!d.always_on) s.sensor->SetActive(false);
    sensors_.push_back(s);
  }

  void drive_joints(double dt) {
    // Each joint's gains and target as the controllers (the model's, then its nested
    // models') hold them at this step, by its scoped name.
    for (size_t j = 0; j < desc_.joints.size(); ++j) {
      const JointDesc& jd = desc_.joints[j];
      if (jd.type != "revolute" && jd.type != "continuous") continue;
      double tau = 0.0;
      gazebo::common::PID pid;
      double target = 0.0;
      if (gazebo_standin::PositionControl(model_, scoped_[j], &pid, &target)) {
        if (!pid_set_[j] || !same_gains(pid, pid_[j])) {
          pid_[j] = pid;
          pid_[j].Reset();
          pid_set_[j] = true;
        }
        tau = pid_[j].Update(q_[j].position - target, dt);
      }
      JointParams p = jd.params;
      if (static_cast<int>(j) == wheel_l_ || static_cast<int>(j) == wheel_r_) {
        // Each wheel accelerates half the robot's mass at its rim.
        p.inertia += 0.5 * mass_ * wheel_radius_ * wheel_radius_;
      }
      if (pid_set_[j]) p.inertia = std::max(p.inertia, armature(pid_[j], dt));
      joint_step(q_[j], p, tau, dt);
    }
  }

  // Least inertia about a joint's axis [kg m^2] for which its position PID, updated once per
  // step of dt, stays stable: the derivative term must not reverse the velocity within one
  // step (d dt / J <= 1/2) nor the proportional term overshoot (p dt^2 / J <= 1/4). Light
  // links (eyelids, ears) get this as their motor's reflected inertia (armature), as a
  // geared servo has.
  static double armature(const gazebo::common::PID& pid, double dt) {
    return std::max(2.0 * std::fabs(pid.GetDGain()) * dt, 4.0 * std::fabs(pid.GetPGain()) * dt * dt);
  }

  static bool same_gains(const gazebo::common::PID& a, const gazebo::common::PID& b) {
    return a.GetPGain() == b.GetPGain() && a.GetIGain() == b.GetIGain() && a.GetDGain() == b.GetDGain() &&
           a.GetIMax() == b.GetIMax() && a.GetIMin() == b.GetIMin() && a.GetCmdMax() == b.GetCmdMax() &&
           a.GetCmdMin() == b.GetCmdMin();
  }

  // Would the body or the wheels, with the base at `next`, enter a solid box of the world
  // that is too tall to drive over?
  bool blocked(const BasePose& next, const Scene& scene) const {
    const Pose base(Vec3(next.x, next.y, z_), Quat::from_axis_angle(Vec3(0, 0, 1), next.yaw));
    for (size_t k = 0; k < desc_.links.size(); ++k) {
      const bool rolling = static_cast<int>(k) == desc_.root ||
                           (wheel_l_ >= 0 && static_cast<int>(k) == desc_.joints[wheel_l_].child) ||
                           (wheel_r_ >= 0 && static_cast<int>(k) == desc_.joints[wheel_r_].child);
      if (!rolling) continue;
      for (const ShapeBox& shape : desc_.links[k].shapes) {
        const Pose box = base * desc_.links[k].pose0 * shape.pose;
        for (int c = 0; c < 14; ++c) {
          Vec3 local;
          if (c < 8) {
            local = Vec3((c & 1) ? shape.half.x : -shape.half.x, (c & 2) ? shape.half.y : -shape.half.y,
                         (c & 4) ? shape.half.z : -shape.half.z);
          } else {
            const int axis = (c - 8) / 2;
            const double sign = (c & 1) ? 1.0 : -1.0;
            local = Vec3(axis == 0 ? sign * shape.half.x : 0, axis == 1 ? sign * shape.half.y : 0,
                         axis == 2 ? sign * shape.half.z : 0);
          }
          const Vec3 p = box.transform(local);
          if (p.z < z_ + kStepHeight) continue;  // at wheel contact height: floor, not obstacle
          for (size_t b = 0; b < scene.boxes.size(); ++b) {
            const SceneBox& sb = scene.boxes[b];
            if (sb.owner == kOwnerWorld && sb.solid && box_contains(sb, p)) return true;
          }
        }
      }
    }
    return false;
  }

  // Stands the robot on the surface under its base centre, falling when that drops away.
  void settle(double dt, const Scene& scene, const Vec3& gravity) {
    double floor = support_height(scene, base_.x, base_.y, z_ + kStepHeight, index_);
    if (!std::isfinite(floor)) floor = kLowestFloor;
    if (z_ > floor + 1e-9) {
      vz_ += gravity.z * dt;
      z_ += vz_ * dt;
      if (z_ <= floor) {
        z_ = floor;
        vz_ = 0.0;
      }
    } else {
      z_ = floor;
      vz_ = 0.0;
    }
  }

  void publish_state(double dt) {
    std::vector<double> angles(q_.size());
    for (size_t j = 0; j < q_.size(); ++j) angles[j] = q_[j].position;
    const Pose base(Vec3(base_.x, base_.y, z_), Quat::from_axis_angle(Vec3(0, 0, 1), base_.yaw));
    forward_kinematics(desc_, base, angles, link_world_);
    gazebo_standin::SetModelWorldPose(model_, to_ign(base));
    for (size_t k = 0; k < links_.size(); ++k)
      gazebo_standin::SetLinkWorldPose(links_[k], to_ign(link_world_[k]));
    for (size_t j = 0; j < joints_.size(); ++j) {
      gazebo_standin::SetJointPosition(joints_[j], q_[j].position, q_[j].velocity);
    }
    // Sensor velocities for the IMUs, from the motion of this step.
    for (SimSensor& s : sensors_) {
      if (!s.imu) continue;
      const Vec3 p = (link_world_[s.desc.link] * s.desc.pose).pos;
      s.v_step = s.have_prev ? (p - s.p_prev) * (1.0 / dt) : Vec3();
      if (!s.have_prev) s.v_report = s.v_step;
      s.p_prev = p;
      s.have_prev = true;
    }
  }

  RobotDesc desc_;
  RobotSpawn spawn_;
  int index_;
  gazebo_standin::ModelPtr model_;
  std::vector<physics::LinkPtr> links_;
  std::vector<physics::JointPtr> joints_;
  std::vector<std::string> scoped_;
  std::vector<JointState> q_;
  std::vector<gazebo::common::PID> pid_;
  std::vector<bool> pid_set_;
  std::vector<SimSensor> sensors_;
  std::mutex callback_lock_;
  std::vector<Pose> link_world_;
  int wheel_l_ = -1, wheel_r_ = -1;
  double wheel_radius_ = 0.045, track_ = 0.164;  // [m], from the model when it has wheels
  double mass_ = 0.0;                            // [kg]
  BasePose base_;
  double z_ = 0.0, vz_ = 0.0;  // base height [m] and vertical speed [m/s]
};

// A camera report of one world step: the image to render and the sensor it goes to.
// A camera image or a sonar range due in this step.
struct SimWorld::RenderJob {
  SimSensor* sensor;
  SimRobot* robot;
  CameraSpec camera;  // a camera's view; for a sonar, its pose only
  std::string error;  // what the plug-in's callback threw, empty when it did not
};

SimWorld::SimWorld(const SimOptions& options) : pool_(options.threads) {
  renderers_.resize(pool_.size());
  images_.resize(pool_.size());
  desc_ = load_world(options.world_file);
  if (!(desc_.max_step_size > 0.0))
    os::fail("world \"" + options.world_file + "\" has no positive step size");
  scene_ = desc_.scene;
  for (SceneBox& b : scene_.boxes) b.owner = kOwnerWorld;
  static_boxes_ = scene_.boxes.size();
  if (options.robots.empty()) os::fail("no robot to simulate");
  for (size_t i = 0; i < options.robots.size(); ++i) {
    for (size_t k = 0; k < options.robots.size(); ++k) {
      const std::string& a = options.robots[k].name;
      const std::string& b = options.robots[i].name;
      if (k < i && a == b) os::fail("two robots named \"" + b + "\"");
      // The plug-in finds its sensors by a substring of their scoped names: a robot whose
      // name ends another's would be handed the other robot's sensors.
      if (a.size() < b.size() && b.compare(b.size() - a.size(), a.size(), a) == 0) {
        os::fail("robot name \"" + a + "\" ends robot name \"" + b +
                 "\": their sensors could not be told apart");
      }
    }
  }

  world_ = gazebo_standin::CreateWorld(desc_.name, desc_.max_step_size);
  const RobotDesc model = load_robot(options.model_file);
  for (size_t i = 0; i < options.robots.size(); ++i) {
    RobotDesc d = model;
    d.name = options.robots[i].name;
    robots_.push_back(std::make_unique<SimRobot>(world_, d, options.robots[i], static_cast<int>(i), scene_));
  }
  gazebo_standin::SetSensorsInitialized(true);
  gazebo_standin::SetPhysicsHook(world_, [this](double dt) { physics(dt); });

  if (!options.load_plugins) return;
  for (const auto& robot : robots_) {
    for (const PluginDesc& p : robot->desc().plugins) {
      const std::string lib =
          options.plugin_override.empty() ? find_plugin_library(p.filename) : options.plugin_override;
      std::cout << os::cout_global_elapsed() << "loading plug-in \"" << lib << "\" for robot \""
                << robot->desc().name << "\"" << std::endl;
      plugins_.push_back(std::make_unique<gazebo_standin::ModelPluginInstance>(lib, p.name));
      plugins_.back()->Load(robot->model(), plugin_element(robot->desc().name, robots_.size()));
    }
  }
}

SimWorld::~SimWorld() {
  plugins_.clear();  // each plug-in releases its interface and connections first
  gazebo_standin::SetPhysicsHook(world_, nullptr);
  robots_.clear();
  gazebo_standin::DestroyWorld(world_);
}

void SimWorld::step() { gazebo_standin::StepWorld(world_, 1); }

void SimWorld::reset() {
  gazebo_standin::ResetWorldTime(world_);
  scene_.boxes.resize(static_boxes_);
  for (auto& robot : robots_) robot->place_at_spawn(scene_);
  for (auto& plugin : plugins_) plugin->Reset();
}

double SimWorld::sim_time() const { return world_->SimTime().Double(); }
size_t SimWorld::robot_count() const { return robots_.size(); }
BasePose SimWorld::robot_pose(size_t i) const { return robots_.at(i)->base(); }
double SimWorld::robot_height(size_t i) const { return robots_.at(i)->height(); }
gazebo_standin::ModelPtr SimWorld::model(size_t i) const { return robots_.at(i)->model(); }

void SimWorld::update_scene() {
  scene_.boxes.resize(static_boxes_);
  for (const auto& robot : robots_) {
    const RobotDesc& d = robot->desc();
    for (size_t k = 0; k < d.links.size(); ++k) {
      for (const ShapeBox& shape : d.links[k].shapes) {
        SceneBox b;
        b.pose = robot->link_world()[k] * shape.pose;
        b.half = shape.half;
        b.colour = shape.colour;
        b.owner = robot->index();
        b.solid = false;
        scene_.boxes.push_back(b);
      }
    }
  }
}

void SimWorld::physics(double dt) {
  scene_.boxes.resize(static_boxes_);
  for (auto& robot : robots_) robot->step(dt, scene_, desc_.gravity);
  const double t = sim_time();

  bool scene_ready = false;
  jobs_.clear();
  for (auto& robot : robots_) {
    const std::vector<Pose>& links = robot->link_world();
    for (SimSensor& s : robot->sensors()) {
      if (gazebo_standin::IsRemoved(s.sensor) || !s.sensor->IsActive()) continue;
      const double rate = s.sensor->UpdateRate();
      const double period = rate > 0.0 ? 1.0 / rate : 0.0;
      // A new rate takes effect at once, as in Gazebo: the next report is due one new period
      // after the last one, not at the time the old period planned.
      if (s.period >= 0.0 && period != s.period) s.next_due = std::max(0.0, s.next_due - s.period) + period;
      s.period = period;
      if (t + 1e-9 < s.next_due) continue;
      s.next_due = std::max(s.next_due + period, t - 1e-9);  // no burst after a pause
      const Pose pose = links[s.desc.link] * s.desc.pose;
      if (s.imu) {
        const double span = t - s.t_report;
        const Vec3 accel = span > 0.0 ? (s.v_step - s.v_report) * (1.0 / span) : Vec3();
        const Vec3 f = pose.rot.rotate_reverse(accel - desc_.gravity);
        s.v_report = s.v_step;
        s.t_report = t;
        try {
          gazebo_standin::UpdateImu(s.imu, ignition::math::Vector3d(f.x, f.y, f.z));
        } catch (const std::exception& e) {
          report_failure(s, e.what());
        }
        continue;
      }
      if (!scene_ready) {
        update_scene();
        scene_ready = true;
      }
      if (s.camera) {
        jobs_.push_back(RenderJob{&s, robot.get(), camera_spec(s, pose), std::string()});
        continue;
      }
      if (!s.sonar) continue;
      CameraSpec at;
      at.pose = pose;
      jobs_.push_back(RenderJob{&s, robot.get(), at, std::string()});
    }
  }
  render_cameras();
  scene_.boxes.resize(static_boxes_);
}

CameraSpec SimWorld::camera_spec(const SimSensor& s, const Pose& pose) const {
  CameraSpec cam;
  cam.pose = pose;
  cam.hfov = std::min(s.desc.hfov, 2.6);  // pinhole: wide-angle lenses are drawn at most this wide
  cam.width = s.desc.width;
  cam.height = s.desc.height;
  cam.near_clip = s.desc.near_clip;
  cam.far_clip = s.desc.far_clip;
  return cam;
}

// The step's camera images and sonar ranges are made by the worker pool (by this thread
// when no camera is due), the largest images first and the sonars last, so that the threads
// finish together. Every job reads the same
// finished scene and writes only its own worker's buffers, so each image and range is the
// same whichever thread makes it and in whatever order. Each goes to its sensor (and so to
// the plug-in's callbacks) from the thread that made it, under its robot's callback lock;
// the world step waits for all of them, so the plug-ins' ticks see every report of the
// step, as with one thread.
void SimWorld::render_cameras() {
  if (jobs_.empty()) return;
  std::stable_sort(jobs_.begin(), jobs_.end(), [](const RenderJob& a, const RenderJob& b) {
    return a.camera.width * a.camera.height > b.camera.width * b.camera.height;
  });
  const WorkerPool::Job make = [this](size_t i, unsigned worker) {
    RenderJob& job = jobs_[i];
    const CameraSpec& cam = job.camera;
    try {
      if (const gazebo::sensors::SonarSensorPtr& sonar = job.sensor->sonar) {
        const SensorDesc& d = job.sensor->desc;
        const double range =
            sonar_range(scene_, cam.pose, kSonarAxis, d.min_range, d.max_range, d.radius, job.robot->index());
        std::lock_guard<std::mutex> lock(job.robot->callback_lock());
        gazebo_standin::UpdateSonar(sonar, range);
        return;
      }
      std::vector<uint8_t>& image = images_[worker];
      const size_t bytes = static_cast<size_t>(std::max(cam.width, 0)) * std::max(cam.height, 0) * 3;
      if (image.size() < bytes) image.resize(bytes);
      renderers_[worker].render(scene_, cam, image.data());
      std::lock_guard<std::mutex> lock(job.robot->callback_lock());
      gazebo_standin::UpdateCamera(job.sensor->camera, image.data(), cam.width, cam.height);
    } catch (const std::exception& e) {
      job.error = e.what()[0] ? e.what() : "exception without a message";
    } catch (...) {
      job.error = "unknown exception";
    }
  };
  size_t cameras = 0;
  for (const RenderJob& job : jobs_) cameras += job.sensor->camera ? 1 : 0;
  if (cameras > 0) {
    pool_.run(jobs_.size(), make);
  } else {
    // sonars alone take less time than waking the other threads would
    for (size_t i = 0; i < jobs_.size(); ++i) make(i, 0);
  }
  camera_frames_ += cameras;
  for (const RenderJob& job : jobs_) {
    if (!job.error.empty()) report_failure(*job.sensor, job.error);
  }
}

// A plug-in's sensor callback failed (e.g. a frame size it cannot make from this camera's
// image): that report is lost, the world goes on; one warning per sensor.
void SimWorld::report_failure(SimSensor& s, const std::string& what) {
  if (!s.failed) os::warn("update of sensor \"" + s.sensor->ScopedName() + "\" failed: " + what);
  s.failed = true;
}

}  // namespace vesk_sim
