// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): model with links, joints and nested
// models.
//
// As in Gazebo 11, a nested model is a model of its own: a child entity of its parent model
// that holds its own links and joints and has its own joint controller. A model's links,
// joints, sensor count and joint controller cover only what the model itself holds, never
// what its nested models hold.
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

  // Number of sensors attached to the model's own links (not those of nested models).
  unsigned int GetSensorCount() const;
  // Null when the model has no joint controller. Holds the model's own joints.
  JointControllerPtr GetJointController();
  // One of the model's own links, by its scoped name or its leaf name ("body"); a link of
  // a nested model is not found. "canonical": the first own link, else the first nested
  // model's canonical link.
  LinkPtr GetLink(const std::string& _name = "canonical") const;
  const Link_V& GetLinks() const { return links; }
  // The model's own joints.
  const Joint_V& GetJoints() const { return joints; }
  // One of the model's own joints, by its scoped name or its leaf name.
  JointPtr GetJoint(const std::string& _name);
  // The models nested directly in this one.
  const Model_V& NestedModels() const { return models; }
  // A model nested directly in this one, by its leaf or scoped name; null if none.
  ModelPtr NestedModel(const std::string& _name) const;

 private:
  Link_V links;
  Joint_V joints;
  Model_V models;
  JointControllerPtr jointController;
  unsigned int sensorCount = 0;
  friend class gazebo_standin::Access;
};

}  // namespace physics
}  // namespace gazebo

#endif
