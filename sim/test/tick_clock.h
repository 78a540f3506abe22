// The robot's tick clock as its sensors packages show it: until a world reset, a package's
// stamp is the clock's time base plus its tick number (the sequence number) times the tick
// period; after a reset the tick stamp starts again from 0.
#pragma once

#include <ros/time.h>
#include <vesk2_msg/sensors_package.h>

#include <cstddef>
#include <cstdint>
#include <deque>

#include "vesk_net/records.h"

// The time base of the tick clock that stamped `p` (any package before a reset will do).
inline ros::Time tick_clock_base(const vesk2_msg::sensors_package& p) {
  return ros::Time().fromNSec(p.header.stamp.toNSec() - uint64_t(TICK_PERIOD_US) * 1000u * p.header.seq);
}

// Index of the first package at or after `from` (> 0) whose stamp goes back in time: the
// first tick after a reset, which carries tick stamp 0. 0 when there is none.
inline size_t first_tick_after_reset(const std::deque<vesk2_msg::sensors_package>& packages, size_t from) {
  for (size_t i = from; i < packages.size(); ++i) {
    if (i > 0 && packages[i].header.stamp < packages[i - 1].header.stamp) return i;
  }
  return 0;
}
