// Shared start-up of the node programs.
#include "vesk_support/node.h"

#include <log4cxx/logger.h>
#include <ros/console.h>
#include <ros/ros.h>
#include <signal.h>

#include <exception>
#include <iostream>
#include <map>
#include <stdexcept>

#include "vesk_support/master_wait.h"
#include "vesk_support/os.h"
#include "vesk_support/qor.h"

namespace {
volatile sig_atomic_t g_interrupted = 0;
}

void interrupt_event(int sig) {
  if (sig == SIGINT) g_interrupted = 1;
}

void interrupt_init() { signal(SIGINT, interrupt_event); }

bool is_interrupted() { return g_interrupted != 0; }

void usage(const char* word) {
  std::cout << "Usage:\n    " << word
            << " [options]\n\n    Without arguments, this help page is displayed.\n\nOptions:\n\n"
               "    log=silent,warn,info,verb,full\n        set logging level.\n\n"
               "    robot=<robot_name>\n        specify the name of the vesk robot, which forms the\n"
               "        ros base topic \"/<robot_name>\". default value \"vesk\".\n"
            << "________________________________________________________________\n"
            << "\n"
            << std::flush;
}

bool parse_node_options(const char* word, bool allow_debug_push, int argc, char** argv, NodeOptions& opt) {
  interrupt_init();
  opt = NodeOptions();
  std::string env_robot = qor::get_env("VESK_ROBOT_NAME");
  if (!env_robot.empty()) opt.robot = env_robot;

  static const std::map<std::string, unsigned> kLogLevels = {
      {"silent", 0}, {"warn", 1}, {"info", 2}, {"verb", 3}, {"full", 4}};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i] ? argv[i] : "";
    size_t eq = arg.find('=');
    std::string key = eq == std::string::npos ? arg : arg.substr(0, eq);
    std::string value = eq == std::string::npos ? std::string() : arg.substr(eq + 1);
    if (key == "help") {
      usage(word);
      return false;
    } else if (key == "log") {
      auto it = kLogLevels.find(value);
      if (it == kLogLevels.end()) os::fail("unrecognised value for \"log\"");
      opt.log = it->second;
    } else if (key == "robot") {
      opt.robot = value;
    } else if (allow_debug_push && key == "apply_debug_push") {
      opt.apply_debug_push = true;
    } else if (key.compare(0, 2, "__") == 0) {
      continue;
    } else {
      std::cout << "argument: " << key << std::endl;
      os::fail("unrecognised argument");
    }
  }
  if (opt.robot.empty()) {
    usage(word);
    os::fail("\"robot\" must be a non-zero length string");
  }
  return true;
}

int run_node(const char* word, bool allow_debug_push, int argc, char** argv, NodeOptions& opt,
             const std::function<void()>& body) {
  try {
    if (!parse_node_options(word, allow_debug_push, argc, argv, opt)) return 0;
    body();
    return 0;
  } catch (const std::exception& e) {
    std::cout << e.what() << std::endl;
  } catch (const char* s) {
    std::cout << s << std::endl;
  } catch (...) {
    std::cout << "..." << std::endl;
  }
  return 1;
}

namespace {
// Sets a logger level in rosconsole's log4cxx back end. This is what
// ros::console::set_logger_level does; it is done here directly because some
// distributions ship a rosconsole binary whose logger calls crash against
// their log4cxx.
void set_backend_logger_level(const std::string& name, int level) {
  log4cxx::LevelPtr levels[] = {log4cxx::Level::getDebug(), log4cxx::Level::getInfo(),
                                log4cxx::Level::getWarn(), log4cxx::Level::getError()};
  log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(name);
  if (logger) logger->setLevel(levels[level]);
}
}  // namespace

int ros_logger_level(unsigned log) { return log < 3 ? int(3 - log) : 0; }

void ros_init_node(const char* word, const NodeOptions& opt) {
  std::string node_name = opt.robot + "_" + word;
  std::cout << "initialising ROS node \"" << node_name << "\"..." << std::endl;
  int argc = 0;
  ros::init(argc, nullptr, node_name, ros::init_options::NoSigintHandler);

  // The levels are set only where the logger back end answers. (The check
  // asks log4cxx itself: rosconsole's get_loggers corrupts the logger
  // repository on some distributions' builds.)
  ROSCONSOLE_AUTOINIT;
  if (log4cxx::Logger::getRootLogger()) {
    int level = ros_logger_level(opt.log);
    set_backend_logger_level("ros", level);
    set_backend_logger_level("ros.roscpp.roscpp_internal", level);
    ros::console::notifyLoggerLevelsChanged();
  }
}

bool wait_for_master(const NodeOptions& opt) {
  const MasterWait result = wait_for_ros_master(0, 1, is_interrupted, [&opt](unsigned check) {
    // Said once, and not when Ctrl-C has already ended the wait.
    if (check == 0 && opt.log > 0 && !is_interrupted())
      os::warn("waiting for the ROS master at " + ros::master::getURI());
  });
  return result == MasterWait::reached && !is_interrupted();
}

std::string base_topic(const NodeOptions& opt) { return "/" + opt.robot + "/"; }

bool node_running() { return ros::ok() && !is_interrupted(); }

void announce_subscribe(const std::string& topic) {
  std::cout << "subscribing to \"" << topic << "\"..." << std::endl;
}

void announce_publish(const std::string& topic) {
  std::cout << "publishing to \"" << topic << "\"..." << std::endl;
}
