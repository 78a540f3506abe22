// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): sensor base. A host sets a sensor's
// reading and signals its update through gazebo_standin/host.hh.
#ifndef GAZEBO_SENSORS_SENSOR_HH_
#define GAZEBO_SENSORS_SENSOR_HH_

#include <atomic>
#include <functional>
#include <gazebo/common/Event.hh>
#include <gazebo/sensors/SensorTypes.hh>
#include <memory>
#include <string>

namespace gazebo_standin {
class Access;
}

namespace gazebo {
namespace sensors {

class Sensor : public std::enable_shared_from_this<Sensor> {
 public:
  explicit Sensor(SensorCategory _cat);
  virtual ~Sensor();

  std::string Name() const { return name; }
  // "<world>::<model>::<link path>::<sensor>".
  std::string ScopedName() const { return scopedName; }
  std::string Type() const { return type; }
  SensorCategory Category() const { return category; }
  virtual void SetActive(const bool _value);
  virtual bool IsActive() const;
  void SetUpdateRate(const double _hz);
  double UpdateRate() const;
  event::ConnectionPtr ConnectUpdated(std::function<void()> _subscriber);

 protected:
  std::string name;
  std::string scopedName;
  std::string type;

 private:
  SensorCategory category;
  std::atomic<bool> active{true};
  std::atomic<double> updateRate{0.0};
  std::atomic<bool> removed{false};
  event::EventT<void()> updated;
  friend class SensorManager;
  friend class gazebo_standin::Access;
};

}  // namespace sensors
}  // namespace gazebo

#endif
