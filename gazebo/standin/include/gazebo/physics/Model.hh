// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): model with links and joints.
#ifndef GAZEBO_PHYSICS_MODEL_HH_
#define GAZEBO_PHYSICS_MODEL_HH_

#include <gazebo/physics/Entity.hh>
#include <gazebo/physics/PhysicsTypes.hh>
#include <string>

namespace gazebo {
namespace physics {

class Model : public Entity {
 public:
  explicit Model(BasePtr _parent);
  virtual ~Model();

  // Number of sensors attached to the model's links.
  unsigned int GetSensorCount() const;
  // Null when the model has no joint controller.
  JointControllerPtr GetJointController();
  // By the name relative to the model ("vesk_body::body"), the leaf name or the scoped name.
  LinkPtr GetLink(const std::string& _name = "canonical") const;
  const Link_V& GetLinks() const { return links; }
  const Joint_V& GetJoints() const { return joints; }
  JointPtr GetJoint(const std::string& _name);

 private:
  Link_V links;
  Joint_V joints;
  JointControllerPtr jointController;
  unsigned int sensorCount = 0;
  friend class gazebo_standin::Access;
};

}  // namespace physics
}  // namespace gazebo

#endif
