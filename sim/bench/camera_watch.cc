// vesk_camera_watch ROBOT...: watches every camera of the named robots (their raw images on
// "/<robot>/sensors/{caml,camr,overhead,gaze}") until SIGINT, the benchmark's stand-in for a
// user who looks at the cameras (a simulated camera renders only while watched). Then it
// prints the frames that arrived and the simulator's real-time factor while everything was
// watched: from the moment every camera had delivered a frame to the last frame, simulated
// time (the frames' stamps) over wall-clock time.
#include <ros/ros.h>
#include <sensor_msgs/Image.h>

#include <iostream>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Watch {
  std::mutex lock;
  std::vector<unsigned long> frames;  // per camera
  size_t started = 0;                 // cameras that have delivered a frame
  ros::Time first_stamp, last_stamp;  // simulated time, from when all had delivered
  ros::WallTime first_wall, last_wall;
  bool all = false;
  unsigned long total = 0;

  void on_frame(size_t camera, const sensor_msgs::Image::ConstPtr& m) {
    std::lock_guard<std::mutex> l(lock);
    if (frames[camera]++ == 0) ++started;
    ++total;
    if (!all && started == frames.size()) {
      all = true;
      first_stamp = m->header.stamp;
      first_wall = ros::WallTime::now();
    }
    if (all && m->header.stamp > last_stamp) {
      last_stamp = m->header.stamp;
      last_wall = ros::WallTime::now();
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  ros::init(argc, argv, "vesk_camera_watch", ros::init_options::AnonymousName);
  if (argc < 2) {
    std::cerr << "usage: vesk_camera_watch ROBOT..." << std::endl;
    return 2;
  }
  ros::NodeHandle nh;
  const char* const cameras[] = {"caml", "camr", "overhead", "gaze"};
  Watch w;
  w.frames.assign(static_cast<size_t>(argc - 1) * 4, 0);
  std::vector<ros::Subscriber> subs;
  for (int r = 1; r < argc; ++r) {
    for (size_t c = 0; c < 4; ++c) {
      const size_t index = static_cast<size_t>(r - 1) * 4 + c;
      subs.push_back(nh.subscribe<sensor_msgs::Image>(
          "/" + std::string(argv[r]) + "/sensors/" + cameras[c], 1,
          [&w, index](const sensor_msgs::Image::ConstPtr& m) { w.on_frame(index, m); }));
    }
  }
  ros::spin();
  std::lock_guard<std::mutex> l(w.lock);
  std::cout << "camera frames received: " << w.total << std::endl;
  const double sim = (w.last_stamp - w.first_stamp).toSec();
  const double wall = (w.last_wall - w.first_wall).toSec();
  if (w.all && wall > 0.0)
    std::cout << "all cameras watched for " << sim << " simulated s in " << wall
              << " s of wall-clock time (real-time factor " << sim / wall << ")" << std::endl;
  else
    std::cout << "not every camera delivered a frame" << std::endl;
  return 0;
}
