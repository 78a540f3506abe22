// The demo report's summary.txt as the demo tests read it: "key: value" lines, keys with
// their indentation removed (the topic counts stand indented under their heading).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <string>

namespace vesk_test {

using Summary = std::map<std::string, std::string>;

inline Summary read_summary(const std::string& path) {
  Summary kv;
  std::ifstream f(path);
  std::string line;
  while (std::getline(f, line)) {
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    const size_t start = line.find_first_not_of(' ');
    kv[line.substr(start, colon - start)] = line.substr(colon + 2);
  }
  return kv;
}

// The number under `key`; a missing key fails the test and reads as NaN.
inline double num(const Summary& kv, const std::string& key) {
  const auto it = kv.find(key);
  if (it == kv.end()) {
    ADD_FAILURE() << "summary lacks \"" << key << "\"";
    return NAN;
  }
  return std::stod(it->second);
}

}  // namespace vesk_test
