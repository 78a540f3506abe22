// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): the global simulation events.
#ifndef GAZEBO_COMMON_EVENTS_HH_
#define GAZEBO_COMMON_EVENTS_HH_

#include <gazebo/common/Event.hh>
#include <gazebo/common/UpdateInfo.hh>

namespace gazebo {
namespace event {

class Events {
 public:
  template <typename T>
  static ConnectionPtr ConnectWorldUpdateBegin(T _subscriber) {
    return worldUpdateBegin.Connect(_subscriber);
  }
  template <typename T>
  static ConnectionPtr ConnectWorldUpdateEnd(T _subscriber) {
    return worldUpdateEnd.Connect(_subscriber);
  }

  // Signalled by a world at the start of each update, with the world's new time.
  static EventT<void(const common::UpdateInfo&)> worldUpdateBegin;
  // Signalled by a world after each update.
  static EventT<void()> worldUpdateEnd;
};

}  // namespace event
}  // namespace gazebo

#endif
