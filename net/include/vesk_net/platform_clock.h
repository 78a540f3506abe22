// The platform clock: unwrapping its readings and turning them into ROS stamps.
#pragma once

#include <cstdint>

#include "vesk_net/records.h"

namespace vesk {

// Unwraps a platform clock reading (microseconds, wrapping 999999999 -> 0)
// against the last unwrapped value `last_us`, which it updates. Jumps of more
// than half a wrap are taken as a wrap in the other direction.
int64_t unwrap_platform_clock(int64_t& last_us, int32_t stamp_us);

// Largest time a ROS stamp can hold [ns]: 2^32 - 1 seconds and 999999999 ns.
constexpr uint64_t STAMP_MAX_NS = 4294967295ull * 1000000000ull + 999999999ull;

// The stamp [ns] of unwrapped platform time `t_us` on top of the time base
// `base_ns`, limited to 0 .. STAMP_MAX_NS: a platform clock far behind (or
// ahead of) the base gives the nearest valid stamp instead of an invalid time.
uint64_t platform_stamp_ns(uint64_t base_ns, int64_t t_us);

}  // namespace vesk
