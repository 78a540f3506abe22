// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): events and connections.
//
// An event keeps its subscribers until their connection objects are released: holding the
// ConnectionPtr keeps the callback connected, dropping the last copy disconnects it. A
// connection may outlive its event. Signalling copies the subscriber list under a lock and
// calls the subscribers outside it, so a subscriber may connect or disconnect others.
#ifndef GAZEBO_COMMON_EVENT_HH_
#define GAZEBO_COMMON_EVENT_HH_

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <functional>
#include <gazebo/common/CommonTypes.hh>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace gazebo {
namespace event {

// Subscriber bookkeeping shared by an event and its connections.
class EventCore {
 public:
  virtual ~EventCore() = default;
  virtual void Disconnect(int _id) = 0;
};

class Connection {
 public:
  Connection(std::weak_ptr<EventCore> _event, int _id) : event(std::move(_event)), id(_id) {}
  ~Connection() {
    if (auto e = event.lock()) e->Disconnect(id);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  int Id() const { return id; }

 private:
  std::weak_ptr<EventCore> event;
  int id;
};

template <typename T>
class EventT {
 public:
  EventT() : core(std::make_shared<Core>()) {}

  ConnectionPtr Connect(const std::function<T>& _subscriber) {
    std::lock_guard<std::mutex> lock(core->mutex);
    const int id = core->next_id++;
    core->subscribers[id] = std::make_shared<std::function<T>>(_subscriber);
    return boost::make_shared<Connection>(std::weak_ptr<EventCore>(core), id);
  }
  unsigned int ConnectionCount() const {
    std::lock_guard<std::mutex> lock(core->mutex);
    return static_cast<unsigned int>(core->subscribers.size());
  }
  template <typename... Args>
  void Signal(Args&&... _args) {
    std::vector<std::shared_ptr<std::function<T>>> calls;
    {
      std::lock_guard<std::mutex> lock(core->mutex);
      for (auto& s : core->subscribers) calls.push_back(s.second);
    }
    for (auto& c : calls) (*c)(_args...);
  }
  template <typename... Args>
  void operator()(Args&&... _args) {
    Signal(std::forward<Args>(_args)...);
  }

 private:
  struct Core : EventCore {
    void Disconnect(int _id) override {
      std::lock_guard<std::mutex> lock(mutex);
      subscribers.erase(_id);
    }
    mutable std::mutex mutex;
    int next_id = 0;
    std::map<int, std::shared_ptr<std::function<T>>> subscribers;
  };
  std::shared_ptr<Core> core;
};

}  // namespace event
}  // namespace gazebo

#endif
