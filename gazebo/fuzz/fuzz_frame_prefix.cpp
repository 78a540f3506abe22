// Fuzz target: the plug-in's <frame_prefix> text (from the model's SDF file); the first
// byte picks the console level. The prefix kept is a part of the text that does not begin
// with '/'.
#include <vesk_support/fuzz_input.h>

#include <cstdlib>
#include <string>

#include "vesk_gazebo/frame_prefix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text = vesk_fuzz::as_text(data + 1, size - 1);
  const std::string prefix = vesk_gazebo::clean_frame_prefix(text, data[0] % 3);
  if (text.find(prefix) == std::string::npos) std::abort();
  if (!prefix.empty() && prefix[0] == '/') std::abort();
  return 0;
}
