#include "vesk_gazebo/frame_prefix.h"

#include <vesk_support/os.h>

#include <iostream>

namespace vesk_gazebo {

std::string clean_frame_prefix(const std::string& text, int verbosity) {
  const char* space = " \t\r\n";
  const size_t begin = text.find_first_not_of(space);
  std::string prefix =
      begin == std::string::npos ? "" : text.substr(begin, text.find_last_not_of(space) - begin + 1);
  const size_t first = prefix.find_first_not_of('/');
  if (first != 0) {
    prefix = first == std::string::npos ? "" : prefix.substr(first);
    if (verbosity > 0) os::warn("frame_prefix may not begin with '/': using \"" + prefix + "\"");
  }
  if (verbosity > 1 && !prefix.empty())
    std::cout << os::cout_global_elapsed() << "frame prefix: \"" << prefix << "\"" << std::endl;
  return prefix;
}

}  // namespace vesk_gazebo
