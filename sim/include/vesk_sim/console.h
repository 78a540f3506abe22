// Console conventions of the kit for the simulator host: the time-stamp prefix, fatal
// errors ("[ERROR] " + message, then a runtime error) and warnings.
//
// The simulator process also loads libvesk_gazebo, which carries its own static copy of the
// kit's support library; the host code (and what it links) keeps off that library, so that
// one process never holds two copies of the library's process-wide state.
#pragma once

#include <string>

namespace vesk_sim {

// "[sss.mmm] ": seconds since the process started (wrapping every 1000 s) and milliseconds.
std::string time_prefix();

// Prints "[ERROR] " + message on standard output, then throws std::runtime_error(message).
[[noreturn]] void fail(const std::string& message);

// Prints the time prefix, "**** WARNING **** ", a newline, a tab and the message.
void warn(const std::string& message);

// Wall-clock seconds since the process started.
double wall_seconds();

}  // namespace vesk_sim
