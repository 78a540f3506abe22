// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): rigid link.
#ifndef GAZEBO_PHYSICS_LINK_HH_
#define GAZEBO_PHYSICS_LINK_HH_

#include <gazebo/physics/Entity.hh>
#include <ignition/math/Vector3.hh>

namespace gazebo {
namespace physics {

class Link : public Entity {
 public:
  explicit Link(EntityPtr _parent);
  virtual ~Link();
  // Zeroes the link's velocities, accelerations, forces and torques.
  void ResetPhysicsStates();

 private:
  ignition::math::Vector3d linearVel, angularVel, linearAccel, angularAccel, force, torque;
  unsigned int resetCount = 0;
  friend class gazebo_standin::Access;
};

}  // namespace physics
}  // namespace gazebo

#endif
