// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): entities with a world pose.
#ifndef GAZEBO_PHYSICS_ENTITY_HH_
#define GAZEBO_PHYSICS_ENTITY_HH_

#include <gazebo/physics/Base.hh>
#include <ignition/math/Pose3.hh>

namespace gazebo {
namespace physics {

class Entity : public Base {
 public:
  explicit Entity(BasePtr _parent);
  virtual ~Entity();
  inline virtual const ignition::math::Pose3d& WorldPose() const { return worldPose; }

 protected:
  ignition::math::Pose3d worldPose;

 private:
  friend class gazebo_standin::Access;
};

}  // namespace physics
}  // namespace gazebo

#endif
