// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): world update information.
#ifndef GAZEBO_COMMON_UPDATEINFO_HH_
#define GAZEBO_COMMON_UPDATEINFO_HH_

#include <gazebo/common/Time.hh>
#include <string>

namespace gazebo {
namespace common {

class UpdateInfo {
 public:
  std::string worldName;
  common::Time simTime;
  common::Time realTime;
};

}  // namespace common
}  // namespace gazebo

#endif
