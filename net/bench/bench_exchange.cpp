// CPU time and heap allocations of one VESK_NET_INTERF::exchange in
// simulation mode, next to a plain roscpp baseline measured in the same run
// that publishes the same message set and transforms. A separate "sink"
// process subscribes to every topic of both, so that every message is
// serialised and sent.
//
//   bench_exchange sink       subscriber process (started first)
//   bench_exchange run [N]    the measurement, N ticks per side (default 3000)
//
// net/bench/run_bench.sh starts a private master, the sink and the run.
#include <geometry_msgs/Pose2D.h>
#include <geometry_msgs/TwistStamped.h>
#include <nav_msgs/Odometry.h>
#include <ros/ros.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <sensor_msgs/Range.h>
#include <std_msgs/Float32MultiArray.h>
#include <std_msgs/UInt16.h>
#include <std_msgs/UInt16MultiArray.h>
#include <std_msgs/UInt32.h>
#include <tf2/LinearMath/Quaternion.h>
#include <tf2_msgs/TFMessage.h>
#include <tf2_ros/static_transform_broadcaster.h>
#include <tf2_ros/transform_broadcaster.h>
#include <time.h>
#include <vesk2_msg/BatteryState.h>
#include <vesk2_msg/sensors_package.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "vesk_net/interf.h"

// ---- allocation counting (calling thread only) ---------------------------------------

namespace {
thread_local bool g_counting = false;
thread_local uint64_t g_allocs = 0;
}  // namespace

void* operator new(size_t n) {
  if (g_counting) ++g_allocs;
  void* p = std::malloc(n ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

double process_cpu_s() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

const char* const kFloatArrays[] = {
    "wheel_speed_cmd", "wheel_speed_opto", "wheel_speed_back_emf", "wheel_effort_pwm", "light", "cliff"};

// ---- sink ----------------------------------------------------------------------------

struct Sink {
  std::vector<ros::Subscriber> subs;
  uint64_t received = 0;

  template <typename M>
  void add(ros::NodeHandle& nh, const std::string& topic) {
    subs.push_back(nh.subscribe<M>(
        topic, 10, [this](const boost::shared_ptr<const M>&) { ++received; }, ros::VoidConstPtr(),
        ros::TransportHints().tcpNoDelay()));
  }

  void add_robot(ros::NodeHandle& nh, const std::string& root) {
    const std::string s = root + "/sensors/";
    add<vesk2_msg::sensors_package>(nh, s + "package");
    add<std_msgs::UInt16MultiArray>(nh, s + "stream");
    add<nav_msgs::Odometry>(nh, s + "odom");
    for (const char* a : kFloatArrays) add<std_msgs::Float32MultiArray>(nh, s + a);
    add<geometry_msgs::TwistStamped>(nh, s + "body_vel");
    add<sensor_msgs::JointState>(nh, s + "kinematic_joints");
    add<vesk2_msg::BatteryState>(nh, s + "battery");
    add<std_msgs::UInt16>(nh, s + "touch_body");
    add<std_msgs::UInt16>(nh, s + "touch_head");
    add<std_msgs::UInt16>(nh, s + "dip");
    add<sensor_msgs::Imu>(nh, s + "imu_body");
    add<sensor_msgs::Imu>(nh, s + "imu_head");
    add<sensor_msgs::Range>(nh, s + "sonar");
    add<std_msgs::UInt32>(nh, s + "flags");
    add<geometry_msgs::Pose2D>(nh, s + "body_pose");
  }
};

int run_sink(int argc, char** argv) {
  ros::init(argc, argv, "vesk_net_bench_sink");
  ros::NodeHandle nh;
  Sink sink;
  sink.add_robot(nh, "/bench");
  sink.add_robot(nh, "/base");
  sink.add<tf2_msgs::TFMessage>(nh, "/tf");
  sink.add<tf2_msgs::TFMessage>(nh, "/tf_static");
  ros::spin();
  return 0;
}

// ---- baseline: the same messages and transforms with plain roscpp ---------------------

struct Baseline {
  explicit Baseline(ros::NodeHandle& nh) {
    const std::string s = "/base/sensors/";
    pub_package = nh.advertise<vesk2_msg::sensors_package>(s + "package", 1);
    pub_stream = nh.advertise<std_msgs::UInt16MultiArray>(s + "stream", 1);
    pub_odom = nh.advertise<nav_msgs::Odometry>(s + "odom", 1);
    for (int i = 0; i < 6; ++i)
      pub_array[i] = nh.advertise<std_msgs::Float32MultiArray>(s + kFloatArrays[i], 1);
    pub_vel = nh.advertise<geometry_msgs::TwistStamped>(s + "body_vel", 1);
    pub_joints = nh.advertise<sensor_msgs::JointState>(s + "kinematic_joints", 1);
    pub_battery = nh.advertise<vesk2_msg::BatteryState>(s + "battery", 1);
    pub_touch_body = nh.advertise<std_msgs::UInt16>(s + "touch_body", 1);
    pub_touch_head = nh.advertise<std_msgs::UInt16>(s + "touch_head", 1);
    pub_dip = nh.advertise<std_msgs::UInt16>(s + "dip", 1);
    pub_imu_body = nh.advertise<sensor_msgs::Imu>(s + "imu_body", 1);
    pub_imu_head = nh.advertise<sensor_msgs::Imu>(s + "imu_head", 1);
    pub_sonar = nh.advertise<sensor_msgs::Range>(s + "sonar", 1);
    pub_flags = nh.advertise<std_msgs::UInt32>(s + "flags", 1);
    pub_pose = nh.advertise<geometry_msgs::Pose2D>(s + "body_pose", 1);

    stream.data.resize(2);
    joints.name = {"tilt", "lift", "yaw", "pitch"};
    joints.position.resize(4);
    joints.effort.resize(4);
    for (int i = 0; i < 6; ++i) array[i].data.resize(i == 4 ? 4 : 2);
    battery.header.frame_id = "body_link";
    sonar.header.frame_id = "head_sonar";
    imu_body.header.frame_id = "body_imu";
    imu_head.header.frame_id = "head_imu";
    odom.header.frame_id = "odom";
    odom.child_frame_id = "base_link";
    vel.header.frame_id = "base_link";

    const char* chain[6][2] = {{"odom", "base_link"},        {"base_link", "body_link"},
                               {"body_link", "neck_link"},   {"neck_link", "gimbal_link"},
                               {"gimbal_link", "head_link"}, {"map", "odom"}};
    tfs.resize(5);
    for (int i = 0; i < 5; ++i) {
      tfs[i].header.frame_id = chain[i][0];
      tfs[i].child_frame_id = chain[i][1];
    }
    map_tf.header.frame_id = chain[5][0];
    map_tf.child_frame_id = chain[5][1];
    statics.resize(8);
    for (int i = 0; i < 8; ++i) {
      statics[i].header.frame_id = "head_link";
      statics[i].child_frame_id = "fixed_" + std::to_string(i);
      statics[i].transform.rotation.w = 1.0;
    }
  }

  void tick(const VESK_TICK_U& u) {
    std_msgs::Header h;
    h.seq = seq++;
    h.stamp = ros::Time::now();
    stream.data[0] = u.stream[0];
    stream.data[1] = u.stream[1];
    pub_stream.publish(stream);
    joints.header.seq = h.seq;
    joints.header.stamp = h.stamp;
    for (int i = 0; i < 4; ++i) {
      joints.position[i] = u.joint_pos[i];
      joints.effort[i] = u.joint_effort[i];
    }
    pub_joints.publish(joints);
    const float v = (u.wheel_speed_opto[0] + u.wheel_speed_opto[1]) * 0.5f;
    const float w = (u.wheel_speed_opto[1] - u.wheel_speed_opto[0]) * 6.097561f;
    x += std::cos(th) * v * 0.02f;
    y += std::sin(th) * v * 0.02f;
    th += w * 0.02f;
    for (int i = 0; i < 5; ++i) {
      tfs[i].header.seq = h.seq;
      tfs[i].header.stamp = h.stamp;
      tf2::Quaternion q;
      q.setRPY(0.0, i > 0 ? u.joint_pos[i - 1] : 0.0, i == 0 ? th : 0.0);
      tfs[i].transform.rotation.x = q.x();
      tfs[i].transform.rotation.y = q.y();
      tfs[i].transform.rotation.z = q.z();
      tfs[i].transform.rotation.w = q.w();
    }
    tfs[0].transform.translation.x = x;
    tfs[0].transform.translation.y = y;
    broadcaster.sendTransform(tfs);
    if (h.seq % 50 == 0) {
      for (auto& t : statics) {
        t.header.seq = h.seq;
        t.header.stamp = h.stamp;
        fixed.sendTransform(t);
      }
    }
    vel.header.seq = odom.header.seq = h.seq;
    vel.header.stamp = odom.header.stamp = h.stamp;
    vel.twist.linear.x = odom.twist.twist.linear.x = v;
    vel.twist.angular.z = odom.twist.twist.angular.z = w;
    pub_vel.publish(vel);
    odom.pose.pose.position.x = x;
    odom.pose.pose.position.y = y;
    pub_odom.publish(odom);
    const float* src[6] = {
        u.wheel_speed_cmd, u.wheel_speed_opto, u.wheel_speed_back_emf, u.wheel_effort_pwm, u.light, nullptr};
    for (int i = 0; i < 6; ++i) {
      for (size_t k = 0; k < array[i].data.size(); ++k)
        array[i].data[k] = src[i] ? src[i][k] : u.cliff[k] / 15.0f;
      pub_array[i].publish(array[i]);
    }
    battery.header.seq = h.seq;
    battery.header.stamp = h.stamp;
    battery.voltage = u.battery_voltage;
    pub_battery.publish(battery);
    touch_body.data = u.touch_body;
    pub_touch_body.publish(touch_body);
    touch_head.data = u.touch_head;
    pub_touch_head.publish(touch_head);
    dip.data = u.dip;
    pub_dip.publish(dip);
    sonar.header.seq = h.seq;
    sonar.header.stamp = h.stamp;
    sonar.range = u.sonar;
    pub_sonar.publish(sonar);
    flags.data = u.flags | 0x8000;
    pub_flags.publish(flags);
    imu_body.header.seq = imu_head.header.seq = h.seq;
    imu_body.header.stamp = imu_head.header.stamp = h.stamp;
    imu_body.linear_acceleration.x = u.imu_body.acc[0] * 0.0012;
    imu_head.linear_acceleration.x = u.imu_head.acc[0] * 0.0012;
    pub_imu_body.publish(imu_body);
    pub_imu_head.publish(imu_head);
    pose.x = u.body_pose[0];
    pose.y = u.body_pose[1];
    pose.theta = u.body_pose[2];
    pub_pose.publish(pose);
    map_tf.header.seq = h.seq;
    map_tf.header.stamp = h.stamp;
    map_tf.transform.translation.x = pose.x - x;
    map_tf.transform.rotation.w = 1.0;
    broadcaster.sendTransform(map_tf);
    package.header = h;
    package.battery = battery;
    package.cliff = array[5];
    package.dip = dip;
    package.flags = flags;
    package.imu_head = imu_head;
    package.imu_body = imu_body;
    package.kinematic_joints = joints;
    package.light = array[4];
    package.odom = odom;
    package.sonar = sonar;
    package.stream = stream;
    package.touch_body = touch_body;
    package.touch_head = touch_head;
    package.wheel_speed_cmd = array[0];
    package.wheel_speed_opto = array[1];
    package.wheel_speed_back_emf = array[2];
    package.wheel_effort_pwm = array[3];
    package.body_pose = pose;
    pub_package.publish(package);
    ros::spinOnce();
  }

  ros::Publisher pub_package, pub_stream, pub_odom, pub_array[6], pub_vel, pub_joints, pub_battery,
      pub_touch_body, pub_touch_head, pub_dip, pub_imu_body, pub_imu_head, pub_sonar, pub_flags, pub_pose;
  std_msgs::UInt16MultiArray stream;
  sensor_msgs::JointState joints;
  std_msgs::Float32MultiArray array[6];
  vesk2_msg::BatteryState battery;
  std_msgs::UInt16 touch_body, touch_head, dip;
  sensor_msgs::Imu imu_body, imu_head;
  sensor_msgs::Range sonar;
  std_msgs::UInt32 flags;
  nav_msgs::Odometry odom;
  geometry_msgs::TwistStamped vel;
  geometry_msgs::Pose2D pose;
  vesk2_msg::sensors_package package;
  tf2_ros::TransformBroadcaster broadcaster;
  tf2_ros::StaticTransformBroadcaster fixed;
  std::vector<geometry_msgs::TransformStamped> tfs, statics;
  geometry_msgs::TransformStamped map_tf;
  uint32_t seq = 0;
  float x = 0, y = 0, th = 0;
};

struct Totals {
  double cpu_s = 0;
  uint64_t allocs = 0;
  uint64_t ticks = 0;
  std::vector<uint64_t> per_tick;  // allocations of each tick

  uint64_t median() {
    std::sort(per_tick.begin(), per_tick.end());
    return per_tick.empty() ? 0 : per_tick[per_tick.size() / 2];
  }
};

template <typename F>
void measure(Totals& t, int ticks, F&& tick) {
  const double c0 = process_cpu_s();
  for (int i = 0; i < ticks; ++i) {
    g_allocs = 0;
    g_counting = true;
    tick();
    g_counting = false;
    t.allocs += g_allocs;
    t.per_tick.push_back(g_allocs);
    // Pace the ticks so that the sink keeps up; sleeping costs no CPU time.
    timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
  }
  t.cpu_s += process_cpu_s() - c0;
  t.ticks += ticks;
}

int run_bench(int argc, char** argv) {
  const int total = argc > 2 ? std::atoi(argv[2]) : 3000;
  ros::init(argc, argv, "vesk_net_bench", ros::init_options::NoSigintHandler);
  ros::NodeHandle nh;

  char dir_template[] = "/tmp/vesk_net_bench_XXXXXX";
  const char* dir = mkdtemp(dir_template);
  if (dir == nullptr) return 2;
  setenv("VESK_DIR_CONFIG", dir, 1);

  VESK_NET_CONFIG net;
  net.mode = NET_MODE_ROS;
  net.robot_name = "bench";
  net.net_flags = NET_FLAG_SIM;
  VESK_TOOL_CONFIG tool;
  tool.verbosity = 1;
  VESK_PLATFORM_PARS pars;
  std::memset(&pars, 0, sizeof(pars));
  VESK_NET_INTERF interf(&net, &tool, &pars);
  Baseline base(nh);

  // Let the sink connect to every publisher of both sides.
  const ros::WallTime end = ros::WallTime::now() + ros::WallDuration(10.0);
  while (ros::WallTime::now() < end &&
         (base.pub_package.getNumSubscribers() == 0 || base.pub_pose.getNumSubscribers() == 0)) {
    ros::WallDuration(0.05).sleep();
  }
  ros::WallDuration(1.0).sleep();

  VESK_TICK_U u;
  std::memset(&u, 0, sizeof(u));
  u.wheel_speed_opto[0] = 0.1f;
  u.wheel_speed_opto[1] = 0.12f;
  u.joint_pos[1] = 0.5f;
  u.battery_voltage = 4.8f;

  Totals ti, tb, warm;
  measure(warm, 100, [&] { interf.exchange(u); });
  measure(warm, 100, [&] { base.tick(u); });
  const int kRounds = 10;
  for (int r = 0; r < kRounds; ++r) {
    measure(ti, total / kRounds, [&] { interf.exchange(u); });
    measure(tb, total / kRounds, [&] { base.tick(u); });
  }
  const double per_i = ti.cpu_s / ti.ticks * 1e6, per_b = tb.cpu_s / tb.ticks * 1e6;
  std::printf("ticks per side:            %llu (in %d alternating rounds, 1 ms apart)\n",
              static_cast<unsigned long long>(ti.ticks), kRounds);
  std::printf("exchange   process CPU:    %8.2f us/tick   heap allocations: %6.2f/tick\n", per_i,
              double(ti.allocs) / ti.ticks);
  std::printf("baseline   process CPU:    %8.2f us/tick   heap allocations: %6.2f/tick\n", per_b,
              double(tb.allocs) / tb.ticks);
  std::printf("ratio exchange/baseline:   %8.3f (CPU)   %8.3f (allocations)\n", per_i / per_b,
              double(ti.allocs) / double(tb.allocs));
  // Ticks without the fixed transforms (49 of 50): the median tick.
  const unsigned long long mi = ti.median(), mb = tb.median();
  std::printf("median tick allocations:   exchange %llu, baseline %llu, difference %lld\n", mi, mb,
              static_cast<long long>(mi) - static_cast<long long>(mb));
  rmdir(dir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "sink") return run_sink(argc, argv);
  if (mode == "run") return run_bench(argc, argv);
  std::fprintf(stderr, "usage: bench_exchange sink | run [ticks]\n");
  return 2;
}
