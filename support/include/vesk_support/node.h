// Start-up and exit protocol shared by the kit's node programs: Ctrl-C
// handling, options from defaults, VESK_ROBOT_NAME and the command line,
// ROS initialisation under "<robot>_<word>" and the base topic "/<robot>/".
//
// A node's main is:
//   NodeOptions opt;
//   int main(int argc, char** argv) {
//     return run_node("kinemod", true, argc, argv, opt, [] { ...init, loop... });
//   }
#pragma once

#include <functional>
#include <string>

struct NodeOptions {
  unsigned log = 2;  // 0 silent, 1 warn, 2 info, 3 verb, 4 full
  std::string robot = "vesk";
  bool apply_debug_push = false;  // kinemod only
};

void interrupt_init();
void interrupt_event(int sig);
bool is_interrupted();

// Usage text of the node `word`, a line of 64 underscores and an empty line.
void usage(const char* word);

// Start-up steps up to the robot check: SIGINT handler, defaults, the
// environment, the command line. Returns false when "help" was handled (the
// node ends with status 0); raises on a bad option.
bool parse_node_options(const char* word, bool allow_debug_push, int argc, char** argv, NodeOptions& opt);

// The whole protocol: parse_node_options, then `body`. Everything raised is
// caught: its message is printed again and 1 is returned. Returns 0 after
// "help" and when `body` returns.
int run_node(const char* word, bool allow_debug_push, int argc, char** argv, NodeOptions& opt,
             const std::function<void()>& body);

// ROS initialisation of the node "<robot>_<word>": no command line and no ROS
// SIGINT handler; ROS logger levels follow opt.log.
void ros_init_node(const char* word, const NodeOptions& opt);

// rosconsole level for a node log level: 3 - log below 3, else 0 (Debug).
int ros_logger_level(unsigned log);

// Waits for the ROS master, polling Ctrl-C every 100 ms, with one warning
// "waiting for the ROS master at <uri>" (log level above silent). roscpp's
// own registration would retry for ever without seeing Ctrl-C, since the
// nodes do not install its SIGINT handler. Returns false on Ctrl-C.
bool wait_for_master(const NodeOptions& opt);

std::string base_topic(const NodeOptions& opt);  // "/" + robot + "/"
bool node_running();                             // ROS up and no Ctrl-C yet
void announce_subscribe(const std::string& topic);
void announce_publish(const std::string& topic);
