// Gazebo 11 stand-in: world construction, stepping, sensor reports and plug-in loading.
#include <dlfcn.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <cmath>
#include <gazebo/rendering/rendering.hh>
#include <gazebo_standin/host.hh>
#include <stdexcept>

namespace gazebo_standin {

namespace physics = gazebo::physics;
namespace sensors = gazebo::sensors;
namespace rendering = gazebo::rendering;

// The one place that reaches into the stand-in classes' private state.
class Access {
 public:
  static physics::World& W(const WorldPtr& w) { return *w; }

  static void AdoptModel(const WorldPtr& world, const ModelPtr& model, const std::string& name,
                         bool with_controller) {
    model->name = name;
    model->world = world;
    if (with_controller) model->jointController = boost::make_shared<physics::JointController>(model);
    world->models.push_back(model);
  }
  // The model that holds the entity of a name relative to `model` ("vesk_body::body": the
  // model "vesk_body" nested in `model`, made with its own joint controller when it is new),
  // and the entity's leaf name.
  static ModelPtr Owner(const ModelPtr& model, const std::string& relative_name, std::string* leaf) {
    ModelPtr owner = model;
    std::string rest = relative_name;
    for (size_t cut = rest.find("::"); cut != std::string::npos; cut = rest.find("::")) {
      const std::string scope = rest.substr(0, cut);
      rest = rest.substr(cut + 2);
      ModelPtr nested = owner->NestedModel(scope);
      if (!nested) {
        nested = boost::make_shared<physics::Model>(owner);
        nested->name = scope;
        nested->jointController = boost::make_shared<physics::JointController>(nested);
        owner->children.push_back(nested);
        owner->models.push_back(nested);
      }
      owner = nested;
    }
    *leaf = rest;
    return owner;
  }
  static void AdoptLink(const ModelPtr& model, const LinkPtr& link, const std::string& leaf) {
    link->name = leaf;
    link->world = model->world;
    model->children.push_back(link);
    model->links.push_back(link);
  }
  static void AdoptJoint(const ModelPtr& model, const JointPtr& joint, const std::string& leaf,
                         bool controlled) {
    joint->name = leaf;
    joint->world = model->world;
    model->children.push_back(joint);
    model->joints.push_back(joint);
    if (controlled && model->jointController) model->jointController->AddJoint(joint);
  }
  static void ReleaseModel(const ModelPtr& m) {
    for (const ModelPtr& nested : m->models) ReleaseModel(nested);
    m->models.clear();
    for (const physics::BasePtr& c : m->children) {
      c->parent.reset();
      c->world.reset();
    }
    m->children.clear();
    m->links.clear();
    m->joints.clear();
    if (m->jointController) {
      std::lock_guard<std::mutex> lock(m->jointController->mutex);
      m->jointController->joints.clear();
      m->jointController->model.reset();
    }
    m->jointController.reset();
    m->world.reset();
  }
  static void ReleaseWorld(const WorldPtr& w) {
    for (const ModelPtr& m : w->models) ReleaseModel(m);
    w->models.clear();
  }
  static void SetPhysics(const WorldPtr& w) {
    w->physicsEngine = boost::make_shared<physics::PhysicsEngine>(w);
  }
  static void SetTime(const WorldPtr& w, int64_t ns, uint64_t it) {
    w->simTimeNs = ns;
    w->iterations = it;
  }
  static void SetTau(const WorldPtr& w, double tau) { w->jointTimeConstant = tau; }
  static void SetHook(const WorldPtr& w, std::function<void(double)> hook) {
    std::lock_guard<std::mutex> lock(w->stepMutex);
    w->physicsHook = std::move(hook);
  }

  static void Step(const WorldPtr& w) {
    FlushRemovals();
    const double dt = w->physicsEngine->GetMaxStepSize();
    // A step that is no number of nanoseconds a clock can hold leaves the time alone.
    if (std::isfinite(dt) && std::fabs(dt) < 9e9)
      w->simTimeNs += static_cast<int64_t>(std::llround(dt * 1e9));
    ++w->iterations;
    gazebo::common::UpdateInfo info;
    info.worldName = w->name;
    info.simTime = w->SimTime();
    info.realTime = info.simTime;
    gazebo::event::Events::worldUpdateBegin.Signal(info);
    std::function<void(double)> hook;
    {
      std::lock_guard<std::mutex> lock(w->stepMutex);
      hook = w->physicsHook;
    }
    if (hook)
      hook(dt);
    else
      JointResponse(w, dt);
    gazebo::event::Events::worldUpdateEnd.Signal();
  }

  static void JointResponse(const WorldPtr& w, double dt) {
    if (!(dt > 0.0)) return;
    const double tau = w->jointTimeConstant > 0.0 ? w->jointTimeConstant : 0.005;
    const double a = 1.0 - std::exp(-dt / tau);
    for (const ModelPtr& m : w->models) ModelJointResponse(m, a, dt);
  }
  // Every model, nested ones included, drives the joints its own controller holds.
  static void ModelJointResponse(const ModelPtr& m, double a, double dt) {
    if (const physics::JointControllerPtr jc = m->jointController) {
      std::lock_guard<std::mutex> lock(jc->mutex);
      for (const auto& t : jc->positions) {
        if (!jc->posPids.count(t.first)) continue;
        auto j = jc->joints.find(t.first);
        if (j == jc->joints.end()) continue;
        const double p = j->second->position;
        const double step = (t.second - p) * a;
        j->second->position = p + step;
        j->second->velocity = step / dt;
      }
    }
    for (const ModelPtr& nested : m->models) ModelJointResponse(nested, a, dt);
  }

  // The first PID and the first target held for `scoped` by the model's controller or, in
  // order, by its nested models' ones; looked up in place (under each controller's lock), the
  // tables are not copied.
  static void FindControl(const ModelPtr& m, const std::string& scoped, gazebo::common::PID* pid,
                          bool* have_pid, double* target, bool* have_target) {
    if (const physics::JointControllerPtr jc = m->jointController) {
      std::lock_guard<std::mutex> lock(jc->mutex);
      if (!*have_pid) {
        auto p = jc->posPids.find(scoped);
        if (p != jc->posPids.end()) {
          *pid = p->second;
          *have_pid = true;
        }
      }
      if (!*have_target) {
        auto t = jc->positions.find(scoped);
        if (t != jc->positions.end()) {
          *target = t->second;
          *have_target = true;
        }
      }
    }
    for (const ModelPtr& nested : m->models) {
      if (*have_pid && *have_target) return;
      FindControl(nested, scoped, pid, have_pid, target, have_target);
    }
  }

  static void SetJoint(const JointPtr& j, double p, double v) {
    j->position = p;
    j->velocity = v;
  }
  static double JointVel(const JointPtr& j) { return j->velocity; }

  static void SetPose(const physics::EntityPtr& e, const ignition::math::Pose3d& p) { e->worldPose = p; }
  static void SetVel(const LinkPtr& l, const ignition::math::Vector3d& lin,
                     const ignition::math::Vector3d& ang) {
    l->linearVel = lin;
    l->angularVel = ang;
  }
  static ignition::math::Vector3d LinVel(const LinkPtr& l) { return l->linearVel; }
  static ignition::math::Vector3d AngVel(const LinkPtr& l) { return l->angularVel; }
  static unsigned int Resets(const LinkPtr& l) { return l->resetCount; }

  template <class S>
  static std::shared_ptr<S> Register(const LinkPtr& link, std::shared_ptr<S> s, const std::string& name,
                                     double rate) {
    s->name = name;
    const physics::WorldPtr& w = link->GetWorld();
    s->scopedName = (w ? w->Name() + "::" : std::string()) + link->GetScopedName() + "::" + name;
    s->updateRate = rate;
    s->active = true;
    physics::BasePtr p = link->GetParent();
    while (p && !p->HasType(physics::Base::MODEL)) p = p->GetParent();
    if (p) ++boost::static_pointer_cast<physics::Model>(p)->sensorCount;
    sensors::SensorManager* sm = sensors::SensorManager::Instance();
    std::lock_guard<std::mutex> lock(sm->mutex);
    sm->sensors.push_back(s);
    return s;
  }
  static bool Signal(const sensors::SensorPtr& s) {
    if (!s || s->removed || !s->active) return false;
    RunSubscribers(*s);
    return true;
  }
  // Gazebo runs sensor updates on its sensor threads, where an exception that escapes a
  // subscriber ends the process (std::terminate); so does this.
  static void RunSubscribers(sensors::Sensor& s) noexcept { s.updated.Signal(); }
  static void SetImu(const sensors::ImuSensorPtr& s, const ignition::math::Vector3d& a) {
    std::lock_guard<std::mutex> lock(s->mutex);
    s->linearAcc = a;
  }
  static void SetRange(const sensors::SonarSensorPtr& s, double r) { s->range = r; }
  static bool SetImage(const sensors::CameraSensorPtr& s, const unsigned char* rgb, unsigned int w,
                       unsigned int h) {
    // An image is only replaced by a camera update that no subscriber is reading; the host
    // drives a camera's updates from one thread at a time, as Gazebo's rendering thread does.
    if (!s || s->removed || !s->active) return false;
    if (!rgb && w != 0 && h != 0) return false;
    s->image.assign(rgb, rgb + static_cast<size_t>(w) * h * 3);
    s->width = w;
    s->height = h;
    return true;
  }
  static void SetLens(const sensors::CameraSensorPtr& s, double hfov, const std::string& lens_type,
                      bool scale_to_hfov) {
    if (!s || !s->camera) return;
    s->camera->hfov = ignition::math::Angle(hfov);
    if (auto* wide = dynamic_cast<rendering::WideAngleCamera*>(s->camera.get())) {
      wide->lens.type = lens_type;
      wide->lens.scale_to_hfov = scale_to_hfov;
    }
  }
  static void FlushRemovals() {
    sensors::SensorManager* sm = sensors::SensorManager::Instance();
    std::lock_guard<std::mutex> lock(sm->mutex);
    for (const std::string& name : sm->removals) {
      auto it = std::find_if(sm->sensors.begin(), sm->sensors.end(),
                             [&](const sensors::SensorPtr& s) { return s->ScopedName() == name; });
      if (it == sm->sensors.end()) continue;
      (*it)->removed = true;
      sm->sensors.erase(it);
    }
    sm->removals.clear();
  }
  static void RemoveWorldSensors(const WorldPtr& w) {
    sensors::SensorManager* sm = sensors::SensorManager::Instance();
    std::lock_guard<std::mutex> lock(sm->mutex);
    const std::string prefix = w->Name() + "::";
    auto ours = [&](const std::string& scoped) {
      for (const ModelPtr& m : w->models) {
        const std::string p = prefix + m->GetName() + "::";
        if (scoped.compare(0, p.size(), p) == 0) return true;
      }
      return false;
    };
    // Removals still queued for this world's sensors go with them.
    sm->removals.erase(std::remove_if(sm->removals.begin(), sm->removals.end(), ours), sm->removals.end());
    for (auto it = sm->sensors.begin(); it != sm->sensors.end();) {
      if (ours((*it)->scopedName)) {
        (*it)->removed = true;
        it = sm->sensors.erase(it);
      } else {
        ++it;
      }
    }
  }
  static bool Removed(const sensors::SensorPtr& s) { return s->removed; }
  static void SetInitialized(bool i) {
    sensors::SensorManager* sm = sensors::SensorManager::Instance();
    std::lock_guard<std::mutex> lock(sm->mutex);
    sm->initialized = i;
  }
  static void Name(gazebo::ModelPlugin* p, const std::string& file, const std::string& handle) {
    p->filename = file;
    p->handleName = handle;
  }
};

WorldPtr CreateWorld(const std::string& name, double max_step_size) {
  WorldPtr w = boost::make_shared<physics::World>(name);
  Access::SetPhysics(w);
  w->Physics()->SetMaxStepSize(max_step_size);
  return w;
}

void DestroyWorld(WorldPtr& world) {
  if (!world) return;
  Access::RemoveWorldSensors(world);
  Access::ReleaseWorld(world);
  world.reset();
}

void SetMaxStepSize(const WorldPtr& world, double max_step_size) {
  world->Physics()->SetMaxStepSize(max_step_size);
}

void StepWorld(const WorldPtr& world, unsigned int steps) {
  for (unsigned int i = 0; i < steps; ++i) Access::Step(world);
}

void ResetWorldTime(const WorldPtr& world) { Access::SetTime(world, 0, 0); }

void SetJointTimeConstant(const WorldPtr& world, double tau) { Access::SetTau(world, tau); }

void SetPhysicsHook(const WorldPtr& world, std::function<void(double)> hook) {
  Access::SetHook(world, std::move(hook));
}

ModelPtr AddModel(const WorldPtr& world, const std::string& name, bool with_joint_controller) {
  ModelPtr m = boost::make_shared<physics::Model>(physics::BasePtr());
  Access::AdoptModel(world, m, name, with_joint_controller);
  return m;
}

LinkPtr AddLink(const ModelPtr& model, const std::string& relative_name) {
  std::string leaf;
  const ModelPtr owner = Access::Owner(model, relative_name, &leaf);
  LinkPtr l = boost::make_shared<physics::Link>(owner);
  Access::AdoptLink(owner, l, leaf);
  return l;
}

JointPtr AddJoint(const ModelPtr& model, const std::string& relative_name, bool controlled) {
  std::string leaf;
  const ModelPtr owner = Access::Owner(model, relative_name, &leaf);
  JointPtr j = boost::make_shared<physics::Joint>(owner);
  Access::AdoptJoint(owner, j, leaf, controlled);
  return j;
}

void SetJointPosition(const JointPtr& joint, double position, double velocity) {
  Access::SetJoint(joint, position, velocity);
}

double JointVelocity(const JointPtr& joint) { return Access::JointVel(joint); }

bool JointTarget(const ModelPtr& model, const std::string& scoped_name, double* target) {
  const physics::JointControllerPtr jc = model->GetJointController();
  if (!jc) return false;
  const std::map<std::string, double> t = jc->GetPositions();
  auto it = t.find(scoped_name);
  if (it == t.end()) return false;
  if (target) *target = it->second;
  return true;
}

bool JointPid(const ModelPtr& model, const std::string& scoped_name, gazebo::common::PID* pid) {
  const physics::JointControllerPtr jc = model->GetJointController();
  if (!jc) return false;
  const std::map<std::string, gazebo::common::PID> p = jc->GetPositionPIDs();
  auto it = p.find(scoped_name);
  if (it == p.end()) return false;
  if (pid) *pid = it->second;
  return true;
}

bool PositionControl(const ModelPtr& model, const std::string& scoped_name, gazebo::common::PID* pid,
                     double* target) {
  bool have_pid = false, have_target = false;
  Access::FindControl(model, scoped_name, pid, &have_pid, target, &have_target);
  return have_pid && have_target;
}

void SetLinkWorldPose(const LinkPtr& link, const ignition::math::Pose3d& pose) {
  Access::SetPose(link, pose);
}

void SetModelWorldPose(const ModelPtr& model, const ignition::math::Pose3d& pose) {
  Access::SetPose(model, pose);
}

void SetLinkVelocity(const LinkPtr& link, const ignition::math::Vector3d& linear,
                     const ignition::math::Vector3d& angular) {
  Access::SetVel(link, linear, angular);
}

ignition::math::Vector3d LinkLinearVelocity(const LinkPtr& link) { return Access::LinVel(link); }
ignition::math::Vector3d LinkAngularVelocity(const LinkPtr& link) { return Access::AngVel(link); }
unsigned int LinkResetCount(const LinkPtr& link) { return Access::Resets(link); }

sensors::CameraSensorPtr AddCameraSensor(const LinkPtr& link, const std::string& name, unsigned int width,
                                         unsigned int height, double update_rate, const std::string& type) {
  sensors::CameraSensorPtr s;
  if (type == "wideanglecamera")
    s = std::make_shared<sensors::WideAngleCameraSensor>();
  else if (type == "camera")
    s = std::make_shared<sensors::CameraSensor>();
  else
    throw std::runtime_error("stand-in: unknown camera type \"" + type + "\"");
  Access::Register(link, s, name, update_rate);
  std::vector<unsigned char> black(static_cast<size_t>(width) * height * 3, 0);
  if (!black.empty()) Access::SetImage(s, black.data(), width, height);
  return s;
}

sensors::ImuSensorPtr AddImuSensor(const LinkPtr& link, const std::string& name, double update_rate) {
  return Access::Register(link, std::make_shared<sensors::ImuSensor>(), name, update_rate);
}

sensors::SonarSensorPtr AddSonarSensor(const LinkPtr& link, const std::string& name, double update_rate) {
  return Access::Register(link, std::make_shared<sensors::SonarSensor>(), name, update_rate);
}

bool UpdateImu(const sensors::ImuSensorPtr& imu, const ignition::math::Vector3d& accel) {
  Access::SetImu(imu, accel);
  return Access::Signal(imu);
}

bool UpdateSonar(const sensors::SonarSensorPtr& sonar, double range) {
  Access::SetRange(sonar, range);
  return Access::Signal(sonar);
}

void SetCameraLens(const sensors::CameraSensorPtr& camera, double hfov, const std::string& lens_type,
                   bool scale_to_hfov) {
  Access::SetLens(camera, hfov, lens_type, scale_to_hfov);
}

bool UpdateCamera(const sensors::CameraSensorPtr& camera, const unsigned char* rgb, unsigned int width,
                  unsigned int height) {
  if (!Access::SetImage(camera, rgb, width, height)) return false;
  return Access::Signal(camera);
}

bool SignalUpdated(const sensors::SensorPtr& sensor) { return Access::Signal(sensor); }

void FlushSensorRemovals() { Access::FlushRemovals(); }

bool IsRemoved(const sensors::SensorPtr& sensor) { return Access::Removed(sensor); }

void SetSensorsInitialized(bool initialized) { Access::SetInitialized(initialized); }

ModelPluginInstance::ModelPluginInstance(const std::string& library_path, const std::string& handle_name) {
  handle = dlopen(library_path.c_str(), RTLD_LAZY | RTLD_GLOBAL);
  if (!handle) {
    const char* e = dlerror();
    throw std::runtime_error("failed to load plugin " + library_path + ": " + (e ? e : "?"));
  }
  typedef gazebo::ModelPlugin* (*RegisterFunc)();
  void* sym = dlsym(handle, "RegisterPlugin");
  if (!sym) throw std::runtime_error("no RegisterPlugin in " + library_path);
  RegisterFunc reg = reinterpret_cast<RegisterFunc>(sym);
  plugin.reset(reg());
  if (!plugin) throw std::runtime_error("RegisterPlugin of " + library_path + " returned null");
  if (plugin->GetType() != gazebo::MODEL_PLUGIN)
    throw std::runtime_error(library_path + " is not a model plugin");
  Access::Name(plugin.get(), library_path, handle_name);
}

ModelPluginInstance::~ModelPluginInstance() { plugin.reset(); }

void ModelPluginInstance::Load(const ModelPtr& model, sdf::ElementPtr sdf) {
  if (!sdf) sdf = std::make_shared<sdf::Element>();
  plugin->Load(model, sdf);
  plugin->Init();
}

}  // namespace gazebo_standin
