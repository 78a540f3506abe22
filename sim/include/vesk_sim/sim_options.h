// Command line of the headless simulator: key=value words, as the kit's nodes take them.
//
//   world=PATH        world file (default: the package's worlds/vesk_arena.world)
//   model=PATH        robot model file (default: the package's models/vesk/model.sdf)
//   robot=NAME[@X,Y,YAW]  add a robot named NAME at X, Y [m] facing YAW [rad]; repeatable.
//                     Without any, one robot named by VESK_ROBOT_NAME (or "vesk") at 0, 0, 0.
//   rtf=FACTOR        real-time factor: 1 (default) runs at wall-clock speed, 2 twice as
//                     fast; 0 runs as fast as possible
//   duration=SECONDS  stop after this much simulated time (default: run until Ctrl-C)
//   threads=N         render the cameras on N threads, the stepping one included (default:
//                     one per hardware thread); the images are the same for every N
//   plugin=PATH       load this plug-in library instead of the model's <plugin> file
//   no_plugin         run the world without loading the model's plug-in
//   help              print this text
// Words starting with "__" (ROS remappings such as __name:=) are skipped.
#pragma once

#include <string>
#include <vector>

#include "vesk_sim/sim_world.h"

namespace vesk_sim {

struct CommandLine {
  SimOptions sim;
  double rtf = 1.0;
  double duration = 0.0;  // 0: unlimited
  bool help = false;
};

// Parses the words after the program name. `package_dir` supplies the default files,
// `default_robot` the robot name when no "robot=" is given. Fails (os::fail) on a word it
// does not know or a value it cannot read.
CommandLine parse_command_line(const std::vector<std::string>& words, const std::string& package_dir,
                               const std::string& default_robot);

const char* usage_text();

}  // namespace vesk_sim
