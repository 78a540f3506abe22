// Stand-in of the Gazebo 11 API (vesk_gazebo_standin): symbol visibility.
#ifndef GAZEBO_UTIL_SYSTEM_HH_
#define GAZEBO_UTIL_SYSTEM_HH_

#define GZ_PLUGIN_VISIBLE __attribute__((visibility("default")))
#define GZ_COMMON_VISIBLE __attribute__((visibility("default")))
#define GZ_PHYSICS_VISIBLE __attribute__((visibility("default")))
#define GZ_SENSORS_VISIBLE __attribute__((visibility("default")))

#endif
