// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): common forward declarations.
#ifndef GAZEBO_COMMON_COMMONTYPES_HH_
#define GAZEBO_COMMON_COMMONTYPES_HH_

#include <boost/shared_ptr.hpp>

namespace gazebo {
namespace event {
class Connection;
typedef boost::shared_ptr<Connection> ConnectionPtr;
}  // namespace event
namespace common {
class PID;
class Time;
class UpdateInfo;
}  // namespace common
}  // namespace gazebo

#endif
