// The demo as the README's run command runs it, shortened and at real time: its report's
// figures and files are checked once vesk_demo has written them, and its page is opened in
// a headless browser. This test runs vocalsynth itself, to read its console.
#include <gtest/gtest.h>
#include <ros/ros.h>
#include <stdlib.h>
#include <unistd.h>
#include <vesk_support/child_process.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "demo_summary.h"
#include "vesk_sim/report.h"

namespace {

std::string g_report;
std::unique_ptr<vesk_test::ChildProcess> g_voice;  // vocalsynth, started before the tests
std::string g_voice_output;                        // its console up to the report

using vesk_test::num;
using vesk_test::read_summary;

class DemoReport : public ::testing::Test {
 protected:
  static void SetUpTestCase() {
    // vesk_demo renames summary.txt into place as the last step of writing the report.
    const std::string summary = g_report + "/summary.txt";
    for (int i = 0; i < 1800 && access(summary.c_str(), F_OK) != 0; ++i) usleep(100000);
    kv = read_summary(summary);
    if (g_voice) {
      g_voice->interrupt();
      g_voice->wait_exit(20.0);
      g_voice_output = g_voice->output();
    }
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
  // The simulated tyres slip only while a wheel speeds up or slows down (the robot lags its
  // odometry by 3 ms times its speed, under a millimetre), so odometry differs from the truth
  // by that and its 50 Hz single-precision integration against the simulator's 1 kHz arcs:
  // millimetres over a metre. 1 cm plus 2 % of the distance leaves room for that and nothing
  // else.
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

TEST_F(DemoReport, FirstTargetReachedWithinTheStatedRadius) {
  // A target counts as reached within this radius, drawn around it in the plot.
  const double radius = num(kv, "reach_radius_m");
  EXPECT_GT(radius, 0.0);
  EXPECT_LE(radius, 0.2);
  // The shortened demo has time for the first target only.
  EXPECT_LE(num(kv, "target_0_closest_m"), radius);
  EXPECT_EQ(kv["target_0_reached"], "yes");
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
  ASSERT_TRUE(vesk_sim::read_png(g_report + "/trajectory.png", plot)) << "no trajectory plot";
  EXPECT_GT(plot.width, 400);
  EXPECT_GT(vesk_sim::image_spread(plot), 5.0);
}

TEST_F(DemoReport, VoiceIsPacedByTheSpeakerOnSimulatedTime) {
  std::vector<int16_t> samples;
  int rate = 0;
  ASSERT_TRUE(vesk_sim::read_wav(g_report + "/voice.wav", samples, rate));
  EXPECT_EQ(rate, 8000);
  EXPECT_EQ(static_cast<double>(samples.size()), num(kv, "voice_wav_samples"));
  // One block of 320 samples per "control/stream" message.
  const double blocks = num(kv, "/vesk/control/stream");
  EXPECT_EQ(num(kv, "voice_samples_sent"), 320.0 * blocks);
  // The speaker played from its first audio until the end of the demo (or until it ran out
  // after the voice fell asleep, which happens on the wall clock), 8000 samples per
  // simulated second; what was sent less what still waited in its buffer is that long, to
  // within the blocks still on their way at the end (a few hundredths of a second). A voice
  // that sent a block per tick would have sent twice that; a speaker that ran dry in
  // between would have played less.
  const double played_s = num(kv, "speaker_played_s");
  EXPECT_GT(played_s, 0.5 * num(kv, "simulated_time_s"));
  EXPECT_NEAR(static_cast<double>(samples.size()) / 8000.0, played_s, 0.1);
  EXPECT_GT(vesk_sim::rms(samples), 50.0);
  // The voice never found the speaker's buffer empty once it ran: at most the start, while
  // its first block was on its way, reads empty.
  ASSERT_FALSE(g_voice_output.empty()) << "no console output of vocalsynth";
  size_t underflows = 0;
  for (size_t at = g_voice_output.find("buffer underflow"); at != std::string::npos;
       at = g_voice_output.find("buffer underflow", at + 1))
    ++underflows;
  EXPECT_LE(underflows, 2u) << g_voice_output.substr(0, 4000);
}

// Where the browser is: the first "chromium" on PATH.
std::string find_chromium() {
  const char* path = getenv("PATH");
  std::stringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string exe = dir + "/chromium";
    if (!dir.empty() && access(exe.c_str(), X_OK) == 0) return exe;
  }
  return "";
}

// Runs headless chromium on the report page with `extra` arguments and a fresh profile;
// returns its output (the page's DOM with --dump-dom).
std::string run_chromium(const std::string& exe, const std::vector<std::string>& extra) {
  char profile[] = "/tmp/vesk_chromium_XXXXXX";
  if (!mkdtemp(profile)) return "";
  std::vector<std::string> args = {"--headless",
                                   "--no-sandbox",
                                   "--disable-gpu",
                                   "--disable-quic",
                                   "--no-first-run",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--disable-dev-shm-usage",
                                   std::string("--user-data-dir=") + profile,
                                   "--virtual-time-budget=15000"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back("file://" + g_report + "/index.html");
  vesk_test::ChildProcess browser(exe, args);
  const int status = browser.wait_exit(180.0);
  const std::string out = browser.output();
  std::error_code ignored;
  std::filesystem::remove_all(profile, ignored);
  EXPECT_EQ(status, 0) << out.substr(0, 4000);
  return out;
}

size_t occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(DemoReport, PageLoadsWithItsImagesAndAudioInABrowser) {
  const std::string exe = find_chromium();
  ASSERT_FALSE(exe.empty()) << "chromium not found on PATH (scripts/setup.sh installs it)";
  // The page marks what the browser loaded: the plot, two eye snapshots and the voice.
  const std::string dom = run_chromium(exe, {"--dump-dom"});
  EXPECT_NE(dom.find("id=\"load-status\" data-state=\"loaded\""), std::string::npos) << dom.substr(0, 4000);
  EXPECT_EQ(occurrences(dom, "data-loaded=\"yes\""), 4u);
  EXPECT_EQ(occurrences(dom, "data-loaded=\"no\""), 0u);
  EXPECT_NE(dom.find("<audio"), std::string::npos);
  EXPECT_NE(dom.find("<td>targets_reached</td>"), std::string::npos);

  const std::string shot = g_report + "/screenshot.png";
  run_chromium(exe, {"--hide-scrollbars", "--window-size=1280,1000", "--screenshot=" + shot});
  vesk_sim::RgbImage img;
  ASSERT_TRUE(vesk_sim::read_png(shot, img)) << "no screenshot";
  EXPECT_EQ(img.width, 1280);
  EXPECT_EQ(img.height, 1000);
  EXPECT_GT(vesk_sim::image_spread(img), 5.0);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ros::init(argc, argv, "rostest_demo");
  for (int i = 1; i < argc; ++i) {
    const std::string w = argv[i];
    if (w.compare(0, 7, "report=") == 0) g_report = w.substr(7);
  }
  // The voice of the simulated robot, as sim.launch would start it, with its console here.
  g_voice.reset(new vesk_test::ChildProcess(VOCALSYNTH_BIN, {"robot=vesk"}));
  const int result = RUN_ALL_TESTS();
  g_voice.reset();
  // A passing run's report is not needed afterwards; a failing one stays for a look.
  if (result == 0 && !g_report.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(g_report, ignored);
  }
  return result;
}
