// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): physics engine settings.
#ifndef GAZEBO_PHYSICS_PHYSICSENGINE_HH_
#define GAZEBO_PHYSICS_PHYSICSENGINE_HH_

#include <gazebo/physics/PhysicsTypes.hh>

namespace gazebo_standin {
class Access;
}

namespace gazebo {
namespace physics {

class PhysicsEngine {
 public:
  explicit PhysicsEngine(WorldPtr _world);
  virtual ~PhysicsEngine();
  // Physics step [s].
  double GetMaxStepSize() const { return maxStepSize; }
  void SetMaxStepSize(double _stepSize) { maxStepSize = _stepSize; }

 private:
  double maxStepSize = 0.001;
  friend class gazebo_standin::Access;
};

}  // namespace physics
}  // namespace gazebo

#endif
