// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): sensor pointer types.
#ifndef GAZEBO_SENSORS_SENSORTYPES_HH_
#define GAZEBO_SENSORS_SENSORTYPES_HH_

#include <memory>
#include <vector>

namespace gazebo {
namespace sensors {

class Sensor;
class CameraSensor;
class WideAngleCameraSensor;
class ImuSensor;
class SonarSensor;
class SensorManager;

typedef std::shared_ptr<Sensor> SensorPtr;
typedef std::shared_ptr<CameraSensor> CameraSensorPtr;
typedef std::shared_ptr<WideAngleCameraSensor> WideAngleCameraSensorPtr;
typedef std::shared_ptr<ImuSensor> ImuSensorPtr;
typedef std::shared_ptr<SonarSensor> SonarSensorPtr;
typedef std::vector<SensorPtr> Sensor_V;

enum SensorCategory { IMAGE = 0, RAY = 1, OTHER = 2 };

}  // namespace sensors
}  // namespace gazebo

#endif
