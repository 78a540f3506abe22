// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): inertial sensor.
#ifndef GAZEBO_SENSORS_IMUSENSOR_HH_
#define GAZEBO_SENSORS_IMUSENSOR_HH_

#include <gazebo/sensors/Sensor.hh>
#include <ignition/math/Vector3.hh>
#include <mutex>

namespace gazebo {
namespace sensors {

class ImuSensor : public Sensor {
 public:
  ImuSensor();
  virtual ~ImuSensor();
  // Linear acceleration [m/s^2] in the sensor frame. The stand-in has no noise model, so
  // both forms return the value the host set.
  ignition::math::Vector3d LinearAcceleration(const bool _noiseFree = false) const;

 private:
  mutable std::mutex mutex;
  ignition::math::Vector3d linearAcc;
  friend class gazebo_standin::Access;
};

}  // namespace sensors
}  // namespace gazebo

#endif
