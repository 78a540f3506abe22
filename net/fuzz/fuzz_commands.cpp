// Fuzz target: command texts ("control/command"), split into commands and handed to the
// platform by the next tick. The texts of a tick's commands never hold more than the
// message did.
#include <vesk_support/fuzz_input.h>

#include <cstdlib>
#include <string>

#include "vesk_net/core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = vesk_fuzz::as_text(data, size);
  std::vector<std::string> split;
  vesk::split_commands(text, split);
  size_t chars = 0;
  for (const std::string& c : split) {
    if (c.find(';') != std::string::npos) std::abort();
    chars += c.size();
  }
  if (chars > text.size()) std::abort();

  VESK_TOOL_CONFIG tool;
  tool.verbosity = 0;
  vesk::Inbuf inbuf;
  inbuf.init(0, &tool);
  inbuf.command(text);
  inbuf.command(text);
  const VESK_TICK_D* d = inbuf.exchange();
  chars = 0;
  for (const std::string& c : d->commands) chars += c.size();
  if (chars > 2 * text.size()) std::abort();
  // The next tick starts without them.
  if (!inbuf.exchange()->commands.empty()) std::abort();
  return 0;
}
