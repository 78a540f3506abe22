#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "test_util.h"
#include "vesk_body/kc_chain.h"

namespace {

constexpr float kTol = 2e-6f;

// Every axis, non-zero translations and angles.
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

class ChainTest : public KinematicsTest {};

TEST_F(ChainTest, ParentConversions) {
  KC_LINK link;
  link.axis = AXIS_Z;
  link.angle = kPiF / 2.0f;
  link.translation = {1.0f, 2.0f, 3.0f};
  float3 p = {1.0f, 0.0f, 0.0f};
  kc_toParentAbs(&link, &p);  // rotate, then translate
  EXPECT_FLOAT3_NEAR(p, (float3{1.0f, 3.0f, 3.0f}), kTol);
  kc_fromParentAbs(&link, &p);
  EXPECT_FLOAT3_NEAR(p, (float3{1.0f, 0.0f, 0.0f}), kTol);
  kc_toParentRel(&link, &p);
  EXPECT_FLOAT3_NEAR(p, (float3{0.0f, 1.0f, 0.0f}), kTol);
  kc_fromParentRel(&link, &p);
  EXPECT_FLOAT3_NEAR(p, (float3{1.0f, 0.0f, 0.0f}), kTol);
}

TEST_F(ChainTest, FrameChangesRoundTripAndRelIgnoresTranslation) {
  KC_CHAIN c = make_chain();
  const float3 start = {0.05f, 0.12f, -0.08f};
  for (int a = -1; a < KC_NUM_LINKS; ++a) {
    for (int b = -1; b < KC_NUM_LINKS; ++b) {
      float3 p = start, v = start;
      kc_changeFrameAbs(&c, a, b, &p);
      kc_changeFrameAbs(&c, b, a, &p);
      EXPECT_FLOAT3_NEAR(p, start, kTol) << a << "->" << b;
      kc_changeFrameRel(&c, a, b, &v);
      kc_changeFrameRel(&c, b, a, &v);
      EXPECT_FLOAT3_NEAR(v, start, kTol) << a << "->" << b;
    }
  }
  float3 same = start;
  kc_changeFrameAbs(&c, 2, 2, &same);
  EXPECT_FLOAT3_EQ(same, start);

  float3 sum = {0.0f, 0.0f, 0.0f};
  for (KC_LINK& link : c.link) {
    link.angle = 0.0f;
    float3_add_unary(&sum, &link.translation);
  }
  float3 v = start, p = start;
  kc_changeFrameRel(&c, 4, -1, &v);
  EXPECT_FLOAT3_EQ(v, start);
  kc_changeFrameAbs(&c, 4, -1, &p);
  float3_subtract_unary(&p, &sum);
  EXPECT_FLOAT3_NEAR(p, start, kTol);
}

TEST_F(ChainTest, BadIndexFailsAfterPartialPath) {
  const KC_CHAIN c = make_chain();
  const float3 start = {0.1f, 0.2f, 0.3f};
  const struct {
    int from, to;  // the failing change
    int ok_to;     // the valid part of its path, applied before the failure
    bool relative;
  } cases[] = {{5, 0, 5, false}, {0, 5, 4, false}, {4, -2, -1, false}, {4, -2, -1, true}, {-3, 0, -3, true}};
  for (const auto& k : cases) {
    float3 p = start, expect = start;
    if (k.ok_to != k.from) (k.relative ? kc_changeFrameRel : kc_changeFrameAbs)(&c, k.from, k.ok_to, &expect);
    std::string out;
    const std::string what =
        failure_of([&] { (k.relative ? kc_changeFrameRel : kc_changeFrameAbs)(&c, k.from, k.to, &p); }, &out);
    EXPECT_EQ(what, "[kinemod] failed assert") << k.from << "->" << k.to;
    EXPECT_EQ(out, "\n[FAILED ASSERT] [kinemod] failed assert\n\n");
    EXPECT_FLOAT3_EQ(p, expect);
  }
}

TEST_F(ChainTest, NullRecordsAndInvalidAxisFail) {
  float3 p = {1.0f, 2.0f, 3.0f};
  for (auto fn : {kc_toParentAbs, kc_toParentRel, kc_fromParentAbs, kc_fromParentRel})
    EXPECT_EQ(failure_of([&] { fn(nullptr, &p); }), "[kinemod] failed assert");
  EXPECT_EQ(failure_of([&] { float3_rotate_fwd(&p, nullptr); }), "[kinemod] failed assert");
  EXPECT_EQ(failure_of([&] { float3_rotate_rev(&p, nullptr); }), "[kinemod] failed assert");
  EXPECT_EQ(failure_of([&] { kc_changeFrameAbs(nullptr, 4, -1, &p); }), "[kinemod] failed assert");
  EXPECT_FLOAT3_EQ(p, (float3{1.0f, 2.0f, 3.0f}));

  KC_CHAIN c = make_chain();
  c.link[2].axis = static_cast<axis_xyz>(7);
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
  kc_setAngle(link, std::nanf(""));  // NaN passes both comparisons
  EXPECT_TRUE(std::isnan(link->angle));
  link->angle_fixed = 0.3f;
  for (float a : {2.0f, -1.0f, 0.7f}) {
    kc_setAngle(link, a);
    EXPECT_EQ(link->angle, 0.3f);
  }

  // A limit of KC_ANGLE_NONE or NaN is none: the angle stays as set on that side.
  const struct {
    float min, max, low, high;  // limits; results of setting -123 and 123
  } limits[] = {{KC_ANGLE_NONE, KC_ANGLE_NONE, -123.0f, 123.0f},
                {KC_ANGLE_NONE, std::nanf(""), -123.0f, 123.0f},
                {std::nanf(""), 0.5f, -123.0f, 0.5f}};
  for (const auto& lim : limits) {
    KC_LINK* free_link = &c.link[3];
    kc_initLink(&c, free_link, "free", {0.0f, 0.0f, 0.0f}, 0.0f, AXIS_Z, lim.min, lim.max);
    kc_setAngle(free_link, -123.0f);
    EXPECT_EQ(free_link->angle, lim.low);
    kc_setAngle(free_link, 123.0f);
    EXPECT_EQ(free_link->angle, lim.high);
  }
}

TEST_F(ChainTest, InitLinkKeepsPoseOfInitialisedChain) {
  KC_CHAIN c;
  EXPECT_FALSE(c.initialised);
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
  EXPECT_FLOAT3_EQ(link->translation, (float3{1.0f, 2.0f, 3.0f}));
  EXPECT_EQ(link->angle, 0.5f);  // the kept angle, re-constrained

  c.pose_change = {1.0f, 2.0f};
  kc_zeroPoseChange(&c);
  EXPECT_EQ(c.pose_change.forward, 0.0f);
  EXPECT_EQ(c.pose_change.turn, 0.0f);
}

TEST_F(ChainTest, Dump) {
  KC_CHAIN c = make_chain();
  c.link[3].axis = static_cast<axis_xyz>(9);
  body_opt.log = 1;
  EXPECT_EQ(capture_stdout([&] { kc_dumpChain(&c); }), "");
  body_opt.log = 2;
  const std::string out = capture_stdout([&] { kc_dumpChain(&c); });
  std::ostringstream deg;
  deg << double(-0.3f * 57.29578f);
  for (const std::string& piece :
       {std::string("] ---- KC CHAIN \"test\" ------------------\n"),
        "] L0 [0.01,0,0.03] @ " + deg.str() + "deg ([", std::string("] Z["), std::string("] ?["),
        std::string("] )\n"), std::string("] --------------------------------\n")})
    EXPECT_TRUE(contains(out, piece)) << piece << "\n" << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 7);

  // A link without a name must not silence the console for good.
  KC_LINK unnamed;
  const std::string out2 = capture_stdout([&] {
    kc_dumpLink(&unnamed);
    std::cout << "still here" << std::endl;
  });
  EXPECT_TRUE(contains(out2, "(null) [0,0,0] @ 0deg (")) << out2;
  EXPECT_TRUE(contains(out2, "still here"));
}

}  // namespace
