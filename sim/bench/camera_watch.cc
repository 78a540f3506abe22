// vesk_camera_watch ROBOT...: watches every camera of the named robots (their raw images on
// "/<robot>/sensors/{caml,camr,overhead,gaze}") until SIGINT, and then prints how many frames
// arrived per robot and in all. The benchmark's stand-in for a user who looks at the
// cameras: a simulated camera renders only while watched.
#include <ros/ros.h>
#include <sensor_msgs/Image.h>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  ros::init(argc, argv, "vesk_camera_watch", ros::init_options::AnonymousName);
  if (argc < 2) {
    std::cerr << "usage: vesk_camera_watch ROBOT..." << std::endl;
    return 2;
  }
  ros::NodeHandle nh;
  std::vector<std::string> robots(argv + 1, argv + argc);
  std::vector<unsigned long> frames(robots.size(), 0);
  std::vector<ros::Subscriber> subs;
  for (size_t i = 0; i < robots.size(); ++i) {
    for (const char* cam : {"caml", "camr", "overhead", "gaze"}) {
      subs.push_back(nh.subscribe<sensor_msgs::Image>(
          "/" + robots[i] + "/sensors/" + cam, 1,
          [&frames, i](const sensor_msgs::Image::ConstPtr&) { ++frames[i]; }));
    }
  }
  ros::spin();
  unsigned long all = 0;
  for (size_t i = 0; i < robots.size(); ++i) {
    std::cout << robots[i] << ": " << frames[i] << " frames" << std::endl;
    all += frames[i];
  }
  std::cout << "camera frames received: " << all << std::endl;
  return 0;
}
