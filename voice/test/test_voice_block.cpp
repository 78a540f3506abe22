// The node's block computation, boundary checks and pacing rule, without ROS.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "vesk_voice/fastmath.h"
#include "vesk_voice/voice_block.h"

namespace {

double block_rms(const int16_t* v, int n) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += static_cast<double>(v[i]) * v[i];
  return std::sqrt(sum / n);
}

// RMS of `blocks` blocks from a fresh start.
double render_rms(const AffState& in, int blocks) {
  rng_seed = kRngSeedStart;
  VOCS_STATE s;
  vocalsynth_init(s);
  int16_t buf[kVoiceBlockSamples];
  double sum = 0.0;
  for (int b = 0; b < blocks; ++b) {
    vocalsynth_update(s, in, buf);
    const double r = block_rms(buf, kVoiceBlockSamples);
    sum += r * r;
  }
  return std::sqrt(sum / blocks);
}

TEST(VoiceBlock, InitClearsWhateverWasThere) {
  VOCS_STATE dirty;
  std::memset(&dirty, 0x5a, sizeof(dirty));
  rng_seed = kRngSeedStart;
  vocalsynth_init(dirty);
  VOCS_STATE clean;
  std::memset(&clean, 0, sizeof(clean));
  rng_seed = kRngSeedStart;
  vocs_init(&clean);
  EXPECT_EQ(std::memcmp(&dirty, &clean, sizeof(clean)), 0);
}

TEST(VoiceBlock, WakefulnessIsSoftenedNearNeutralAffect) {
  int16_t buf[kVoiceBlockSamples];
  VOCS_STATE s;
  vocalsynth_init(s);
  vocalsynth_update(s, {0.3f, 0.4f, 0.8f, 1.0f}, buf);  // r = 0.5
  EXPECT_NEAR(s.in2, (0.8f * 0.5f + 0.2f) * 0.8f, 1e-6f);
  vocalsynth_update(s, {0.0f, 0.0f, 0.8f, 1.0f}, buf);  // r = 0
  EXPECT_NEAR(s.in2, 0.2f * 0.8f, 1e-6f);
  vocalsynth_update(s, {0.6f, 0.8f, 0.8f, 1.0f}, buf);  // r = 1: unchanged
  EXPECT_EQ(s.in2, 0.8f);
  EXPECT_EQ(s.in0, 0.6f);
  EXPECT_EQ(s.in1, 0.8f);
  EXPECT_EQ(s.in3, 1.0f);
  EXPECT_EQ(s.mute, 0);
}

TEST(VoiceBlock, BlockReportsPhaseAndEnvelope) {
  rng_seed = kRngSeedStart;
  VOCS_STATE s;
  vocalsynth_init(s);
  int16_t buf[kVoiceBlockSamples];
  int vocalising = 0;
  for (int b = 0; b < 500; ++b) {
    const VoiceBlockResult r = vocalsynth_update(s, {0.4f, 0.5f, 0.9f, 0.5f}, buf);
    ASSERT_FALSE(r.restored);
    ASSERT_GE(r.breathing_phase, 0.0f);
    ASSERT_LT(r.breathing_phase, 6.2831855f);
    vocalising += r.vocalising;
  }
  EXPECT_GT(vocalising, 0);
  EXPECT_LT(vocalising, 500);
}

// Wakefulness drives the breath and the vocalisation rate: a sleepy voice
// sounds at a clearly different level from a wide-awake one.
TEST(VoiceBlock, WakefulnessChangesTheLevel) {
  const double asleep = render_rms({0.4f, 0.5f, 0.0f, 0.5f}, 500);
  const double awake = render_rms({0.4f, 0.5f, 1.0f, 0.5f}, 500);
  EXPECT_GT(awake, 0.0);
  EXPECT_GT(std::fabs(awake - asleep), 0.2 * std::max(awake, asleep)) << asleep << " vs " << awake;
}

// Inputs so large that the oscillator overflows: the block is silence, the state
// is restored, and normal inputs afterwards give sound again.
TEST(VoiceBlock, NonFiniteModelStateIsRestoredAndSilenced) {
  rng_seed = kRngSeedStart;
  VOCS_STATE s;
  vocalsynth_init(s);
  int16_t buf[kVoiceBlockSamples];
  for (const AffState& huge : {AffState{0.1f, 1e30f, 0.5f, 0.5f}, AffState{0.1f, 60.0f, 0.5f, 0.5f},
                               AffState{1e20f, 0.1f, 1e20f, 0.5f}}) {
    bool restored = false;
    for (int b = 0; b < 50; ++b) {
      std::memset(buf, 0x11, sizeof(buf));
      const VoiceBlockResult r = vocalsynth_update(s, huge, buf);
      ASSERT_TRUE(vocs_state_finite(&s));
      ASSERT_TRUE(std::isfinite(r.breathing_phase));
      if (r.restored) {
        restored = true;
        EXPECT_FALSE(r.vocalising);
        EXPECT_EQ(r.breathing_phase, 0.0f);
        for (int16_t x : buf) ASSERT_EQ(x, 0);
      }
      for (int16_t x : buf) ASSERT_GE(x, -32767);
    }
    EXPECT_TRUE(restored) << "inputs " << huge.in0 << " " << huge.in1 << " " << huge.in2;
    double level = 0.0;
    for (int b = 0; b < 100; ++b) {
      const VoiceBlockResult r = vocalsynth_update(s, {0.4f, 0.5f, 0.9f, 0.5f}, buf);
      ASSERT_FALSE(r.restored);
      level += block_rms(buf, kVoiceBlockSamples);
    }
    EXPECT_GT(level, 0.0) << "the voice recovers";
  }
}

TEST(VoiceBlock, FiniteInputCheck) {
  EXPECT_TRUE(aff_state_finite({0.0f, -1.0f, 1.0f, 1e30f}));
  const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                       -std::numeric_limits<float>::infinity()};
  for (float b : bad) {
    for (int slot = 0; slot < 4; ++slot) {
      AffState in{0.1f, 0.2f, 0.3f, 0.4f};
      (&in.in0)[slot] = b;
      EXPECT_FALSE(aff_state_finite(in)) << "slot " << slot;
    }
  }
}

TEST(StreamReport, RemainderAndPacing) {
  struct Case {
    uint16_t first, second;
    int32_t rem;
    bool due;
  };
  const Case cases[] = {
      {100, 1699, 1599, true}, {100, 1700, 1600, false}, {500, 500, 0, true},
      {1000, 10, -990, true},  {0, 65535, 65535, false}, {65535, 0, -65535, true},
  };
  for (const Case& c : cases) {
    const uint16_t data[2] = {c.first, c.second};
    int32_t rem = 12345;
    ASSERT_TRUE(stream_remainder(data, 2, &rem));
    EXPECT_EQ(rem, c.rem);
    EXPECT_EQ(block_due(rem), c.due) << c.first << ", " << c.second;
  }
  const uint16_t three[3] = {10, 20, 30};
  int32_t rem = 0;
  EXPECT_TRUE(stream_remainder(three, 3, &rem));
  EXPECT_EQ(rem, 10);
}

TEST(StreamReport, TooShortReportsAreRefused) {
  const uint16_t one[1] = {7};
  int32_t rem = 42;
  EXPECT_FALSE(stream_remainder(one, 1, &rem));
  EXPECT_FALSE(stream_remainder(one, 0, &rem));
  EXPECT_FALSE(stream_remainder(nullptr, 2, &rem));
  EXPECT_EQ(rem, 42);
}

}  // namespace
