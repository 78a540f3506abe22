// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): joint controller of a model.
// Holds per joint a position PID and a position target; the stand-in world moves each
// joint that has a target towards it (see gazebo_standin/host.hh).
#ifndef GAZEBO_PHYSICS_JOINTCONTROLLER_HH_
#define GAZEBO_PHYSICS_JOINTCONTROLLER_HH_

#include <gazebo/common/PID.hh>
#include <gazebo/physics/PhysicsTypes.hh>
#include <map>
#include <mutex>
#include <string>

namespace gazebo_standin {
class Access;
}

namespace gazebo {
namespace physics {

class JointController {
 public:
  explicit JointController(ModelPtr _model);
  virtual ~JointController();

  void AddJoint(JointPtr _joint);
  // Keys are the joints' scoped names.
  std::map<std::string, JointPtr> GetJoints() const;
  void SetPositionPID(const std::string& _jointName, const common::PID& _pid);
  bool SetPositionTarget(const std::string& _jointName, const double _target);
  std::map<std::string, double> GetPositions() const;
  std::map<std::string, common::PID> GetPositionPIDs() const;
  void Reset();

 private:
  mutable std::mutex mutex;
  ModelPtr model;
  std::map<std::string, JointPtr> joints;
  std::map<std::string, common::PID> posPids;
  std::map<std::string, double> positions;
  friend class gazebo_standin::Access;
};

}  // namespace physics
}  // namespace gazebo

#endif
