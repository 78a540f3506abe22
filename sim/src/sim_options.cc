#include "vesk_sim/sim_options.h"

#include <vesk_support/os.h>

#include <cmath>
#include <cstdlib>

namespace vesk_sim {
namespace {

double parse_number(const std::string& key, const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(v)) {
    os::fail("bad value \"" + text + "\" for \"" + key + "\"");
  }
  return v;
}

bool valid_robot_name(const std::string& name) {
  if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])))) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

RobotSpawn parse_robot(const std::string& text) {
  RobotSpawn r;
  const size_t at = text.find('@');
  r.name = text.substr(0, at);
  if (!valid_robot_name(r.name)) {
    os::fail("bad robot name \"" + r.name + "\" (letters, digits and '_', starting with a letter)");
  }
  if (at == std::string::npos) return r;
  std::vector<double> v;
  std::string rest = text.substr(at + 1);
  size_t start = 0;
  for (;;) {
    const size_t comma = rest.find(',', start);
    v.push_back(parse_number("robot", rest.substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (v.size() < 2 || v.size() > 3) os::fail("bad robot pose \"" + rest + "\" (X,Y or X,Y,YAW)");
  r.x = v[0];
  r.y = v[1];
  r.yaw = v.size() > 2 ? v[2] : 0.0;
  return r;
}

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& words, const std::string& package_dir,
                               const std::string& default_robot) {
  CommandLine c;
  c.sim.world_file = package_dir + "/worlds/vesk_arena.world";
  c.sim.model_file = package_dir + "/models/vesk/model.sdf";
  for (const std::string& w : words) {
    if (w.compare(0, 2, "__") == 0) continue;
    const size_t eq = w.find('=');
    const std::string key = w.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : w.substr(eq + 1);
    if (w == "help") {
      c.help = true;
    } else if (w == "no_plugin") {
      c.sim.load_plugins = false;
    } else if (eq == std::string::npos) {
      os::fail("unrecognised argument \"" + w + "\"");
    } else if (key == "world") {
      c.sim.world_file = value;
    } else if (key == "model") {
      c.sim.model_file = value;
    } else if (key == "robot") {
      c.sim.robots.push_back(parse_robot(value));
    } else if (key == "rtf") {
      c.rtf = parse_number(key, value);
      if (c.rtf < 0.0) os::fail("rtf must not be negative");
    } else if (key == "duration") {
      c.duration = parse_number(key, value);
      if (c.duration < 0.0) os::fail("duration must not be negative");
    } else if (key == "threads") {
      const double n = parse_number(key, value);
      if (!(n >= 1.0 && n <= 256.0) || n != std::floor(n))
        os::fail("threads must be a whole number from 1 to 256");
      c.sim.threads = static_cast<unsigned>(n);
    } else if (key == "plugin") {
      c.sim.plugin_override = value;
    } else {
      os::fail("unrecognised argument \"" + w + "\"");
    }
  }
  if (c.sim.robots.empty())
    c.sim.robots.push_back(parse_robot(default_robot.empty() ? "vesk" : default_robot));
  return c;
}

const char* usage_text() {
  return "usage: vesk_sim [world=PATH] [model=PATH] [robot=NAME[@X,Y,YAW]]... [rtf=FACTOR]\n"
         "                [duration=SECONDS] [threads=N] [plugin=PATH] [no_plugin] [help]\n"
         "  rtf=0 runs as fast as possible; robot= may be given once per robot;\n"
         "  threads=N renders cameras on N threads (default: one per core).\n";
}

}  // namespace vesk_sim
