// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): common umbrella header.
#ifndef GAZEBO_COMMON_COMMON_HH_
#define GAZEBO_COMMON_COMMON_HH_

#include <gazebo/common/CommonTypes.hh>
#include <gazebo/common/Event.hh>
#include <gazebo/common/Events.hh>
#include <gazebo/common/PID.hh>
#include <gazebo/common/Plugin.hh>
#include <gazebo/common/SingletonT.hh>
#include <gazebo/common/Time.hh>
#include <gazebo/common/UpdateInfo.hh>

#endif
