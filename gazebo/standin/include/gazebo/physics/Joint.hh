// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): one-axis joint.
#ifndef GAZEBO_PHYSICS_JOINT_HH_
#define GAZEBO_PHYSICS_JOINT_HH_

#include <atomic>
#include <gazebo/physics/Base.hh>

namespace gazebo {
namespace physics {

class Joint : public Base {
 public:
  explicit Joint(BasePtr _parent);
  virtual ~Joint();
  // Axis position [rad]; the stand-in's joints have one axis, other indices read 0.
  virtual double Position(const unsigned int _index = 0) const final;

 private:
  std::atomic<double> position{0.0};
  std::atomic<double> velocity{0.0};
  friend class gazebo_standin::Access;
};

}  // namespace physics
}  // namespace gazebo

#endif
