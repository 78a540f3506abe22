// Single-precision three-vectors and rotations about the coordinate axes, the
// arithmetic under the body chain. Plain records and free functions working
// in place on caller-owned values; nothing here allocates or keeps state.
#pragma once

struct float3 {
  float x;
  float y;
  float z;
};

// Axis of a rotation; any other value is invalid and makes float3_rotate fail.
// A fixed underlying type makes any int a valid value, so that an invalid
// axis stored in a link is well defined and can be refused.
enum axis_xyz : int { AXIS_X = 1, AXIS_Y = 2, AXIS_Z = 3 };

// Single-precision angle constants [rad], each the float nearest the exact value.
constexpr float kPiF = 3.1415927f;
constexpr float kTwoPiF = 6.2831855f;
constexpr float kThreePiF = 9.424778f;

// In the header so that the push algorithm's inner steps inline them.
inline void float3_scale(float3* v, float s) {
  v->x *= s;
  v->y *= s;
  v->z *= s;
}

inline void float3_add_unary(float3* a, const float3* b) {  // a := a + b
  a->x += b->x;
  a->y += b->y;
  a->z += b->z;
}

inline void float3_subtract_unary(float3* a, const float3* b) {  // a := a - b
  a->x -= b->x;
  a->y -= b->y;
  a->z -= b->z;
}

// Euclidean length, (x^2 + y^2) + z^2 summed in that order.
float float3_modulus(const float3* v);

// Scales v to unit length. A zero (or NaN-length) vector gets x := 1 with y and
// z left as they are, so (0, 0, 0) becomes (1, 0, 0).
void float3_normalise(float3* v);

// Right-handed rotation of v by +angle about `axis`: about Z, +x turns toward
// +y; about X, +y toward +z; about Y, +z toward +x. An invalid axis fails with
// "unrecognised axis" and leaves v unchanged.
void float3_rotate(float3* v, axis_xyz axis, float angle);

// Wraps `a` by whole turns into [-pi, pi): pi maps to -pi. Inputs within
// +-64 pi follow the stepwise wrapping (one step of 2 pi at a time, stopping
// once the value before the step was inside +-3 pi). Larger finite inputs are
// reduced with a double-precision remainder first, so that the call always
// ends; a non-finite input (NaN or +-inf) has no bearing and yields NaN.
float geom_smallangle(float a);
