// Gazebo 11 stand-in: the member functions of the stand-in classes.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <gazebo/common/common.hh>
#include <gazebo/physics/physics.hh>
#include <gazebo/rendering/rendering.hh>
#include <gazebo/sensors/sensors.hh>

namespace gazebo {

// ---------------------------------------------------------------- common
namespace common {

Time::Time(const int32_t _sec, const int32_t _nsec) : sec(_sec), nsec(_nsec) { Correct(); }

Time::Time(const double _time) { Set(_time); }

void Time::Set(int32_t _sec, int32_t _nsec) {
  sec = _sec;
  nsec = _nsec;
  Correct();
}

void Time::Set(double _seconds) {
  const double whole = std::floor(_seconds);
  sec = static_cast<int32_t>(whole);
  nsec = static_cast<int32_t>(std::llround((_seconds - whole) * 1e9));
  Correct();
}

void Time::Correct() {
  while (nsec >= 1000000000) {
    nsec -= 1000000000;
    ++sec;
  }
  while (nsec < 0) {
    nsec += 1000000000;
    --sec;
  }
}

Time Time::operator+(const Time& _t) const { return Time(sec + _t.sec, nsec + _t.nsec); }
Time Time::operator-(const Time& _t) const { return Time(sec - _t.sec, nsec - _t.nsec); }
const Time& Time::operator+=(const Time& _t) {
  *this = *this + _t;
  return *this;
}
const Time& Time::operator-=(const Time& _t) {
  *this = *this - _t;
  return *this;
}

PID::PID(double _p, double _i, double _d, double _imax, double _imin, double _cmdMax, double _cmdMin) {
  Init(_p, _i, _d, _imax, _imin, _cmdMax, _cmdMin);
}

void PID::Init(double _p, double _i, double _d, double _imax, double _imin, double _cmdMax, double _cmdMin) {
  pGain = _p;
  iGain = _i;
  dGain = _d;
  iMax = _imax;
  iMin = _imin;
  cmdMax = _cmdMax;
  cmdMin = _cmdMin;
  Reset();
}

void PID::Reset() { pErrLast = pErr = iErr = dErr = cmd = 0.0; }

double PID::Update(double _error, common::Time _dt) {
  const double dt = _dt.Double();
  if (dt <= 0.0 || !std::isfinite(_error)) return 0.0;
  pErr = _error;
  iErr += dt * pErr;
  iErr = std::max(iMin, std::min(iMax, iErr));
  dErr = (pErr - pErrLast) / dt;
  pErrLast = pErr;
  cmd = -pGain * pErr - iGain * iErr - dGain * dErr;
  if (cmdMax >= cmdMin) cmd = std::max(cmdMin, std::min(cmdMax, cmd));
  return cmd;
}

}  // namespace common

namespace event {
EventT<void(const common::UpdateInfo&)> Events::worldUpdateBegin;
EventT<void()> Events::worldUpdateEnd;
}  // namespace event

// ---------------------------------------------------------------- physics
namespace physics {

Base::Base(BasePtr _parent) : parent(std::move(_parent)) {
  if (parent) world = parent->GetWorld();
}
Base::~Base() = default;

std::string Base::GetScopedName(bool _prependWorldName) const {
  std::string scoped = name;
  for (BasePtr p = parent; p; p = p->parent) scoped = p->name + "::" + scoped;
  if (_prependWorldName && world) scoped = world->Name() + "::" + scoped;
  return scoped;
}

BasePtr Base::GetChild(unsigned int _i) const { return _i < children.size() ? children[_i] : BasePtr(); }

Entity::Entity(BasePtr _parent) : Base(std::move(_parent)) { AddType(ENTITY); }
Entity::~Entity() = default;

Link::Link(EntityPtr _parent) : Entity(_parent) { AddType(LINK); }
Link::~Link() = default;

void Link::ResetPhysicsStates() {
  linearVel.Set();
  angularVel.Set();
  linearAccel.Set();
  angularAccel.Set();
  force.Set();
  torque.Set();
  ++resetCount;
}

Joint::Joint(BasePtr _parent) : Base(std::move(_parent)) {
  AddType(JOINT);
  AddType(HINGE_JOINT);
}
Joint::~Joint() = default;

double Joint::Position(const unsigned int _index) const { return _index == 0 ? position.load() : 0.0; }

JointController::JointController(ModelPtr _model) : model(std::move(_model)) {}
JointController::~JointController() = default;

void JointController::AddJoint(JointPtr _joint) {
  std::lock_guard<std::mutex> lock(mutex);
  joints[_joint->GetScopedName()] = _joint;
}

std::map<std::string, JointPtr> JointController::GetJoints() const {
  std::lock_guard<std::mutex> lock(mutex);
  return joints;
}

void JointController::SetPositionPID(const std::string& _jointName, const common::PID& _pid) {
  std::lock_guard<std::mutex> lock(mutex);
  if (joints.count(_jointName)) posPids[_jointName] = _pid;
}

bool JointController::SetPositionTarget(const std::string& _jointName, const double _target) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!joints.count(_jointName)) return false;
  positions[_jointName] = _target;
  return true;
}

std::map<std::string, double> JointController::GetPositions() const {
  std::lock_guard<std::mutex> lock(mutex);
  return positions;
}

std::map<std::string, common::PID> JointController::GetPositionPIDs() const {
  std::lock_guard<std::mutex> lock(mutex);
  return posPids;
}

void JointController::Reset() {
  std::lock_guard<std::mutex> lock(mutex);
  positions.clear();
  for (auto& p : posPids) p.second.Reset();
}

PhysicsEngine::PhysicsEngine(WorldPtr) {}
PhysicsEngine::~PhysicsEngine() = default;

Model::Model(BasePtr _parent) : Entity(std::move(_parent)) { AddType(MODEL); }
Model::~Model() = default;

unsigned int Model::GetSensorCount() const { return sensorCount; }

JointControllerPtr Model::GetJointController() { return jointController; }

LinkPtr Model::GetLink(const std::string& _name) const {
  if (_name == "canonical") {
    if (!links.empty()) return links.front();
    for (const ModelPtr& m : models) {
      if (LinkPtr l = m->GetLink("canonical")) return l;
    }
    return LinkPtr();
  }
  for (const LinkPtr& l : links)
    if (l->GetScopedName() == _name || l->GetName() == _name) return l;
  return LinkPtr();
}

JointPtr Model::GetJoint(const std::string& _name) {
  for (const JointPtr& j : joints)
    if (j->GetName() == _name || j->GetScopedName() == _name) return j;
  return JointPtr();
}

ModelPtr Model::NestedModel(const std::string& _name) const {
  for (const ModelPtr& m : models)
    if (m->GetName() == _name || m->GetScopedName() == _name) return m;
  return ModelPtr();
}

World::World(const std::string& _name) : name(_name) {}
World::~World() = default;

common::Time World::SimTime() const {
  const int64_t ns = simTimeNs.load();
  return common::Time(static_cast<int32_t>(ns / 1000000000), static_cast<int32_t>(ns % 1000000000));
}

ModelPtr World::ModelByName(const std::string& _name) const {
  for (const ModelPtr& m : models)
    if (m->GetName() == _name) return m;
  return ModelPtr();
}

}  // namespace physics

// ---------------------------------------------------------------- sensors
namespace sensors {

Sensor::Sensor(SensorCategory _cat) : category(_cat) {}
Sensor::~Sensor() = default;

void Sensor::SetActive(const bool _value) { active = _value; }
bool Sensor::IsActive() const { return active; }
void Sensor::SetUpdateRate(const double _hz) { updateRate = _hz; }
double Sensor::UpdateRate() const { return updateRate; }

event::ConnectionPtr Sensor::ConnectUpdated(std::function<void()> _subscriber) {
  return updated.Connect(_subscriber);
}

CameraSensor::CameraSensor() : Sensor(IMAGE), camera(std::make_shared<rendering::Camera>()) {
  type = "camera";
}
CameraSensor::~CameraSensor() = default;

WideAngleCameraSensor::WideAngleCameraSensor() {
  type = "wideanglecamera";
  camera = std::make_shared<rendering::WideAngleCamera>();
}
WideAngleCameraSensor::~WideAngleCameraSensor() = default;

ImuSensor::ImuSensor() : Sensor(OTHER) { type = "imu"; }
ImuSensor::~ImuSensor() = default;

ignition::math::Vector3d ImuSensor::LinearAcceleration(const bool) const {
  std::lock_guard<std::mutex> lock(mutex);
  return linearAcc;
}

SonarSensor::SonarSensor() : Sensor(RAY), range(DBL_MAX) { type = "sonar"; }
SonarSensor::~SonarSensor() = default;

double SonarSensor::Range() { return range; }

SensorManager::SensorManager() = default;
SensorManager::~SensorManager() = default;

Sensor_V SensorManager::GetSensors() const {
  std::lock_guard<std::mutex> lock(mutex);
  return sensors;
}

SensorPtr SensorManager::GetSensor(const std::string& _name) const {
  std::lock_guard<std::mutex> lock(mutex);
  for (const SensorPtr& s : sensors)
    if (s->ScopedName() == _name || s->Name() == _name) return s;
  return SensorPtr();
}

bool SensorManager::SensorsInitialized() {
  std::lock_guard<std::mutex> lock(mutex);
  return initialized;
}

void SensorManager::RemoveSensor(const std::string& _name) {
  std::lock_guard<std::mutex> lock(mutex);
  removals.push_back(_name);
}

void SensorManager::RemoveSensors() {
  std::lock_guard<std::mutex> lock(mutex);
  for (const SensorPtr& s : sensors) s->removed = true;
  sensors.clear();
  removals.clear();
}

}  // namespace sensors
}  // namespace gazebo
