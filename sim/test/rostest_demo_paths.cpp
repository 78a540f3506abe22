// The whole demo in either simulator (demo_sim.test, then demo_gazebo.test): once vesk_demo
// has written its report, both targets were reached with the ground truth within 5 cm, the
// odometry kept to the ground truth (distance within 2 %, end within 3 cm), and, given the
// other simulator's report, the two ground-truth paths stay within 5 cm of each other at
// equal simulated time.
//   args: report=DIR [other=DIR]
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "demo_summary.h"

namespace {

std::string g_report, g_other;

constexpr double kClosest = 0.05;        // [m] a target is reached this close
constexpr double kOdometryRatio = 0.02;  // odometry distance within 2 % of the truth's
constexpr double kOdometryEnd = 0.03;    // [m] odometry this close to the truth at the end
constexpr double kPathsApart = 0.05;     // [m] the two simulators' truths this close (measured: under 3 cm)
constexpr int kReportWaitTenths = 3000;  // 300 s for the demo and its report

struct Sample {
  double t, x, y;
};

using vesk_test::num;
using vesk_test::read_summary;

// The ground-truth path of a report's trajectory.csv (t, truth_x, truth_y, ...).
std::vector<Sample> read_truth(const std::string& dir) {
  std::vector<Sample> path;
  std::ifstream f(dir + "/trajectory.csv");
  std::string line;
  std::getline(f, line);  // header
  while (std::getline(f, line)) {
    std::stringstream s(line);
    Sample p;
    char comma = 0;
    if (s >> p.t >> comma >> p.x >> comma >> p.y) path.push_back(p);
  }
  return path;
}

// The path's position at time t, interpolated between its samples (t within the path).
Sample at(const std::vector<Sample>& path, double t) {
  auto hi = std::lower_bound(path.begin(), path.end(), t, [](const Sample& s, double v) { return s.t < v; });
  if (hi == path.begin()) return *hi;
  if (hi == path.end()) return path.back();
  const Sample& lo = *(hi - 1);
  const double f = (t - lo.t) / (hi->t - lo.t);
  return {t, lo.x + f * (hi->x - lo.x), lo.y + f * (hi->y - lo.y)};
}

class Demo : public ::testing::Test {
 protected:
  static void SetUpTestCase() {
    // vesk_demo renames summary.txt into place as the last step of writing the report.
    const std::string summary = g_report + "/summary.txt";
    for (int i = 0; i < kReportWaitTenths && access(summary.c_str(), F_OK) != 0; ++i) usleep(100000);
    kv = read_summary(summary);
  }
  static std::map<std::string, std::string> kv;
};
std::map<std::string, std::string> Demo::kv;

TEST_F(Demo, ReachesBothTargets) {
  ASSERT_FALSE(kv.empty()) << "no report in " << g_report;
  EXPECT_EQ(kv["targets_reached"], "2 of 2");
  for (const char* k : {"target_0_closest_m", "target_1_closest_m"}) EXPECT_LE(num(kv, k), kClosest) << k;
}

TEST_F(Demo, OdometryKeepsToTheGroundTruth) {
  ASSERT_FALSE(kv.empty()) << "no report in " << g_report;
  const double truth = num(kv, "distance_driven_truth_m");
  const double odom = num(kv, "distance_driven_odometry_m");
  ASSERT_GT(truth, 1.0) << "the robot did not drive the demo";
  EXPECT_NEAR(odom / truth, 1.0, kOdometryRatio)
      << "odometry " << odom << " m, ground truth " << truth << " m";
  EXPECT_LE(num(kv, "odometry_error_end_m"), kOdometryEnd);
}

TEST_F(Demo, GroundTruthFollowsTheOtherSimulatorsPath) {
  if (g_other.empty()) return;  // the first simulator's run: its report is what the other compares with
  ASSERT_FALSE(kv.empty()) << "no report in " << g_report;
  const std::vector<Sample> mine = read_truth(g_report), other = read_truth(g_other);
  ASSERT_GT(mine.size(), 100u) << "no trajectory in " << g_report;
  ASSERT_GT(other.size(), 100u) << "no trajectory of the other simulator in " << g_other;
  double worst = 0, when = 0;
  for (const Sample& p : mine) {
    if (p.t > other.back().t) break;
    const Sample q = at(other, p.t);
    const double d = std::hypot(p.x - q.x, p.y - q.y);
    if (d > worst) {
      worst = d;
      when = p.t;
    }
  }
  EXPECT_LE(worst, kPathsApart) << "the ground truths are " << worst << " m apart at t = " << when << " s";
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string w = argv[i];
    if (w.compare(0, 7, "report=") == 0) g_report = w.substr(7);
    if (w.compare(0, 6, "other=") == 0) g_other = w.substr(6);
  }
  // A report of an earlier run must not pass for this run's: the demo writes a new one.
  if (!g_report.empty()) unlink((g_report + "/summary.txt").c_str());
  return RUN_ALL_TESTS();
}
