// Console time-stamp prefix and the report conventions.
#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "vesk_support/os.h"

namespace os {

float get_global_elapsed() {
  // The first caller takes the start point; static initialisation is
  // thread-safe, so concurrent first calls agree on it.
  static const Timer start;
  return float(double(start.elapsedUS()) / 1000000.0);
}

void format_elapsed_prefix(float seconds, char out[16]) {
  if (!(seconds >= 0.0f)) seconds = 0.0f;  // NaN or negative: show zero
  double t = seconds;
  double whole = double(int64_t(t));
  int ms = int((t - whole) * 1000.0);
  int64_t s = int64_t(whole) % 1000;
  snprintf(out, 16, "[%03d.%03d] ", int(s), ms);
}

const char* cout_global_elapsed() {
  char buf[16];
  format_elapsed_prefix(get_global_elapsed(), buf);
  std::cout << buf;
  return "";
}

void fail(const std::string& msg) {
  std::cout << "[ERROR] " << msg << std::endl;
  throw std::runtime_error(msg);
}

void warn(const std::string& msg) {
  std::cout << cout_global_elapsed() << "**** WARNING **** \n\t" << msg << std::endl;
}

}  // namespace os
