// seek_red: turns toward the red that the eye cameras see and drives up to it.
//
//   rosrun vesk_examples seek_red [robot=NAME]
//
// Sensors in, commands out. The two eyes ("sensors/caml", "sensors/camr"; raw images in
// simulation) look ahead and out to their own side, their fields overlapping straight
// ahead. Each sensors package (one per platform tick, 50 per second) is answered with a
// velocity on "control/cmd_vel":
//   - red in both eyes: it is ahead; turn to bring it to the middle of the two and drive
//     until it fills kNear of an eye's image;
//   - red in one eye only: turn toward that side;
//   - no red: turn on the spot to look for it.
// The head is lowered to look at the floor ahead ("control/kinematic_joints").
#include <geometry_msgs/TwistStamped.h>
#include <ros/ros.h>
#include <sensor_msgs/Image.h>
#include <sensor_msgs/JointState.h>
#include <vesk2_msg/sensors_package.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double kSpeed = 0.12;     // [m/s]
constexpr double kTurnGain = 2.0;   // [rad/s] per image width the red is off the middle
constexpr double kTurn = 0.6;       // [rad/s] toward the one eye that sees red, or searching
constexpr double kNear = 0.35;      // share of an eye's image that the red fills at the end
constexpr double kMinShare = 1e-3;  // less red than this is none
// [rad] the head looking down at the floor ahead: tilt (fixed by the body), lift, yaw, pitch
const std::vector<double> kLookDown{-0.10471976, 0.9, 0.0, 0.1396};

// The red in one eye image: the mean column of its red pixels as a fraction of the width
// (0 left edge, 1 right edge), and the share of the image they cover.
struct Red {
  double column = 0.5;
  double share = 0.0;
};

Red find_red(const sensor_msgs::Image& image) {
  Red red;
  const bool rgb = image.encoding == "rgb8";
  if ((!rgb && image.encoding != "bgr8") || image.step * image.height > image.data.size()) return red;
  double sum = 0.0;
  int pixels = 0, looked = 0;
  for (uint32_t y = 0; y < image.height; y += 2) {  // every second row and column is enough
    const uint8_t* row = &image.data[y * image.step];
    for (uint32_t x = 0; x < image.width; x += 2, ++looked) {
      const uint8_t* p = row + 3 * x;
      const int r = rgb ? p[0] : p[2], g = p[1], b = rgb ? p[2] : p[0];
      if (r > 80 && r > 2 * g && r > 2 * b) {
        sum += x;
        ++pixels;
      }
    }
  }
  if (pixels > 0) red.column = sum / pixels / image.width;
  if (looked > 0) red.share = double(pixels) / looked;
  return red;
}

}  // namespace

int main(int argc, char** argv) {
  ros::init(argc, argv, "seek_red", ros::init_options::AnonymousName);
  std::string robot = std::getenv("VESK_ROBOT_NAME") ? std::getenv("VESK_ROBOT_NAME") : "";
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "robot=", 6) == 0) robot = argv[i] + 6;
  if (robot.empty()) robot = "vesk";
  const std::string base = "/" + robot + "/";

  ros::NodeHandle nh;
  ros::Publisher cmd_vel = nh.advertise<geometry_msgs::TwistStamped>(base + "control/cmd_vel", 1);
  ros::Publisher neck = nh.advertise<sensor_msgs::JointState>(base + "control/kinematic_joints", 1);
  Red left, right;  // the latest of each eye; every callback runs on this one thread
  ros::Subscriber caml = nh.subscribe<sensor_msgs::Image>(
      base + "sensors/caml", 1, [&left](const sensor_msgs::ImageConstPtr& m) { left = find_red(*m); });
  ros::Subscriber camr = nh.subscribe<sensor_msgs::Image>(
      base + "sensors/camr", 1, [&right](const sensor_msgs::ImageConstPtr& m) { right = find_red(*m); });

  geometry_msgs::TwistStamped cmd;
  sensor_msgs::JointState head;
  head.name = {"tilt", "lift", "yaw", "pitch"};
  head.position = kLookDown;
  ros::Subscriber package = nh.subscribe<vesk2_msg::sensors_package>(
      base + "sensors/package", 1,
      [&](const vesk2_msg::sensors_packageConstPtr& p) {
        const bool in_left = left.share > kMinShare, in_right = right.share > kMinShare;
        double forward = 0.0, turn = kTurn;  // searching: to the left
        if (in_left && in_right) {
          const double near = std::max(left.share, right.share) / kNear;
          forward = near < 1.0 ? kSpeed * std::min(1.0, 0.2 + 4.0 * (1.0 - near)) : 0.0;
          turn = kTurnGain * (0.5 - 0.5 * (left.column + right.column));
        } else if (in_right) {
          turn = -kTurn;
        }
        cmd.header.stamp = p->header.stamp;
        cmd.twist.linear.x = forward;
        cmd.twist.angular.z = turn;
        cmd_vel.publish(cmd);
        head.header.stamp = p->header.stamp;
        neck.publish(head);  // the platform holds it; sent again in case it came too early
      },
      ros::VoidConstPtr(), ros::TransportHints().tcpNoDelay());
  ROS_INFO("seek_red: robot \"%s\", driving to the red it sees", robot.c_str());
  ros::spin();
  return 0;
}
