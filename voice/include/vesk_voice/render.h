// Offline rendering of the voice: the node's block computation run for a given
// duration with fixed inputs, from the program's start state.
#ifndef VESK_VOICE_RENDER_H
#define VESK_VOICE_RENDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vesk_voice/voice_block.h"

struct RenderSettings {
  AffState in{0.0f, 0.0f, 1.0f, 1.0f};  // valence, arousal, wakefulness, sound level
  bool mute = false;
  double duration = 5.0;  // [s]
  std::string output = "voice.wav";
};

constexpr double kRenderMaxDuration = 3600.0;  // [s]

// Samples of `duration` seconds at 8000 samples per second, rounded to nearest.
size_t render_sample_count(double duration);

// Renders `count` samples. The generator is put back to its start value first,
// so every render with the same inputs is bit-identical.
std::vector<int16_t> render_voice(const AffState& in, bool mute, size_t count);

enum class RenderArgs { kRun, kHelp, kError };

// Reads the renderer's command line ("--help", "--valence=V", ...); on kError
// *error says why.
RenderArgs parse_render_args(int argc, const char* const* argv, RenderSettings* settings, std::string* error);

// The text that --help prints.
const char* render_usage();

#endif  // VESK_VOICE_RENDER_H
