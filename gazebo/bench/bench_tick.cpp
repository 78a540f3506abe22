// CPU time of one simulated tick of the plug-in (sensor snapshot, exchange with the robot
// ROS interface, SetPositions) in the stand-in world. Needs a ROS master (run_bench.sh
// starts a private one, and a "sink" subscriber process for the measured run).
// Two figures:
//  - the whole process's CPU time per tick (every thread, roscpp's sending and receiving
//    threads included): the same stand-in world stepped through the same ticks with the
//    plug-in loaded, less the same run without it, measured one after the other here;
//  - the CPU time of the stepping thread inside the tick alone: taken between the end of
//    the step's physics and a world-update-end subscriber connected after the plug-in's.
// Both are printed as a ratio to the 20 ms tick period, and the first also to the second.
#include <nav_msgs/Odometry.h>
#include <ros/ros.h>
#include <sensor_msgs/JointState.h>
#include <time.h>
#include <vesk2_msg/sensors_package.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../test/test_host.h"

namespace {
double CpuNow(clockid_t clock = CLOCK_THREAD_CPUTIME_ID) {
  timespec ts;
  clock_gettime(clock, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

double ProcessCpuNow() { return CpuNow(CLOCK_PROCESS_CPUTIME_ID); }

constexpr int kWarmTicks = 50;
constexpr double kSettleSeconds = 0.5;  // [s] for roscpp's threads to send what is queued

// Steps `ticks` ticks (after the warm-up ones) with the sensors reporting every tick, as
// they would at their update rates; `ticked` is true during the step that ends a counted
// tick. Returns the process's CPU time [s] of the counted ticks, including the settle time
// after them.
double RunTicks(vesk_test::RobotWorld& world, int ticks, bool* ticked) {
  double cpu0 = 0.0;
  for (int i = 0; i < ticks + kWarmTicks; ++i) {
    if (i == kWarmTicks) cpu0 = ProcessCpuNow();
    vesk_test::gs::UpdateImu(world.acc_body, {0.1, 0.2, 9.81});
    vesk_test::gs::UpdateImu(world.acc_head, {0.1, 0.2, 9.81});
    vesk_test::gs::UpdateSonar(world.cliff_l, 0.03);
    vesk_test::gs::UpdateSonar(world.cliff_r, 0.03);
    world.Step(19);
    *ticked = i >= kWarmTicks;
    world.Step(1);
    *ticked = false;
  }
  ros::WallDuration(kSettleSeconds).sleep();
  return ProcessCpuNow() - cpu0;
}
}  // namespace

// "sink": a separate process that subscribes to the package, odometry and joint topics, so
// that the ticks measured serialise and send their messages as with a client.
unsigned g_sink_packages = 0;
void OnPackage(const vesk2_msg::sensors_package::ConstPtr&) { ++g_sink_packages; }
void OnOdom(const nav_msgs::Odometry::ConstPtr&) {}
void OnJoints(const sensor_msgs::JointState::ConstPtr&) {}

int Sink(int argc, char** argv) {
  ros::init(argc, argv, "vesk_gazebo_bench_sink");
  ros::NodeHandle nh("/vesk");
  ros::Subscriber a = nh.subscribe("sensors/package", 10, OnPackage);
  ros::Subscriber b = nh.subscribe("sensors/odom", 10, OnOdom);
  ros::Subscriber c = nh.subscribe("sensors/kinematic_joints", 10, OnJoints);
  ros::spin();
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "sink") return Sink(argc, argv);
  const int ticks = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (ticks < 1) {
    std::printf("usage: bench_tick [TICKS >= 1] | sink\n");
    return 2;
  }
  ros::init(argc, argv, "vesk_gazebo_bench_tick", ros::init_options::NoSigintHandler);
  vesk_test::MakeConfigDir("bench", "");
  std::vector<double> samples;
  double cpu_without = 0.0, cpu_with = 0.0;
  bool ticked = false;
  {
    // Baseline: the same world and sensor reports without a plug-in.
    vesk_test::RobotWorld world;
    cpu_without = RunTicks(world, ticks, &ticked);
  }
  {
    vesk_test::RobotWorld world;
    vesk_test::gs::ModelPluginInstance plugin(vesk_test::PluginLibrary(), "vesk_gazebo");
    plugin.Load(world.model);
    ros::WallDuration(2.0).sleep();  // a running sink connects to the new topics
    double t_physics = 0.0;
    vesk_test::gs::SetPhysicsHook(world.world, [&](double) { t_physics = CpuNow(); });
    gazebo::event::ConnectionPtr end = gazebo::event::Events::ConnectWorldUpdateEnd([&]() {
      const double t = CpuNow() - t_physics;
      if (ticked) samples.push_back(t);
    });
    cpu_with = RunTicks(world, ticks, &ticked);
    end.reset();
    plugin.Release();
  }
  std::sort(samples.begin(), samples.end());
  double sum = 0;
  for (double s : samples) sum += s;
  const double mean = sum / samples.size();
  const double process = (cpu_with - cpu_without) / ticks;
  std::printf("simulated tick (snapshot, exchange, SetPositions), %zu ticks:\n", samples.size());
  std::printf("  process CPU time per tick, all threads: %.1f us (with plug-in %.1f us, without %.1f us)\n",
              process * 1e6, cpu_with / ticks * 1e6, cpu_without / ticks * 1e6);
  std::printf("  stepping thread CPU time in the tick: mean %.1f us, median %.1f us, p99 %.1f us\n",
              mean * 1e6, samples[samples.size() / 2] * 1e6, samples[samples.size() * 99 / 100] * 1e6);
  std::printf("  ratio to the 20 ms tick period: process %.4f, stepping thread %.4f\n", process / 0.02,
              mean / 0.02);
  std::printf("  ratio process / stepping thread: %.2f\n", process / mean);
  return 0;
}
