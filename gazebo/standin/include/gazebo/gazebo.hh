// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): core umbrella header. As in Gazebo,
// physics and sensor classes are only forward-declared here; include
// <gazebo/physics/physics.hh> and <gazebo/sensors/sensors.hh> for them.
#ifndef GAZEBO_GAZEBO_HH_
#define GAZEBO_GAZEBO_HH_

#include <gazebo/common/common.hh>
#include <sdf/sdf.hh>

namespace gazebo {
namespace physics {
class Base;
class Entity;
class Joint;
class JointController;
class Link;
class Model;
class PhysicsEngine;
class World;
}  // namespace physics
namespace sensors {
class Sensor;
class SensorManager;
class CameraSensor;
class WideAngleCameraSensor;
class ImuSensor;
class SonarSensor;
}  // namespace sensors
}  // namespace gazebo

#endif
