// The plug-in's <frame_prefix> text made into the prefix of every frame id the robot sends.
#pragma once

#include <string>

namespace vesk_gazebo {

// White space around the text is dropped; so are leading '/' (tf2 refuses frame ids that
// begin with '/', so such a prefix would lose every transform), with a warning when
// `verbosity` > 0. At `verbosity` > 1 a prefix left over is printed.
std::string clean_frame_prefix(const std::string& text, int verbosity);

}  // namespace vesk_gazebo
