// The robot in real Gazebo 11 (gzserver with libvesk_gazebo_system and the robot model),
// through ROS only: the world loads cleanly, the platform ticks at 50 Hz of simulated time,
// the robot stands upright, its odometry agrees with ground truth, its cliff sensors and
// sonar measure the world, its cameras see it, a world reset restarts it, and kinemod
// drives it. Ground truth is the system plug-in's "/gazebo/<robot>/pose". The test cases
// run in order against one gzserver, each starting from the pose the previous one left.
// The scripted drive at the end runs in either simulator (drive_sim.test, drive_gazebo.test).
//   args: see main
#include <geometry_msgs/Pose2D.h>
#include <geometry_msgs/PoseStamped.h>
#include <geometry_msgs/TwistStamped.h>
#include <gtest/gtest.h>
#include <ros/ros.h>
#include <sensor_msgs/Image.h>
#include <sensor_msgs/JointState.h>
#include <std_srvs/Empty.h>
#include <tf2/LinearMath/Matrix3x3.h>
#include <tf2/LinearMath/Quaternion.h>
#include <tf2_ros/buffer.h>
#include <tf2_ros/transform_listener.h>
#include <vesk2_msg/push.h>
#include <vesk2_msg/sensors_package.h>

#include <cmath>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#include "tick_clock.h"
#include "vesk_body/body_model.h"
#include "vesk_body/kc_push.h"
#include "vesk_gazebo/joint_control.h"
#include "vesk_net/records.h"

namespace {

std::string g_log_file;
constexpr double kTwoPi = 6.283185307179586;

struct Truth {
  double t = 0, x = 0, y = 0, z = 0, roll = 0, pitch = 0, yaw = 0;
};

double wrap(double a) { return std::atan2(std::sin(a), std::cos(a)); }

// The robot "vesk": its packages, its ground truth, and its controls.
class Robot {
 public:
  // `with_truth`: also follows the ground truth that gzserver's system plug-in publishes.
  explicit Robot(ros::NodeHandle& nh, bool with_truth = true) : with_truth_(with_truth) {
    const ros::TransportHints fast = ros::TransportHints().tcpNoDelay();
    sub_ = nh.subscribe("/vesk/sensors/package", 1000, &Robot::on_package, this, fast);
    if (with_truth_) truth_sub_ = nh.subscribe("/gazebo/vesk/pose", 1000, &Robot::on_truth, this, fast);
    cmd_ = nh.advertise<geometry_msgs::TwistStamped>("/vesk/control/cmd_vel", 10);
    joints_ = nh.advertise<sensor_msgs::JointState>("/vesk/control/kinematic_joints", 10);
  }
  // Spins until `n` more packages have arrived (false after about 120 s of wall time).
  bool wait(size_t n) {
    const size_t goal = count() + n;
    for (int i = 0; i < 120000 && count() < goal; ++i) {
      ros::spinOnce();
      ros::WallDuration(0.001).sleep();
    }
    return count() >= goal;
  }
  // Waits until the robot's topics and this node's controls are connected.
  bool connected() {
    for (int i = 0; i < 120000; ++i) {
      ros::spinOnce();
      if (cmd_.getNumSubscribers() > 0 && joints_.getNumSubscribers() > 0 && !packages_.empty() &&
          (!with_truth_ || !truths_.empty()))
        return true;
      ros::WallDuration(0.001).sleep();
    }
    return false;
  }
  size_t count() const { return packages_.size(); }
  const vesk2_msg::sensors_package& last() const { return packages_.back(); }
  const std::deque<vesk2_msg::sensors_package>& all() const { return packages_; }
  const Truth& truth() const { return truths_.back(); }
  const std::deque<Truth>& truths() const { return truths_; }
  // One velocity command per received package for `ticks` ticks; `each` sees every tick.
  void drive(double forward, double turn, int ticks, const std::function<void()>& each = nullptr) {
    for (int i = 0; i < ticks; ++i) {
      geometry_msgs::TwistStamped t;
      t.twist.linear.x = forward;
      t.twist.angular.z = turn;
      cmd_.publish(t);
      ASSERT_TRUE(wait(1));
      if (each) each();
    }
  }
  // Moves the neck's lift towards `lift` as the body node does (each tick by a tenth of the
  // way left) and holds it there, for `ticks` ticks in all.
  void neck(double lift, int ticks, const std::function<void()>& each = nullptr) {
    for (int i = 0; i < ticks; ++i) {
      lift_ += KC_FIXED_ANGLE_GAIN * (lift - lift_);
      sensor_msgs::JointState j;
      j.position = {TICK_D_DEFAULT_TILT, lift_, 0.0, 0.0};
      joints_.publish(j);
      ASSERT_TRUE(wait(1));
      if (each) each();
    }
  }
  void clear() {
    packages_.clear();
    // the last ground truth stays: cases read the pose they start from
    while (truths_.size() > 1) truths_.pop_front();
  }

 private:
  void on_package(const vesk2_msg::sensors_package::ConstPtr& m) { packages_.push_back(*m); }
  void on_truth(const geometry_msgs::PoseStamped::ConstPtr& m) {
    Truth t;
    t.t = m->header.stamp.toSec();
    t.x = m->pose.position.x;
    t.y = m->pose.position.y;
    t.z = m->pose.position.z;
    const auto& q = m->pose.orientation;
    tf2::Matrix3x3(tf2::Quaternion(q.x, q.y, q.z, q.w)).getRPY(t.roll, t.pitch, t.yaw);
    truths_.push_back(t);
    if (truths_.size() > 20000) truths_.pop_front();
  }
  bool with_truth_;
  ros::Subscriber sub_, truth_sub_;
  ros::Publisher cmd_, joints_;
  double lift_ = TICK_D_DEFAULT_LIFT;  // the lift last commanded
  std::deque<vesk2_msg::sensors_package> packages_;
  std::deque<Truth> truths_;
};

// Moves the model in gzserver (gz model, at the server's Gazebo master).
bool teleport(double x, double y, double z, double yaw) {
  std::string uri;
  if (!ros::param::get("/gazebo/master_uri", uri)) return false;
  std::ostringstream cmd;
  cmd << "GAZEBO_MASTER_URI=" << uri << " gz model -m vesk -x " << x << " -y " << y << " -z " << z << " -Y "
      << yaw << " >/dev/null 2>&1";
  return std::system(cmd.str().c_str()) == 0;
}

double odom_yaw(const vesk2_msg::sensors_package& p) {
  const auto& q = p.odom.pose.pose.orientation;
  return 2.0 * std::atan2(q.z, q.w);
}

// Roll and pitch stay within 0.05 rad of rest for every ground-truth sample from `from` on.
void expect_upright(const Robot& r, size_t from, const Truth& rest, const char* what) {
  double worst = 0, when = 0, roll = 0, pitch = 0;
  for (size_t i = from; i < r.truths().size(); ++i) {
    const Truth& t = r.truths()[i];
    const double off = std::max(std::fabs(wrap(t.roll - rest.roll)), std::fabs(wrap(t.pitch - rest.pitch)));
    if (off > worst) {
      worst = off;
      when = t.t - r.truths()[from].t;
      roll = t.roll;
      pitch = t.pitch;
    }
  }
  EXPECT_LT(worst, 0.05) << what << ": roll or pitch left the rest pose by " << worst << " rad, " << when
                         << " s in (roll " << roll << ", pitch " << pitch << " rad)";
}

Truth g_rest;

TEST(Gazebo, LoadsWithoutErrors) {
  ros::NodeHandle nh;
  Robot r(nh);
  ASSERT_TRUE(r.connected()) << "no packages or no ground truth from gzserver";
  ASSERT_TRUE(r.wait(10));
  std::ifstream log(g_log_file);
  ASSERT_TRUE(log.good()) << "no gzserver log at " << g_log_file;
  std::string line;
  int errors = 0;
  while (std::getline(log, line)) {
    if (line.find("Conversion of sensor type[sonar] not supported") != std::string::npos) continue;
    if (line.find("[Err]") != std::string::npos || line.find("Error Code") != std::string::npos) {
      ADD_FAILURE() << "gzserver: " << line;
      ++errors;
    }
  }
  EXPECT_EQ(errors, 0);
}

TEST(Gazebo, TicksFiftyTimesPerSimulatedSecond) {
  ros::NodeHandle nh;
  Robot r(nh);
  ASSERT_TRUE(r.connected());
  r.clear();
  ASSERT_TRUE(r.wait(1));
  const ros::Time t0 = ros::Time::now();
  while (ros::Time::now() - t0 < ros::Duration(10.0)) ASSERT_TRUE(r.wait(1));
  const double seconds = (ros::Time::now() - t0).toSec();
  EXPECT_NEAR(r.count() / seconds, 50.0, 1.0) << r.count() << " packages in " << seconds << " s";
  // consecutive sequence numbers: no tick lost on the way
  for (size_t i = 1; i < r.count(); ++i) EXPECT_EQ(r.all()[i].header.seq, r.all()[i - 1].header.seq + 1);
}

TEST(Gazebo, StandsUprightAtRest) {
  ros::NodeHandle nh;
  Robot r(nh);
  ASSERT_TRUE(r.connected());
  ASSERT_TRUE(r.wait(50));  // settled
  g_rest = r.truth();
  // standing on its wheels and rear support, tilted back as designed
  EXPECT_NEAR(g_rest.roll, 0.0, 0.05);
  EXPECT_NEAR(g_rest.pitch, TICK_D_DEFAULT_TILT, 0.05);
  const size_t from = r.truths().size();
  ASSERT_TRUE(r.wait(1000));  // 20 s
  expect_upright(r, from, g_rest, "at rest");
}

TEST(Gazebo, StandsUprightAtEitherEndOfTheNeckLift) {
  ros::NodeHandle nh;
  Robot r(nh);
  ASSERT_TRUE(r.connected());
  size_t from = r.truths().size();
  r.neck(BODY_LIFT_MIN_RAD, 1000);
  expect_upright(r, from, g_rest, "neck lifted fully");
  from = r.truths().size();
  r.neck(BODY_LIFT_MAX_RAD, 1000);
  expect_upright(r, from, g_rest, "neck lowered fully");
  r.neck(TICK_D_DEFAULT_LIFT, 100);  // back to the default lift
}

TEST(Gazebo, StandsUprightDrivingAtTheSpeedLimit) {
  ros::NodeHandle nh;
  Robot r(nh);
  ASSERT_TRUE(r.connected());
  const size_t from = r.truths().size();
  // forwards and backwards at full speed, 0.6 m each way, 20 s in all
  for (int i = 0; i < 5; ++i) {
    r.drive(WHEEL_SPEED_MAX, 0.0, 75);
    r.drive(0.0, 0.0, 25);
    r.drive(-WHEEL_SPEED_MAX, 0.0, 75);
    r.drive(0.0, 0.0, 25);
  }
  expect_upright(r, from, g_rest, "driving at the speed limit");
}

TEST(Gazebo, OdometryAgreesWithGroundTruthOnAStraightMetre) {
  ros::NodeHandle nh;
  Robot r(nh);
  ASSERT_TRUE(r.connected());
  r.drive(0.0, 0.0, 25);
  r.clear();
  ASSERT_TRUE(r.wait(1));
  const Truth t0 = r.truth();
  const auto o0 = r.last().odom.pose.pose.position;
  r.drive(0.2, 0.0, 250);  // 1 m at 0.2 m/s
  r.drive(0.0, 0.0, 50);
  const Truth t1 = r.truth();
  const auto o1 = r.last().odom.pose.pose.position;
  const double truth = std::hypot(t1.x - t0.x, t1.y - t0.y);
  const double odom = std::hypot(o1.x - o0.x, o1.y - o0.y);
  ASSERT_GT(truth, 0.5) << "the robot did not drive";
  EXPECT_NEAR(odom / truth, 1.0, 0.03) << "odometry " << odom << " m, ground truth " << truth << " m";
  // body_pose is the ground truth of the body as the platform reports it
  EXPECT_NEAR(r.last().body_pose.x, t1.x, 0.01);
  EXPECT_NEAR(r.last().body_pose.y, t1.y, 0.01);
  EXPECT_NEAR(wrap(r.last().body_pose.theta - t1.yaw), 0.0, 0.02);
}

TEST(Gazebo, OdometryAgreesWithGroundTruthOnAFullTurn) {
  ros::NodeHandle nh;
  Robot r(nh);
  ASSERT_TRUE(r.connected());
  r.clear();
  ASSERT_TRUE(r.wait(1));
  double odom = 0, truth = 0, last_odom = odom_yaw(r.last()), last_truth = r.truth().yaw;
  auto follow = [&]() {
    odom += wrap(odom_yaw(r.last()) - last_odom);
    last_odom = odom_yaw(r.last());
    truth += wrap(r.truth().yaw - last_truth);
    last_truth = r.truth().yaw;
  };
  const double w = 0.2 / HALF_TRACK;  // wheels at 0.2 m/s
  for (int i = 0; i < 3000 && odom < kTwoPi; ++i) r.drive(0.0, w, 1, follow);
  r.drive(0.0, 0.0, 50, follow);
  ASSERT_GT(std::fabs(truth), 1.0) << "the robot did not turn";
  EXPECT_NEAR(odom / truth, 1.0, 0.03) << "odometry " << odom << " rad, ground truth " << truth << " rad";
  EXPECT_NEAR(wrap(r.last().body_pose.theta - r.truth().yaw), 0.0, 0.02);
}

TEST(Gazebo, SonarReadsTheWallAhead) {
  ros::NodeHandle nh;
  Robot r(nh);
  ASSERT_TRUE(r.connected());
  tf2_ros::Buffer buffer;
  tf2_ros::TransformListener listener(buffer);
  // facing the east wall (inner face at x = 2.0) from about 0.6 m
  ASSERT_TRUE(teleport(1.4, 0.0, 0.0, 0.0));
  r.drive(0.0, 0.0, 100);
  const vesk2_msg::sensors_package p = r.last();
  geometry_msgs::TransformStamped s;
  try {
    s = buffer.lookupTransform("map", p.sonar.header.frame_id, ros::Time(0), ros::Duration(10.0));
  } catch (const tf2::TransformException& e) {
    FAIL() << e.what();
  }
  const auto& q = s.transform.rotation;
  const tf2::Vector3 axis = tf2::Matrix3x3(tf2::Quaternion(q.x, q.y, q.z, q.w)) * tf2::Vector3(1, 0, 0);
  ASSERT_GT(axis.x(), 0.5) << "the sonar does not face the wall";
  const double expected = (2.0 - s.transform.translation.x) / axis.x();
  EXPECT_NEAR(p.sonar.range, expected, 0.02);
}

TEST(Gazebo, CliffSensorsSeeTheFloorAndStopAtTheTableEdge) {
  ros::NodeHandle nh;
  Robot r(nh);
  ASSERT_TRUE(r.connected());
  // on the floor both see it close by: the reflex leaves the wheels alone
  ASSERT_TRUE(teleport(0.0, 0.0, 0.0, 0.0));
  r.drive(0.0, 0.0, 50);
  ASSERT_EQ(r.last().cliff.data.size(), 2u);
  EXPECT_GE(r.last().cliff.data[0], 12.0f / 15.0f - 1e-6f);
  EXPECT_GE(r.last().cliff.data[1], 12.0f / 15.0f - 1e-6f);
  // the wheels turn at the commanded speed, as the platform measures it (the reflex would slow
  // them by 12.5 % for each step of a cliff code below 12)
  r.drive(0.1, 0.0, 50);
  double left = 0, right = 0;
  for (size_t i = r.count() - 10; i < r.count(); ++i) {
    left += r.all()[i].wheel_speed_opto.data.at(0) / 10.0;
    right += r.all()[i].wheel_speed_opto.data.at(1) / 10.0;
  }
  EXPECT_NEAR(left, 0.1, 0.005);
  EXPECT_NEAR(right, 0.1, 0.005);
  // on the table (top at z = 0.4, edge at x = -0.9), 0.3 m from its edge, driving at it
  ASSERT_TRUE(teleport(-1.2, -1.4, 0.4, 0.0));
  r.drive(0.0, 0.0, 50);
  r.drive(0.1, 0.0, 300);  // enough for 0.6 m
  EXPECT_GT(r.truth().z, 0.3) << "the robot fell off the table";
  EXPECT_LT(std::min(r.last().cliff.data[0], r.last().cliff.data[1]), 12.0f / 15.0f);
  ASSERT_TRUE(teleport(0.0, 0.0, 0.0, 0.0));
  r.drive(0.0, 0.0, 25);
}

TEST(Gazebo, WorldResetReturnsTheRobotToItsStartAndTheTickClockToZero) {
  ros::NodeHandle nh;
  Robot r(nh);
  ASSERT_TRUE(r.connected());
  r.drive(0.3, 0.5, 50);
  const ros::Time base = tick_clock_base(r.all().front());
  ros::ServiceClient reset = nh.serviceClient<std_srvs::Empty>("/gazebo/reset_world");
  ASSERT_TRUE(reset.waitForExistence(ros::Duration(30.0)));
  std_srvs::Empty call;
  const size_t before = r.count();
  ASSERT_TRUE(reset.call(call));
  r.drive(0.0, 0.0, 100);
  const size_t first = first_tick_after_reset(r.all(), before);
  ASSERT_GT(first, 0u) << "no tick after the reset";
  EXPECT_EQ(r.all()[first].header.stamp, base);
  // how the robot got where it is: its fastest wheel after the reset, and its odometry
  double fastest = 0;
  for (size_t i = first; i < r.count(); ++i) {
    for (float v : r.all()[i].wheel_speed_opto.data)
      fastest = std::max(fastest, std::fabs(static_cast<double>(v)));
  }
  const auto& o = r.last().odom.pose.pose.position;
  const std::string how = "fastest wheel after the reset " + std::to_string(fastest) + " m/s, odometry (" +
                          std::to_string(o.x) + ", " + std::to_string(o.y) + ")";
  EXPECT_NEAR(r.truth().x, 0.0, 0.02) << how;
  EXPECT_NEAR(r.truth().y, 0.0, 0.02) << how;
  EXPECT_NEAR(wrap(r.truth().yaw), 0.0, 0.02) << how;
}

// ---- with cameras and kinemod --------------------------------------------------------

TEST(GazeboCameras, PublishImagesOfTheWorldAtTheirRate) {
  ros::NodeHandle nh;
  Robot r(nh);
  ASSERT_TRUE(r.connected());
  std::map<std::string, std::deque<sensor_msgs::Image::ConstPtr>> images;
  std::vector<ros::Subscriber> subs;
  for (const char* cam : {"caml", "camr"}) {
    subs.push_back(nh.subscribe<sensor_msgs::Image>(
        std::string("/vesk/sensors/") + cam, 100,
        [&images, cam](const sensor_msgs::Image::ConstPtr& m) { images[cam].push_back(m); }));
  }
  ASSERT_TRUE(r.wait(50));
  for (auto& i : images) i.second.clear();
  const ros::Time t0 = ros::Time::now();
  ASSERT_TRUE(r.wait(200));  // 4 s
  const double seconds = (ros::Time::now() - t0).toSec();
  for (const char* cam : {"caml", "camr"}) {
    const auto& frames = images[cam];
    ASSERT_FALSE(frames.empty()) << cam;
    EXPECT_GT(frames.size() / seconds, 15.0 * 0.8)
        << cam << ": " << frames.size() << " in " << seconds << " s";
    // an image of the arena, not of nothing: its pixels differ
    const auto& img = *frames.back();
    std::map<uint8_t, int> levels;
    for (uint8_t v : img.data) ++levels[v];
    EXPECT_GT(levels.size(), 20u) << cam << " image is (nearly) uniform";
  }
}

TEST(GazeboCameras, KinemodDrivesTheRobotWithAPush) {
  ros::NodeHandle nh;
  Robot r(nh);
  ASSERT_TRUE(r.connected());
  ros::Publisher push = nh.advertise<vesk2_msg::push>("/vesk/core/mpg/push", 10);
  for (int i = 0; i < 60000 && push.getNumSubscribers() == 0; ++i) ros::WallDuration(0.001).sleep();
  ASSERT_GT(push.getNumSubscribers(), 0u) << "kinemod does not listen";
  const Truth t0 = r.truth();
  vesk2_msg::push p;
  p.link = 0;      // the wheeled base
  p.flags = 0x02;  // pushvec is a velocity
  p.pushpos.x = 0.1;
  p.pushvec.x = 0.2;
  for (int tick = 0; tick < 100; ++tick) {
    push.publish(p);
    ASSERT_TRUE(r.wait(1));
  }
  const double moved = std::hypot(r.truth().x - t0.x, r.truth().y - t0.y);
  EXPECT_GT(moved, 0.1) << "a push of 0.2 m/s for 2 s moved the robot " << moved << " m";
}

// ---- the same scripted drive in either simulator -------------------------------------

std::string g_result_file, g_expected_file;

// Drives a fixed script by velocity commands, one per tick, from wherever the robot stands,
// and writes where it ended (from its body pose, in the frame of the pose it started from)
// to the result file as "x y heading". Given the result of the other simulator, the two
// must end within 5 cm of each other.
TEST(Drive, ScriptedDriveEndsWhereTheOtherSimulatorEnds) {
  ros::NodeHandle nh;
  Robot r(nh, false);  // the headless simulator has no ground-truth topic: the body pose is it
  ASSERT_TRUE(r.connected()) << "no packages, or the platform does not listen";
  ASSERT_TRUE(r.wait(50));  // settled
  const geometry_msgs::Pose2D start = r.last().body_pose;
  // straight 0.4 m, a quarter turn and a bit on the spot, an arc to the left, stop
  r.drive(0.2, 0.0, 100);
  r.drive(0.0, 1.0, 50);
  r.drive(0.15, 0.4, 150);
  r.drive(0.0, 0.0, 50);
  ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "packages stopped arriving";
  const geometry_msgs::Pose2D end = r.last().body_pose;
  const double c = std::cos(start.theta), s = std::sin(start.theta);
  const double x = c * (end.x - start.x) + s * (end.y - start.y);
  const double y = -s * (end.x - start.x) + c * (end.y - start.y);
  const double heading = wrap(end.theta - start.theta);
  ASSERT_GT(std::hypot(x, y), 0.5) << "the robot did not drive";
  if (!g_result_file.empty()) {
    std::ofstream out(g_result_file);
    out.precision(9);
    out << x << " " << y << " " << heading << "\n";
    ASSERT_TRUE(out.good()) << "cannot write " << g_result_file;
  }
  if (g_expected_file.empty()) return;
  std::ifstream in(g_expected_file);
  double ex = 0, ey = 0, eh = 0;
  ASSERT_TRUE(in >> ex >> ey >> eh) << "no result of the other simulator in " << g_expected_file;
  EXPECT_LT(std::hypot(x - ex, y - ey), 0.05)
      << "this simulator ended at (" << x << ", " << y << ", " << heading << "), the other at (" << ex << ", "
      << ey << ", " << eh << ")";
}

}  // namespace

// args: gtest filter, gzserver log file ("-": none), then for the scripted drive the file
// its end pose goes to and the file holding the other simulator's (optional)
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ros::init(argc, argv, "rostest_gazebo");
  ::testing::GTEST_FLAG(filter) = argc > 1 ? argv[1] : "*";
  g_log_file = argc > 2 ? argv[2] : "";
  g_result_file = argc > 3 ? argv[3] : "";
  g_expected_file = argc > 4 ? argv[4] : "";
  return RUN_ALL_TESTS();
}
