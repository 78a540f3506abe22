#include "vesk_body/float3.h"

#include <vesk_support/os.h>

#include <cmath>

float float3_modulus(const float3* v) {
  const float xy = v->x * v->x + v->y * v->y;
  return std::sqrt(xy + v->z * v->z);
}

void float3_normalise(float3* v) {
  const float m = float3_modulus(v);
  if (m == 0.0f || std::isnan(m)) {
    v->x = 1.0f;
    return;
  }
  const float k = 1.0f / m;
  v->x *= k;
  v->y *= k;
  v->z *= k;
}

void float3_rotate(float3* v, axis_xyz axis, float angle) {
  if (axis != AXIS_X && axis != AXIS_Y && axis != AXIS_Z) os::fail("unrecognised axis");
  const float s = std::sin(angle);
  const float c = std::cos(angle);
  switch (axis) {
    case AXIS_X: {
      const float y = v->y, z = v->z;
      v->y = y * c - z * s;
      v->z = y * s + z * c;
      break;
    }
    case AXIS_Y: {
      const float z = v->z, x = v->x;
      v->z = z * c - x * s;
      v->x = z * s + x * c;
      break;
    }
    case AXIS_Z: {
      const float x = v->x, y = v->y;
      v->x = x * c - y * s;
      v->y = x * s + y * c;
      break;
    }
  }
}

namespace {

// Beyond this magnitude the stepwise wrapping would take many steps (and, for
// huge values where a - 2 pi == a in single precision, never end).
constexpr float kStepwiseLimit = 64.0f * kPiF;

float wrap_stepwise(float a) {
  float p;
  if (a >= kPiF) {
    do {
      p = a;
      a -= kTwoPiF;
    } while (p >= kThreePiF);
  }
  if (a < -kPiF) {
    do {
      p = a;
      a += kTwoPiF;
    } while (p < -kThreePiF);
  }
  return a;
}

}  // namespace

float geom_smallangle(float a) {
  if (!std::isfinite(a)) return std::nanf("");
  if (std::fabs(a) >= kStepwiseLimit) {
    // Into [-pi, pi] (double), then the stepwise rule settles the float ends.
    a = static_cast<float>(std::remainder(static_cast<double>(a), 2.0 * M_PI));
  }
  return wrap_stepwise(a);
}
