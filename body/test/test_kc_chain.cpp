#include <cmath>
#include <sstream>
#include <stdexcept>

#include "test_util.h"
#include "vesk_body/kc_chain.h"

namespace {

constexpr float kTol = 2e-6f;

// A chain with every axis, non-zero translations and angles.
KC_CHAIN make_chain() {
  KC_CHAIN c;
  c.name = "test";
  const axis_xyz axes[KC_NUM_LINKS] = {AXIS_Z, AXIS_Y, AXIS_X, AXIS_Z, AXIS_Y};
  const char* names[KC_NUM_LINKS] = {"L0", "L1", "L2", "L3", "L4"};
  for (int i = 0; i < KC_NUM_LINKS; ++i) {
    const float3 t = {0.01f * (i + 1), 0.02f * i, 0.03f + 0.01f * i};
    kc_initLink(&c, &c.link[i], names[i], t, 0.2f * (i + 1) - 0.5f, axes[i], KC_ANGLE_NONE, KC_ANGLE_NONE);
  }
  c.initialised = true;
  return c;
}

std::string failure_of(const std::function<void()>& fn, std::string* out) {
  std::string what;
  *out = capture_stdout([&] {
    try {
      fn();
    } catch (const std::runtime_error& e) {
      what = e.what();
    }
  });
  return what;
}

class ChainTest : public KinematicsTest {};

TEST_F(ChainTest, ParentConversionsRoundTrip) {
  const KC_CHAIN c = make_chain();
  for (const KC_LINK& link : c.link) {
    const float3 start = {0.11f, -0.23f, 0.37f};
    float3 p = start;
    kc_toParentAbs(&link, &p);
    kc_fromParentAbs(&link, &p);
    EXPECT_FLOAT3_NEAR(p, start, kTol);
    float3 v = start;
    kc_toParentRel(&link, &v);
    kc_fromParentRel(&link, &v);
    EXPECT_FLOAT3_NEAR(v, start, kTol);
  }
}

TEST_F(ChainTest, ToParentRotatesThenTranslates) {
  KC_LINK link;
  link.axis = AXIS_Z;
  link.angle = kPiF / 2.0f;
  link.translation = {1.0f, 2.0f, 3.0f};
  float3 p = {1.0f, 0.0f, 0.0f};
  kc_toParentAbs(&link, &p);
  EXPECT_FLOAT3_NEAR(p, (float3{1.0f, 3.0f, 3.0f}), kTol);
  float3 v = {1.0f, 0.0f, 0.0f};
  kc_toParentRel(&link, &v);
  EXPECT_FLOAT3_NEAR(v, (float3{0.0f, 1.0f, 0.0f}), kTol);
  float3 q = {1.0f, 3.0f, 3.0f};
  kc_fromParentAbs(&link, &q);
  EXPECT_FLOAT3_NEAR(q, (float3{1.0f, 0.0f, 0.0f}), kTol);
}

TEST_F(ChainTest, FrameChangesRoundTripBetweenAllFrames) {
  const KC_CHAIN c = make_chain();
  for (int a = -1; a < KC_NUM_LINKS; ++a) {
    for (int b = -1; b < KC_NUM_LINKS; ++b) {
      const float3 start = {0.05f, 0.12f, -0.08f};
      float3 p = start, v = start;
      kc_changeFrameAbs(&c, a, b, &p);
      kc_changeFrameAbs(&c, b, a, &p);
      EXPECT_FLOAT3_NEAR(p, start, kTol) << a << "->" << b;
      kc_changeFrameRel(&c, a, b, &v);
      kc_changeFrameRel(&c, b, a, &v);
      EXPECT_FLOAT3_NEAR(v, start, kTol) << a << "->" << b;
    }
  }
}

TEST_F(ChainTest, FrameChangeComposesLinkByLink) {
  const KC_CHAIN c = make_chain();
  float3 whole = {0.1f, 0.2f, 0.3f};
  float3 steps = whole;
  kc_changeFrameAbs(&c, 4, -1, &whole);
  for (int i = 4; i >= 0; --i) kc_toParentAbs(&c.link[i], &steps);
  EXPECT_FLOAT3_EQ(whole, steps);
}

TEST_F(ChainTest, RelIgnoresTranslationsAbsAddsThem) {
  KC_CHAIN c = make_chain();
  float3 sum = {0.0f, 0.0f, 0.0f};
  for (KC_LINK& link : c.link) {
    link.angle = 0.0f;
    float3_add_unary(&sum, &link.translation);
  }
  const float3 d = {0.3f, -0.4f, 0.5f};
  float3 v = d;
  kc_changeFrameRel(&c, 4, -1, &v);
  EXPECT_FLOAT3_EQ(v, d);
  float3 p = d;
  kc_changeFrameAbs(&c, 4, -1, &p);
  float3 expect = d;
  float3_add_unary(&expect, &sum);
  EXPECT_FLOAT3_NEAR(p, expect, kTol);
}

TEST_F(ChainTest, SameFrameLeavesPoint) {
  const KC_CHAIN c = make_chain();
  float3 p = {0.1f, 0.2f, 0.3f};
  kc_changeFrameAbs(&c, 2, 2, &p);
  EXPECT_FLOAT3_EQ(p, (float3{0.1f, 0.2f, 0.3f}));
  kc_changeFrameRel(&c, -1, -1, &p);
  EXPECT_FLOAT3_EQ(p, (float3{0.1f, 0.2f, 0.3f}));
}

TEST_F(ChainTest, BadFrameIndexFailsAfterPartialPath) {
  const KC_CHAIN c = make_chain();
  const float3 start = {0.1f, 0.2f, 0.3f};
  std::string out;

  // 5 -> 0: fails before touching the point.
  float3 p = start;
  EXPECT_EQ(failure_of([&] { kc_changeFrameAbs(&c, 5, 0, &p); }, &out), "[kinemod] failed assert");
  EXPECT_EQ(out, "\n[FAILED ASSERT] [kinemod] failed assert\n\n");
  EXPECT_FLOAT3_EQ(p, start);

  // 0 -> 5: links 1 to 4 have been applied.
  p = start;
  float3 expect = start;
  kc_changeFrameAbs(&c, 0, 4, &expect);
  EXPECT_EQ(failure_of([&] { kc_changeFrameAbs(&c, 0, 5, &p); }, &out), "[kinemod] failed assert");
  EXPECT_FLOAT3_EQ(p, expect);

  // 4 -> -2: links 4 to 0 have been applied.
  p = start;
  expect = start;
  kc_changeFrameAbs(&c, 4, -1, &expect);
  EXPECT_EQ(failure_of([&] { kc_changeFrameAbs(&c, 4, -2, &p); }, &out), "[kinemod] failed assert");
  EXPECT_FLOAT3_EQ(p, expect);

  // The same for directions.
  p = start;
  expect = start;
  kc_changeFrameRel(&c, 4, -1, &expect);
  EXPECT_EQ(failure_of([&] { kc_changeFrameRel(&c, 4, -2, &p); }, &out), "[kinemod] failed assert");
  EXPECT_FLOAT3_EQ(p, expect);
  p = start;
  EXPECT_EQ(failure_of([&] { kc_changeFrameRel(&c, -3, 0, &p); }, &out), "[kinemod] failed assert");
  EXPECT_FLOAT3_EQ(p, start);
}

TEST_F(ChainTest, NullChainOrLinkIsFailedAssert) {
  float3 p = {1.0f, 2.0f, 3.0f};
  std::string out;
  EXPECT_EQ(failure_of([&] { kc_changeFrameAbs(nullptr, 4, -1, &p); }, &out), "[kinemod] failed assert");
  EXPECT_EQ(failure_of([&] { kc_changeFrameRel(nullptr, 0, 1, &p); }, &out), "[kinemod] failed assert");
  EXPECT_EQ(failure_of([&] { kc_toParentAbs(nullptr, &p); }, &out), "[kinemod] failed assert");
  EXPECT_EQ(failure_of([&] { kc_toParentRel(nullptr, &p); }, &out), "[kinemod] failed assert");
  EXPECT_EQ(failure_of([&] { kc_fromParentAbs(nullptr, &p); }, &out), "[kinemod] failed assert");
  EXPECT_EQ(failure_of([&] { kc_fromParentRel(nullptr, &p); }, &out), "[kinemod] failed assert");
  EXPECT_EQ(failure_of([&] { float3_rotate_fwd(&p, nullptr); }, &out), "[kinemod] failed assert");
  EXPECT_EQ(failure_of([&] { float3_rotate_rev(&p, nullptr); }, &out), "[kinemod] failed assert");
  EXPECT_EQ(out, "\n[FAILED ASSERT] [kinemod] failed assert\n\n");
  EXPECT_FLOAT3_EQ(p, (float3{1.0f, 2.0f, 3.0f}));
}

TEST_F(ChainTest, InvalidAxisInLinkFailsInRotation) {
  KC_CHAIN c = make_chain();
  c.link[2].axis = static_cast<axis_xyz>(7);
  float3 p = {0.1f, 0.2f, 0.3f};
  std::string out;
  EXPECT_EQ(failure_of([&] { kc_changeFrameAbs(&c, 4, -1, &p); }, &out), "unrecognised axis");
  EXPECT_EQ(out, "[ERROR] unrecognised axis\n");
}

TEST_F(ChainTest, LimitsAndFixedAngle) {
  KC_CHAIN c;
  KC_LINK* link = &c.link[2];
  kc_initLink(&c, link, "lift", {0.0f, 0.0f, 0.0f}, 0.5f, AXIS_Y, 0.14f, 1.05f);
  kc_setAngle(link, 2.0f);
  EXPECT_EQ(link->angle, 1.05f);
  kc_setAngle(link, -1.0f);
  EXPECT_EQ(link->angle, 0.14f);
  kc_setAngle(link, 0.7f);
  EXPECT_EQ(link->angle, 0.7f);

  KC_LINK* free_link = &c.link[3];
  kc_initLink(&c, free_link, "free", {0.0f, 0.0f, 0.0f}, 0.0f, AXIS_Z, KC_ANGLE_NONE, KC_ANGLE_NONE);
  kc_setAngle(free_link, 123.0f);
  EXPECT_EQ(free_link->angle, 123.0f);
  kc_setAngle(free_link, -45.0f);
  EXPECT_EQ(free_link->angle, -45.0f);

  // A NaN limit counts as none.
  free_link->angle_max = std::nanf("");
  kc_setAngle(free_link, 5.0f);
  EXPECT_EQ(free_link->angle, 5.0f);

  link->angle_fixed = 0.3f;
  for (float a : {2.0f, -1.0f, 0.7f}) {
    kc_setAngle(link, a);
    EXPECT_EQ(link->angle, 0.3f);
  }

  // A NaN angle passes both comparisons.
  link->angle_fixed = KC_ANGLE_NONE;
  kc_setAngle(link, std::nanf(""));
  EXPECT_TRUE(std::isnan(link->angle));
}

TEST_F(ChainTest, InitLinkConstrainsAndRespectsInitialised) {
  KC_CHAIN c;
  EXPECT_FALSE(c.initialised);
  EXPECT_EQ(c.pose_change.forward, 0.0f);
  EXPECT_EQ(c.pose_change.turn, 0.0f);
  KC_LINK* link = &c.link[1];
  link->angle_fixed = 0.2f;
  kc_initLink(&c, link, "A", {1.0f, 2.0f, 3.0f}, 2.0f, AXIS_X, -1.0f, 1.0f);
  EXPECT_EQ(link->angle, 1.0f);  // brought inside the limits
  EXPECT_EQ(link->angle_fixed, KC_ANGLE_NONE);
  EXPECT_FLOAT3_EQ(link->translation, (float3{1.0f, 2.0f, 3.0f}));

  c.initialised = true;
  link->angle = 0.9f;
  kc_initLink(&c, link, "B", {9.0f, 9.0f, 9.0f}, -0.9f, AXIS_Z, -0.5f, 0.5f);
  EXPECT_STREQ(link->name, "B");
  EXPECT_EQ(link->axis, AXIS_Z);
  EXPECT_EQ(link->angle_min, -0.5f);
  EXPECT_EQ(link->angle_max, 0.5f);
  EXPECT_FLOAT3_EQ(link->translation, (float3{1.0f, 2.0f, 3.0f}));
  EXPECT_EQ(link->angle, 0.5f);  // the kept angle, re-constrained

  c.pose_change = {1.0f, 2.0f};
  kc_zeroPoseChange(&c);
  EXPECT_EQ(c.pose_change.forward, 0.0f);
  EXPECT_EQ(c.pose_change.turn, 0.0f);
}

TEST_F(ChainTest, DumpFormatAndLogLevel) {
  KC_CHAIN c = make_chain();
  c.link[3].axis = static_cast<axis_xyz>(9);
  body_opt.log = 1;
  EXPECT_EQ(capture_stdout([&] { kc_dumpChain(&c); }), "");
  body_opt.log = 2;
  const std::string out = capture_stdout([&] { kc_dumpChain(&c); });
  EXPECT_TRUE(contains(out, "] ---- KC CHAIN \"test\" ------------------\n")) << out;
  EXPECT_TRUE(contains(out, "] --------------------------------\n")) << out;
  // First link: translation (0.01, 0, 0.03), angle -0.3 rad.
  std::ostringstream deg;
  deg << double(-0.3f * 57.29578f);
  EXPECT_TRUE(contains(out, "] L0 [0.01,0,0.03] @ " + deg.str() + "deg (")) << out;
  EXPECT_TRUE(contains(out, "] Z[")) << out;
  EXPECT_TRUE(contains(out, "] ?[")) << out;
  EXPECT_TRUE(contains(out, "] )\n")) << out;
  size_t lines = 0;
  for (char ch : out) lines += ch == '\n';
  EXPECT_EQ(lines, 7u);
  EXPECT_LT(out.find("L0 ["), out.find("L4 ["));
}

TEST_F(ChainTest, DumpOfUnnamedLinkKeepsConsoleWorking) {
  KC_LINK link;
  const std::string out = capture_stdout([&] {
    kc_dumpLink(&link);
    std::cout << "still here" << std::endl;
  });
  EXPECT_TRUE(contains(out, "(null) [0,0,0] @ 0deg (")) << out;
  EXPECT_TRUE(contains(out, "still here")) << out;
  EXPECT_TRUE(std::cout.good());
}

}  // namespace
