// Narrowing of doubles that come from outside (messages, files) to float.
#pragma once

#include <cfloat>
#include <cmath>

namespace os {

// Double to float without undefined behaviour: values beyond the float range become
// infinite (so that a finiteness check downstream refuses them), NaN stays NaN, everything
// else is rounded as static_cast rounds it.
inline float to_float(double d) {
  if (std::isnan(d)) return NAN;
  if (d > FLT_MAX) return INFINITY;
  if (d < -FLT_MAX) return -INFINITY;
  return static_cast<float>(d);
}

}  // namespace os
