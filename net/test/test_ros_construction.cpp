// Construction of the interface: modes, ROS start-up, the master wait, and the
// topic set as the master sees it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <ros/master.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>

#include "ros_test_util.h"

namespace {

using vesk_test::Robot;

// Runs the probe with `env` prepended to its command line; its standard output.
std::string run_probe(const std::string& which, const std::string& env = "") {
  const std::string cmd = env + " " + VESK_NET_PROBE + std::string(" ") + which + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return "";
  std::string out;
  char buf[512];
  while (fgets(buf, sizeof(buf), p)) out += buf;
  pclose(p);
  return out;
}

// A loopback port with nothing listening on it.
int unused_port() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof(a);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  const int port = ntohs(a.sin_port);
  close(s);
  return port;
}

std::string no_master_env() { return "ROS_MASTER_URI=http://127.0.0.1:" + std::to_string(unused_port()); }

bool has(const std::string& out, const std::string& part) { return out.find(part) != std::string::npos; }

TEST(Construction, Mode3IsRefused) {
  const std::string out = run_probe("mode3");
  EXPECT_TRUE(has(out, "[ERROR] not implemented\n")) << out;
  EXPECT_TRUE(has(out, "thrown=not implemented\n")) << out;
  EXPECT_TRUE(has(out, "ros_initialised=0")) << out;
}

TEST(Construction, ExitRequestEndsMasterWait) {
  const std::string out = run_probe("exit_request", no_master_env());
  EXPECT_TRUE(has(out, "opening ROS interface...\n\tfailed to reach ROS master...\n")) << out;
  EXPECT_TRUE(has(out, "[ERROR] user requests exit whilst seeking ROS master\n")) << out;
  EXPECT_TRUE(has(out, "thrown=user requests exit whilst seeking ROS master\n")) << out;
  EXPECT_FALSE(has(out, "constructed")) << out;
  // Given up inside the first attempt's pause, not after further attempts.
  EXPECT_EQ(out.find("failed to reach"), out.rfind("failed to reach")) << out;
  const size_t at = out.find("elapsed_ms=");
  ASSERT_NE(at, std::string::npos) << out;
  // Requested after 300 ms; the wait looks every 100 ms. Far below one 60-attempt wait.
  EXPECT_LT(std::stol(out.substr(at + 11)), 1500) << out;
  // Given up at the next 100 ms look, not at the end of the attempt's second
  // (the bound leaves room for a loaded machine).
  const size_t after = out.find("after_request_ms=");
  ASSERT_NE(after, std::string::npos) << out;
  const long after_ms = std::stol(out.substr(after + 17));
  EXPECT_GE(after_ms, 0) << out;
  EXPECT_LT(after_ms, 600) << out;
}

// A master that comes up during the wait: the failed attempts are listed on
// lines of their own, and success ends with "\tOK".
TEST(Construction, MasterFoundOnLaterAttempt) {
  const int port = unused_port();
  const std::string env = "ROS_MASTER_URI=http://127.0.0.1:" + std::to_string(port);
  const std::string cmd = env + " " + VESK_NET_PROBE + std::string(" late_master 2>/dev/null");
  FILE* probe = popen(cmd.c_str(), "r");
  ASSERT_NE(probe, nullptr);
  // The master starts once the probe has reported its first failed attempt.
  std::string out;
  char buf[512];
  while (!has(out, "failed to reach") && fgets(buf, sizeof(buf), probe)) out += buf;
  const std::string port_text = std::to_string(port);
  const pid_t master = fork();
  if (master == 0) {
    execlp("rosmaster", "rosmaster", "--core", "-p", port_text.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(master, 0);
  while (fgets(buf, sizeof(buf), probe)) out += buf;
  pclose(probe);
  kill(master, SIGTERM);
  waitpid(master, nullptr, 0);
  EXPECT_TRUE(has(out, "opening ROS interface...\n\tfailed to reach ROS master...\n")) << out;
  EXPECT_TRUE(has(out, "failed to reach ROS master...\n\tOK\n")) << out;
  EXPECT_FALSE(has(out, " OK!")) << out;
  EXPECT_TRUE(has(out, "online=1\n")) << out;
}

TEST(Construction, OfflineNeedsNoMaster) {
  const std::string out = run_probe("offline", no_master_env());
  EXPECT_TRUE(has(out, "joints_set=255\n")) << out;
  EXPECT_TRUE(has(out, "lift=0.593412\n")) << out;
  EXPECT_TRUE(has(out, "receive_null=1\n")) << out;
  EXPECT_TRUE(has(out, "online=0\n")) << out;
  EXPECT_TRUE(has(out, "ros_initialised=0\n")) << out;
  EXPECT_FALSE(has(out, "opening ROS interface")) << out;
}

TEST(Construction, OpensRosOnceForTwoInterfaces) {
  const std::string out = run_probe("two");
  EXPECT_TRUE(has(out, "opening ROS interface... OK!\n")) << out;
  // The second interface finds ROS up and prints no second opening line.
  EXPECT_EQ(out.find("opening ROS interface"), out.rfind("opening ROS interface")) << out;
  EXPECT_TRUE(has(out, "node=/probe_a\n")) << out;
  EXPECT_TRUE(has(out, "both_ok=1\nafter_first=1\nafter_second=0\n")) << out;
  EXPECT_TRUE(has(out, "initialised camera: caml (file://")) << out;
}

TEST(Construction, InvalidRobotNameFailsClearly) {
  for (const char* name : {"", "vesk-1", "a/b", "1robot", "~x", "two words"}) {
    VESK_NET_CONFIG net;
    net.mode = NET_MODE_ROS;
    net.robot_name = name;
    VESK_TOOL_CONFIG tool;
    VESK_PLATFORM_PARS pars = {};
    testing::internal::CaptureStdout();
    try {
      VESK_NET_INTERF i(&net, &tool, &pars);
      ADD_FAILURE() << "constructed with \"" << name << "\"";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(std::string("invalid robot name \"") + name + "\"", 0), 0u)
          << e.what();
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(has(out, std::string("[ERROR] invalid robot name \"") + name + "\"")) << out;
  }
}

TEST(Construction, MissingConfigDirectoryFailsConstruction) {
  const std::string out = run_probe("no_config_dir");
  EXPECT_TRUE(has(out, "[ERROR] failed to get environment variable \"VESK_DIR_CONFIG\"")) << out;
  EXPECT_TRUE(has(out, "thrown=failed to get environment variable \"VESK_DIR_CONFIG\"")) << out;
  EXPECT_FALSE(has(out, "constructed")) << out;
  EXPECT_TRUE(has(out, "second_online=1\nafter=0\n")) << out;
}

// ROS shut down under a live interface (by the host, or a remote kill of the
// node): ticks, frames, microphones and logs go on without publishing, and the
// platform keeps getting its flags.
TEST(Construction, SurvivesRosShutDownUnderIt) {
  const std::string out = run_probe("ros_shut_down");
  EXPECT_TRUE(has(out, "ros_ok=0\nflags=7\nreceive_null=1\nsurvived=1\n")) << out;
}

// ---- topic set -------------------------------------------------------------------------

std::map<std::string, std::string> published_topics() {
  ros::master::V_TopicInfo topics;
  ros::master::getTopics(topics);
  std::map<std::string, std::string> out;
  for (const ros::master::TopicInfo& t : topics) out[t.name] = t.datatype;
  return out;
}

// Topics with a subscriber of this node, from the master's system state.
std::set<std::string> subscribed_topics() {
  XmlRpc::XmlRpcValue args, result, payload;
  args[0] = ros::this_node::getName();
  std::set<std::string> out;
  if (!ros::master::execute("getSystemState", args, result, payload, true)) return out;
  XmlRpc::XmlRpcValue& subs = payload[1];
  for (int i = 0; i < subs.size(); ++i) {
    XmlRpc::XmlRpcValue& nodes = subs[i][1];
    for (int k = 0; k < nodes.size(); ++k) {
      if (std::string(nodes[k]) == ros::this_node::getName()) out.insert(std::string(subs[i][0]));
    }
  }
  return out;
}

std::map<std::string, std::string> topic_types() {
  XmlRpc::XmlRpcValue args, result, payload;
  args[0] = ros::this_node::getName();
  std::map<std::string, std::string> out;
  if (!ros::master::execute("getTopicTypes", args, result, payload, true)) return out;
  for (int i = 0; i < payload.size(); ++i) out[std::string(payload[i][0])] = std::string(payload[i][1]);
  return out;
}

const std::pair<const char*, const char*> kSensorTopics[] = {
    {"log", "std_msgs/String"},
    {"package", "vesk2_msg/sensors_package"},
    {"stream", "std_msgs/UInt16MultiArray"},
    {"odom", "nav_msgs/Odometry"},
    {"wheel_speed_cmd", "std_msgs/Float32MultiArray"},
    {"wheel_speed_opto", "std_msgs/Float32MultiArray"},
    {"wheel_speed_back_emf", "std_msgs/Float32MultiArray"},
    {"wheel_effort_pwm", "std_msgs/Float32MultiArray"},
    {"body_vel", "geometry_msgs/TwistStamped"},
    {"kinematic_joints", "sensor_msgs/JointState"},
    {"light", "std_msgs/Float32MultiArray"},
    {"battery", "vesk2_msg/BatteryState"},
    {"touch_body", "std_msgs/UInt16"},
    {"touch_head", "std_msgs/UInt16"},
    {"dip", "std_msgs/UInt16"},
    {"cliff", "std_msgs/Float32MultiArray"},
    {"mics", "std_msgs/Int16MultiArray"},
    {"imu_body", "sensor_msgs/Imu"},
    {"imu_head", "sensor_msgs/Imu"},
    {"sonar", "sensor_msgs/Range"},
    {"flags", "std_msgs/UInt32"},
};

const std::pair<const char*, const char*> kControlTopics[] = {
    {"cmd_vel", "geometry_msgs/TwistStamped"},
    {"kinematic_joints", "sensor_msgs/JointState"},
    {"cosmetic_joints", "std_msgs/Float32MultiArray"},
    {"illum", "std_msgs/UInt32MultiArray"},
    {"tone", "std_msgs/UInt16MultiArray"},
    {"stream", "std_msgs/Int16MultiArray"},
    {"flags", "std_msgs/UInt32"},
    {"command", "std_msgs/String"},
};

void expect_common_topics(const Robot& r) {
  const auto pub = published_topics();
  for (const auto& t : kSensorTopics) {
    const std::string name = r.topic(std::string("sensors/") + t.first);
    ASSERT_TRUE(pub.count(name)) << name;
    EXPECT_EQ(pub.at(name), t.second) << name;
  }
  const auto subs = subscribed_topics();
  const auto types = topic_types();
  for (const auto& t : kControlTopics) {
    const std::string name = r.topic(std::string("control/") + t.first);
    EXPECT_TRUE(subs.count(name)) << name;
    ASSERT_TRUE(types.count(name)) << name;
    EXPECT_EQ(types.at(name), t.second) << name;
  }
}

TEST(TopicSet, Simulation) {
  Robot r(NET_FLAG_SIM);
  expect_common_topics(r);
  auto pub = published_topics();
  EXPECT_EQ(pub[r.topic("sensors/body_pose")], "geometry_msgs/Pose2D");
  for (const char* cam : {"caml", "camr", "overhead", "gaze"}) {
    const std::string base = r.topic(std::string("sensors/") + cam);
    EXPECT_EQ(pub[base], "sensor_msgs/Image") << base;
    // The simulated camera's projection goes beside the image (set_camera_model).
    EXPECT_EQ(pub[base + "/camera_info"], "sensor_msgs/CameraInfo") << base;
  }
}

TEST(TopicSet, PhysicalPlatform) {
  Robot r(0);
  expect_common_topics(r);
  auto pub = published_topics();
  EXPECT_FALSE(pub.count(r.topic("sensors/body_pose")));
  for (const char* cam : {"caml", "camr"}) {
    const std::string base = r.topic(std::string("sensors/") + cam);
    EXPECT_EQ(pub[base + "/compressed"], "sensor_msgs/CompressedImage") << base;
    EXPECT_EQ(pub[base + "/camera_info"], "sensor_msgs/CameraInfo") << base;
    EXPECT_FALSE(pub.count(base)) << base;
  }
  for (const auto& t : pub) {
    EXPECT_EQ(t.first.find("overhead"), std::string::npos) << t.first;
    EXPECT_EQ(t.first.find("gaze"), std::string::npos) << t.first;
  }
}

TEST(TopicSet, ConsoleLines) {
  testing::internal::CaptureStdout();
  { Robot r(NET_FLAG_SIM, 3, 0x8000002au); }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(has(out, "advertising main topics...\n")) << out;
  for (const char* cam : {"caml", "camr", "overhead", "gaze"}) {
    EXPECT_TRUE(has(out, std::string("initialised camera: ") + cam + " (file://" + getenv("VESK_DIR_CONFIG") +
                             "/" + cam + ".yaml)\n"))
        << out;
  }
  EXPECT_FALSE(has(out, "opening ROS interface"));  // ROS was up already
  // Initial flags, then the cameras, then the advertisements.
  const size_t flags = out.find("\t(ROS) set_initial_flags\n\t(ROS) persistent_flags=8000002a\n");
  const size_t cameras = out.find("initialised camera: caml");
  const size_t topics = out.find("advertising main topics...");
  ASSERT_NE(flags, std::string::npos) << out;
  EXPECT_LT(flags, cameras) << out;
  EXPECT_LT(cameras, out.find("initialised camera: gaze")) << out;
  EXPECT_LT(out.find("initialised camera: gaze"), topics) << out;
}

}  // namespace
