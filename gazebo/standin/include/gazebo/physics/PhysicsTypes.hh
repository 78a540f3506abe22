// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): physics pointer types.
#ifndef GAZEBO_PHYSICS_PHYSICSTYPES_HH_
#define GAZEBO_PHYSICS_PHYSICSTYPES_HH_

#include <boost/shared_ptr.hpp>
#include <vector>

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

typedef boost::shared_ptr<Base> BasePtr;
typedef boost::shared_ptr<Entity> EntityPtr;
typedef boost::shared_ptr<World> WorldPtr;
typedef boost::shared_ptr<Model> ModelPtr;
typedef boost::shared_ptr<Link> LinkPtr;
typedef boost::shared_ptr<Joint> JointPtr;
typedef boost::shared_ptr<JointController> JointControllerPtr;
typedef boost::shared_ptr<PhysicsEngine> PhysicsEnginePtr;

typedef std::vector<BasePtr> Base_V;
typedef std::vector<ModelPtr> Model_V;
typedef std::vector<LinkPtr> Link_V;
typedef std::vector<JointPtr> Joint_V;

}  // namespace physics
}  // namespace gazebo

#endif
