// CPU time of one simulated tick of the plug-in (sensor snapshot, exchange with the robot
// ROS interface, SetPositions) in the stand-in world. Needs a ROS master (run_bench.sh
// starts a private one, and a "sink" subscriber process for the measured run). The tick runs inside the
// world-update-end event; the time is taken between the end of the step's physics and a world-update-end
// subscriber connected after the plug-in's, so the physics of the world is not counted.
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
double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
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
  ros::init(argc, argv, "vesk_gazebo_bench_tick", ros::init_options::NoSigintHandler);
  vesk_test::MakeConfigDir("bench", "");
  std::vector<double> samples;
  {
    vesk_test::RobotWorld world;
    vesk_test::gs::ModelPluginInstance plugin(vesk_test::PluginLibrary(), "vesk_gazebo");
    plugin.Load(world.model);
    ros::WallDuration(2.0).sleep();  // a running sink connects to the new topics
    double t_physics = 0.0;
    vesk_test::gs::SetPhysicsHook(world.world, [&](double) { t_physics = CpuNow(); });
    bool ticked = false;
    gazebo::event::ConnectionPtr end = gazebo::event::Events::ConnectWorldUpdateEnd([&]() {
      const double t = CpuNow() - t_physics;
      if (ticked) samples.push_back(t);
    });
    // Sensors report every tick, as they would at their update rates.
    for (int i = 0; i < ticks + 50; ++i) {
      vesk_test::gs::UpdateImu(world.acc_body, {0.1, 0.2, 9.81});
      vesk_test::gs::UpdateImu(world.acc_head, {0.1, 0.2, 9.81});
      vesk_test::gs::UpdateSonar(world.cliff_l, 0.03);
      vesk_test::gs::UpdateSonar(world.cliff_r, 0.03);
      world.Step(19);
      ticked = i >= 50;  // warm-up ticks not counted
      world.Step(1);
      ticked = false;
    }
    end.reset();
    plugin.Release();
  }
  std::sort(samples.begin(), samples.end());
  double sum = 0;
  for (double s : samples) sum += s;
  const double mean = sum / samples.size();
  std::printf("simulated tick (snapshot, exchange, SetPositions), %zu ticks:\n", samples.size());
  std::printf("  CPU time per tick: mean %.1f us, median %.1f us, p99 %.1f us\n", mean * 1e6,
              samples[samples.size() / 2] * 1e6, samples[samples.size() * 99 / 100] * 1e6);
  std::printf("  ratio to the 20 ms tick period: %.4f\n", mean / 0.02);
  return 0;
}
