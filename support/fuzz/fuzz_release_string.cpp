// Fuzz target: release strings. A text is either read exactly (writing the release back
// gives the same text, less the line end of an 8-character text) or refused.
#include <cstdlib>
#include <iostream>
#include <string>

#include "vesk_support/fuzz_input.h"
#include "vesk_support/qor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = vesk_fuzz::as_text(data, size);
  const unsigned short r = qor::release_from_string(text);
  if (r == qor::kReleaseInvalid) return 0;
  if (text.size() == 8 && text[7] == '\n') text.pop_back();
  const std::string back = qor::release_to_string(r);
  if (back != text) {
    std::cerr << "release text \"" << text << "\" read as " << r << " (\"" << back << "\")" << std::endl;
    std::abort();
  }
  return 0;
}
