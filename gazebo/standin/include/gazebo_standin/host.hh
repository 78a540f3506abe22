// Host API of the Gazebo 11 stand-in (library vesk_gazebo_standin).
//
// The stand-in declares, at Gazebo's own include paths, the subset of the Gazebo 11 API that
// the vesk model plug-in uses. This header is what Gazebo itself would do around a plug-in:
// build a world with a model (links, joints, joint controller, sensors), load a model
// plug-in from its shared library, step the world and make the sensors report. Test hosts
// and the headless simulator use it; plug-in code never includes it.
//
// World step (StepWorld), in this order:
//   1. sensor removals queued with SensorManager::RemoveSensor take effect;
//   2. simulation time advances by the physics engine's max step size (kept in whole
//      nanoseconds, so 1000 steps of 0.001 s are exactly 1 s; a step that is not finite or
//      beyond 9e9 s leaves the time unchanged);
//   3. event::Events::worldUpdateBegin is signalled;
//   4. physics: the world's physics hook if the host set one (SetPhysicsHook), otherwise
//      the built-in joint response: every joint that the joint controller of its model (or
//      of any model it is handed to) holds a position PID and a position target for moves
//      towards the target as a first-order lag,
//      pos += (target - pos) * (1 - exp(-dt / tau)), velocity = change / dt, with the time
//      constant tau of SetJointTimeConstant (default 0.005 s). Links do not move by
//      themselves; a host sets their poses (SetLinkWorldPose);
//   5. event::Events::worldUpdateEnd is signalled (model plug-ins run their ticks here).
// A paused world (World::SetPaused) still steps when told to; IsPaused reports the flag.
//
// Models: as in Gazebo 11, a name with scopes ("vesk_body::body") places the entity in a
// nested model ("vesk_body" inside the model), which is a model of its own with its own
// joint controller; the outer model's links, joints, joint controller and sensor count do
// not include it.
//
// Sensors: the Add*Sensor functions create a sensor on a link and register it with the
// sensor manager. Its scoped name is "<world>::<model>::<link path>::<name>" and it starts
// active at the given update rate. Update* sets the reading and signals the sensor's update
// event on the calling thread, but only when the sensor is active and not removed; they
// return whether subscribers were signalled. Sensor readings may be set from any thread.
// An exception that escapes a subscriber ends the process through std::terminate, as it
// ends gzserver, whose sensor threads run these updates.
// A sonar measures along the -z axis of its sensor frame (kSonarAxis), as Gazebo 11's does:
// a host that computes ranges casts along that axis.
//
// Lifetime: a world and its models hold each other (as in Gazebo); DestroyWorld breaks the
// links, unregisters the world's sensors and must be called when a host is done with a
// world. Joint and link state may be set by the host at any time between steps; the
// joint controller and sensors are internally locked.
#ifndef GAZEBO_STANDIN_HOST_HH_
#define GAZEBO_STANDIN_HOST_HH_

#include <functional>
#include <gazebo/common/common.hh>
#include <gazebo/physics/physics.hh>
#include <gazebo/sensors/sensors.hh>
#include <ignition/math/Pose3.hh>
#include <ignition/math/Vector3.hh>
#include <memory>
#include <sdf/sdf.hh>
#include <string>

namespace gazebo_standin {

using gazebo::physics::JointPtr;
using gazebo::physics::LinkPtr;
using gazebo::physics::ModelPtr;
using gazebo::physics::WorldPtr;

// ---- world ----
// A world named `name` ("default" in Gazebo) whose physics engine steps by `max_step_size` [s].
WorldPtr CreateWorld(const std::string& name = "default", double max_step_size = 0.001);
// Unregisters the world's sensors, releases its models and breaks the world/model cycle.
void DestroyWorld(WorldPtr& world);
void SetMaxStepSize(const WorldPtr& world, double max_step_size);
// Runs `steps` world updates as described above.
void StepWorld(const WorldPtr& world, unsigned int steps = 1);
// Sets simulation time and the iteration count back to zero (a world reset; model plug-ins'
// Reset is the host's call).
void ResetWorldTime(const WorldPtr& world);
// Time constant [s] of the built-in joint response (> 0).
void SetJointTimeConstant(const WorldPtr& world, double tau);
// Replaces the built-in joint response by the host's physics, called with the step [s]
// inside each world update; an empty function restores the built-in response.
void SetPhysicsHook(const WorldPtr& world, std::function<void(double)> hook);

// ---- model, links, joints ----
// A model named `name`; without a joint controller GetJointController() returns null.
ModelPtr AddModel(const WorldPtr& world, const std::string& name, bool with_joint_controller = true);
// A link of the model; `relative_name` may hold nested-model scopes ("vesk_body::body"):
// the link then belongs to that nested model, made on first use.
LinkPtr AddLink(const ModelPtr& model, const std::string& relative_name);
// A joint of the model or of the nested model its scopes name (a child of that model, like
// links); when `controlled` it is also added to that model's joint controller under its
// scoped name "<model>::<relative_name>".
JointPtr AddJoint(const ModelPtr& model, const std::string& relative_name, bool controlled = true);

void SetJointPosition(const JointPtr& joint, double position, double velocity = 0.0);
double JointVelocity(const JointPtr& joint);
// Position target / PID that the model's own joint controller holds for a joint (by scoped
// name); false when none was set.
bool JointTarget(const ModelPtr& model, const std::string& scoped_name, double* target);
bool JointPid(const ModelPtr& model, const std::string& scoped_name, gazebo::common::PID* pid);
// PID and position target of a joint (by scoped name) from the controllers of the model and
// its nested models, the model's own first: what the physics of a step reads, without the
// copies of the controllers' tables that GetPositionPIDs and GetPositions make. False when
// no controller holds both.
bool PositionControl(const ModelPtr& model, const std::string& scoped_name, gazebo::common::PID* pid,
                     double* target);

void SetLinkWorldPose(const LinkPtr& link, const ignition::math::Pose3d& pose);
void SetModelWorldPose(const ModelPtr& model, const ignition::math::Pose3d& pose);
void SetLinkVelocity(const LinkPtr& link, const ignition::math::Vector3d& linear,
                     const ignition::math::Vector3d& angular);
ignition::math::Vector3d LinkLinearVelocity(const LinkPtr& link);
ignition::math::Vector3d LinkAngularVelocity(const LinkPtr& link);
// How often ResetPhysicsStates was called on the link.
unsigned int LinkResetCount(const LinkPtr& link);

// ---- sensors ----
// Measuring direction of a sonar in its sensor frame.
const ignition::math::Vector3d kSonarAxis(0.0, 0.0, -1.0);
// `type` "camera" or "wideanglecamera" (a WideAngleCameraSensor).
gazebo::sensors::CameraSensorPtr AddCameraSensor(const LinkPtr& link, const std::string& name,
                                                 unsigned int width, unsigned int height, double update_rate,
                                                 const std::string& type = "camera");
gazebo::sensors::ImuSensorPtr AddImuSensor(const LinkPtr& link, const std::string& name, double update_rate);
gazebo::sensors::SonarSensorPtr AddSonarSensor(const LinkPtr& link, const std::string& name,
                                               double update_rate);

bool UpdateImu(const gazebo::sensors::ImuSensorPtr& imu, const ignition::math::Vector3d& accel);
bool UpdateSonar(const gazebo::sensors::SonarSensorPtr& sonar, double range);
// What the host draws for a camera: its horizontal field of view [rad] and, for a wide-angle
// camera, its lens type (Gazebo's names, e.g. "gnomonical", "equidistant") and whether the
// lens is scaled to that field of view. A camera starts at Gazebo's defaults (1.047 rad,
// "gnomonical", scaled).
void SetCameraLens(const gazebo::sensors::CameraSensorPtr& camera, double hfov,
                   const std::string& lens_type = "gnomonical", bool scale_to_hfov = true);
// Copies a width x height x 3 RGB image into the camera (its size becomes width x height);
// false, and nothing changed, when `rgb` is null for a non-empty size.
bool UpdateCamera(const gazebo::sensors::CameraSensorPtr& camera, const unsigned char* rgb,
                  unsigned int width, unsigned int height);
// Signals the update event without changing the reading (same conditions as above).
bool SignalUpdated(const gazebo::sensors::SensorPtr& sensor);
// Performs the queued removals now.
void FlushSensorRemovals();
// True once the sensor manager has dropped the sensor.
bool IsRemoved(const gazebo::sensors::SensorPtr& sensor);
// Marks the sensor manager initialised or not (SensorsInitialized()).
void SetSensorsInitialized(bool initialized);

// ---- plug-in loading ----
// A model plug-in created from a shared library as Gazebo does it: dlopen(RTLD_LAZY |
// RTLD_GLOBAL), dlsym("RegisterPlugin"), type check MODEL_PLUGIN. The object is owned here and
// deleted through its virtual destructor when the instance goes (or on Release()); the
// library stays loaded for the life of the process.
class ModelPluginInstance {
 public:
  // Fails with std::runtime_error naming the library and the reason.
  ModelPluginInstance(const std::string& library_path, const std::string& handle_name);
  ~ModelPluginInstance();
  ModelPluginInstance(const ModelPluginInstance&) = delete;
  ModelPluginInstance& operator=(const ModelPluginInstance&) = delete;

  gazebo::ModelPlugin* get() const { return plugin.get(); }
  gazebo::ModelPlugin* operator->() const { return plugin.get(); }
  // Load then Init, like Gazebo; exceptions from Load propagate.
  void Load(const ModelPtr& model, sdf::ElementPtr sdf = nullptr);
  void Reset() { plugin->Reset(); }
  // Deletes the plug-in object now.
  void Release() { plugin.reset(); }

 private:
  void* handle = nullptr;
  boost::shared_ptr<gazebo::ModelPlugin> plugin;
};

}  // namespace gazebo_standin

#endif
