// ROS-free logic of the robot interface: the control buffer that the control
// topics write and exchange() reads, audio companding, command splitting,
// wheel odometry, the platform clock and the camera calibration model.
#pragma once

#include "vesk_net/camera_calibration.h"
#include "vesk_net/companding.h"
#include "vesk_net/control_buffer.h"
#include "vesk_net/odometry.h"
#include "vesk_net/platform_clock.h"
