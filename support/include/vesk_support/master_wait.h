// The kit's wait for the ROS master (needs roscpp; library vesk_node). Every program that
// must reach a master before it registers waits through this one loop and only says in its
// own words what it is doing.
#pragma once

#include <functional>

enum class MasterWait {
  reached,  // the master answered
  stopped,  // `stop` asked to end the wait
  absent,   // no answer within the allowed checks
};

// Asks the master at ROS_MASTER_URI whether it is up, at most `max_checks` times (0: without
// limit), one check every `slices_per_check` slices of 100 ms. After each unanswered check it
// calls `missed` with the number of that check (0 for the first), then asks `stop` before the
// first slice and after every slice; `stop` answering true ends the wait at once.
MasterWait wait_for_ros_master(unsigned max_checks, unsigned slices_per_check,
                               const std::function<bool()>& stop,
                               const std::function<void(unsigned check)>& missed);
