// Tables and C library twins of the voice's fast maths.
#include "vesk_voice/fastmath.h"

namespace {

// Exact value rounded to six decimal places, stored as a float.
float round6(double v) { return static_cast<float>(std::round(v * 1e6) / 1e6); }

// The four tables. The object is const once its constructor has filled it.
struct FastTables {
  float cosf[kFastTableSize];
  float exp_minus_sq[kFastTableSize];
  float tanh[kFastTableSize];
  float asin[kFastTableSize];

  FastTables() {
    const double pi = std::acos(-1.0);
    for (int i = 0; i < kFastTableSize; ++i) {
      cosf[i] = round6(std::cos(i * pi / 8192.0));
      exp_minus_sq[i] = round6(std::exp(-(i / 1024.0) * (i / 1024.0)));
      tanh[i] = round6(std::tanh(i / 512.0));
      asin[i] = round6(std::asin(i / 4096.0));
    }
  }
};

const FastTables g_tables;

}  // namespace

const float (&table_cosf)[kFastTableSize] = g_tables.cosf;
const float (&table_exp_minus_sq)[kFastTableSize] = g_tables.exp_minus_sq;
const float (&table_tanh)[kFastTableSize] = g_tables.tanh;
const float (&table_asin)[kFastTableSize] = g_tables.asin;

int32_t rng_seed = kRngSeedStart;

float cosf_accurate(float x) { return cosf(x); }
float sinf_accurate(float x) { return sinf(x); }
float tanhf_accurate(float x) { return tanhf(x); }
float asinf_accurate(float x) { return asinf(x); }
float atan2f_accurate(float y, float x) { return atan2f(y, x); }
