// vesk_sim: the headless simulator. Hosts the robot model's plug-in (libvesk_gazebo) on
// the Gazebo API stand-in, steps the world at the chosen real-time factor, publishes
// "/clock" for nodes that use simulation time, and resets the world on request through
// the service "/gazebo/reset_world" (std_srvs/Empty, as Gazebo offers it) or a message on
// "/vesk_sim/reset" (std_msgs/Empty).
#include <ros/callback_queue.h>
#include <ros/package.h>
#include <ros/ros.h>
#include <rosgraph_msgs/Clock.h>
#include <std_msgs/Empty.h>
#include <std_srvs/Empty.h>
#include <time.h>
#include <vesk_support/master_wait.h>
#include <vesk_support/os.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <thread>

#include "vesk_sim/sim_options.h"
#include "vesk_sim/sim_world.h"

namespace {

// [s] of simulation at the real-time factor that the simulator may fall behind the wall clock
// and make up at full speed; beyond it, pacing starts afresh. Three ticks: the speaker's
// buffer, about ten ticks ahead when a client streams to it, outlasts that.
constexpr double kMaxLag = 0.06;

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_reset_requested{false};

void on_sigint(int) { g_interrupted = true; }

std::string robot_from_environment() {
  const char* name = std::getenv("VESK_ROBOT_NAME");
  return name ? name : "";
}

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// CPU time of the calling thread [s].
double thread_cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Wall-clock seconds since the process started (steady, for pacing).
const std::chrono::steady_clock::time_point g_start = std::chrono::steady_clock::now();
double wall_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - g_start).count();
}

// False on Ctrl-C while waiting (the user's choice, not a failure: the nodes end with 0 then
// too); fails when no master answers within about a minute.
bool wait_for_master() {
  const MasterWait result = wait_for_ros_master(
      60, 10, [] { return g_interrupted.load(); },
      [](unsigned attempt) {
        if (attempt == 0)
          std::cout << os::cout_global_elapsed() << "waiting for the ROS master..." << std::endl;
      });
  if (result == MasterWait::absent) os::fail("could not contact ROS master");
  if (result == MasterWait::stopped) {
    std::cout << os::cout_global_elapsed() << "user requests exit whilst seeking ROS master" << std::endl;
    return false;
  }
  return true;
}

// "/clock" goes out every kClockPeriodNs of simulated time, at the start of the world step
// that ends there, so every plug-in tick (20 ms) has it. With simulation time this process's
// ROS clock is the one roscpp keeps from its own "/clock" subscription; the step waits until
// that subscription has taken the new time, so that messages of the step carry exactly the
// step's end time and the clock never runs backwards behind a late clock message.
constexpr int64_t kClockPeriodNs = 5000000;  // 5 ms

void publish_clock(const ros::Publisher& pub, const vesk_sim::SimWorld& world, bool use_sim_time) {
  const int64_t step_ns = static_cast<int64_t>(std::llround(world.step_size() * 1e9));
  const int64_t next_ns = static_cast<int64_t>(std::llround(world.sim_time() * 1e9)) + step_ns;
  if (next_ns % kClockPeriodNs >= step_ns && next_ns > step_ns) return;  // not a clock step
  rosgraph_msgs::Clock clock;
  clock.clock.fromNSec(static_cast<uint64_t>(next_ns));
  pub.publish(clock);
  if (!use_sim_time) return;
  // Should roscpp not follow "/clock" (the parameter was set after this process started),
  // the clock is set directly from then on.
  static bool direct = false;
  for (int i = 0; !direct && i < 5000 && ros::Time::now() != clock.clock; ++i) {
    if (i > 100) {
      ros::WallDuration(0.00001).sleep();
    } else {
      std::this_thread::yield();
    }
  }
  if (!direct && ros::Time::now() != clock.clock) {
    os::warn("the ROS clock does not follow \"/clock\": setting it directly");
    direct = true;
  }
  if (direct) ros::Time::setNow(clock.clock);
}

bool on_reset_service(std_srvs::Empty::Request&, std_srvs::Empty::Response&) {
  g_reset_requested = true;
  return true;
}

void on_reset_topic(const std_msgs::Empty::ConstPtr&) { g_reset_requested = true; }

int run(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  ros::init(argc, argv, "vesk_sim", ros::init_options::NoSigintHandler);
  std::signal(SIGINT, on_sigint);
  std::signal(SIGTERM, on_sigint);
  const vesk_sim::CommandLine cmd =
      vesk_sim::parse_command_line(words, ros::package::getPath("vesk_sim"), robot_from_environment());
  if (cmd.help) {
    std::cout << vesk_sim::usage_text();
    return 0;
  }
  if (!wait_for_master()) return 0;

  // The simulator's own topics and services are serviced from a queue of their own between
  // world steps, never from inside a plug-in's tick.
  ros::CallbackQueue queue;
  ros::NodeHandle nh;
  nh.setCallbackQueue(&queue);
  ros::Publisher clock_pub = nh.advertise<rosgraph_msgs::Clock>("/clock", 10);
  ros::ServiceServer reset_srv = nh.advertiseService("/gazebo/reset_world", on_reset_service);
  ros::Subscriber reset_sub = nh.subscribe("/vesk_sim/reset", 10, on_reset_topic);
  bool use_sim_time = false;
  ros::param::get("/use_sim_time", use_sim_time);

  vesk_sim::SimWorld world(cmd.sim);
  std::cout << os::cout_global_elapsed() << "simulating " << world.robot_count() << " robot(s), step "
            << world.step_size() << " s, real-time factor ";
  if (cmd.rtf > 0.0) {
    std::cout << cmd.rtf << std::endl;
  } else {
    std::cout << "as fast as possible" << std::endl;
  }

  const double wall_start = wall_seconds();
  const double cpu_start = cpu_seconds();
  const double thread_cpu_start = thread_cpu_seconds();
  double paced_from = 0.0;  // simulation time at which pacing (re)started
  double wall_from = 0.0;
  double simulated = 0.0;  // total simulated time, across resets [s]
  while (!g_interrupted && ros::ok()) {
    queue.callAvailable();
    if (g_reset_requested.exchange(false)) {
      std::cout << os::cout_global_elapsed() << "world reset at " << world.sim_time() << " s" << std::endl;
      world.reset();
      paced_from = 0.0;
      wall_from = (wall_seconds() - wall_start);
    }
    publish_clock(clock_pub, world, use_sim_time);
    world.step();
    simulated += world.step_size();
    if (cmd.duration > 0.0 && simulated >= cmd.duration - 1e-9) break;
    if (cmd.rtf > 0.0) {
      const double wall = wall_seconds() - wall_start;
      const double ahead = (world.sim_time() - paced_from) / cmd.rtf - (wall - wall_from);
      if (ahead > 0.002) {
        std::this_thread::sleep_for(std::chrono::duration<double>(ahead));
      } else if (ahead < -kMaxLag) {
        // Held up (a slow step, a busy machine): pace on from here instead of running the lost
        // time off at full speed, which clients paced by the robot's reports could not follow
        // (the voice would find the speaker's buffer empty).
        paced_from = world.sim_time();
        wall_from = wall;
      }
    }
  }
  const double wall_s = (wall_seconds() - wall_start);
  const double cpu_s = cpu_seconds() - cpu_start;
  // The stepping thread's own share: what bounds the real-time factor when the render
  // threads have cores of their own.
  const double thread_cpu_s = thread_cpu_seconds() - thread_cpu_start;
  std::cout << os::cout_global_elapsed() << "simulated " << simulated << " s in " << wall_s
            << " s of wall-clock time (real-time factor " << (wall_s > 0 ? simulated / wall_s : 0.0)
            << "), CPU " << (simulated > 0 ? cpu_s / simulated : 0.0)
            << " s per simulated second (stepping thread " << (simulated > 0 ? thread_cpu_s / simulated : 0.0)
            << " s), " << world.camera_frames() << " camera frames" << std::endl;
  for (size_t i = 0; i < world.robot_count(); ++i) {
    const vesk_sim::BasePose p = world.robot_pose(i);
    std::cout << os::cout_global_elapsed() << "robot " << i << " ends at x " << p.x << " m, y " << p.y
              << " m, heading " << p.yaw << " rad" << std::endl;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::cout << e.what() << std::endl;
    return 1;
  }
}
