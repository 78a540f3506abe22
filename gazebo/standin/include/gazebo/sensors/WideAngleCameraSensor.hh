// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): wide-angle camera sensor.
#ifndef GAZEBO_SENSORS_WIDEANGLECAMERASENSOR_HH_
#define GAZEBO_SENSORS_WIDEANGLECAMERASENSOR_HH_

#include <gazebo/sensors/CameraSensor.hh>

namespace gazebo {
namespace sensors {

class WideAngleCameraSensor : public CameraSensor {
 public:
  WideAngleCameraSensor();
  virtual ~WideAngleCameraSensor();
};

}  // namespace sensors
}  // namespace gazebo

#endif
