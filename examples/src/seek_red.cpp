// seek_red: turns toward the red that the eye cameras see and drives up to it.
//
//   rosrun vesk_examples seek_red [robot=NAME]
//
// Sensors in, commands out. The eye cameras ("sensors/caml", "sensors/camr"; raw images
// in simulation) tell where the red pixels are, the head's sonar (in the sensors package)
// how far the nearest thing ahead is. Each sensors package (one per platform tick, 50 per
// second) is answered with a velocity on "control/cmd_vel": turn toward the red and drive
// while it is farther than kStop; with no red in sight, turn on the spot to look for it.
#include <geometry_msgs/TwistStamped.h>
#include <ros/ros.h>
#include <sensor_msgs/Image.h>
#include <vesk2_msg/sensors_package.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr double kStop = 0.2;        // [m] sonar reading to stand at
constexpr double kSlowDown = 0.2;    // [m] before kStop
constexpr double kSpeed = 0.12;      // [m/s]
constexpr double kTurnGain = 2.0;    // [rad/s] per image width the red is off the middle
constexpr double kSearchTurn = 0.6;  // [rad/s] while no eye sees red
constexpr int kMinPixels = 20;       // red pixels an eye must see (every second row and column)

// Where the red is in one eye image: the mean column of its red pixels as a fraction of
// the width (0 left edge, 1 right edge), and how many were found.
struct Red {
  double column = 0.5;
  int pixels = 0;
};

Red find_red(const sensor_msgs::Image& image) {
  Red red;
  const bool rgb = image.encoding == "rgb8";
  if ((!rgb && image.encoding != "bgr8") || image.step * image.height > image.data.size()) return red;
  double sum = 0.0;
  for (uint32_t y = 0; y < image.height; y += 2) {
    const uint8_t* row = &image.data[y * image.step];
    for (uint32_t x = 0; x < image.width; x += 2) {
      const uint8_t* p = row + 3 * x;
      const int r = rgb ? p[0] : p[2], g = p[1], b = rgb ? p[2] : p[0];
      if (r > 80 && r > 2 * g && r > 2 * b) {
        sum += x;
        ++red.pixels;
      }
    }
  }
  if (red.pixels > 0) red.column = sum / red.pixels / image.width;
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
  Red left, right;  // the latest of each eye; every callback runs on this one thread
  ros::Subscriber caml = nh.subscribe<sensor_msgs::Image>(
      base + "sensors/caml", 1, [&left](const sensor_msgs::ImageConstPtr& m) { left = find_red(*m); });
  ros::Subscriber camr = nh.subscribe<sensor_msgs::Image>(
      base + "sensors/camr", 1, [&right](const sensor_msgs::ImageConstPtr& m) { right = find_red(*m); });

  geometry_msgs::TwistStamped cmd;
  ros::Subscriber package = nh.subscribe<vesk2_msg::sensors_package>(
      base + "sensors/package", 1,
      [&](const vesk2_msg::sensors_packageConstPtr& p) {
        const bool seen_l = left.pixels >= kMinPixels, seen_r = right.pixels >= kMinPixels;
        cmd.header.stamp = p->header.stamp;
        if (!seen_l && !seen_r) {
          cmd.twist.linear.x = 0.0;
          cmd.twist.angular.z = kSearchTurn;
        } else {
          // The eyes look out to either side alike: the mean of the two columns is 0.5 for red
          // straight ahead. Left of the middle turns left (positive).
          const double column =
              seen_l && seen_r ? 0.5 * (left.column + right.column) : (seen_l ? left.column : right.column);
          double distance = p->sonar.range;
          if (!std::isfinite(distance) || distance >= p->sonar.max_range) distance = p->sonar.max_range;
          cmd.twist.angular.z = kTurnGain * (0.5 - column);
          cmd.twist.linear.x = kSpeed * std::min(1.0, std::max(0.0, (distance - kStop) / kSlowDown));
        }
        cmd_vel.publish(cmd);
      },
      ros::VoidConstPtr(), ros::TransportHints().tcpNoDelay());
  ROS_INFO("seek_red: robot \"%s\", driving to the red it sees", robot.c_str());
  ros::spin();
  return 0;
}
