// Smallest node of the support library: runs the shared start-up, reports
// what it settled on, and (with VESK_PROBE_LOOP set) runs a main loop until
// ROS stops or Ctrl-C.
#include <ros/ros.h>

#include <iostream>
#include <memory>

#include "vesk_support/node.h"
#include "vesk_support/os.h"
#include "vesk_support/qor.h"

NodeOptions opt;

int main(int argc, char** argv) {
  return run_node("probe", true, argc, argv, opt, [] {
    ros_init_node("probe", opt);
    std::cout << "log=" << opt.log << " robot=" << opt.robot << " base=" << base_topic(opt)
              << " debug_push=" << opt.apply_debug_push << std::endl;
    if (qor::get_env("VESK_PROBE_LOOP").empty()) return;
    std::unique_ptr<ros::NodeHandle> nh(new ros::NodeHandle);
    std::cout << "ready" << std::endl;
    while (node_running()) os::msleep(5);
    std::cout << "stopped" << std::endl;
  });
}
