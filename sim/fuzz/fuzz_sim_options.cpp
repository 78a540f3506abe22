// Fuzz target: the headless simulator's command line (words split at zero bytes). A word it
// cannot use ends in std::runtime_error, never worse; every robot it accepts has a name
// and finite coordinates.
#include <vesk_support/fuzz_input.h>

#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "vesk_sim/sim_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> words = vesk_fuzz::as_words(data, size);
  try {
    const vesk_sim::CommandLine cl = vesk_sim::parse_command_line(words, "/nonexistent/vesk_sim", "vesk");
    for (const vesk_sim::RobotSpawn& r : cl.sim.robots) {
      if (r.name.empty() || !std::isfinite(r.x) || !std::isfinite(r.y) || !std::isfinite(r.yaw)) std::abort();
    }
    if (!std::isfinite(cl.rtf) || !std::isfinite(cl.duration)) std::abort();
  } catch (const std::runtime_error&) {
  }
  return 0;
}
