// Helpers of the interface's ROS tests: a robot (configuration records plus
// interface) under its own name, message collectors on real topics, and
// short bounded waits.
#pragma once

#include <gtest/gtest.h>
#include <ros/ros.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "test_platform.h"
#include "vesk_net/interf.h"

namespace vesk_test {

// Spins the global queue until `done` holds or `seconds` have passed.
inline bool wait_until(const std::function<bool()>& done, double seconds = 5.0) {
  const ros::WallTime end = ros::WallTime::now() + ros::WallDuration(seconds);
  while (!done()) {
    if (ros::WallTime::now() > end) return false;
    ros::spinOnce();
    ros::WallDuration(0.002).sleep();
  }
  return true;
}

// A unique robot name per call, so that tests do not hear each other.
inline std::string fresh_robot_name(const std::string& stem) {
  static int counter = 0;
  return stem + std::to_string(++counter);
}

struct Robot {
  explicit Robot(uint32_t net_flags, int verbosity = 1, uint32_t initial_flags = 0,
                 const std::string& stem = "r", const std::string& frame_prefix = "") {
    net.mode = NET_MODE_ROS;
    net.frame_prefix = frame_prefix;
    net.robot_name = fresh_robot_name(stem);
    net.net_flags = net_flags;
    net.initial_flags = initial_flags;
    tool.verbosity = verbosity;
    std::memset(&pars, 0, sizeof(pars));
    for (VESK_STREAM_PARS& s : pars.stream) {
      s.stream_geom = {640, 360, {0, 0, 0, 0}};
      s.stream_rate = 15.0f;
    }
    interf.reset(new VESK_NET_INTERF(&net, &tool, &pars));
  }

  std::string topic(const std::string& name) const { return "/" + net.robot_name + "/" + name; }

  VESK_TICK_D* tick() { return interf->exchange(platform.next()); }

  VESK_NET_CONFIG net;
  VESK_TOOL_CONFIG tool;
  VESK_PLATFORM_PARS pars;
  TestPlatform platform;
  std::unique_ptr<VESK_NET_INTERF> interf;
};

// Keeps every message received on one topic.
template <typename M>
struct Collector {
  Collector(ros::NodeHandle& nh, const std::string& topic) {
    sub = nh.subscribe<M>(topic, 1000, [this](const boost::shared_ptr<const M>& m) { got.push_back(*m); });
  }
  bool connected(unsigned publishers = 1) {
    return wait_until([&] { return sub.getNumPublishers() >= publishers; });
  }
  const M& last() const { return got.back(); }
  ros::Subscriber sub;
  std::vector<M> got;
};

// Publishes on one topic once a subscriber is connected.
template <typename M>
struct Sender {
  Sender(ros::NodeHandle& nh, const std::string& topic) { pub = nh.advertise<M>(topic, 10); }
  bool send(const M& m) {
    if (!wait_until([&] { return pub.getNumSubscribers() > 0; })) return false;
    pub.publish(m);
    return true;
  }
  ros::Publisher pub;
};

// The node handle of the test process.
ros::NodeHandle& test_nh();

}  // namespace vesk_test
