// Fuzz target: parameter files, read through qor::get_parameters from a configuration
// folder made for the run. Every pair found must come from one line of the file.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "vesk_support/fuzz_input.h"
#include "vesk_support/qor.h"

namespace {
std::string g_file;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // In memory where there is a tmpfs: the target writes the file once per input.
  char shm_dir[] = "/dev/shm/vesk_fuzz_config_XXXXXX";
  char tmp_dir[] = "/tmp/vesk_fuzz_config_XXXXXX";
  char* dir = mkdtemp(shm_dir);
  if (!dir) dir = mkdtemp(tmp_dir);
  if (!dir) std::abort();
  setenv("VESK_DIR_CONFIG", dir, 1);
  setenv("VESK_DIR_QOR", dir, 1);
  g_file = std::string(dir) + "/fuzz_parameters";
  std::atexit([] {
    std::remove(g_file.c_str());
    rmdir(qor::get_env("VESK_DIR_CONFIG").c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!qor::write_file(g_file, vesk_fuzz::as_text(data, size))) std::abort();
  const std::vector<qor::KeyValuePair> pairs = qor::get_parameters("fuzz_parameters");
  for (const qor::KeyValuePair& p : pairs) {
    if (p.key.find('\n') != std::string::npos || p.value.find('\n') != std::string::npos) std::abort();
  }
  return 0;
}
