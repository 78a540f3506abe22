// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): sonar range sensor.
#ifndef GAZEBO_SENSORS_SONARSENSOR_HH_
#define GAZEBO_SENSORS_SONARSENSOR_HH_

#include <atomic>
#include <gazebo/sensors/Sensor.hh>

namespace gazebo {
namespace sensors {

class SonarSensor : public Sensor {
 public:
  SonarSensor();
  virtual ~SonarSensor();
  // Range [m] to the nearest object; DBL_MAX when nothing is in range.
  double Range();

 private:
  std::atomic<double> range;
  friend class gazebo_standin::Access;
};

}  // namespace sensors
}  // namespace gazebo

#endif
