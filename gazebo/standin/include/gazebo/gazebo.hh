// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): core umbrella header. As in Gazebo,
// physics and sensor classes are only forward-declared here (with their pointer types);
// include <gazebo/physics/physics.hh> and <gazebo/sensors/sensors.hh> for them.
#ifndef GAZEBO_GAZEBO_HH_
#define GAZEBO_GAZEBO_HH_

#include <gazebo/common/common.hh>
#include <gazebo/physics/PhysicsTypes.hh>
#include <gazebo/sensors/SensorTypes.hh>
#include <sdf/sdf.hh>

#endif
