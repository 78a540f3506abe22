// Fuzz target: camera frame specifications ("frame=..." commands from the network), applied
// to the eye streams as the platform holds them; the first byte picks the console level.
#include <vesk_support/fuzz_input.h>

#include <string>

#include "vesk_net/interf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  VESK_PLATFORM_PARS pars{};
  for (VESK_STREAM_PARS& s : pars.stream) {
    s.stream_geom = {640, 360, {0, 0, 0, 0}};
    s.stream_rate = 15.0f;
  }
  const int verbosity = data[0] % 3;
  const std::string text = vesk_fuzz::as_text(data + 1, size - 1);
  VESK_NET_INTERF::parse_frame_spec(text, &pars, verbosity);
  // A second frame text on top of the first, as commands arrive one after another.
  VESK_NET_INTERF::parse_frame_spec(text.substr(text.size() / 2), &pars, verbosity);
  return 0;
}
