// One block of the voice node, without ROS: the input checks at the node's
// boundary, the pacing rule, and the block computation shared by the node and
// the offline renderer.
#ifndef VESK_VOICE_VOICE_BLOCK_H
#define VESK_VOICE_VOICE_BLOCK_H

#include <cstddef>
#include <cstdint>

#include "vesk_voice/vocs.h"

constexpr int kVoiceBlockSamples = 320;  // 40 ms at 8000 samples/s
constexpr int32_t kBufferRemMax = 1599;  // [samples] a block is due at or below this remainder

// The model inputs as the node keeps them: valence, arousal, wakefulness and
// sound level (slots 1, 2, 5 and 8 of the animal state).
struct AffState {
  float in0 = 0.0f;
  float in1 = 0.0f;
  float in2 = 0.0f;
  float in3 = 0.0f;
};

// What one block reports besides its samples.
struct VoiceBlockResult {
  float breathing_phase = 0.0f;  // [rad], [0, 2*pi)
  bool vocalising = false;       // the envelope was open during the block
  bool restored = false;  // the model state had become non-finite and was restored; the block is silent
};

// Clears the record to zeros and puts the model into its starting state.
void vocalsynth_init(VOCS_STATE& state);

// Computes one block of kVoiceBlockSamples samples. Near the neutral affect
// (valence^2 + arousal^2 < 1) the wakefulness input is softened towards the
// centre. Should the inputs drive the model's state non-finite, the state is
// restored to its start values and the block is silence.
VoiceBlockResult vocalsynth_update(VOCS_STATE& state, const AffState& in, int16_t* samples, uint8_t mute = 0);

// True when all four inputs are finite numbers.
bool aff_state_finite(const AffState& in);

// The robot's remaining audio buffer from a stream report: data[1] - data[0]
// as signed integers (negative when the first value is the larger). False,
// leaving *rem alone, when the report has fewer than two values.
bool stream_remainder(const uint16_t* data, size_t count, int32_t* rem);

// A new block is due when the robot holds at most kBufferRemMax samples.
inline bool block_due(int32_t rem) { return rem <= kBufferRemMax; }

#endif  // VESK_VOICE_VOICE_BLOCK_H
