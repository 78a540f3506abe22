// The demo as the README's run command runs it, shortened and as fast as possible: its
// report's figures and files are checked once vesk_demo has written them.
#include <gtest/gtest.h>
#include <ros/ros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "vesk_sim/report.h"

namespace {

std::string g_report;

std::map<std::string, std::string> read_summary(const std::string& path) {
  std::map<std::string, std::string> kv;
  std::ifstream f(path);
  std::string line;
  while (std::getline(f, line)) {
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    size_t start = line.find_first_not_of(' ');
    kv[line.substr(start, colon - start)] = line.substr(colon + 2);
  }
  return kv;
}

double num(const std::map<std::string, std::string>& kv, const std::string& key) {
  const auto it = kv.find(key);
  if (it == kv.end()) {
    ADD_FAILURE() << "summary lacks \"" << key << "\"";
    return 0.0;
  }
  return std::stod(it->second);
}

class DemoReport : public ::testing::Test {
 protected:
  static void SetUpTestCase() {
    // vesk_demo renames summary.txt into place as the last step of writing the report.
    const std::string summary = g_report + "/summary.txt";
    for (int i = 0; i < 1200 && access(summary.c_str(), F_OK) != 0; ++i) usleep(100000);
    kv = read_summary(summary);
  }
  static std::map<std::string, std::string> kv;
};
std::map<std::string, std::string> DemoReport::kv;

TEST_F(DemoReport, RobotMovedTowardTheTarget) {
  ASSERT_FALSE(kv.empty()) << "no report in " << g_report;
  const double before = num(kv, "target_0_distance_start_m");
  const double after = num(kv, "target_0_closest_m");
  EXPECT_LT(after, before - 0.3);
  EXPECT_GT(num(kv, "distance_driven_truth_m"), 0.15);
}

TEST_F(DemoReport, OdometryAgreesWithGroundTruth) {
  // The simulated wheels roll without slip, so odometry differs from the truth only by its
  // 50 Hz single-precision integration against the simulator's 1 kHz arcs: millimetres over
  // a metre. 1 cm plus 2 % of the distance leaves room for that and nothing else.
  const double driven = num(kv, "distance_driven_truth_m");
  EXPECT_LT(num(kv, "odometry_error_end_m"), 0.01 + 0.02 * driven);
  EXPECT_NEAR(num(kv, "distance_driven_odometry_m"), driven, 0.01 + 0.02 * driven);
}

TEST_F(DemoReport, NoDroppedTicks) {
  // Every tick of the simulated time ran (by the ticks' sequence numbers and stamps). At full
  // speed a subscriber may still miss packages: the robot publishes with a queue of one.
  EXPECT_EQ(num(kv, "dropped_ticks"), 0.0);
  EXPECT_NEAR(num(kv, "ticks_run"), num(kv, "simulated_time_s") / 0.02 + 1, 0.5);
  EXPECT_GT(num(kv, "packages_received"), 0.5 * num(kv, "ticks_run"));
}

TEST_F(DemoReport, EyeSnapshotsAreImagesOfTheWorld) {
  for (const char* name : {"caml.png", "camr.png"}) {
    vesk_sim::RgbImage img;
    ASSERT_TRUE(vesk_sim::read_png(g_report + "/" + name, img)) << name;
    EXPECT_EQ(img.width, 640) << name;
    EXPECT_EQ(img.height, 360) << name;
    EXPECT_GT(vesk_sim::image_spread(img), 5.0) << name << " is (nearly) uniform";
  }
  vesk_sim::RgbImage plot;
  ASSERT_TRUE(vesk_sim::read_png(g_report + "/trajectory.png", plot));
  EXPECT_GT(vesk_sim::image_spread(plot), 5.0);
}

TEST_F(DemoReport, VoiceRecordingHasTheStreamsRateAndLengthAndSounds) {
  std::vector<int16_t> samples;
  int rate = 0;
  ASSERT_TRUE(vesk_sim::read_wav(g_report + "/voice.wav", samples, rate));
  EXPECT_EQ(rate, 8000);
  // One block of 320 samples per "control/stream" message, at most one per tick.
  const double blocks = num(kv, "/vesk/control/stream");
  EXPECT_EQ(static_cast<double>(samples.size()), 320.0 * blocks);
  EXPECT_GT(blocks, 0.25 * num(kv, "ticks_run"));
  EXPECT_LE(blocks, num(kv, "ticks_run"));
  EXPECT_GT(vesk_sim::rms(samples), 50.0);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ros::init(argc, argv, "rostest_demo");
  for (int i = 1; i < argc; ++i) {
    const std::string w = argv[i];
    if (w.compare(0, 7, "report=") == 0) g_report = w.substr(7);
  }
  const int result = RUN_ALL_TESTS();
  // A passing run's report is not needed afterwards; a failing one stays for a look.
  if (result == 0 && !g_report.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(g_report, ignored);
  }
  return result;
}
