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
#include "vesk_sim/sim_robot.h"

namespace vesk_sim {

namespace {

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
      if (dir.empty()) continue;
      // the kit's plug-in as built for this simulator where Gazebo 11 is installed too
      if (file_exists(dir + "/vesk_gazebo/headless/" + filename))
        return dir + "/vesk_gazebo/headless/" + filename;
      if (file_exists(dir + "/" + filename)) return dir + "/" + filename;
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
  cam.hfov = drawn_hfov(s.desc);
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
