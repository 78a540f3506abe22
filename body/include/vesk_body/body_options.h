// Options of the body kinematics that the node sets from its command line:
// the console log level (0 silent, 1 warn, 2 info, 3 verb, 4 full) that gates
// the chain dump, the push trace and the push warnings, and the debug push.
#pragma once

struct BODY_OPTIONS {
  unsigned log = 2;
  bool apply_debug_push = false;
};

// Process-wide; written by the node before body_init, read by the kinematics.
extern BODY_OPTIONS body_opt;
