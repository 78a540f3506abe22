#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "test_util.h"
#include "vesk_body/body_model.h"
#include "vesk_body/kc_push.h"

namespace {

constexpr float kTol = 2e-6f;
constexpr uint32_t kDisp = KC_PUSH_FLAG_DISPLACEMENT;

// Five free, unlimited links about z at the origin: every frame is the world.
KC_CHAIN flat_chain() {
  KC_CHAIN c;
  for (KC_LINK& link : c.link)
    kc_initLink(&c, &link, "Z", {0.0f, 0.0f, 0.0f}, 0.0f, AXIS_Z, KC_ANGLE_NONE, KC_ANGLE_NONE);
  return c;
}

KC_CHAIN body_chain() {
  KC_CHAIN c;
  body_initChain(&c, "motor");
  return c;
}

void expect_same_chain(const KC_CHAIN& a, const KC_CHAIN& b) {
  for (int i = 0; i < KC_NUM_LINKS; ++i) EXPECT_EQ(a.link[i].angle, b.link[i].angle) << "link " << i;
  EXPECT_EQ(a.pose_change.forward, b.pose_change.forward);
  EXPECT_EQ(a.pose_change.turn, b.pose_change.turn);
}

const KC_PUSH_DEBUG kUntouched = {{7, 7, 7}, {7, 7, 7}, {7, 7, 7}};

class PushTest : public KinematicsTest {};

TEST_F(PushTest, OneJoint) {
  // On its own circle: a quarter turn about each axis, nothing left over.
  const struct {
    axis_xyz axis;
    float3 p, target;
  } circle[] = {{AXIS_X, {0, 0.1f, 0}, {0, 0, 0.1f}},
                {AXIS_Y, {0, 0, 0.1f}, {0.1f, 0, 0}},
                {AXIS_Z, {0.1f, 0, 0}, {0, 0.1f, 0}}};
  for (const auto& c : circle) {
    KC_LINK link;
    link.axis = c.axis;
    float3 p = c.p, v = c.target;
    float3_subtract_unary(&v, &c.p);
    kc_applyPush_link(&link, &p, &v);
    EXPECT_NEAR(link.angle, kPiF / 2.0f, kTol) << c.axis;
    EXPECT_FLOAT3_NEAR(p, c.target, kTol);
    EXPECT_FLOAT3_NEAR(v, (float3{0, 0, 0}), kTol);
  }

  // Off the circle: an eighth turn, the radial rest passed on.
  KC_LINK link;
  float3 p = {0.1f, 0.0f, 0.0f}, v = {0.0f, 0.1f, 0.0f};
  kc_applyPush_link(&link, &p, &v);
  EXPECT_NEAR(link.angle, kPiF / 4.0f, kTol);
  const float r = 0.1f - 0.1f * std::sqrt(0.5f);
  EXPECT_FLOAT3_NEAR(v, (float3{r, r, 0.0f}), kTol);

  // At its upper limit: nothing delivered, all passed on (in the parent frame).
  KC_LINK stuck;
  stuck.angle = stuck.angle_max = 0.2f;
  p = {0.1f, 0.0f, 0.0f};
  v = {-0.1f, 0.1f, 0.0f};
  float3 expect = v;
  float3_rotate(&expect, AXIS_Z, 0.2f);
  kc_applyPush_link(&stuck, &p, &v);
  EXPECT_EQ(stuck.angle, 0.2f);
  EXPECT_FLOAT3_NEAR(v, expect, kTol);

  // A fixed angle is approached by a tenth per push, limits or not.
  KC_LINK fixed;
  fixed.angle_fixed = 0.5f;
  fixed.angle_max = 0.01f;
  kc_applyPush_link(&fixed, &p, &v);
  EXPECT_NEAR(fixed.angle, 0.05f, 1e-7f);
}

TEST_F(PushTest, TraceAtFullLogLevel) {
  KC_LINK link;
  link.name = "HEAD";
  float3 p = {0.1f, 0.0f, 0.0f}, v = {0.0f, 0.1f, 0.0f};
  body_opt.log = 3;
  EXPECT_EQ(capture_stdout([&] { kc_applyPush_link(&link, &p, &v); }), "");
  link.angle = 0.0f;
  p = {0.1f, 0.0f, 0.0f};
  v = {0.0f, 0.1f, 0.0f};
  body_opt.log = 4;
  const std::string out = capture_stdout([&] { kc_applyPush_link(&link, &p, &v); });
  ASSERT_EQ(out.rfind("\n--- push frame \"HEAD\" ---\n\n", 0), 0u) << out;
  std::string labels;
  std::istringstream in(out.substr(out.find("---\n\n") + 5));
  for (std::string line; std::getline(in, line);) labels += line.substr(10, line.find(':') - 10) + " ";
  EXPECT_EQ(labels,
            "pushpos_i pushvec pushpos_i pushpos_f angle_delta angle_delta pushvec_act pushvec pushvec "
            "pushpos_i pushpos_i ");
  EXPECT_TRUE(contains(out, "] pushpos_i: [0.1, 0, 0]\n")) << out;
}

TEST_F(PushTest, BaseStageA) {
  const float nan = std::nanf("");
  const struct {
    float3 p, v;
    float forward, turn;
  } cases[] = {
      {{0.1f, 0, 0}, {0.05f, 0, 0}, 0.05f, 0.0f},                          // straight ahead
      {{0.1f, 0, 0}, {0, 0.1f, 0}, std::sqrt(0.02f) - 0.1f, kPiF / 4.0f},  // forward, then turn
      {{0.1f, 0.05f, 0.3f}, {0, 0, 0}, 0.0f, 0.0f},                        // zero vector, ahead
      {{-0.1f, 0, 0}, {0, 0, 0}, 0.2f, kPiF},                              // zero vector, behind
      {{-0.1f, 0, 0}, {0, 0.01f, 0}, std::sqrt(0.0101f) + 0.1f, std::atan2(0.01f, -0.1f)},  // behind
      {{0.1f, 0.1f, 0}, {-0.2f, -0.11f, 0}, nan, std::atan2(-0.01f, -0.1f) - std::atan2(0.1f, 0.01f)},
  };
  for (const auto& c : cases) {
    KC_CHAIN chain = flat_chain();
    KC_PUSH push = make_push(0, kDisp, c.p, c.v);
    KC_PUSH_DEBUG dbg;
    kc_applyPush(&chain, &push, &dbg);
    if (!std::isnan(c.forward)) {
      EXPECT_NEAR(chain.pose_change.forward, c.forward, kTol);
    }
    EXPECT_NEAR(chain.pose_change.turn, c.turn, 1e-5f);
    EXPECT_FLOAT3_EQ(dbg.pushpos_i, c.p);
    EXPECT_FLOAT3_EQ(dbg.pushvec, c.v);
    EXPECT_FLOAT3_EQ(dbg.pushpos_f, (float3{c.p.x + c.v.x, c.p.y + c.v.y, c.p.z + c.v.z}));
    kc_applyPush(&chain, &push, nullptr);  // pushes add up
    EXPECT_NEAR(chain.pose_change.turn, 2.0f * c.turn, 2e-5f);
  }
}

TEST_F(PushTest, XSqNegativeWarnsAndJointTurnStands) {
  KC_CHAIN c = flat_chain();
  KC_PUSH push = make_push(0, kDisp, {0.0f, 0.2f, 0.0f}, {0.0f, -0.15f, 0.0f});
  const std::string out = capture_stdout([&] { kc_applyPush(&c, &push, nullptr); });
  EXPECT_TRUE(contains(out, "] **** WARNING **** \n\tx_sq negative\n")) << out;
  EXPECT_EQ(c.pose_change.forward, 0.0f);
  EXPECT_EQ(c.pose_change.turn, 0.0f);

  push.link = 1;
  push.pushvec.x = 0.02f;
  body_opt.log = 0;
  EXPECT_EQ(capture_stdout([&] { kc_applyPush(&c, &push, nullptr); }), "");
  EXPECT_NE(c.link[1].angle, 0.0f);
  EXPECT_EQ(c.pose_change.turn, 0.0f);
}

TEST_F(PushTest, BaseStageBTurnsInHeadFrame) {
  const float3 p = {0.1f, 0.02f, 0.0f}, v = {0.0f, 0.03f, 0.01f};
  // Without the joint stage p stays in the pushed link's frame, and is still
  // carried "from frame 0" into frame 4.
  for (int link : {0, 4}) {
    KC_CHAIN c = body_chain();
    const KC_CHAIN before = c;
    KC_PUSH push = make_push(link, kDisp | KC_PUSH_FLAG_TURN_ONLY | KC_PUSH_FLAG_NO_JOINTS, p, v);
    KC_PUSH_DEBUG dbg;
    kc_applyPush(&c, &push, &dbg);
    float3 p4 = p, v4 = v;
    kc_changeFrameAbs(&before, 0, 4, &p4);
    kc_changeFrameRel(&before, 0, 4, &v4);
    EXPECT_FLOAT3_NEAR(dbg.pushpos_i, p4, kTol);
    EXPECT_FLOAT3_NEAR(dbg.pushvec, v4, kTol);
    EXPECT_EQ(c.pose_change.forward, 0.0f);
    EXPECT_NEAR(c.pose_change.turn, std::atan2(p4.y + v4.y, p4.x + v4.x) - std::atan2(p4.y, p4.x), kTol);
  }
  // The turn is not wrapped.
  KC_CHAIN flat = flat_chain();
  KC_PUSH back = make_push(0, kDisp | KC_PUSH_FLAG_TURN_ONLY, {-1.0f, 0.1f, 0.0f}, {0.0f, -0.2f, 0.0f});
  kc_applyPush(&flat, &back, nullptr);
  EXPECT_LT(flat.pose_change.turn, -kPiF);
}

TEST_F(PushTest, VectorModesAndStageFlags) {
  // A velocity is a displacement of one push period.
  KC_CHAIN a = body_chain(), b = body_chain();
  KC_PUSH vel = make_push(4, KC_PUSH_FLAG_VELOCITY | kDisp, {0.1f, 0, 0}, {1.0f, 2.0f, 3.0f});
  KC_PUSH disp = make_push(4, kDisp, {0.1f, 0, 0}, {1.0f * 0.02f, 2.0f * 0.02f, 3.0f * 0.02f});
  kc_applyPush(&a, &vel, nullptr);
  kc_applyPush(&b, &disp, nullptr);
  expect_same_chain(a, b);
  EXPECT_NE(a.link[2].angle, TICK_D_DEFAULT_LIFT);

  // Neither mode: nothing moves (a NaN in the unused vector is harmless).
  const KC_CHAIN rest = body_chain();
  KC_CHAIN c = rest;
  KC_PUSH none = make_push(4, KC_PUSH_FLAG_DEFER, {0.1f, 0, 0}, {std::nanf(""), 2.0f, 3.0f});
  kc_applyPush(&c, &none, nullptr);
  for (int i = 0; i < KC_NUM_LINKS; ++i) EXPECT_EQ(c.link[i].angle, rest.link[i].angle);
  EXPECT_NEAR(c.pose_change.forward, 0.0f, kTol);
  EXPECT_NEAR(c.pose_change.turn, 0.0f, kTol);

  // No base and no joints: nothing at all, debug record untouched.
  KC_PUSH_DEBUG dbg = kUntouched;
  KC_PUSH neither =
      make_push(4, kDisp | KC_PUSH_FLAG_NO_BASE | KC_PUSH_FLAG_NO_JOINTS, {0.1f, 0, 0}, {0, 0.05f, 0});
  kc_applyPush(&c, &neither, &dbg);
  expect_same_chain(c, rest);
  neither.flags &= ~KC_PUSH_FLAG_NO_JOINTS;  // joints only
  kc_applyPush(&c, &neither, &dbg);
  EXPECT_NE(c.link[3].angle, 0.0f);
  EXPECT_EQ(c.pose_change.turn, 0.0f);
  EXPECT_FLOAT3_EQ(dbg.pushpos_f, kUntouched.pushpos_f);

  // The vector given in the FOOT frame is the same push as in the HEAD frame.
  KC_CHAIN d = body_chain(), e = body_chain();
  const float3 v0 = {0.01f, 0.02f, -0.01f};
  float3 v4 = v0;
  kc_changeFrameRel(&d, 0, 4, &v4);
  ASSERT_GT(std::fabs(v4.z - v0.z), 1e-4f);
  KC_PUSH in_foot = make_push(4, kDisp | KC_PUSH_FLAG_VEC_IN_FOOT, {0.1f, 0, 0}, v0);
  KC_PUSH in_head = make_push(4, kDisp, {0.1f, 0, 0}, v4);
  kc_applyPush(&d, &in_foot, nullptr);
  kc_applyPush(&e, &in_head, nullptr);
  expect_same_chain(d, e);
}

TEST_F(PushTest, RefusedPushesChangeNothing) {
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    KC_PUSH push;
    const char* warning;
  } cases[] = {
      {make_push(5, kDisp, {0.1f, 0, 0}, {0, 0.05f, 0}), "pushlink link index out of range"},
      {make_push(-1, kDisp, {0.1f, 0, 0}, {0, 0.05f, 0}), "pushlink link index out of range"},
      {make_push(4, kDisp, {std::nanf(""), 0, 0}, {0, 0.05f, 0}), "push not finite or too large"},
      {make_push(0, kDisp, {0.1f, 0, 0}, {0, 0, -inf}), "push not finite or too large"},
      {make_push(4, kDisp, {0.1f, 0, 0}, {3.0e38f, 3.0e38f, 0}), "push not finite or too large"},
      {make_push(0, kDisp, {2.0e6f, 0, 0}, {0, 0, 0}), "push not finite or too large"},
      {make_push(4, KC_PUSH_FLAG_VELOCITY, {0.1f, 0, 0}, {0, 1.0e9f, 0}), "push not finite or too large"},
  };
  for (const auto& c : cases) {
    KC_CHAIN chain = body_chain();
    const KC_CHAIN before = chain;
    KC_PUSH_DEBUG dbg = kUntouched;
    body_opt.log = 1;
    const std::string out = capture_stdout([&] { kc_applyPush(&chain, &c.push, &dbg); });
    EXPECT_TRUE(contains(out, std::string("] **** WARNING **** \n\t") + c.warning + "\n")) << out;
    expect_same_chain(chain, before);
    EXPECT_FLOAT3_EQ(dbg.pushpos_i, kUntouched.pushpos_i);
    body_opt.log = 0;
    EXPECT_EQ(capture_stdout([&] { kc_applyPush(&chain, &c.push, &dbg); }), "");
  }

  // Large but accepted pushes leave everything finite and within limits.
  KC_CHAIN chain = body_chain();
  for (float big : {1.0e3f, -9.0e5f}) {
    KC_PUSH push = make_push(4, kDisp, {big, -big, big}, {big, big, -big});
    kc_applyPush(&chain, &push, nullptr);
    for (const KC_LINK& link : chain.link) EXPECT_TRUE(std::isfinite(link.angle));
    EXPECT_TRUE(std::isfinite(chain.pose_change.forward) && std::isfinite(chain.pose_change.turn));
  }
  EXPECT_LE(chain.link[2].angle, BODY_LIFT_MAX_RAD);
}

TEST_F(PushTest, InvalidAxisRaisesAfterUpperJointsMoved) {
  KC_CHAIN c = flat_chain();
  c.link[3].axis = static_cast<axis_xyz>(0);
  KC_PUSH push = make_push(4, kDisp, {0.1f, 0.0f, 0.0f}, {0.0f, 0.1f, 0.0f});
  EXPECT_EQ(failure_of([&] { kc_applyPush(&c, &push, nullptr); }), "unrecognised axis");
  EXPECT_NEAR(c.link[4].angle, kPiF / 4.0f, kTol);
  EXPECT_EQ(c.link[2].angle, 0.0f);
  // Also on a joint held by equal limits (which skips its bearing).
  KC_CHAIN b = body_chain();
  b.link[1].axis = static_cast<axis_xyz>(5);
  EXPECT_EQ(failure_of([&] { kc_applyPush(&b, &push, nullptr); }), "unrecognised axis");
}

TEST_F(PushTest, PinnedJointShortcutMatchesFullComputation) {
  // With the trace on every joint measures its bearing change; with it off a
  // joint held by equal limits skips that. The results must be the same.
  KC_CHAIN quiet = body_chain(), traced = body_chain();
  const KC_PUSH pushes[] = {
      make_push(4, KC_PUSH_FLAG_VELOCITY, {0.1f, 0, 0}, {0, 0.2f, 0}),
      make_push(2, kDisp, {0.05f, 0.01f, 0.05f}, {0.02f, -0.01f, 0.03f}),
      make_push(1, kDisp, {0.02f, 0, 0.1f}, {0.03f, 0, 0}),
  };
  for (const KC_PUSH& push : pushes) {
    body_opt.log = 0;
    kc_applyPush(&quiet, &push, nullptr);
    body_opt.log = 4;
    capture_stdout([&] { kc_applyPush(&traced, &push, nullptr); });
    expect_same_chain(quiet, traced);
  }
  EXPECT_EQ(quiet.link[1].angle, TICK_D_DEFAULT_TILT);
}

}  // namespace
