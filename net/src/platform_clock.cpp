// The platform clock.
#include "vesk_net/platform_clock.h"

namespace vesk {

int64_t unwrap_platform_clock(int64_t& last_us, int32_t stamp_us) {
  const int64_t base = (last_us / PLATFORM_CLOCK_WRAP_US) * PLATFORM_CLOCK_WRAP_US;
  int64_t t = base + stamp_us;
  if (t - last_us > PLATFORM_CLOCK_WRAP_US / 2) {
    t -= PLATFORM_CLOCK_WRAP_US;
  } else if (t - last_us < -PLATFORM_CLOCK_WRAP_US / 2) {
    t += PLATFORM_CLOCK_WRAP_US;
  }
  last_us = t;
  return t;
}

uint64_t platform_stamp_ns(uint64_t base_ns, int64_t t_us) {
  // Both terms are limited to +-STAMP_MAX_NS (below 2^62), so the sum cannot overflow.
  constexpr int64_t kMax = static_cast<int64_t>(STAMP_MAX_NS);
  const int64_t base = base_ns > STAMP_MAX_NS ? kMax : static_cast<int64_t>(base_ns);
  int64_t t_ns = kMax;
  if (t_us < -(kMax / 1000)) {
    t_ns = -kMax;
  } else if (t_us <= kMax / 1000) {
    t_ns = t_us * 1000;
  }
  const int64_t ns = base + t_ns;
  if (ns < 0) return 0;
  return ns > kMax ? STAMP_MAX_NS : static_cast<uint64_t>(ns);
}

}  // namespace vesk
