// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): sensors umbrella header.
#ifndef GAZEBO_SENSORS_SENSORS_HH_
#define GAZEBO_SENSORS_SENSORS_HH_

#include <gazebo/sensors/CameraSensor.hh>
#include <gazebo/sensors/ImuSensor.hh>
#include <gazebo/sensors/Sensor.hh>
#include <gazebo/sensors/SensorManager.hh>
#include <gazebo/sensors/SensorTypes.hh>
#include <gazebo/sensors/SonarSensor.hh>
#include <gazebo/sensors/WideAngleCameraSensor.hh>

#endif
