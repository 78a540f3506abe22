// Fuzz target: qor::parse_int, which reads integers from parameter files and options.
#include <string>

#include "vesk_support/fuzz_input.h"
#include "vesk_support/qor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = vesk_fuzz::as_text(data, size);
  qor::parse_int(text.c_str());
  return 0;
}
