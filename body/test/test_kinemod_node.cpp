// kinemod end to end: the real binary against the ROS master that rostest
// started. Each case runs its own kinemod under its own robot name, publishes
// on its input topics and watches its outputs and console.
#include <arpa/inet.h>
#include <geometry_msgs/TwistStamped.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <ros/ros.h>
#include <sensor_msgs/JointState.h>
#include <std_msgs/Float32.h>
#include <std_msgs/UInt32.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vesk2_msg/push.h>
#include <vesk2_msg/sensors_package.h>
#include <vesk_support/child_process.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "vesk_body/body_model.h"
#include "vesk_body/body_options.h"

namespace {

constexpr double kStartS = 20.0;  // start-up and connection of a node
constexpr double kReplyS = 5.0;   // a reply that must come
constexpr double kQuietS = 0.3;   // how long to listen for a reply that must not come

template <class M>
class Recorder {
 public:
  Recorder(ros::NodeHandle& nh, const std::string& topic) {
    sub_ = nh.subscribe(topic, 100, &Recorder::callback, this, ros::TransportHints().tcpNoDelay(true));
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return msgs_.size();
  }
  // Waits until at least n messages came; returns the count then.
  size_t wait_count(size_t n, double timeout_s) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::duration<double>(timeout_s), [&] { return msgs_.size() >= n; });
    return msgs_.size();
  }
  M at(size_t i) {
    std::lock_guard<std::mutex> lock(mutex_);
    return *msgs_.at(i);
  }
  uint32_t publishers() const { return sub_.getNumPublishers(); }

 private:
  void callback(const boost::shared_ptr<const M>& msg) {
    std::lock_guard<std::mutex> lock(mutex_);
    msgs_.push_back(msg);
    cv_.notify_all();
  }
  ros::Subscriber sub_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<boost::shared_ptr<const M>> msgs_;
};

void quiet_wait(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

vesk2_msg::push make_push(int link, uint32_t flags, float3 pos, float3 vec) {
  vesk2_msg::push m;
  m.link = link;
  m.flags = flags;
  m.pushpos.x = pos.x;
  m.pushpos.y = pos.y;
  m.pushpos.z = pos.z;
  m.pushvec.x = vec.x;
  m.pushvec.y = vec.y;
  m.pushvec.z = vec.z;
  return m;
}

vesk2_msg::sensors_package make_package(size_t joints) {
  vesk2_msg::sensors_package m;
  m.kinematic_joints.position.assign(joints, 0.1);
  return m;
}

KC_PUSH to_kc(const vesk2_msg::push& m) {
  KC_PUSH p;
  p.link = m.link;
  p.flags = m.flags;
  p.pushpos = {float(m.pushpos.x), float(m.pushpos.y), float(m.pushpos.z)};
  p.pushvec = {float(m.pushvec.x), float(m.pushvec.y), float(m.pushvec.z)};
  return p;
}

// The node's computation, repeated here with the same library: a model fresh
// from body_init, passes of pushes, the fovea point in the world.
class Reference {
 public:
  explicit Reference(bool debug_push = false) {
    body_opt.log = 0;
    body_opt.apply_debug_push = debug_push;
    kc_m = KC_CHAIN();
    body_init();
    fovea_ = fovea();
    first_speed_ = float3_modulus(&fovea_) * 50.0f;
  }
  VESK_BODY_VEL pass(const std::vector<vesk2_msg::push>& pushes) {
    for (const auto& m : pushes) body_d_add_push(to_kc(m));
    VESK_BODY_VEL vel;
    body_process(vel);
    return vel;
  }
  static float3 fovea() {
    float3 f = {0.125f, 0.0f, 0.035f};
    kc_changeFrameAbs(&kc_m, 4, -1, &f);
    return f;
  }
  float first_speed() const { return first_speed_; }

 private:
  float3 fovea_;
  float first_speed_;
};

class KinemodNode : public testing::Test {
 protected:
  void start(const std::string& robot, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"robot=" + robot};
    args.insert(args.end(), extra.begin(), extra.end());
    proc_.reset(new vesk_test::ChildProcess(KINEMOD_BIN, args));
    ASSERT_TRUE(proc_->started());
    const std::string base = "/" + robot + "/";
    pub_push_ = nh_.advertise<vesk2_msg::push>(base + "core/mpg/push", 10);
    pub_reset_ = nh_.advertise<std_msgs::UInt32>(base + "core/mpg/reset", 10);
    pub_package_ = nh_.advertise<vesk2_msg::sensors_package>(base + "sensors/package", 10);
    cmd_vel_.reset(new Recorder<geometry_msgs::TwistStamped>(nh_, base + "control/cmd_vel"));
    joints_.reset(new Recorder<sensor_msgs::JointState>(nh_, base + "control/kinematic_joints"));
    fovea_.reset(new Recorder<std_msgs::Float32>(nh_, base + "core/mpg/fovea_speed"));
    ASSERT_NE(proc_->wait_for("entering main loop...", kStartS), std::string::npos) << proc_->output();
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kStartS);
    while (!connected() && std::chrono::steady_clock::now() < end) quiet_wait(0.01);
    ASSERT_TRUE(connected()) << proc_->output();
  }

  bool connected() const {
    return pub_push_.getNumSubscribers() > 0 && pub_reset_.getNumSubscribers() > 0 &&
           pub_package_.getNumSubscribers() > 0 && cmd_vel_->publishers() > 0 && joints_->publishers() > 0 &&
           fovea_->publishers() > 0;
  }

  void TearDown() override {
    if (proc_ && proc_->started()) {
      proc_->interrupt();
      proc_->wait_exit(kReplyS);
      // In a sanitizer build the node reports undefined behaviour here.
      EXPECT_EQ(proc_->output().find("runtime error:"), std::string::npos) << proc_->output();
    }
  }

  // After a push has been answered: if the node went to sleep before it,
  // waits until it has woken up again.
  void await_awake() {
    const std::string out = proc_->output();
    const size_t slept = out.rfind("going to sleep...");
    const size_t woke = out.rfind("waking up...");
    if (slept == std::string::npos || (woke != std::string::npos && woke > slept)) return;
    EXPECT_NE(proc_->wait_for("waking up...", kReplyS, slept), std::string::npos) << proc_->output();
  }

  // Waits for "going to sleep..." after `from`; returns the position after it.
  size_t await_sleep(size_t from = 0) {
    const size_t at = proc_->wait_for("going to sleep...", kReplyS, from);
    EXPECT_NE(at, std::string::npos) << proc_->output();
    return at == std::string::npos ? from : at + 1;
  }

  ros::NodeHandle nh_;
  std::unique_ptr<vesk_test::ChildProcess> proc_;
  ros::Publisher pub_push_, pub_reset_, pub_package_;
  std::unique_ptr<Recorder<geometry_msgs::TwistStamped>> cmd_vel_;
  std::unique_ptr<Recorder<sensor_msgs::JointState>> joints_;
  std::unique_ptr<Recorder<std_msgs::Float32>> fovea_;
};

TEST_F(KinemodNode, DisplacementPushGivesOneVelocityAndFoveaSpeed) {
  start("kpush");
  Reference ref;
  const auto still = make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f});
  const auto sideways = make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.02f, 0.01f});

  // First pass: the fovea has not moved, its speed is measured from the origin.
  pub_push_.publish(still);
  ASSERT_EQ(cmd_vel_->wait_count(1, kReplyS), 1u) << proc_->output();
  ASSERT_EQ(fovea_->wait_count(1, kReplyS), 1u);
  const VESK_BODY_VEL v0 = ref.pass({still});
  const float3 f0 = Reference::fovea();
  EXPECT_NEAR(fovea_->at(0).data, ref.first_speed(), 1e-4);
  EXPECT_NEAR(fovea_->at(0).data, 12.07, 0.01);
  EXPECT_NEAR(cmd_vel_->at(0).twist.linear.x, v0.forward, 1e-6);
  EXPECT_NEAR(cmd_vel_->at(0).twist.angular.z, v0.turn, 1e-6);

  pub_push_.publish(sideways);
  ASSERT_EQ(cmd_vel_->wait_count(2, kReplyS), 2u);
  ASSERT_EQ(fovea_->wait_count(2, kReplyS), 2u);
  const VESK_BODY_VEL v1 = ref.pass({sideways});
  float3 moved = Reference::fovea();
  float3_subtract_unary(&moved, &f0);
  const auto cmd = cmd_vel_->at(1);
  EXPECT_NEAR(cmd.twist.linear.x, v1.forward, 1e-5);
  EXPECT_NEAR(cmd.twist.angular.z, v1.turn, 1e-5);
  EXPECT_NE(cmd.twist.angular.z, 0.0);
  EXPECT_EQ(cmd.twist.linear.y + cmd.twist.linear.z + cmd.twist.angular.x + cmd.twist.angular.y, 0.0);
  EXPECT_EQ(cmd.header.frame_id, "");
  EXPECT_EQ(cmd.header.seq, cmd_vel_->at(0).header.seq + 1);
  EXPECT_NEAR(fovea_->at(1).data, float3_modulus(&moved) * 50.0f, 1e-3);
  EXPECT_GT(fovea_->at(1).data, 0.0f);

  // One of each per pass, nothing more.
  quiet_wait(kQuietS);
  EXPECT_EQ(cmd_vel_->count(), 2u);
  EXPECT_EQ(fovea_->count(), 2u);
}

TEST_F(KinemodNode, DeferredPushWaitsForNextPush) {
  start("kdefer");
  Reference ref;
  const auto deferred =
      make_push(4, KC_PUSH_FLAG_DEFER | KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.03f, 0.0f});
  const auto now = make_push(2, KC_PUSH_FLAG_DISPLACEMENT, {0.05f, 0.0f, 0.05f}, {0.02f, 0.0f, 0.0f});
  pub_push_.publish(deferred);
  quiet_wait(kQuietS);
  EXPECT_EQ(cmd_vel_->count(), 0u);
  EXPECT_EQ(fovea_->count(), 0u);

  pub_push_.publish(now);
  ASSERT_EQ(cmd_vel_->wait_count(1, kReplyS), 1u) << proc_->output();
  const VESK_BODY_VEL both = ref.pass({deferred, now});
  Reference alone;
  const VESK_BODY_VEL only_now = alone.pass({now});
  EXPECT_NEAR(cmd_vel_->at(0).twist.angular.z, both.turn, 1e-5);
  EXPECT_NEAR(cmd_vel_->at(0).twist.linear.x, both.forward, 1e-5);
  EXPECT_GT(std::fabs(both.turn - only_now.turn), 1e-3);  // the deferred push counted
  quiet_wait(kQuietS);
  EXPECT_EQ(cmd_vel_->count(), 1u);
}

TEST_F(KinemodNode, SleepsWhenIdleAndWakesOnPush) {
  start("ksleep");
  const size_t asleep = await_sleep();
  EXPECT_LT(proc_->output().find("entering main loop..."), asleep);
  EXPECT_EQ(proc_->output().find("waking up..."), std::string::npos);

  // Asleep, a push is still processed at once.
  pub_push_.publish(make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.01f, 0.0f}));
  ASSERT_EQ(cmd_vel_->wait_count(1, kReplyS), 1u) << proc_->output();
  EXPECT_EQ(fovea_->wait_count(1, kReplyS), 1u);
  const size_t woke = proc_->wait_for("waking up...", kReplyS, asleep);
  ASSERT_NE(woke, std::string::npos) << proc_->output();
  // And back to sleep after another half second.
  EXPECT_NE(proc_->wait_for("going to sleep...", kReplyS, woke), std::string::npos) << proc_->output();
}

TEST_F(KinemodNode, JointsOnlyWhileAwakeSequenceRunsOn) {
  start("kjoints");
  size_t mark = await_sleep();

  // Wake it with a push, then ask for joints while awake.
  pub_push_.publish(make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}));
  ASSERT_EQ(cmd_vel_->wait_count(1, kReplyS), 1u) << proc_->output();
  mark = proc_->wait_for("waking up...", kReplyS, mark);
  ASSERT_NE(mark, std::string::npos) << proc_->output();
  pub_package_.publish(make_package(4));
  ASSERT_EQ(joints_->wait_count(1, kReplyS), 1u) << proc_->output();
  const auto joints = joints_->at(0);
  const uint32_t seq0 = cmd_vel_->at(0).header.seq;
  EXPECT_EQ(joints.header.seq, seq0 + 1);
  EXPECT_EQ(joints.name, (std::vector<std::string>{"tilt", "lift", "yaw", "pitch"}));
  ASSERT_EQ(joints.position.size(), 4u);
  EXPECT_EQ(joints.position[0], double(TICK_D_DEFAULT_TILT));
  EXPECT_EQ(joints.position[1], double(TICK_D_DEFAULT_LIFT));
  EXPECT_TRUE(joints.velocity.empty());
  EXPECT_TRUE(joints.effort.empty());

  // Asleep: a package is answered without a message, but takes a number.
  mark = await_sleep(mark);
  pub_package_.publish(make_package(4));
  quiet_wait(0.5);
  pub_push_.publish(make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}));
  ASSERT_EQ(cmd_vel_->wait_count(2, kReplyS), 2u) << proc_->output();
  EXPECT_EQ(joints_->count(), 1u);
  EXPECT_EQ(cmd_vel_->at(1).header.seq, seq0 + 3);
}

TEST_F(KinemodNode, BurstWhileAsleepKeepsOnlyNewestPush) {
  // Asleep the node spins every 100 ms; of the pushes that arrive in between
  // only the newest is kept (queues of one).
  start("kburst");
  await_sleep();
  std::vector<vesk2_msg::push> burst;
  for (int i = 1; i <= 5; ++i)
    burst.push_back(make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.004f * i, 0.0f}));
  for (const auto& m : burst) pub_push_.publish(m);
  ASSERT_GE(cmd_vel_->wait_count(1, kReplyS), 1u) << proc_->output();
  quiet_wait(kQuietS);
  const size_t passes = cmd_vel_->count();
  EXPECT_LE(passes, 2u);  // two only if the burst straddled a spin
  if (passes == 1) {
    Reference ref;
    const VESK_BODY_VEL newest = ref.pass({burst.back()});
    EXPECT_NEAR(cmd_vel_->at(0).twist.angular.z, newest.turn, 1e-5);
    EXPECT_NEAR(cmd_vel_->at(0).twist.linear.x, newest.forward, 1e-5);
  }
}

TEST_F(KinemodNode, ResetWithDataOne) {
  start("kreset");
  const size_t asleep = await_sleep();
  std_msgs::UInt32 reset;
  reset.data = 1;
  pub_reset_.publish(reset);
  const size_t banner = proc_->wait_for("******** KINEMOD RESET ********\n", kReplyS, asleep);
  ASSERT_NE(banner, std::string::npos) << proc_->output();
  // The reset restarted the idle timer: the node wakes.
  ASSERT_NE(proc_->wait_for("waking up...", kReplyS, banner), std::string::npos) << proc_->output();
  pub_package_.publish(make_package(4));
  ASSERT_EQ(joints_->wait_count(1, kReplyS), 1u) << proc_->output();
  const auto joints = joints_->at(0);
  EXPECT_EQ(joints.position[0], double(-0.10471976f));
  EXPECT_EQ(joints.position[1], double(0.17453292f));
  EXPECT_EQ(joints.position[2], 0.0);
  EXPECT_EQ(joints.position[3], double(-0.08726646f));
  EXPECT_EQ(cmd_vel_->count(), 0u);  // a reset is not a processing pass
}

TEST_F(KinemodNode, DebugPushOption) {
  start("kdebug", {"apply_debug_push"});
  quiet_wait(kQuietS);
  EXPECT_EQ(cmd_vel_->count(), 0u);  // no pushes, no passes

  Reference ref(true);
  const auto zero = make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f});
  pub_push_.publish(zero);
  ASSERT_EQ(cmd_vel_->wait_count(1, kReplyS), 1u) << proc_->output();
  const VESK_BODY_VEL vel = ref.pass({zero});
  EXPECT_NEAR(cmd_vel_->at(0).twist.angular.z, vel.turn, 1e-5);
  EXPECT_NEAR(cmd_vel_->at(0).twist.linear.x, vel.forward, 1e-5);
  EXPECT_GT(std::fabs(vel.turn), 1e-3);
  // The sideways head push has turned the head, fovea and all.
  ASSERT_EQ(fovea_->wait_count(1, kReplyS), 1u);
  const float3 f = Reference::fovea();
  EXPECT_NEAR(fovea_->at(0).data, float3_modulus(&f) * 50.0f, 1e-4);
  EXPECT_GT(std::fabs(f.y), 1e-3);
}

TEST_F(KinemodNode, BadPushesAreDroppedAndNodeLivesOn) {
  start("kbad");
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<vesk2_msg::push> bad(4, make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0, 0, 0}));
  bad[0].pushvec.y = nan;
  bad[1].pushpos.x = inf;
  bad[2].pushvec.x = 1e300;
  bad[3].link = 7;
  for (size_t i = 0; i < bad.size(); ++i) {
    pub_push_.publish(bad[i]);
    ASSERT_EQ(cmd_vel_->wait_count(i + 1, kReplyS), i + 1) << proc_->output();
    const auto cmd = cmd_vel_->at(i);
    EXPECT_EQ(cmd.twist.linear.x, 0.0);
    EXPECT_EQ(cmd.twist.angular.z, 0.0);
  }
  // (the console lines reach this process through a pipe, on their own time)
  EXPECT_NE(proc_->wait_for("push not finite or too large", kReplyS), std::string::npos) << proc_->output();
  EXPECT_NE(proc_->wait_for("pushlink link index out of range", kReplyS), std::string::npos)
      << proc_->output();

  // The joints are untouched.
  await_awake();
  pub_package_.publish(make_package(4));
  ASSERT_EQ(joints_->wait_count(1, kReplyS), 1u) << proc_->output();
  const auto joints = joints_->at(0);
  EXPECT_EQ(joints.position[1], double(TICK_D_DEFAULT_LIFT));
  EXPECT_EQ(joints.position[2], 0.0);
  EXPECT_EQ(joints.position[3], 0.0);
  proc_->interrupt();
  EXPECT_EQ(proc_->wait_exit(kReplyS), 0);
}

// Any node may publish sensors packages: one with the wrong number of joints is dropped with
// a warning once per run of such packages, and the node goes on.
TEST_F(KinemodNode, WrongSizedPackagesAreDroppedAndNodeLivesOn) {
  start("kwrong");
  const std::string warning = "**** WARNING **** \n\tinput \"kinematic_joints\" wrong size (";
  for (size_t n : {0u, 1u, 3u, 5u, 100000u}) pub_package_.publish(make_package(n));
  ASSERT_NE(proc_->wait_for(warning, kReplyS), std::string::npos) << proc_->output();
  // (the push is answered after the packages before it have been taken in)
  pub_push_.publish(make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}));
  ASSERT_EQ(cmd_vel_->wait_count(1, kReplyS), 1u) << proc_->output();
  EXPECT_EQ(proc_->count("wrong size"), 1u) << proc_->output();

  // Awake, a good package is answered; the next bad one is said again.
  await_awake();
  pub_package_.publish(make_package(4));
  ASSERT_EQ(joints_->wait_count(1, kReplyS), 1u) << proc_->output();
  // (a size the first run did not use, so that the first run's line cannot answer the wait)
  pub_package_.publish(make_package(7));
  EXPECT_NE(proc_->wait_for(warning + "7 positions, not 4): sensors package dropped\n", kReplyS),
            std::string::npos)
      << proc_->output();
  EXPECT_EQ(proc_->count("wrong size"), 2u) << proc_->output();
  EXPECT_EQ(proc_->output().find("[ERROR]"), std::string::npos) << proc_->output();
  proc_->interrupt();
  EXPECT_EQ(proc_->wait_exit(kReplyS), 0) << proc_->output();
}

TEST_F(KinemodNode, CtrlCEndsWithStatusZero) {
  start("ksigint");
  proc_->interrupt();
  EXPECT_EQ(proc_->wait_exit(kReplyS), 0) << proc_->output();
  const std::string out = proc_->output();
  size_t at = 0;  // the console lines of a run, in order
  for (const char* line :
       {"initialising ROS node \"ksigint_kinemod\"...\n", "subscribing to \"/ksigint/sensors/package\"...\n",
        "subscribing to \"/ksigint/core/mpg/push\"...\n", "subscribing to \"/ksigint/core/mpg/reset\"...\n",
        "publishing to \"/ksigint/control/cmd_vel\"...\n",
        "publishing to \"/ksigint/control/kinematic_joints\"...\n",
        "publishing to \"/ksigint/core/mpg/fovea_speed\"...\n", "] entering main loop...\n",
        "] ...leaving main loop\n"}) {
    at = out.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << "\n" << out;
  }
}

TEST_F(KinemodNode, CtrlCWhileNoMasterAnswersEndsWithStatusZero) {
  // A bound port that does not listen: connections to it are refused.
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string uri = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

  proc_.reset(new vesk_test::ChildProcess(KINEMOD_BIN, {"robot=knomaster"}, {"ROS_MASTER_URI=" + uri}));
  ASSERT_TRUE(proc_->started());
  EXPECT_NE(proc_->wait_for("] **** WARNING **** \n\twaiting for the ROS master at " + uri + "\n", kStartS),
            std::string::npos)
      << proc_->output();
  proc_->interrupt();
  EXPECT_EQ(proc_->wait_exit(kReplyS), 0) << proc_->output();
  EXPECT_EQ(proc_->output().find("entering main loop..."), std::string::npos) << proc_->output();
  close(sock);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  ros::init(argc, argv, "test_kinemod_node");
  ros::NodeHandle nh;
  ros::AsyncSpinner spinner(1);
  spinner.start();
  const int result = RUN_ALL_TESTS();
  spinner.stop();
  ros::shutdown();
  return result;
}
