// A platform process that makes interfaces the way a host would, for the
// construction tests that need a fresh process (ROS start-up, no master).
// Usage: net_probe <case>; prints what it sees, one "key=value" per line.
#include <ros/ros.h>
#include <vesk_support/os.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "vesk_net/interf.h"

namespace {

struct Config {
  explicit Config(const char* name, uint32_t mode = NET_MODE_ROS, int verbosity = 2) {
    net.mode = mode;
    net.robot_name = name;
    tool.verbosity = verbosity;
    std::memset(&pars, 0, sizeof(pars));
  }
  VESK_NET_CONFIG net;
  VESK_TOOL_CONFIG tool;
  VESK_PLATFORM_PARS pars;
};

int run(const std::string& which) {
  if (which == "mode3") {
    Config c("probe", 3);
    try {
      VESK_NET_INTERF i(&c.net, &c.tool, &c.pars);
    } catch (const std::runtime_error& e) {
      std::cout << "thrown=" << e.what() << std::endl;
    }
    std::cout << "ros_initialised=" << ros::isInitialized() << std::endl;
    return 0;
  }
  if (which == "exit_request") {
    // No master is reachable; the platform gives up after about 0.3 s.
    Config c("probe", NET_MODE_ROS, 2);
    os::Timer timer;
    std::atomic<long> requested_ms(-1);
    std::thread t([&] {
      os::msleep(300);
      requested_ms = static_cast<long>(timer.elapsedMS());
      *static_cast<volatile int32_t*>(&c.net.exit_request) = 1;
    });
    long given_up_ms = -1;
    try {
      VESK_NET_INTERF i(&c.net, &c.tool, &c.pars);
      std::cout << "constructed" << std::endl;
    } catch (const std::runtime_error& e) {
      given_up_ms = static_cast<long>(timer.elapsedMS());
      std::cout << "thrown=" << e.what() << std::endl;
    }
    t.join();
    std::cout << "elapsed_ms=" << timer.elapsedMS() << std::endl;
    std::cout << "after_request_ms=" << given_up_ms - requested_ms << std::endl;
    return 0;
  }
  if (which == "no_config_dir") {
    // The cameras need the configuration directory; construction fails whole.
    unsetenv("VESK_DIR_CONFIG");
    Config c("probe_c");
    try {
      VESK_NET_INTERF i(&c.net, &c.tool, &c.pars);
      std::cout << "constructed" << std::endl;
    } catch (const std::runtime_error& e) {
      std::cout << "thrown=" << e.what() << std::endl;
    }
    // Nothing is left behind: a good interface can follow, and ROS goes down with it.
    setenv("VESK_DIR_CONFIG", "/tmp", 1);
    {
      Config d("probe_d");
      VESK_NET_INTERF i(&d.net, &d.tool, &d.pars);
      std::cout << "second_online=" << i.online() << std::endl;
    }
    std::cout << "after=" << ros::ok() << std::endl;
    return 0;
  }
  if (which == "offline") {
    Config c("probe", NET_MODE_OFFLINE, 2);
    VESK_NET_INTERF i(&c.net, &c.tool, &c.pars);
    VESK_TICK_U u;
    std::memset(&u, 0, sizeof(u));
    u.wheel_speed_opto[0] = 1.0f;
    VESK_TICK_D* d = nullptr;
    for (int k = 0; k < 3; ++k) d = i.exchange(u);
    const unsigned char text[] = "hello";
    i.publish_log(text, 5);
    MICS_ALL mics = {};
    i.publish_mics(&mics);
    VESK_MSG_FRAME f = {};
    f.stream_index = 9;
    i.publish_frame(&f);
    std::cout << "lift=" << d->kinematic_joints[1] << std::endl;
    std::cout << "joints_set=" << int(d->joints_set) << std::endl;
    std::cout << "receive_null=" << (i.receive() == nullptr) << std::endl;
    std::cout << "online=" << i.online() << std::endl;
    std::cout << "ros_initialised=" << ros::isInitialized() << std::endl;
    return 0;
  }
  if (which == "two") {
    // Two interfaces share one ROS start-up; ROS goes down with the last one.
    Config a("probe_a"), b("probe_b");
    std::unique_ptr<VESK_NET_INTERF> ia(new VESK_NET_INTERF(&a.net, &a.tool, &a.pars));
    std::cout << "node=" << ros::this_node::getName() << std::endl;
    std::unique_ptr<VESK_NET_INTERF> ib(new VESK_NET_INTERF(&b.net, &b.tool, &b.pars));
    std::cout << "both_ok=" << ros::ok() << std::endl;
    ia.reset();
    std::cout << "after_first=" << ros::ok() << std::endl;
    ib.reset();
    std::cout << "after_second=" << ros::ok() << std::endl;
    return 0;
  }
  if (which == "late_master") {
    // The master comes up while the interface waits for it.
    Config c("probe_late");
    VESK_NET_INTERF i(&c.net, &c.tool, &c.pars);
    std::cout << "online=" << i.online() << std::endl;
    return 0;
  }
  if (which == "ros_shut_down") {
    // The host (or a remote "rosnode kill") shuts ROS down under a live
    // interface; the platform keeps ticking and sending frames.
    Config c("probe_s", NET_MODE_ROS, 1);
    c.net.net_flags = NET_FLAG_SIM;
    c.net.initial_flags = 0x7;
    VESK_NET_INTERF i(&c.net, &c.tool, &c.pars);
    VESK_TICK_U u;
    std::memset(&u, 0, sizeof(u));
    i.exchange(u);
    ros::shutdown();
    std::cout << "ros_ok=" << ros::ok() << std::endl;
    VESK_TICK_D* d = nullptr;
    for (int k = 0; k < 60; ++k) d = i.exchange(u);
    std::cout << "flags=" << d->flags << std::endl;
    std::vector<uint8_t> pixels(2 * 2 * 3, 1);
    VESK_MSG_FRAME f = {};
    f.flags = FRAME_FLAG_RAW;
    f.width = f.height = 2;
    f.size = FRAME_HEADER_BYTES + 12;
    f.data = pixels.data();
    i.publish_frame(&f);
    MICS_ALL mics = {};
    i.publish_mics(&mics);
    const unsigned char text[] = "hello";
    i.publish_log(text, 5);
    std::cout << "receive_null=" << (i.receive() == nullptr) << std::endl;
    std::cout << "survived=1" << std::endl;
    return 0;
  }
  std::cerr << "unknown case " << which << std::endl;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  try {
    return run(argv[1]);
  } catch (const std::exception& e) {
    std::cout << "uncaught=" << e.what() << std::endl;
    return 1;
  }
}
