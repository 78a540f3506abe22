// The vocal synthesis model.
#include "vesk_voice/vocs.h"

#include <cmath>
#include <cstring>

#include "vesk_voice/fastmath.h"

namespace {

constexpr float kA2 = 0.92439f;         // pole radius squared of every resonator
constexpr float kB0 = 0.0378047f;       // resonator gain (b = b0, 0, -b0)
constexpr float kControlDt = 0.002f;    // [s] one control step
constexpr float kSampleDt = 1.25e-4f;   // [s] one sample
constexpr float kPulseStep = 0.04375f;  // 350 Hz / 8000 Hz [turns/sample]
constexpr float kTwoPi = 6.2831855f;
constexpr float kFadeLevel = 0.02882353f;  // sound level at which the fade reaches 1

// Wraps a phase in turns back into [0, 1). In normal use a phase moves by less
// than a turn per step and one correction does it; inputs far out of range
// can step it by many turns, and a small negative phase plus 1 can round to
// exactly 1. Those take the fractional part instead (exact for |p| >= 1; 0
// for phases too large to have one), so that a phase never stays stuck
// outside its cycle once the inputs are sane again. NaN stays NaN, for the
// caller's finiteness check.
inline float wrap_turn(float p) {
  if (p >= 1.0f) p -= 1.0f;
  if (p < 0.0f) p += 1.0f;
  if (!(p >= 0.0f && p < 1.0f)) p -= std::floor(p);
  return p;
}

inline float clampf(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Jitter filter: a third-order low-pass on Gaussian noise, one value per control step.
inline float jitter_next(VOCS_STATE* s) {
  const float m = rng_norm_f();
  const int k = s->jit_slot & 3;
  const int k1 = (k + 1) & 3, k2 = (k + 2) & 3, k3 = (k + 3) & 3;
  const float j = 0.001073f * m + 0.003219f * s->jit_x[k1] + 0.003219f * s->jit_x[k2] +
                  0.001073f * s->jit_x[k3] + 2.748836f * s->jit_y[k1] - 2.528231f * s->jit_y[k2] +
                  0.777639f * s->jit_y[k3];
  s->jit_x[k] = m;
  s->jit_y[k] = j;
  s->jit_slot = (k + 3) & 3;  // steps down: 0, 3, 2, 1, 0, ...
  return j;
}

}  // namespace

#define VOCS_ROW(a1_1, a1_2, a1_3) \
  { 1.0f, a1_1, kA2, 1.0f, a1_2, kA2, 1.0f, a1_3, kA2 }
#define VOCS_ROW_2(a1_1, a1_2) \
  { 1.0f, a1_1, kA2, 1.0f, a1_2, kA2, 1.0f, 0.0f, 0.0f }

const float vocs_filt_aa[kVocsRows][kVocsRowLength] = {
    VOCS_ROW(-1.92423f, -0.39471f, 1.73064f),  VOCS_ROW(-1.91973f, -0.321695f, 1.76195f),
    VOCS_ROW(-1.91236f, -0.248201f, 1.79063f), VOCS_ROW(-1.90216f, -0.174337f, 1.81665f),
    VOCS_ROW(-1.88911f, -0.100214f, 1.83996f), VOCS_ROW(-1.87326f, -0.0259419f, 1.86054f),
    VOCS_ROW(-1.85462f, 0.048369f, 1.87834f),  VOCS_ROW(-1.83321f, 0.122608f, 1.89335f),
    VOCS_ROW(-1.80908f, 0.196664f, 1.90554f),  VOCS_ROW(-1.78225f, 0.270428f, 1.91489f),
    VOCS_ROW(-1.75277f, 0.343789f, 1.92139f),  VOCS_ROW_2(-1.72068f, 0.416638f),
    VOCS_ROW_2(-1.68603f, 0.488867f),          VOCS_ROW_2(-1.64887f, 0.560368f),
    VOCS_ROW_2(-1.60925f, 0.631034f),          VOCS_ROW_2(-1.56723f, 0.700761f),
};

#define VOCS_B3 \
  { kB0, 0.0f, -kB0, kB0, 0.0f, -kB0, kB0, 0.0f, -kB0 }
#define VOCS_B2 \
  { kB0, 0.0f, -kB0, kB0, 0.0f, -kB0, 0.0f, 0.0f, 0.0f }

const float vocs_filt_bb[kVocsRows][kVocsRowLength] = {
    VOCS_B3, VOCS_B3, VOCS_B3, VOCS_B3, VOCS_B3, VOCS_B3, VOCS_B3, VOCS_B3,
    VOCS_B3, VOCS_B3, VOCS_B3, VOCS_B2, VOCS_B2, VOCS_B2, VOCS_B2, VOCS_B2,
};

#undef VOCS_ROW
#undef VOCS_ROW_2
#undef VOCS_B3
#undef VOCS_B2

void vocs_init(VOCS_STATE* s) {
  s->consts[0] = 10.091752f;
  s->consts[1] = 350.0f;
  s->consts[2] = 0.0025f;
  s->consts[3] = 1.5f;
  vocs_update(s, 0, 0.0f, 0.0f, 0.0f, 0.0f);
  vocs_update_stoch(s);
  s->x = 0.5f;
  s->v = 0.0f;
  s->thr = 0.0f;
  s->jit_slot = 0;
}

void vocs_update(VOCS_STATE* s, uint8_t mute, float in0, float in1, float in2, float in3) {
  s->in0 = in0;
  s->in1 = in1;
  s->in2 = in2;
  s->in3 = in3;
  s->mute = mute;

  const float e = 0.2f * expf(1.8f * in1);
  const float g = in1 + 1.0f;
  s->nl_gain = g * g * g * g * 0.03125f + 0.5f;
  const float h = in2 * 0.333f * 0.3f + 1.1f + 0.1f * s->nl_gain;
  s->osc_k = 2.0f * h * e;
  s->thr_gain = 50.0f * h;
  s->damp = 15.0f * h * e / s->nl_gain;
  const float cc = 1.0f - 0.333f * in2;
  const float l = 1.0f / (2.0f - 1.0f / cc);
  s->bias_p = (cc + l) / 2.0f;
  s->bias_q = s->bias_p - l;

  const float one_minus_in0 = 1.0f - in0;
  s->pulse_shape = (8.0f * in1 * in1 * in1 + 3.0f) * one_minus_in0 * one_minus_in0 * one_minus_in0 + 1.0f;
  s->vib_depth = (1.0f - 2.0f * in0) * 0.5f;
  s->trem_prob = sqrtf(in0);
  s->trem_rate_mean = 20.0f * (in1 + 1.0f);
  s->trem_depth_on = 0.5f * (in1 + 1.0f);
}

void vocs_update_stoch(VOCS_STATE* s) {
  (void)rng_unif_f();  // U1: drawn and discarded
  const float u2 = rng_unif_f();
  const float u3 = rng_unif_f();
  const float u4 = rng_unif_f();
  s->trem_depth = (u2 < s->trem_prob) ? s->trem_depth_on : 0.0f;
  s->trem_rate = (2.0f * u3 - 1.0f) * 5.0f + s->trem_rate_mean;
  s->vib4_depth = (2.0f * u4 - 1.0f) * 0.5f;
}

float vocs_step(VOCS_STATE* s, int16_t* samples, int count, bool* vocalising) {
  if (count <= 0) return 0.0f;

  // Held between control steps.
  float theta = 0.0f;
  float dir = 0.0f;
  float env = 0.0f;
  float noise_amp = 0.0f;
  float voiced_amp = 0.0f;
  float pitch = 1.0f;  // vibrato factor F: a function of theta alone
  float mix = 0.0f;    // weight of the unfiltered source: a function of dir alone

  for (int i = 0; i < count; ++i) {
    const bool control = (i % kVocsControlPeriod) == 0;

    // A. Breath and vocalisation cycle.
    if (control) {
      const float t = tanhf_approx((s->x - s->thr) * s->thr_gain);
      s->thr = 0.5f * (1.0f - s->nl_gain * t);
      s->v = s->v - kControlDt * s->damp * ((t * s->bias_p + s->bias_q) * s->osc_k + s->v);
      s->x = s->x + kControlDt * s->v;

      theta = atan2f_approx(2.0f * (s->x - 0.5f), s->v);
      if (theta < 0.0f) theta += kTwoPi;
      dir = tanhf_approx(3.0f * cosf_approx(theta));

      const float l = s->voc_phase;
      const float lw = (l > 0.5f) ? l - 1.0f : l;
      const float drive =
          (0.5f * dir + 1.0f) * (-1.771188f) * exp_minus_sq_approx(8.0f * lw) * sinf_approx_norm(2.0f * l) -
          0.3f * dir * sinf_approx_norm(l);

      const float jit = jitter_next(s);
      const float excite = sqrtf(s->in2) + 0.5f * jit;
      const float excite_pos = (excite > 0.0f) ? excite : 0.0f;  // NaN counts as 0
      s->rate = 0.064493f * (0.55f * excite_pos + 2.0f * drive) + 0.935507f * s->rate;

      s->voc_phase = wrap_turn(s->voc_phase + 0.02f * s->rate);

      const float u = (s->voc_phase >= 0.95f) ? s->voc_phase - 0.95f : s->voc_phase + 0.05f;
      const float c = (cosf_approx_norm(u * u) + 1.0f) * 0.5f;
      env = 1.0f - c * c;
      if (c * c < 0.9f) *vocalising = true;
    }

    // B. Breath crossings.
    if (s->dir_prev > 0.0f && dir <= 0.0f) {
      vocs_update_stoch(s);
    } else if (s->dir_prev < 0.0f && dir >= 0.0f) {
      s->mute_latched = s->mute;
    }
    s->dir_prev = dir;

    // C. Source amplitudes.
    if (control) {
      noise_amp = s->v * s->v * s->consts[2];
      voiced_amp = s->mute_latched ? 0.0f : 0.5f * env * (tanhf_approx(20.0f * (-0.2f - s->v)) + 1.0f);
    }

    // D. Source, resonators and mix. The vibrato factor and the mix weight
    // depend only on values that change at control steps; vib4_depth can
    // change at a breath crossing, which happens only at a control step too
    // (dir changes nowhere else), so they are computed there.
    if (control) {
      pitch = 1.0f + s->vib_depth * sinf_approx(theta) + s->vib4_depth * cosf_approx(4.0f * theta);
      mix = (1.0f + dir) * 0.5f;
    }
    const float f = pitch;
    s->pulse_phase = wrap_turn(s->pulse_phase + kPulseStep * f);
    const float pulse =
        cosf_approx_norm(clampf((sqrtf(s->pulse_phase) - 0.5f) * s->pulse_shape, -0.5f, 0.5f));

    const float n = 2.0f * rng_unif_f() - 1.0f;
    s->noise_lp = 0.431625f * (n + s->noise_prev) + 0.626743f * s->noise_lp;
    s->noise_prev = n;

    s->trem_phase = wrap_turn(s->trem_phase + kSampleDt * s->trem_rate * f);

    const float src = s->noise_lp * noise_amp + pulse * voiced_amp;
    const float exc = (1.0f - (sinf_approx_norm(s->trem_phase) + 1.0f) * s->trem_depth * 0.5f) * src;

    if (control) {
      const float level = 16.0f * env;
      const int row = (level >= 1.0f) ? (level < 15.0f ? static_cast<int>(level) : 15) : 0;
      std::memcpy(s->coef_b, vocs_filt_bb[row], sizeof(s->coef_b));
      std::memcpy(s->coef_a, vocs_filt_aa[row], sizeof(s->coef_a));
    }

    float res_sum = 0.0f;
    for (int k = 0; k < 3; ++k) {
      const float* b = s->coef_b + 3 * k;
      const float* a = s->coef_a + 3 * k;
      float* hist = s->res_hist + 4 * k;  // x1, x2, y1, y2
      const float y = b[0] * exc + b[1] * hist[0] + b[2] * hist[1] - a[1] * hist[2] - a[2] * hist[3];
      hist[1] = hist[0];
      hist[0] = exc;
      hist[3] = hist[2];
      hist[2] = y;
      res_sum += y;
    }

    float out = 1.5f * (1.0f - mix) * res_sum + mix * src;
    if (!(s->in3 > kFadeLevel)) out *= (s->in3 + 0.03f) * 17.0f;

    out = clampf(out, -1.0f, 1.0f);
    if (out != out) out = 0.0f;  // NaN: silence rather than an undefined conversion
    samples[i] = static_cast<int16_t>(out * 32767.0f);
  }
  return theta;
}

bool vocs_state_finite(const VOCS_STATE* s) {
  float sum = s->x + s->v + s->thr + s->pulse_phase + s->noise_lp + s->noise_prev + s->trem_phase +
              s->dir_prev + s->rate + s->voc_phase;
  for (int k = 0; k < 4; ++k) sum += s->jit_x[k] + s->jit_y[k];
  for (float h : s->res_hist) sum += h;
  // A sum of finite values can overflow to infinity; then one of them is huge
  // enough to count as broken as well.
  return std::isfinite(sum);
}

void vocs_restore(VOCS_STATE* s) {
  s->x = 0.5f;
  s->v = 0.0f;
  s->thr = 0.0f;
  s->pulse_phase = 0.0f;
  s->noise_lp = 0.0f;
  s->noise_prev = 0.0f;
  s->trem_phase = 0.0f;
  s->dir_prev = 0.0f;
  s->rate = 0.0f;
  s->voc_phase = 0.0f;
  for (int k = 0; k < 4; ++k) s->jit_x[k] = s->jit_y[k] = 0.0f;
  s->jit_slot = 0;
  for (float& h : s->res_hist) h = 0.0f;
}
