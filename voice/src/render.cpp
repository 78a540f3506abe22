// Offline rendering of the voice and the renderer's command line.
#include "vesk_voice/render.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "vesk_voice/fastmath.h"

size_t render_sample_count(double duration) {
  return static_cast<size_t>(std::llround(duration * kVocsSampleRate));
}

std::vector<int16_t> render_voice(const AffState& in, bool mute, size_t count) {
  rng_seed = kRngSeedStart;
  VOCS_STATE state;
  vocalsynth_init(state);
  std::vector<int16_t> out(count);
  int16_t block[kVoiceBlockSamples];
  for (size_t done = 0; done < count; done += kVoiceBlockSamples) {
    vocalsynth_update(state, in, block, mute ? 1 : 0);
    const size_t n = std::min<size_t>(kVoiceBlockSamples, count - done);
    std::memcpy(out.data() + done, block, n * sizeof(int16_t));
  }
  return out;
}

namespace {

bool parse_number(const char* text, double* value) {
  if (*text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

}  // namespace

RenderArgs parse_render_args(int argc, const char* const* argv, RenderSettings* settings,
                             std::string* error) {
  struct Input {
    const char* key;
    float* target;
  };
  const Input inputs[] = {{"--valence", &settings->in.in0},
                          {"--arousal", &settings->in.in1},
                          {"--wakefulness", &settings->in.in2},
                          {"--sound-level", &settings->in.in3}};
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    if (arg == "--help" || arg == "-h") return RenderArgs::kHelp;
    if (arg == "--mute") {
      settings->mute = true;
      continue;
    }
    const size_t eq = arg.find('=');
    const std::string key = arg.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : arg.substr(eq + 1);
    if (eq == std::string::npos || key.empty()) {
      *error = "unrecognised argument \"" + arg + "\"";
      return RenderArgs::kError;
    }
    if (key == "--output") {
      if (value.empty()) {
        *error = "\"--output\" needs a file name";
        return RenderArgs::kError;
      }
      settings->output = value;
      continue;
    }
    double number = 0.0;
    if (key == "--duration") {
      if (!parse_number(value.c_str(), &number) || number <= 0.0 || number > kRenderMaxDuration) {
        *error = "\"--duration\" must be a number of seconds above 0 and at most 3600";
        return RenderArgs::kError;
      }
      settings->duration = number;
      continue;
    }
    bool known = false;
    for (const Input& in : inputs) {
      if (key != in.key) continue;
      if (!parse_number(value.c_str(), &number) || std::fabs(number) > 1e6) {
        *error = "\"" + key + "\" must be a finite number";
        return RenderArgs::kError;
      }
      *in.target = static_cast<float>(number);
      known = true;
    }
    if (!known) {
      *error = "unrecognised argument \"" + arg + "\"";
      return RenderArgs::kError;
    }
  }
  return RenderArgs::kRun;
}

const char* render_usage() {
  return "Usage:\n"
         "    vocalsynth_render [options]\n"
         "\n"
         "    Renders the robot's voice offline, exactly as the vocalsynth node would\n"
         "    synthesise it from its start with the given animal state held fixed,\n"
         "    and writes a 16-bit mono 8000 Hz WAV file.\n"
         "\n"
         "Options:\n"
         "\n"
         "    --valence=V\n"
         "        emotional valence, about -1 (negative) to 1 (positive). default 0.\n"
         "\n"
         "    --arousal=A\n"
         "        emotional arousal, about -1 (calm) to 1 (excited). default 0.\n"
         "\n"
         "    --wakefulness=W\n"
         "        0 (asleep) to 1 (wide awake). default 1.\n"
         "\n"
         "    --sound-level=S\n"
         "        0 to 1; below 0.0288 the voice is faded to about half. default 1.\n"
         "\n"
         "    --mute\n"
         "        silence the voiced part (the breath noise stays); it takes effect\n"
         "        at the first in-breath, as in the node.\n"
         "\n"
         "    --duration=SECONDS\n"
         "        length of the render, above 0 and at most 3600. default 5.\n"
         "\n"
         "    --output=FILE\n"
         "        the WAV file to write. default \"voice.wav\".\n"
         "\n"
         "    --help\n"
         "        show this text.\n";
}
