// Captures what the code under test writes to std::cout.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

// Redirects std::cout into a buffer for the lifetime of the object.
class CoutCapture {
 public:
  CoutCapture() : old_(std::cout.rdbuf(buf_.rdbuf())) {}
  ~CoutCapture() { std::cout.rdbuf(old_); }
  std::string str() const { return buf_.str(); }

 private:
  std::ostringstream buf_;
  std::streambuf* old_;
};
