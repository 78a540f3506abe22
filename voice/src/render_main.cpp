// vocalsynth_render: the voice rendered offline into a WAV file.
#include <iostream>
#include <string>

#include "vesk_support/os.h"
#include "vesk_voice/render.h"
#include "vesk_voice/wav.h"

int main(int argc, char** argv) {
  try {
    RenderSettings settings;
    std::string error;
    switch (parse_render_args(argc, argv, &settings, &error)) {
      case RenderArgs::kHelp:
        std::cout << render_usage() << std::flush;
        return 0;
      case RenderArgs::kError:
        std::cout << render_usage() << std::endl;
        os::fail(error);
      case RenderArgs::kRun:
        break;
    }
    const std::vector<int16_t> samples =
        render_voice(settings.in, settings.mute, render_sample_count(settings.duration));
    if (!wav_write_mono16(settings.output, samples.data(), samples.size(), kVocsSampleRate, &error)) {
      os::fail(error);
    }
    std::cout << os::cout_global_elapsed() << "wrote " << samples.size() << " samples (" << settings.duration
              << " s) to \"" << settings.output << "\"" << std::endl;
    return 0;
  } catch (const std::exception& e) {
    std::cout << e.what() << std::endl;
  }
  return 1;
}
