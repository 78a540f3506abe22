// Fast single-precision maths of the voice: table approximations of cosine,
// sine, the Gaussian bell exp(-x^2), tanh and arcsine, a short polynomial
// atan2, and a tiny linear congruential random generator for the noise
// sources. Each approximation has an "accurate" twin that calls the C library,
// for comparison and benchmarks.
//
// The approximations are inline: the synthesis loop calls several of them per
// sample. None of them takes a lock; the generator's state `rng_seed` is meant
// for the one synthesis thread.
#ifndef VESK_VOICE_FASTMATH_H
#define VESK_VOICE_FASTMATH_H

#include <cmath>
#include <cstdint>
#include <cstring>

constexpr int kFastTableSize = 4097;  // entries 0..4096 of every table

// The four read-only tables, filled once at program start-up with the exact
// function value rounded to six decimal places:
//   table_cosf[i]         = cos(i*pi/8192)      (a quarter wave, step 1/16384 turn)
//   table_exp_minus_sq[i] = exp(-(i/1024)^2)    (step 1/1024)
//   table_tanh[i]         = tanh(i/512)         (step 1/512)
//   table_asin[i]         = asin(i/4096)        (step 1/4096)
// Code that runs before main() (static initialisers) must not use them.
extern const float (&table_cosf)[kFastTableSize];
extern const float (&table_exp_minus_sq)[kFastTableSize];
extern const float (&table_tanh)[kFastTableSize];
extern const float (&table_asin)[kFastTableSize];

// State of the random generator: 5323 at every program start, so every run
// draws the same sequence.
extern int32_t rng_seed;
constexpr int32_t kRngSeedStart = 5323;

constexpr float kTwoPiInv = 0.15915494f;      // 1/(2*pi)
constexpr float kThreeHalfPi = 4.712389f;     // 3*pi/2
constexpr float kHalfPi = 1.5707964f;         // pi/2
constexpr float kRngScale = 1.0f / 32767.0f;  // nearest float to 1/32767

// The lookups below are written without data-dependent branches (the
// compiler turns the selects into conditional moves): the voice calls them on
// signals whose sign and quadrant change unpredictably.

// x with the sign bit of `negative ? -0.0f : 0.0f` added: negates x exactly
// (zeros included) when `negative` holds.
inline float fastmath_negate_if(float x, bool negative) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  bits ^= static_cast<uint32_t>(negative) << 31;
  std::memcpy(&x, &bits, sizeof bits);
  return x;
}

// cos(2*pi*x) for an angle x in turns (1.0 = one cycle), rounded to the nearest
// table entry. Phases must stay below 2^32 turns; beyond that (and for NaN) the
// result is 0.
inline float cosf_approx_norm(float x) {
  x = std::fabs(x) + 3.0517578e-05f;  // half a table step: truncation rounds to nearest
  if (!(x < 4294967296.0f)) return 0.0f;
  const float f = x - static_cast<float>(static_cast<int64_t>(x));  // phase within the cycle, [0, 1)
  // trunc(16384 f) = 4096 q + i for the quadrant q = trunc(4f) and i = trunc(4096 (4f - q)):
  // every product here is by a power of two, so exact.
  const int32_t k = static_cast<int32_t>(16384.0f * f);
  const int32_t q = k >> 12;
  const int32_t i = k & 4095;
  // Quadrants 1 and 3 read the quarter wave backwards; 1 and 2 are negative.
  const int32_t j = (q & 1) ? 4096 - i : i;
  return fastmath_negate_if(table_cosf[j], ((q ^ (q >> 1)) & 1) != 0);
}

// sin(2*pi*x) for an angle x in turns.
inline float sinf_approx_norm(float x) { return cosf_approx_norm(x + 0.75f); }

// cos(x) and sin(x) for an angle x in radians.
inline float cosf_approx(float x) { return cosf_approx_norm(x * kTwoPiInv); }
inline float sinf_approx(float x) { return cosf_approx_norm((x + kThreeHalfPi) * kTwoPiInv); }

// Table index trunc(s) for s in [+0, 4096), else 4096 (NaN included); s must
// not carry a sign bit. The clamp works on the bit pattern, whose order is that
// of the non-negative floats, so that it compiles to a conditional move.
inline int32_t fastmath_index(float s) {
  constexpr uint32_t kBits4096 = 0x45800000u;  // 4096.0f
  uint32_t bits;
  std::memcpy(&bits, &s, sizeof bits);
  bits = bits < kBits4096 ? bits : kBits4096;
  std::memcpy(&s, &bits, sizeof bits);
  return static_cast<int32_t>(s);
}

// exp(-x^2) for any x, from the table by truncation; 0 for |x| >= 4 (and NaN):
// entry 4096 is 0.
inline float exp_minus_sq_approx(float x) {
  return table_exp_minus_sq[fastmath_index(std::fabs(x) * 1024.0f)];
}

// tanh(x) for x >= 0 (negative x reads entry 0), from the table by truncation;
// 1.0 for x >= 8 (and NaN): entry 4096 is 1.0.
inline float tanhf_approx_pos(float x) {
  const float s = x * 512.0f;
  return table_tanh[fastmath_index(s > 0.0f ? s : 0.0f)];
}

// tanh(x) for any x: the odd extension of tanhf_approx_pos.
inline float tanhf_approx(float x) { return fastmath_negate_if(tanhf_approx_pos(std::fabs(x)), x < 0.0f); }

// asin(x) for any x, from the table by truncation, clamped to +-pi/2 for |x| >= 1.
inline float asinf_approx(float x) {
  const int32_t i = fastmath_index(std::fabs(x) * 4096.0f);
  const float mag = (i < 4096) ? table_asin[i] : kHalfPi;
  return fastmath_negate_if(mag, x < 0.0f);
}

// Polynomial atan2 (y first), error about 1.5e-3 rad. Its range is -3pi/4 to
// 5pi/4: on both sides of the negative x axis it runs continuously through pi,
// so for x < 0, y < 0 and |y| <= |x| it returns the usual atan2 plus 2*pi.
inline float atan2f_approx(float y, float x) {
  if (y == 0.0f && x == 0.0f) return 0.0f;
  // Sectors: upper (y >= x, y > -x), left (y >= x, y <= -x), right (y < x,
  // y > -x), lower (y < x, y <= -x). Upper and lower use z = -x/y, the others
  // z = y/x, so that |z| <= 1.
  const bool ge = y >= x;
  const bool gt = y > -x;
  const bool vertical = ge == gt;
  const float z = (vertical ? -x : y) / (vertical ? y : x);
  const float offset = vertical ? (ge ? kHalfPi : -kHalfPi) : (ge ? 3.1415927f : 0.0f);
  const float az = std::fabs(z);
  return ((0.0663f * az + 0.2447f) * (1.0f - az) + 0.7853982f) * z + offset;
}

// C library twins, for comparison.
float cosf_accurate(float x);
float sinf_accurate(float x);
float tanhf_accurate(float x);
float asinf_accurate(float x);
float atan2f_accurate(float y, float x);

// Uniform integer in 0..32766: one step of the generator.
inline int rng_unif() {
  rng_seed = static_cast<int32_t>(static_cast<uint32_t>(rng_seed) * 8253729u + 2396403u);
  return static_cast<int>(static_cast<uint32_t>(rng_seed) % 32767u);
}

// Approximately normal integer, mean about 0, standard deviation about 32767:
// the scaled sum of four uniforms.
inline int rng_norm() {
  int32_t s = rng_unif();
  s += rng_unif();
  s += rng_unif();
  s += rng_unif();
  return ((s - 65536) * 3546) >> 11;
}

// rng_unif() scaled to [0, 1).
inline float rng_unif_f() { return static_cast<float>(rng_unif()) * kRngScale; }

// rng_norm() scaled to an approximately standard normal value.
inline float rng_norm_f() { return static_cast<float>(rng_norm()) * kRngScale; }

#endif  // VESK_VOICE_FASTMATH_H
