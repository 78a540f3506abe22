// Fuzz target: the node options (command-line words, split at zero bytes; the first word
// is VESK_ROBOT_NAME when not empty). A bad option ends in std::runtime_error, never worse.
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "vesk_support/fuzz_input.h"
#include "vesk_support/node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool allow_debug_push = data[0] & 1;
  std::vector<std::string> words = vesk_fuzz::as_words(data + 1, size - 1);
  if (words[0].empty()) {
    unsetenv("VESK_ROBOT_NAME");
  } else {
    setenv("VESK_ROBOT_NAME", words[0].c_str(), 1);
  }
  words[0] = "kinemod";
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  NodeOptions opt;
  try {
    if (parse_node_options("kinemod", allow_debug_push, static_cast<int>(words.size()), argv.data(), opt)) {
      if (opt.robot.empty()) std::abort();
    }
  } catch (const std::runtime_error&) {
  }
  return 0;
}
