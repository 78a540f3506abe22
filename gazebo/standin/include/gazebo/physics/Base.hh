// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): base of the physics tree.
#ifndef GAZEBO_PHYSICS_BASE_HH_
#define GAZEBO_PHYSICS_BASE_HH_

#include <boost/enable_shared_from_this.hpp>
#include <gazebo/physics/PhysicsTypes.hh>
#include <string>

namespace gazebo_standin {
class Access;
}

namespace gazebo {
namespace physics {

class Base : public boost::enable_shared_from_this<Base> {
 public:
  enum EntityType {
    BASE = 0x00000000,
    ENTITY = 0x00000001,
    MODEL = 0x00000002,
    LINK = 0x00000004,
    COLLISION = 0x00000008,
    LIGHT = 0x00000010,
    VISUAL = 0x00000020,
    JOINT = 0x00000040,
    BALL_JOINT = 0x00000080,
    HINGE2_JOINT = 0x00000100,
    HINGE_JOINT = 0x00000200,
    SLIDER_JOINT = 0x00000400,
    SCREW_JOINT = 0x00000800,
    UNIVERSAL_JOINT = 0x00001000,
    GEARBOX_JOINT = 0x00002000,
    FIXED_JOINT = 0x00004000,
    ACTOR = 0x00008000,
    SHAPE = 0x00010000,
    SENSOR_COLLISION = 0x10000000
  };

  explicit Base(BasePtr _parent);
  virtual ~Base();

  std::string GetName() const { return name; }
  void SetName(const std::string& _name) { name = _name; }
  std::string GetScopedName(bool _prependWorldName = false) const;
  unsigned int GetChildCount() const { return static_cast<unsigned int>(children.size()); }
  BasePtr GetChild(unsigned int _i) const;
  BasePtr GetParent() const { return parent; }
  bool HasType(const EntityType& _t) const { return (type & _t) == static_cast<unsigned int>(_t); }
  unsigned int GetType() const { return type; }
  const WorldPtr& GetWorld() const { return world; }

 protected:
  void AddType(EntityType _type) { type |= _type; }

  // Name relative to the parent (a leaf name: nested models are entities of their own).
  std::string name;
  BasePtr parent;
  Base_V children;
  WorldPtr world;

 private:
  unsigned int type = BASE;
  friend class gazebo_standin::Access;
};

}  // namespace physics
}  // namespace gazebo

#endif
