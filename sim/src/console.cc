#include "vesk_sim/console.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <stdexcept>

namespace vesk_sim {
namespace {

const std::chrono::steady_clock::time_point g_start = std::chrono::steady_clock::now();

}  // namespace

double wall_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - g_start).count();
}

std::string time_prefix() {
  const long ms = static_cast<long>(wall_seconds() * 1000.0);
  char text[16];
  std::snprintf(text, sizeof(text), "[%03ld.%03ld] ", (ms / 1000) % 1000, ms % 1000);
  return text;
}

void fail(const std::string& message) {
  std::cout << "[ERROR] " << message << std::endl;
  throw std::runtime_error(message);
}

void warn(const std::string& message) {
  std::cout << time_prefix() << "**** WARNING **** "
            << "\n\t" << message << std::endl;
}

}  // namespace vesk_sim
