// kinemod: the body kinematics node. Pushes on points of the body come in on
// "core/mpg/push"; each processing pass applies them to the body model and
// publishes the body velocity ("control/cmd_vel") and the speed of the fovea
// point of the head ("core/mpg/fovea_speed"). After each sensors package the
// node reports its own joint angles on "control/kinematic_joints", unless it
// sleeps: half a second without a push or reset sends it to sleep, the next
// push or reset wakes it.
#include <geometry_msgs/TwistStamped.h>
#include <ros/callback_queue.h>
#include <ros/ros.h>
#include <sensor_msgs/JointState.h>
#include <std_msgs/Float32.h>
#include <std_msgs/UInt32.h>
#include <vesk2_msg/push.h>
#include <vesk2_msg/sensors_package.h>
#include <vesk_support/float_cast.h>
#include <vesk_support/master_watch.h>
#include <vesk_support/node.h>
#include <vesk_support/os.h>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>

#include "vesk_body/body_model.h"
#include "vesk_body/body_options.h"

namespace {

constexpr float kSleepAfterS = 0.5f;                     // idle time before going to sleep
constexpr unsigned kAsleepPollMs = 100;                  // idle pass while asleep
constexpr double kAwakeIdleWaitS = 0.001;                // longest idle wait while awake
constexpr float3 kFoveaInHead = {0.125f, 0.0f, 0.035f};  // [m], HEAD frame

// Node handle first: members are released in reverse order, so the
// subscribers go first, then the publishers, then the node handle.
struct RosInterf {
  ros::NodeHandle nh;
  ros::Publisher pub_cmd_vel;
  ros::Publisher pub_kinematic_joints;
  ros::Publisher pub_fovea_speed;
  ros::Subscriber sub_sensors_package;
  ros::Subscriber sub_reset;
  ros::Subscriber sub_push;
};

}  // namespace

NodeOptions opt;
RosInterf* rosinterf = nullptr;

os::Mutex body_mutex;
os::Timer timer_idle;
bool g_pushes_ready = false;
bool g_sensors_received = false;
uint32_t g_seq_out = 0;

namespace {

// Out-of-range values become infinite and are then refused by the push algorithm.
float3 to_float3(const geometry_msgs::Vector3& v) {
  return {os::to_float(v.x), os::to_float(v.y), os::to_float(v.z)};
}

// A package whose joints are not the four of the body chain is dropped: any node may
// publish on the topic, and one bad message must not stop the body. The warning comes
// once per run of bad packages (they may come at the tick rate); a good package re-arms it.
bool g_bad_package_told = false;

void callback_sensors_package(const vesk2_msg::sensors_package::ConstPtr& msg) {
  os::ScopedLock lock(body_mutex);
  const size_t n = msg->kinematic_joints.position.size();
  if (n != 4) {
    if (!g_bad_package_told && opt.log > 0) {
      os::warn("input \"kinematic_joints\" wrong size (" + std::to_string(n) +
               " positions, not 4): sensors package dropped");
    }
    g_bad_package_told = true;
    return;
  }
  g_bad_package_told = false;
  g_sensors_received = true;
}

void callback_push(const vesk2_msg::push::ConstPtr& msg) {
  os::ScopedLock lock(body_mutex);
  KC_PUSH push;
  push.link = msg->link;
  push.flags = msg->flags;
  push.pushpos = to_float3(msg->pushpos);
  push.pushvec = to_float3(msg->pushvec);
  body_d_add_push(push);
  timer_idle.reset();
  if (!(push.flags & KC_PUSH_FLAG_DEFER)) g_pushes_ready = true;
}

void callback_reset(const std_msgs::UInt32::ConstPtr& msg) {
  os::ScopedLock lock(body_mutex);
  body_u_reset(msg->data);
  timer_idle.reset();
}

// ROS for the node and its record; the record stays null when Ctrl-C came
// before the master answered.
void ros_preinit() {
  ros_init_node("kinemod", opt);
  if (!wait_for_master(opt)) return;
  rosinterf = new RosInterf;
}

// Publisher of a stamped message whose header.seq is the node's own counter
// g_seq_out, shared by cmd_vel and kinematic_joints: roscpp would otherwise
// overwrite the sequence number with a count of its own per publisher.
template <class M>
ros::Publisher advertise_own_seq(ros::NodeHandle& nh, const std::string& topic) {
  ros::AdvertiseOptions ops;
  ops.template init<M>(topic, 1);
  ops.has_header = false;
  return nh.advertise(ops);
}

void connect_topics() {
  const std::string base = base_topic(opt);
  ros::NodeHandle& nh = rosinterf->nh;
  const ros::TransportHints hints = ros::TransportHints().tcpNoDelay(true);

  std::string topic = base + "sensors/package";
  announce_subscribe(topic);
  rosinterf->sub_sensors_package = nh.subscribe(topic, 1, callback_sensors_package, hints);
  topic = base + "core/mpg/push";
  announce_subscribe(topic);
  rosinterf->sub_push = nh.subscribe(topic, 1, callback_push, hints);
  topic = base + "core/mpg/reset";
  announce_subscribe(topic);
  rosinterf->sub_reset = nh.subscribe(topic, 1, callback_reset, hints);

  topic = base + "control/cmd_vel";
  announce_publish(topic);
  rosinterf->pub_cmd_vel = advertise_own_seq<geometry_msgs::TwistStamped>(nh, topic);
  topic = base + "control/kinematic_joints";
  announce_publish(topic);
  rosinterf->pub_kinematic_joints = advertise_own_seq<sensor_msgs::JointState>(nh, topic);
  topic = base + "core/mpg/fovea_speed";
  announce_publish(topic);
  rosinterf->pub_fovea_speed = nh.advertise<std_msgs::Float32>(topic, 1);
}

void say(const char* line) { std::cout << os::cout_global_elapsed() << line << std::endl; }

// Idle wait of an awake pass: returns as soon as a message is queued (its
// handler then runs here), after at most 1 ms otherwise, so that Ctrl-C and
// the sleep timer are still polled.
void idle_wait_awake() { ros::getGlobalCallbackQueue()->callAvailable(ros::WallDuration(kAwakeIdleWaitS)); }

void main_loop(const MasterWatch& master_watch) {
  geometry_msgs::TwistStamped cmd_vel;
  std_msgs::Float32 fovea_speed;
  sensor_msgs::JointState joints;
  joints.name = {"tilt", "lift", "yaw", "pitch"};
  joints.position.assign(4, 0.0);
  bool sleeping = false;
  float3 fovea_prev = {0.0f, 0.0f, 0.0f};
  timer_idle.reset();

  while (node_running()) {
    if (master_watch.restarted()) os::fail(MasterWatch::kNodeFailure);
    ros::spinOnce();

    if (g_pushes_ready) {
      g_pushes_ready = false;
      float3 fovea = kFoveaInHead;
      VESK_BODY_VEL vel;
      {
        os::ScopedLock lock(body_mutex);
        body_process(vel);
        kc_changeFrameAbs(&kc_m, KC_LINK_HEAD, -1, &fovea);
      }
      cmd_vel.header.seq = g_seq_out++;
      cmd_vel.header.stamp = ros::Time::now();
      float3 moved = fovea;
      float3_subtract_unary(&moved, &fovea_prev);
      fovea_speed.data = float3_modulus(&moved) * TICK_RATE_HZ;
      fovea_prev = fovea;
      cmd_vel.twist.linear.x = vel.forward;
      cmd_vel.twist.angular.z = vel.turn;
      rosinterf->pub_cmd_vel.publish(cmd_vel);
      rosinterf->pub_fovea_speed.publish(fovea_speed);
    } else if (g_sensors_received) {
      g_sensors_received = false;
      float config[4];
      {
        os::ScopedLock lock(body_mutex);
        body_get(config);
      }
      joints.header.seq = g_seq_out++;
      joints.header.stamp = ros::Time::now();
      for (int i = 0; i < 4; ++i) joints.position[i] = config[i];
      if (!sleeping) rosinterf->pub_kinematic_joints.publish(joints);
    } else {
      const float idle = timer_idle.elapsed();
      if (sleeping) {
        if (idle < kSleepAfterS) {
          say("waking up...");
          sleeping = false;
        } else {
          os::msleep(kAsleepPollMs);
        }
      } else if (idle >= kSleepAfterS) {
        say("going to sleep...");
        sleeping = true;
      } else {
        idle_wait_awake();
      }
    }
  }
}

void run() {
  body_opt.log = opt.log;
  body_opt.apply_debug_push = opt.apply_debug_push;
  body_init();
  ros_preinit();
  if (!rosinterf) return;  // Ctrl-C while waiting for the master
  // Released however the node ends from here on.
  std::unique_ptr<RosInterf> release(rosinterf);
  struct Forget {
    ~Forget() { rosinterf = nullptr; }
  } forget;

  connect_topics();
  // Watching from before the main loop is announced: a master replaced after that is noticed.
  const MasterWatch master_watch(MasterWatch::kNodeEnds);
  say("entering main loop...");
  main_loop(master_watch);
  say("...leaving main loop");
}

}  // namespace

int main(int argc, char** argv) {
  // Console lines reach a pipe (a launcher's log) one by one.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return run_node("kinemod", true, argc, argv, opt, run);
}
