// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): the simulated world. Created,
// stepped and destroyed through gazebo_standin/host.hh.
#ifndef GAZEBO_PHYSICS_WORLD_HH_
#define GAZEBO_PHYSICS_WORLD_HH_

#include <atomic>
#include <boost/enable_shared_from_this.hpp>
#include <cstdint>
#include <functional>
#include <gazebo/common/Time.hh>
#include <gazebo/physics/PhysicsTypes.hh>
#include <mutex>
#include <string>

namespace gazebo_standin {
class Access;
}

namespace gazebo {
namespace physics {

class World : public boost::enable_shared_from_this<World> {
 public:
  explicit World(const std::string& _name = "");
  virtual ~World();

  std::string Name() const { return name; }
  common::Time SimTime() const;
  bool IsPaused() const { return paused; }
  void SetPaused(bool _p) { paused = _p; }
  PhysicsEnginePtr Physics() const { return physicsEngine; }
  uint64_t Iterations() const { return iterations; }
  const Model_V& Models() const { return models; }
  ModelPtr ModelByName(const std::string& _name) const;

 private:
  std::string name;
  std::atomic<bool> paused{false};
  std::atomic<int64_t> simTimeNs{0};
  std::atomic<uint64_t> iterations{0};
  PhysicsEnginePtr physicsEngine;
  Model_V models;
  double jointTimeConstant = 0.005;
  std::function<void(double)> physicsHook;
  std::mutex stepMutex;
  friend class gazebo_standin::Access;
};

}  // namespace physics
}  // namespace gazebo

#endif
