// Entry of the interface's ROS tests. The test process is a ROS node of its
// own; an anchor interface lives for the whole run so that the interfaces the
// tests create and destroy never take ROS down with them.
#include <cstdlib>
#include <fstream>

#include "ros_test_util.h"

namespace vesk_test {
ros::NodeHandle& test_nh() {
  static ros::NodeHandle nh;
  return nh;
}
}  // namespace vesk_test

namespace {

// Calibration files for the eye cameras, so that a loaded file can be told
// apart from the manager's defaults.
void write_calibration(const std::string& dir) {
  for (const char* cam : {"caml", "camr"}) {
    std::ofstream f(dir + "/" + cam + ".yaml");
    f << "image_width: 640\nimage_height: 360\ncamera_name: " << cam << "\n"
      << "camera_matrix:\n  rows: 3\n  cols: 3\n  data: [1, 0.25, 2, 0, 3, 4, 0, 0, 1]\n"
      << "distortion_model: plumb_bob\n"
      << "distortion_coefficients:\n  rows: 1\n  cols: 5\n  data: [0, 0, 0, 0, 0]\n"
      << "rectification_matrix:\n  rows: 3\n  cols: 3\n  data: [1, 0, 0, 0, 1, 0, 0, 0, 1]\n"
      << "projection_matrix:\n  rows: 3\n  cols: 4\n  data: [1, 0, 2, 0.5, 0, 3, 4, 0, 0, 0, 1, 0]\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  ros::init(argc, argv, "test_vesk_net");

  char dir_template[] = "/tmp/vesk_net_test_XXXXXX";
  const char* dir = mkdtemp(dir_template);
  if (dir == nullptr) return 2;
  write_calibration(dir);
  setenv("VESK_DIR_CONFIG", dir, 1);

  vesk_test::test_nh();
  int result = 0;
  {
    vesk_test::Robot anchor(0, 0, 0, "anchor");
    result = RUN_ALL_TESTS();
  }
  std::system((std::string("rm -rf ") + dir).c_str());
  return result;
}
