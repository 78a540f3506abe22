// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): physics umbrella header.
#ifndef GAZEBO_PHYSICS_PHYSICS_HH_
#define GAZEBO_PHYSICS_PHYSICS_HH_

#include <gazebo/physics/Base.hh>
#include <gazebo/physics/Entity.hh>
#include <gazebo/physics/Joint.hh>
#include <gazebo/physics/JointController.hh>
#include <gazebo/physics/Link.hh>
#include <gazebo/physics/Model.hh>
#include <gazebo/physics/PhysicsEngine.hh>
#include <gazebo/physics/PhysicsTypes.hh>
#include <gazebo/physics/World.hh>

#endif
