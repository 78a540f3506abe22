// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): the process-wide sensor registry.
// Sensors are added by the host (gazebo_standin/host.hh). RemoveSensor queues a removal
// that the stand-in performs at the start of the next world step (in Gazebo the sensor
// thread does it later), or when the host flushes the queue.
#ifndef GAZEBO_SENSORS_SENSORMANAGER_HH_
#define GAZEBO_SENSORS_SENSORMANAGER_HH_

#include <gazebo/common/SingletonT.hh>
#include <gazebo/sensors/SensorTypes.hh>
#include <mutex>
#include <string>
#include <vector>

namespace gazebo_standin {
class Access;
}

namespace gazebo {
namespace sensors {

class SensorManager : public SingletonT<SensorManager> {
 public:
  Sensor_V GetSensors() const;
  SensorPtr GetSensor(const std::string& _name) const;
  bool SensorsInitialized();
  void RemoveSensor(const std::string& _name);
  void RemoveSensors();

 private:
  SensorManager();
  virtual ~SensorManager();

  mutable std::mutex mutex;
  Sensor_V sensors;
  std::vector<std::string> removals;
  bool initialized = true;
  friend class SingletonT<SensorManager>;
  friend class gazebo_standin::Access;
};

}  // namespace sensors
}  // namespace gazebo

#endif
