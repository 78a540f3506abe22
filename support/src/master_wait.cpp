// The kit's wait for the ROS master.
#include "vesk_support/master_wait.h"

#include <ros/master.h>

#include "vesk_support/os.h"

MasterWait wait_for_ros_master(unsigned max_checks, unsigned slices_per_check,
                               const std::function<bool()>& stop,
                               const std::function<void(unsigned check)>& missed) {
  for (unsigned check = 0; max_checks == 0 || check < max_checks; ++check) {
    if (ros::master::check()) return MasterWait::reached;
    missed(check);
    if (stop()) return MasterWait::stopped;
    for (unsigned slice = 0; slice < slices_per_check; ++slice) {
      os::msleep(100);
      if (stop()) return MasterWait::stopped;
    }
  }
  return MasterWait::absent;
}
