// The demo's script and its report files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "vesk_sim/demo_script.h"
#include "vesk_sim/report.h"

namespace vesk_sim {
namespace {

TEST(DemoScript, SettlesThenPursuesTheTargetThenLooksAround) {
  DemoScript s(20.0, {Vec3(1.0, 1.0, 0.0), Vec3(-1.0, 0.0, 0.0)});
  const BasePose start;
  DemoCommand c = s.step(0.5, start);
  EXPECT_FALSE(c.push);
  EXPECT_EQ(s.phase(), DemoPhase::kSettle);

  c = s.step(1.0, start);
  ASSERT_TRUE(c.push);
  EXPECT_EQ(s.phase(), DemoPhase::kPursuit);
  EXPECT_EQ(c.link, kLinkHead);
  EXPECT_EQ(c.flags, kPushVelocity | kPushVecInFoot);
  EXPECT_NEAR(c.pushvec.norm(), DemoScript::kPushSpeed, 1e-9);
  EXPECT_EQ(c.pushvec.z, 0.0);
  EXPECT_GT(c.pushvec.x, 0.0);  // target ahead and to the left
  EXPECT_GT(c.pushvec.y, 0.0);

  // Facing away from the target, the push points backwards in the base frame.
  c = s.step(2.0, BasePose{0.0, 0.0, M_PI});
  EXPECT_LT(c.pushvec.x, 0.0);
  EXPECT_LT(c.pushvec.y, 0.0);

  // Close to the target the push slows down; on arrival the base is left alone for the
  // look-around time, even if it moves.
  c = s.step(2.5, BasePose{0.93, 0.93, M_PI / 4});
  EXPECT_EQ(s.phase(), DemoPhase::kPursuit);
  EXPECT_NEAR(c.pushvec.norm(), DemoScript::kPushSpeed * 0.07 * std::sqrt(2.0) / DemoScript::kSlowDown, 1e-9);
  EXPECT_GT(c.pushvec.x, 0.0);
  EXPECT_NEAR(c.pushvec.y, 0.0, 1e-9);  // facing the target: straight ahead
  c = s.step(3.0, BasePose{0.99, 0.99, 0.0});
  EXPECT_EQ(s.phase(), DemoPhase::kLookAround);
  EXPECT_TRUE(c.flags & kPushNoBase);
  EXPECT_EQ(c.target, 0);
  c = s.step(3.02, BasePose{0.0, 0.0, 0.0});
  EXPECT_EQ(s.phase(), DemoPhase::kLookAround);
  // Then the second target, behind the robot.
  c = s.step(3.0 + DemoScript::kLookTime, BasePose{0.99, 0.99, 0.0});
  EXPECT_EQ(s.phase(), DemoPhase::kPursuit);
  EXPECT_EQ(c.target, 1);
  EXPECT_LT(c.pushvec.x, 0.0);
  // After the last target the robot keeps looking around.
  s.step(6.0, BasePose{-0.99, 0.0, 0.0});
  c = s.step(9.0, BasePose{-0.99, 0.0, 0.0});
  EXPECT_EQ(s.phase(), DemoPhase::kLookAround);
  EXPECT_EQ(c.target, 1);
}

TEST(DemoScript, WakeRequestsAndCosmeticRanges) {
  DemoScript s(6.0, {Vec3(2.0, 0.0, 0.0)});
  int wakes = 0, early_or_late = 0, closed = 0, closed_late = 0;
  for (int tick = 0; tick < 300; ++tick) {
    const double t = tick * 0.02;
    const DemoCommand c = s.step(t, BasePose{});
    if (c.wake) {
      ++wakes;
      if (t < 1.0 || t >= 5.0) ++early_or_late;
    }
    for (float v : c.cosmetic) {
      EXPECT_GE(v, 0.0f);
      EXPECT_LE(v, 1.0f);
    }
    // Message order: the eyelids are values 2 and 3; they blink, and are open at the end.
    EXPECT_EQ(c.cosmetic[2], c.cosmetic[3]);
    if (c.cosmetic[2] > 0.5f) {
      ++closed;
      if (t >= 5.0) ++closed_late;
    }
  }
  EXPECT_GT(closed, 0);
  EXPECT_EQ(closed_late, 0);
  EXPECT_EQ(early_or_late, 0);
  EXPECT_EQ(wakes, 40);  // every fifth tick of 4 s
}

std::string temp_path(const char* name) {
  return "/tmp/vesk_sim_test_" + std::to_string(::getpid()) + "_" + name;
}

TEST(ReportFiles, PngRoundTrip) {
  RgbImage img;
  img.width = 7;
  img.height = 3;
  for (int i = 0; i < 7 * 3 * 3; ++i) img.rgb.push_back(static_cast<uint8_t>(i * 5));
  const std::string path = temp_path("a.png");
  ASSERT_TRUE(write_png(path, img));
  RgbImage back;
  ASSERT_TRUE(read_png(path, back));
  EXPECT_EQ(back.width, 7);
  EXPECT_EQ(back.height, 3);
  EXPECT_EQ(back.rgb, img.rgb);
  std::remove(path.c_str());
  EXPECT_FALSE(write_png(path, RgbImage{}));               // nothing to write
  EXPECT_FALSE(write_png("/nonexistent/dir/x.png", img));  // cannot write
}

TEST(ReportFiles, WavRoundTripKeepsRateAndSamples) {
  std::vector<int16_t> samples;
  for (int i = 0; i < 800; ++i) samples.push_back(static_cast<int16_t>(10000 * std::sin(i * 0.1)));
  const std::string path = temp_path("a.wav");
  ASSERT_TRUE(write_wav(path, samples, 8000));
  std::vector<int16_t> back;
  int rate = 0;
  ASSERT_TRUE(read_wav(path, back, rate));
  EXPECT_EQ(rate, 8000);
  EXPECT_EQ(back, samples);
  EXPECT_NEAR(rms(back), 10000 / std::sqrt(2.0), 100);
  std::remove(path.c_str());
}

TEST(ReportFigures, SpreadRmsAndPathLength) {
  RgbImage flat{4, 4, std::vector<uint8_t>(48, 77)};
  EXPECT_EQ(image_spread(flat), 0.0);
  flat.rgb[0] = 255;
  EXPECT_GT(image_spread(flat), 0.0);
  EXPECT_EQ(rms({}), 0.0);
  EXPECT_NEAR(path_length({{0, 0, 0}, {3, 4, 0}, {3, 5, 1}}), 6.0, 1e-12);
}

TEST(ReportPage, ShowsTheFilesBesideItEscapesTextAndNeedsNoNetwork) {
  ReportPage p;
  p.title = "robot <b>\"x\"</b> & co";
  p.plot = "trajectory.png";
  p.eye_left = "caml.png";
  p.eye_right = "";  // missing snapshot
  p.audio = "voice.wav";
  p.summary = {{"targets_reached", "2 of 2"}, {"note", "<script>alert(1)</script>"}};
  const std::string html = report_html(p);
  EXPECT_NE(html.find("<title>robot &lt;b&gt;&quot;x&quot;&lt;/b&gt; &amp; co</title>"), std::string::npos);
  EXPECT_NE(html.find("src=\"trajectory.png\" data-file=\"trajectory.png\""), std::string::npos);
  EXPECT_NE(html.find("src=\"caml.png\""), std::string::npos);
  EXPECT_NE(html.find("(no right eye)"), std::string::npos);
  EXPECT_NE(html.find("<audio controls preload=\"auto\" src=\"voice.wav\" data-file=\"voice.wav\">"),
            std::string::npos);
  EXPECT_NE(html.find("<td>targets_reached</td><td class=\"value\">2 of 2</td>"), std::string::npos);
  EXPECT_EQ(html.find("<script>alert"), std::string::npos);
  EXPECT_EQ(html.find("http"), std::string::npos);  // nothing fetched from a network
  EXPECT_EQ(html.find("//"), std::string::npos);
}

}  // namespace
}  // namespace vesk_sim
