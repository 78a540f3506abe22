// Properties of the vocal synthesis model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "vesk_voice/fastmath.h"
#include "vesk_voice/vocs.h"

namespace {

const double kPi = std::acos(-1.0);
constexpr int kBlock = 320;

// A started model with the generator at its start value.
VOCS_STATE started() {
  rng_seed = kRngSeedStart;
  VOCS_STATE s;
  std::memset(&s, 0, sizeof(s));
  vocs_init(&s);
  return s;
}

struct Inputs {
  float in0, in1, in2, in3;
};

// Runs `blocks` blocks with fixed inputs, appending samples and phases.
void run_blocks(VOCS_STATE* s, const Inputs& in, int blocks, std::vector<int16_t>* out,
                std::vector<float>* phases = nullptr, uint8_t mute = 0) {
  std::vector<int16_t> buf(kBlock);
  for (int b = 0; b < blocks; ++b) {
    vocs_update(s, mute, in.in0, in.in1, in.in2, in.in3);
    bool voc = false;
    const float phase = vocs_step(s, buf.data(), kBlock, &voc);
    out->insert(out->end(), buf.begin(), buf.end());
    if (phases) phases->push_back(phase);
  }
}

double rms(const std::vector<int16_t>& v) {
  double sum = 0.0;
  for (int16_t x : v) sum += static_cast<double>(x) * x;
  return v.empty() ? 0.0 : std::sqrt(sum / v.size());
}

const Inputs kLively{0.4f, 0.5f, 0.9f, 0.5f};

TEST(VocsInit, StartingState) {
  rng_seed = kRngSeedStart;
  VOCS_STATE s;
  std::memset(&s, 0, sizeof(s));
  vocs_init(&s);
  EXPECT_EQ(s.consts[0], 10.091752f);
  EXPECT_EQ(s.consts[1], 350.0f);
  EXPECT_EQ(s.consts[2], 0.0025f);
  EXPECT_EQ(s.consts[3], 1.5f);
  EXPECT_EQ(s.x, 0.5f);
  EXPECT_EQ(s.v, 0.0f);
  EXPECT_EQ(s.thr, 0.0f);
  EXPECT_EQ(s.jit_slot, 0);
  EXPECT_EQ(s.mute, 0);
  EXPECT_EQ(s.in0, 0.0f);
  EXPECT_EQ(s.in3, 0.0f);

  // The parameters are those of all-zero inputs, and one per-breath draw (four numbers) was taken.
  VOCS_STATE ref;
  std::memset(&ref, 0, sizeof(ref));
  vocs_update(&ref, 0, 0.0f, 0.0f, 0.0f, 0.0f);
  EXPECT_EQ(s.nl_gain, ref.nl_gain);
  EXPECT_EQ(s.osc_k, ref.osc_k);
  EXPECT_EQ(s.damp, ref.damp);
  const int32_t after_init = rng_seed;
  rng_seed = kRngSeedStart;
  for (int k = 0; k < 4; ++k) rng_unif();
  EXPECT_EQ(rng_seed, after_init);
}

TEST(VocsUpdate, DerivedParametersFollowTheirFormulas) {
  for (const Inputs& in :
       {Inputs{0.0f, 0.0f, 0.0f, 0.0f}, Inputs{0.3f, -0.2f, 0.7f, 0.5f}, Inputs{0.9f, 0.8f, 1.0f, 1.0f}}) {
    VOCS_STATE s;
    std::memset(&s, 0, sizeof(s));
    vocs_update(&s, 1, in.in0, in.in1, in.in2, in.in3);
    const double e = 0.2 * std::exp(1.8 * in.in1);
    const double nl = std::pow(in.in1 + 1.0, 4) * 0.03125 + 0.5;
    const double h = in.in2 * 0.333 * 0.3 + 1.1 + 0.1 * nl;
    const double cc = 1.0 - 0.333 * in.in2;
    const double l = 1.0 / (2.0 - 1.0 / cc);
    const double bp = (cc + l) / 2.0;
    EXPECT_EQ(s.mute, 1);
    EXPECT_EQ(s.in2, in.in2);
    EXPECT_NEAR(s.nl_gain, nl, 1e-5);
    EXPECT_NEAR(s.osc_k, 2 * h * e, 1e-5);
    EXPECT_NEAR(s.thr_gain, 50 * h, 1e-4);
    EXPECT_NEAR(s.damp, 15 * h * e / nl, 1e-4);
    EXPECT_NEAR(s.bias_p, bp, 1e-5);
    EXPECT_NEAR(s.bias_q, bp - l, 1e-5);
    EXPECT_NEAR(s.pulse_shape, (8 * std::pow(in.in1, 3) + 3) * std::pow(1 - in.in0, 3) + 1, 1e-5);
    EXPECT_NEAR(s.vib_depth, (1 - 2 * in.in0) * 0.5, 1e-6);
    EXPECT_NEAR(s.trem_prob, std::sqrt(in.in0), 1e-6);
    EXPECT_NEAR(s.trem_rate_mean, 20 * (in.in1 + 1), 1e-5);
    EXPECT_NEAR(s.trem_depth_on, 0.5 * (in.in1 + 1), 1e-6);
  }
}

TEST(VocsUpdateStoch, DrawsFourNumbersInOrder) {
  VOCS_STATE s;
  std::memset(&s, 0, sizeof(s));
  vocs_update(&s, 0, 0.25f, 0.1f, 0.5f, 0.5f);  // trem_prob 0.5
  int hits = 0;
  rng_seed = 777;
  for (int k = 0; k < 400; ++k) {
    const int32_t before = rng_seed;
    vocs_update_stoch(&s);
    const int32_t after = rng_seed;
    rng_seed = before;
    rng_unif_f();
    const float u2 = rng_unif_f(), u3 = rng_unif_f(), u4 = rng_unif_f();
    ASSERT_EQ(rng_seed, after);
    ASSERT_EQ(s.trem_depth, u2 < s.trem_prob ? s.trem_depth_on : 0.0f);
    ASSERT_FLOAT_EQ(s.trem_rate, (2 * u3 - 1) * 5 + s.trem_rate_mean);
    ASSERT_FLOAT_EQ(s.vib4_depth, (2 * u4 - 1) * 0.5f);
    ASSERT_LE(std::fabs(s.trem_rate - s.trem_rate_mean), 5.0f);
    ASSERT_LE(std::fabs(s.vib4_depth), 0.5f);
    hits += s.trem_depth > 0.0f;
  }
  EXPECT_GT(hits, 120);  // about half of the breaths get a tremolo
  EXPECT_LT(hits, 280);
}

TEST(VocsStep, NonPositiveCountWritesNothing) {
  VOCS_STATE s = started();
  const VOCS_STATE before = s;
  int16_t buf[4] = {11, 22, 33, 44};
  bool voc = false;
  EXPECT_EQ(vocs_step(&s, buf, 0, &voc), 0.0f);
  EXPECT_EQ(vocs_step(&s, buf, -5, &voc), 0.0f);
  EXPECT_EQ(std::memcmp(&s, &before, sizeof(s)), 0);
  EXPECT_EQ(buf[0], 11);
  EXPECT_EQ(buf[3], 44);
  EXPECT_FALSE(voc);
}

TEST(VocsStep, VocalisingFlagIsNeverCleared) {
  VOCS_STATE s = started();
  std::vector<int16_t> buf(kBlock);
  int open_blocks = 0;
  for (int b = 0; b < 200; ++b) {
    vocs_update(&s, 0, 0.0f, 0.0f, 0.0f, 0.5f);
    bool voc = true;
    vocs_step(&s, buf.data(), kBlock, &voc);
    ASSERT_TRUE(voc);
    bool fresh = false;
    vocs_step(&s, buf.data(), kBlock, &fresh);
    open_blocks += fresh;
  }
  EXPECT_LT(open_blocks, 200) << "the envelope must close at times, or the check above proves nothing";
}

// The control step falls on every 16th sample of a call, so a block computed in
// 16-sample pieces equals the block computed at once.
TEST(VocsStep, ControlStepPiecesEqualWholeBlocks) {
  VOCS_STATE a = started();
  VOCS_STATE b = a;
  std::vector<int16_t> whole(kBlock), pieces(kBlock);
  for (int blk = 0; blk < 50; ++blk) {
    vocs_update(&a, 0, kLively.in0, kLively.in1, kLively.in2, kLively.in3);
    vocs_update(&b, 0, kLively.in0, kLively.in1, kLively.in2, kLively.in3);
    const int32_t seed = rng_seed;
    bool va = false, vb = false;
    const float pa = vocs_step(&a, whole.data(), kBlock, &va);
    const int32_t seed_after = rng_seed;
    rng_seed = seed;
    float pb = 0.0f;
    for (int k = 0; k < kBlock; k += 16) pb = vocs_step(&b, pieces.data() + k, 16, &vb);
    ASSERT_EQ(rng_seed, seed_after);
    ASSERT_EQ(whole, pieces);
    ASSERT_EQ(pa, pb);
    ASSERT_EQ(va, vb);
    ASSERT_EQ(std::memcmp(&a, &b, sizeof(a)), 0);
  }
}

TEST(VocsStep, SamplesStayWithinSymmetricRange) {
  for (float in0 : {-1.0f, 0.0f, 1.0f}) {
    for (float in1 : {-1.0f, 0.0f, 1.0f}) {
      for (float in2 : {0.0f, 1.0f}) {
        for (float in3 : {0.0f, 1.0f}) {
          VOCS_STATE s = started();
          std::vector<int16_t> out;
          run_blocks(&s, {in0, in1, in2, in3}, 100, &out);
          for (int16_t x : out) ASSERT_GE(x, -32767) << in0 << " " << in1 << " " << in2 << " " << in3;
          if (in2 > 0.0f) {
            EXPECT_GT(rms(out), 0.0) << "an awake voice sounds";
          }
          ASSERT_TRUE(vocs_state_finite(&s));
          // Phases stay wrapped even where vibrato (valence -1) or tremolo rate
          // (arousal -1) run them backwards.
          for (float phase : {s.pulse_phase, s.trem_phase, s.voc_phase}) {
            EXPECT_GE(phase, 0.0f) << in0 << " " << in1;
            EXPECT_LT(phase, 1.0f) << in0 << " " << in1;
          }
        }
      }
    }
  }
  // Overdriven breath noise clips at both rails, symmetrically.
  VOCS_STATE s = started();
  s.consts[2] = 50.0f;
  std::vector<int16_t> out;
  run_blocks(&s, kLively, 100, &out);
  const auto mm = std::minmax_element(out.begin(), out.end());
  EXPECT_EQ(*mm.first, -32767);
  EXPECT_EQ(*mm.second, 32767);
}

TEST(VocsStep, RunsAreBitIdenticalFromTheSameStart) {
  VOCS_STATE a = started();
  std::vector<int16_t> first;
  std::vector<float> first_phases;
  run_blocks(&a, kLively, 100, &first, &first_phases);
  VOCS_STATE b = started();
  std::vector<int16_t> second;
  std::vector<float> second_phases;
  run_blocks(&b, kLively, 100, &second, &second_phases);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first_phases, second_phases);
  EXPECT_GT(rms(first), 0.0);
}

// With in3 = 0 every sample is scaled by (0 + 0.03) * 17 = 0.51; from the fade
// threshold on nothing is scaled. The sound level touches nothing else, so
// runs from the same start differ only by that factor (and the truncation).
TEST(VocsStep, FadeAtZeroSoundLevelScalesBy051) {
  Inputs quiet = kLively, loud = kLively, edge = kLively;
  quiet.in3 = 0.0f;
  loud.in3 = 1.0f;
  edge.in3 = 0.0289f;
  VOCS_STATE s = started();
  std::vector<int16_t> faded, full, at_edge;
  run_blocks(&s, quiet, 150, &faded);
  s = started();
  run_blocks(&s, loud, 150, &full);
  s = started();
  run_blocks(&s, edge, 150, &at_edge);
  EXPECT_EQ(at_edge, full);
  ASSERT_EQ(faded.size(), full.size());
  int compared = 0;
  for (size_t i = 0; i < full.size(); ++i) {
    if (std::abs(full[i]) >= 32000) continue;  // clipped before scaling
    ASSERT_NEAR(faded[i], 0.51 * full[i], 1.6) << "sample " << i;
    ++compared;
  }
  EXPECT_GT(compared, static_cast<int>(full.size() / 2));
  EXPECT_GT(rms(full), 100.0);
}

// The breathing phase lies in [0, 2pi) and runs forward: the oscillator's x
// lags its velocity by a quarter turn.
TEST(VocsStep, BreathingPhaseStaysInRangeAndAdvances) {
  VOCS_STATE s = started();
  std::vector<int16_t> out;
  std::vector<float> phases;
  for (int b = 0; b < 1500; ++b) {  // 60 s
    run_blocks(&s, kLively, 1, &out, &phases);
    // The phase is the angle of the oscillator's state (v, 2 (x - 0.5)) at the last control step.
    double expected = std::atan2(2.0 * (s.x - 0.5), double(s.v));
    if (expected < 0) expected += 2 * kPi;
    double diff = std::fabs(phases.back() - expected);
    diff = std::min(diff, 2 * kPi - diff);
    ASSERT_LT(diff, 2e-3) << "block " << b;
  }
  double forward = 0.0, backward = 0.0;
  int wraps = 0;
  for (size_t k = 0; k < phases.size(); ++k) {
    ASSERT_GE(phases[k], 0.0f);
    ASSERT_LT(phases[k], 2 * kPi);
    if (k == 0) continue;
    double d = phases[k] - phases[k - 1];
    if (d < -kPi) {
      d += 2 * kPi;
      ++wraps;
    }
    if (d > 0)
      forward += d;
    else
      backward -= d;
  }
  EXPECT_GE(wraps, 3) << "a few breaths in a minute";
  EXPECT_GT(forward, 20 * backward);
}

// One block of a run from a given generator state; returns the state after it.
int32_t block_from(VOCS_STATE* s, int32_t seed, uint8_t mute, std::vector<int16_t>* buf) {
  rng_seed = seed;
  buf->resize(kBlock);
  vocs_update(s, mute, kLively.in0, kLively.in1, kLively.in2, kLively.in3);
  bool v = false;
  vocs_step(s, buf->data(), kBlock, &v);
  return rng_seed;
}

// Mute takes effect at the next rising breath crossing and silences only the
// pulse: until then the muted run equals the unmuted one, from then on they
// differ, and the noise still sounds. Mute draws no random numbers, so both
// runs see the same draws.
TEST(VocsStep, MuteLatchesAtTheNextRisingCrossing) {
  VOCS_STATE plain = started();
  std::vector<int16_t> warmup;
  run_blocks(&plain, kLively, 25, &warmup);
  VOCS_STATE muted = plain;
  int32_t seed = rng_seed;

  int latch_block = -1;
  std::vector<int16_t> pa, ma;
  for (int b = 0; b < 1500 && latch_block < 0; ++b) {
    const float dir_before = muted.dir_prev;
    const int32_t seed_plain = block_from(&plain, seed, 0, &pa);
    seed = block_from(&muted, seed, 1, &ma);
    ASSERT_EQ(seed, seed_plain);
    if (muted.mute_latched) {
      latch_block = b;
      EXPECT_LT(dir_before, 0.0f) << "latched on a rising crossing";
      EXPECT_GE(muted.dir_prev, 0.0f);
      EXPECT_EQ(plain.dir_prev, muted.dir_prev);
    } else {
      ASSERT_EQ(pa, ma) << "block " << b << " differs before the crossing";
    }
  }
  ASSERT_GE(latch_block, 0) << "no rising crossing in a minute";

  // From the crossing on the muted run has lost the pulse but keeps the noise.
  std::vector<int16_t> plain_after, muted_after;
  for (int b = 0; b < 50; ++b) {
    block_from(&plain, seed, 0, &pa);
    seed = block_from(&muted, seed, 1, &ma);
    plain_after.insert(plain_after.end(), pa.begin(), pa.end());
    muted_after.insert(muted_after.end(), ma.begin(), ma.end());
  }
  EXPECT_NE(plain_after, muted_after);
  EXPECT_TRUE(muted.mute_latched);
  EXPECT_GT(rms(muted_after), 0.0) << "the breath noise stays";

  // Without the breath noise, a muted voice falls silent.
  VOCS_STATE silent = muted;
  silent.consts[2] = 0.0f;
  std::vector<int16_t> rest;
  run_blocks(&silent, kLively, 100, &rest, nullptr, 1);
  std::vector<int16_t> tail(rest.end() - kBlock, rest.end());
  EXPECT_EQ(rms(tail), 0.0);

  // Unmuting, too, waits for a rising crossing.
  VOCS_STATE unmuted = muted;
  bool restored_pulse = false;
  for (int b = 0; b < 1500 && !restored_pulse; ++b) {
    const float dir_before = unmuted.dir_prev;
    seed = block_from(&unmuted, seed, 0, &pa);
    if (!unmuted.mute_latched) {
      restored_pulse = true;
      EXPECT_LT(dir_before, 0.0f);
      EXPECT_GE(unmuted.dir_prev, 0.0f);
    }
  }
  EXPECT_TRUE(restored_pulse);
}

// Generator steps from `from` to `to`, or -1 beyond `limit`.
int draws_between(int32_t from, int32_t to, int limit) {
  rng_seed = from;
  for (int n = 0; n <= limit; ++n) {
    if (rng_seed == to) return n;
    rng_unif();
  }
  return -1;
}

// One control step draws four uniforms for the jitter and one per sample for
// the noise; a falling breath crossing (direction from above 0 to 0 or below)
// draws the four per-breath numbers besides, right after the jitter. Rising
// crossings draw nothing.
TEST(VocsStep, PerBreathDrawsAtFallingCrossingsOnly) {
  VOCS_STATE s = started();
  std::vector<int16_t> buf(kVocsControlPeriod);
  int falling = 0, rising = 0;
  for (int step = 0; step < 20 * 1500; ++step) {
    if (step % 20 == 0) vocs_update(&s, 0, kLively.in0, kLively.in1, kLively.in2, kLively.in3);
    const float dir_before = s.dir_prev;
    const int32_t seed_before = rng_seed;
    bool v = false;
    vocs_step(&s, buf.data(), kVocsControlPeriod, &v);
    const int32_t seed_after = rng_seed;
    const bool falls = dir_before > 0.0f && s.dir_prev <= 0.0f;
    falling += falls;
    rising += dir_before < 0.0f && s.dir_prev >= 0.0f;
    ASSERT_EQ(draws_between(seed_before, seed_after, 64), falls ? 24 : 20) << "step " << step;
    if (falls) {
      rng_seed = seed_before;
      for (int k = 0; k < 5; ++k) rng_unif();  // jitter, then U1
      const float u2 = rng_unif_f(), u3 = rng_unif_f(), u4 = rng_unif_f();
      EXPECT_EQ(s.trem_depth, u2 < s.trem_prob ? s.trem_depth_on : 0.0f);
      EXPECT_EQ(s.trem_rate, (2.0f * u3 - 1.0f) * 5.0f + s.trem_rate_mean);
      EXPECT_EQ(s.vib4_depth, (2.0f * u4 - 1.0f) * 0.5f);
    }
    rng_seed = seed_after;
  }
  EXPECT_GE(falling, 3) << "a few breaths in a minute";
  EXPECT_GE(rising, 3);
}

// One control step recomputed from the state before it, rule by rule: the
// breath oscillator, the phase and direction, the vocalisation drive, the
// jitter filter and its ring, the smoothed rate and the vocalisation phase,
// then the pulse and tremolo phases over the step's 16 samples.
TEST(VocsStep, ControlStepFollowsItsRules) {
  VOCS_STATE s = started();
  std::vector<int16_t> buf(kVocsControlPeriod);
  for (int step = 0; step < 20 * 600; ++step) {
    if (step % 20 == 0) vocs_update(&s, 0, kLively.in0, kLively.in1, kLively.in2, kLively.in3);
    const VOCS_STATE b = s;
    const int32_t seed = rng_seed;
    bool v = false;
    const float theta_out = vocs_step(&s, buf.data(), kVocsControlPeriod, &v);
    const int32_t seed_after = rng_seed;

    const float t = tanhf_approx((b.x - b.thr) * b.thr_gain);
    const float thr = 0.5f * (1.0f - b.nl_gain * t);
    const float vel = b.v - 0.002f * b.damp * ((t * b.bias_p + b.bias_q) * b.osc_k + b.v);
    const float x = b.x + 0.002f * vel;
    float theta = atan2f_approx(2.0f * (x - 0.5f), vel);
    if (theta < 0.0f) theta += 6.2831855f;
    const float dir = tanhf_approx(3.0f * cosf_approx(theta));
    const float l = b.voc_phase;
    const float lw = l > 0.5f ? l - 1.0f : l;
    const float drive =
        (0.5f * dir + 1.0f) * -1.771188f * exp_minus_sq_approx(8.0f * lw) * sinf_approx_norm(2.0f * l) -
        0.3f * dir * sinf_approx_norm(l);
    rng_seed = seed;
    const float m = rng_norm_f();
    const int k = b.jit_slot;
    const auto at = [&](const float* ring, int back) { return ring[(k + back) & 3]; };
    const float jit = 0.001073f * m + 0.003219f * at(b.jit_x, 1) + 0.003219f * at(b.jit_x, 2) +
                      0.001073f * at(b.jit_x, 3) + 2.748836f * at(b.jit_y, 1) - 2.528231f * at(b.jit_y, 2) +
                      0.777639f * at(b.jit_y, 3);
    const float rate = 0.064493f * (0.55f * std::max(0.0f, std::sqrt(b.in2) + 0.5f * jit) + 2.0f * drive) +
                       0.935507f * b.rate;
    float voc = l + 0.02f * rate;
    if (voc >= 1.0f) voc -= 1.0f;
    if (voc < 0.0f) voc += 1.0f;

    ASSERT_FLOAT_EQ(s.thr, thr) << "step " << step;
    ASSERT_FLOAT_EQ(s.v, vel) << "step " << step;
    ASSERT_FLOAT_EQ(s.x, x) << "step " << step;
    ASSERT_NEAR(theta_out, theta, 1e-5) << "step " << step;
    ASSERT_FLOAT_EQ(s.dir_prev, dir) << "step " << step;
    ASSERT_EQ(s.jit_x[k], m) << "step " << step;
    ASSERT_NEAR(s.jit_y[k], jit, 1e-7) << "step " << step;
    ASSERT_EQ(s.jit_slot, (k + 3) & 3) << "the slot steps down";
    ASSERT_NEAR(s.rate, rate, 1e-5) << "step " << step;
    ASSERT_NEAR(s.voc_phase, voc, 1e-6) << "step " << step;

    // Vibrato factor of this step; the per-breath depth is the one drawn at a
    // falling crossing of this very step, if any.
    const float f = 1.0f + s.vib_depth * sinf_approx(theta) + s.vib4_depth * cosf_approx(4.0f * theta);
    const auto advanced = [](float from, float by) {
      const double p = from + 16.0 * by;
      return p - std::floor(p);
    };
    const auto turn_diff = [](double a, double b) {
      const double d = std::fabs(a - b);
      return std::min(d, 1.0 - d);
    };
    ASSERT_LT(turn_diff(s.pulse_phase, advanced(b.pulse_phase, 0.04375f * f)), 1e-5) << "step " << step;
    ASSERT_LT(turn_diff(s.trem_phase, advanced(b.trem_phase, 1.25e-4f * s.trem_rate * f)), 1e-5)
        << "step " << step;
    rng_seed = seed_after;
  }
}

// Rows: trunc(16 * env) clamped to 0..15, so env below 1/16 selects row 0 and an
// open envelope row 15; a lively voice passes through both.
TEST(VocsStep, EnvelopeSelectsResonatorRows) {
  VOCS_STATE s = started();
  bool seen[kVocsRows] = {};
  std::vector<int16_t> buf(16);
  for (int step = 0; step < 20 * 1500; ++step) {
    if (step % 20 == 0) vocs_update(&s, 0, kLively.in0, kLively.in1, kLively.in2, kLively.in3);
    bool v = false;
    vocs_step(&s, buf.data(), 16, &v);
    const float p = s.voc_phase;
    const float u = p >= 0.95f ? p - 0.95f : p + 0.05f;
    const float c = (cosf_approx_norm(u * u) + 1.0f) / 2.0f;
    const float env = 1.0f - c * c;
    const int row = std::min(15, std::max(0, static_cast<int>(16.0f * env)));
    ASSERT_EQ(std::memcmp(s.coef_a, vocs_filt_aa[row], sizeof(s.coef_a)), 0) << "env " << env;
    ASSERT_EQ(std::memcmp(s.coef_b, vocs_filt_bb[row], sizeof(s.coef_b)), 0) << "env " << env;
    ASSERT_EQ(v, c * c < 0.9f);
    seen[row] = true;
  }
  EXPECT_TRUE(seen[0]);
  EXPECT_TRUE(seen[15]);
}

TEST(VocsTables, ResonatorRows) {
  double prev_f1 = -1.0;
  for (int r = 0; r < kVocsRows; ++r) {
    for (int k = 0; k < 3; ++k) {
      const float* a = vocs_filt_aa[r] + 3 * k;
      const float* b = vocs_filt_bb[r] + 3 * k;
      EXPECT_EQ(a[0], 1.0f);
      if (k == 2 && r >= 11) {
        EXPECT_EQ(a[1], 0.0f);
        EXPECT_EQ(a[2], 0.0f);
        EXPECT_EQ(b[0], 0.0f);
        EXPECT_EQ(b[1], 0.0f);
        EXPECT_EQ(b[2], 0.0f);
      } else {
        EXPECT_EQ(a[2], 0.92439f);
        EXPECT_EQ(b[0], 0.0378047f);
        EXPECT_EQ(b[1], 0.0f);
        EXPECT_EQ(b[2], -0.0378047f);
        EXPECT_LT(std::fabs(a[1]), 1.0f + a[2]) << "a stable resonance";
      }
    }
    // First resonance: a1 = -(1 + a2) cos(2 pi F / 8000).
    const double f1 = std::acos(-vocs_filt_aa[r][1] / (1.0 + 0.92439)) * 8000.0 / (2 * kPi);
    EXPECT_GT(f1, prev_f1) << "row " << r;
    prev_f1 = f1;
  }
  EXPECT_LT(std::acos(-vocs_filt_aa[0][1] / 1.92439) * 8000.0 / (2 * kPi), 100.0);
  EXPECT_NEAR(prev_f1, 790.0, 10.0);
}

// Phases advance by less than a turn in normal use, but inputs far out of
// range (a valence of 1000 makes the vibrato factor about 1000) step them by
// many turns at once. They must come back into [0, 1) as soon as the inputs
// are sane again, or the pulse (and the tremolo and vocalisation cycle) would
// stay stuck at one point of its cycle for ever.
TEST(VocsStep, PhasesRecoverFromStepsOfManyTurns) {
  VOCS_STATE s = started();
  std::vector<int16_t> out;
  run_blocks(&s, {1000.0f, 0.5f, 0.9f, 0.5f}, 5, &out);
  ASSERT_TRUE(vocs_state_finite(&s));
  // Phases left anywhere, up to where a float no longer has a fraction.
  for (float far : {3e9f, -7e7f, 12.5f, -3.25f, 1.0f, -1e-9f}) {
    VOCS_STATE t = s;
    t.voc_phase = far;
    t.trem_phase = -far;
    t.pulse_phase = far;
    std::vector<int16_t> after;
    run_blocks(&t, kLively, 1, &after);
    for (float phase : {t.pulse_phase, t.trem_phase, t.voc_phase}) {
      EXPECT_GE(phase, 0.0f) << far;
      EXPECT_LT(phase, 1.0f) << far;
    }
  }
  // Driven out of range by the inputs alone, they are back after one block of
  // sane inputs.
  out.clear();
  run_blocks(&s, kLively, 2, &out);
  for (float phase : {s.pulse_phase, s.trem_phase, s.voc_phase}) {
    EXPECT_GE(phase, 0.0f);
    EXPECT_LT(phase, 1.0f);
  }
}

TEST(VocsRestore, FiniteCheckAndRestore) {
  VOCS_STATE s = started();
  std::vector<int16_t> out;
  run_blocks(&s, kLively, 10, &out);
  EXPECT_TRUE(vocs_state_finite(&s));
  for (float* field : {&s.v, &s.res_hist[7], &s.jit_y[2], &s.voc_phase}) {
    VOCS_STATE broken = s;
    *reinterpret_cast<float*>(reinterpret_cast<char*>(&broken) +
                              (reinterpret_cast<char*>(field) - reinterpret_cast<char*>(&s))) = NAN;
    EXPECT_FALSE(vocs_state_finite(&broken));
    vocs_restore(&broken);
    EXPECT_TRUE(vocs_state_finite(&broken));
    EXPECT_EQ(broken.x, 0.5f);
    EXPECT_EQ(broken.v, 0.0f);
    EXPECT_EQ(broken.nl_gain, s.nl_gain) << "parameters are kept";
  }
}

}  // namespace
