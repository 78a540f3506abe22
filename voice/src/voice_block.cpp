// One block of the voice node, without ROS.
#include "vesk_voice/voice_block.h"

#include <cmath>
#include <cstring>

void vocalsynth_init(VOCS_STATE& state) {
  std::memset(&state, 0, sizeof(state));
  vocs_init(&state);
}

VoiceBlockResult vocalsynth_update(VOCS_STATE& state, const AffState& in, int16_t* samples, uint8_t mute) {
  float in2 = in.in2;
  const float r2 = in.in0 * in.in0 + in.in1 * in.in1;
  if (r2 < 1.0f) in2 = (0.8f * std::sqrt(r2) + 0.2f) * in.in2;

  vocs_update(&state, mute, in.in0, in.in1, in2, in.in3);
  VoiceBlockResult result;
  result.breathing_phase = vocs_step(&state, samples, kVoiceBlockSamples, &result.vocalising);

  if (!vocs_state_finite(&state) || !std::isfinite(result.breathing_phase)) {
    vocs_restore(&state);
    std::memset(samples, 0, sizeof(int16_t) * kVoiceBlockSamples);
    result.breathing_phase = 0.0f;
    result.vocalising = false;
    result.restored = true;
  }
  return result;
}

bool aff_state_finite(const AffState& in) {
  return std::isfinite(in.in0) && std::isfinite(in.in1) && std::isfinite(in.in2) && std::isfinite(in.in3);
}

bool stream_remainder(const uint16_t* data, size_t count, int32_t* rem) {
  if (data == nullptr || count < 2) return false;
  *rem = static_cast<int32_t>(data[1]) - static_cast<int32_t>(data[0]);
  return true;
}
