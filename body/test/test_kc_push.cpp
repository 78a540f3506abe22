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

// Five free, unlimited links about z at the origin: every frame is the world.
KC_CHAIN flat_chain() {
  KC_CHAIN c;
  for (KC_LINK& link : c.link)
    kc_initLink(&c, &link, "Z", {0.0f, 0.0f, 0.0f}, 0.0f, AXIS_Z, KC_ANGLE_NONE, KC_ANGLE_NONE);
  c.initialised = true;
  return c;
}

KC_CHAIN body_chain() {
  KC_CHAIN c;
  body_initChain(&c, "motor");
  return c;
}

KC_PUSH make_push(int link, uint32_t flags, float3 pos, float3 vec) {
  KC_PUSH p;
  p.link = link;
  p.flags = flags;
  p.pushpos = pos;
  p.pushvec = vec;
  return p;
}

void expect_same_chain(const KC_CHAIN& a, const KC_CHAIN& b) {
  for (int i = 0; i < KC_NUM_LINKS; ++i) EXPECT_EQ(a.link[i].angle, b.link[i].angle) << "link " << i;
  EXPECT_EQ(a.pose_change.forward, b.pose_change.forward);
  EXPECT_EQ(a.pose_change.turn, b.pose_change.turn);
}

class PushTest : public KinematicsTest {};

// ---- one joint -------------------------------------------------------------

TEST_F(PushTest, JointTakesTargetOnItsCircle) {
  KC_LINK link;
  link.axis = AXIS_Z;
  float3 p = {0.1f, 0.0f, 0.0f};
  float3 v = {-0.1f, 0.1f, 0.0f};
  kc_applyPush_link(&link, &p, &v);
  EXPECT_NEAR(link.angle, kPiF / 2.0f, kTol);
  EXPECT_FLOAT3_NEAR(v, (float3{0.0f, 0.0f, 0.0f}), kTol);
  EXPECT_FLOAT3_NEAR(p, (float3{0.0f, 0.1f, 0.0f}), kTol);
}

TEST_F(PushTest, JointPassesRadialRemainderDown) {
  KC_LINK link;
  link.axis = AXIS_Z;
  float3 p = {0.1f, 0.0f, 0.0f};
  float3 v = {0.0f, 0.1f, 0.0f};
  kc_applyPush_link(&link, &p, &v);
  EXPECT_NEAR(link.angle, kPiF / 4.0f, kTol);
  const float r = 0.1f - 0.1f * std::sqrt(0.5f);
  EXPECT_FLOAT3_NEAR(v, (float3{r, r, 0.0f}), kTol);
  // The target p + v is unchanged by the turn.
  float3 f = p;
  float3_add_unary(&f, &v);
  EXPECT_FLOAT3_NEAR(f, (float3{0.1f, 0.1f, 0.0f}), kTol);
}

TEST_F(PushTest, JointMeasuresBearingAboutEachAxis) {
  // A quarter turn on the joint's own circle, for every axis.
  const struct {
    axis_xyz axis;
    float3 p, target;
  } cases[] = {
      {AXIS_X, {0.0f, 0.1f, 0.0f}, {0.0f, 0.0f, 0.1f}},
      {AXIS_Y, {0.0f, 0.0f, 0.1f}, {0.1f, 0.0f, 0.0f}},
      {AXIS_Z, {0.1f, 0.0f, 0.0f}, {0.0f, 0.1f, 0.0f}},
  };
  for (const auto& c : cases) {
    KC_LINK link;
    link.axis = c.axis;
    float3 p = c.p;
    float3 v = c.target;
    float3_subtract_unary(&v, &c.p);
    kc_applyPush_link(&link, &p, &v);
    EXPECT_NEAR(link.angle, kPiF / 2.0f, kTol) << c.axis;
    EXPECT_FLOAT3_NEAR(p, c.target, kTol);
    EXPECT_FLOAT3_NEAR(v, (float3{0.0f, 0.0f, 0.0f}), kTol);
  }
}

TEST_F(PushTest, JointAtLimitDeliversNothing) {
  KC_LINK link;
  link.axis = AXIS_Z;
  link.angle = 0.2f;
  link.angle_max = 0.2f;
  link.translation = {0.0f, 0.0f, 0.0f};
  float3 p = {0.1f, 0.0f, 0.0f};
  float3 v = {-0.1f, 0.1f, 0.0f};
  kc_applyPush_link(&link, &p, &v);
  EXPECT_EQ(link.angle, 0.2f);
  // Everything passed on, expressed in the parent frame.
  float3 expect = {-0.1f, 0.1f, 0.0f};
  float3_rotate(&expect, AXIS_Z, 0.2f);
  EXPECT_FLOAT3_NEAR(v, expect, kTol);
}

TEST_F(PushTest, JointStopsPartWayAtLimit) {
  KC_LINK link;
  link.axis = AXIS_Z;
  link.angle_min = -0.3f;
  float3 p = {0.1f, 0.0f, 0.0f};
  float3 v = {-0.1f, -0.1f, 0.0f};  // asks for -pi/2
  kc_applyPush_link(&link, &p, &v);
  EXPECT_EQ(link.angle, -0.3f);
  float3 expect_p = {0.1f, 0.0f, 0.0f};
  float3_rotate(&expect_p, AXIS_Z, -0.3f);
  EXPECT_FLOAT3_NEAR(p, expect_p, kTol);
  float3 f = p;
  float3_add_unary(&f, &v);
  EXPECT_FLOAT3_NEAR(f, (float3{0.0f, -0.1f, 0.0f}), kTol);
}

TEST_F(PushTest, FixedAngleStepsATenthUnlimited) {
  KC_LINK link;
  link.axis = AXIS_Y;
  link.angle_fixed = 0.5f;
  link.angle_max = 0.01f;  // not looked at for the fixed-angle step
  float3 p = {0.1f, 0.0f, 0.0f};
  float3 v = {0.0f, 0.0f, 0.0f};
  kc_applyPush_link(&link, &p, &v);
  EXPECT_NEAR(link.angle, 0.05f, 1e-7f);
  for (int i = 0; i < 200; ++i) kc_applyPush_link(&link, &p, &v);
  EXPECT_NEAR(link.angle, 0.5f, 1e-5f);
}

TEST_F(PushTest, TraceAtFullLogLevel) {
  KC_LINK link;
  link.name = "HEAD";
  link.axis = AXIS_Z;
  float3 p = {0.1f, 0.0f, 0.0f}, v = {0.0f, 0.1f, 0.0f};
  body_opt.log = 3;
  EXPECT_EQ(capture_stdout([&] { kc_applyPush_link(&link, &p, &v); }), "");
  body_opt.log = 4;
  link.angle = 0.0f;
  p = {0.1f, 0.0f, 0.0f};
  v = {0.0f, 0.1f, 0.0f};
  const std::string out = capture_stdout([&] { kc_applyPush_link(&link, &p, &v); });
  ASSERT_EQ(out.rfind("\n--- push frame \"HEAD\" ---\n\n", 0), 0u) << out;
  std::vector<std::string> labels;
  std::istringstream in(out.substr(out.find("---\n\n") + 5));
  for (std::string line; std::getline(in, line);) {
    const size_t start = line.find("] ") + 2;
    labels.push_back(line.substr(start, line.find(':') - start));
  }
  const std::vector<std::string> expect = {"pushpos_i", "pushvec",   "pushpos_i",   "pushpos_f",
                                           "angle_delta", "angle_delta", "pushvec_act", "pushvec",
                                           "pushvec",   "pushpos_i", "pushpos_i"};
  EXPECT_EQ(labels, expect) << out;
  EXPECT_TRUE(contains(out, "] pushpos_i: [0.1, 0, 0]\n")) << out;
}

TEST_F(PushTest, PinnedJointShortcutMatchesFullComputation) {
  // With the trace on, every joint measures its bearing change; with it off,
  // a joint held by equal limits skips that. The results must not differ.
  KC_CHAIN quiet = body_chain(), traced = body_chain();
  const KC_PUSH pushes[] = {
      make_push(4, KC_PUSH_FLAG_VELOCITY, {0.1f, 0.0f, 0.0f}, {0.0f, 0.2f, 0.0f}),
      make_push(2, KC_PUSH_FLAG_DISPLACEMENT, {0.05f, 0.01f, 0.05f}, {0.02f, -0.01f, 0.03f}),
      make_push(1, KC_PUSH_FLAG_DISPLACEMENT, {0.02f, 0.0f, 0.1f}, {0.03f, 0.0f, 0.0f}),
      make_push(3, KC_PUSH_FLAG_DISPLACEMENT | KC_PUSH_FLAG_TURN_ONLY, {0.1f, 0.0f, 0.0f}, {0.0f, 0.5f, 0.0f}),
  };
  for (const KC_PUSH& push : pushes) {
    body_opt.log = 0;
    kc_applyPush(&quiet, &push, nullptr);
    body_opt.log = 4;
    capture_stdout([&] { kc_applyPush(&traced, &push, nullptr); });
    expect_same_chain(quiet, traced);
  }
  EXPECT_EQ(quiet.link[1].angle, BODY_TILT_RAD);

  // A pinned joint with an invalid axis still fails.
  KC_CHAIN bad = body_chain();
  bad.link[1].axis = static_cast<axis_xyz>(5);
  body_opt.log = 0;
  std::string what;
  capture_stdout([&] {
    try {
      kc_applyPush(&bad, &pushes[0], nullptr);
    } catch (const std::runtime_error& e) {
      what = e.what();
    }
  });
  EXPECT_EQ(what, "unrecognised axis");
}

// ---- the base --------------------------------------------------------------

TEST_F(PushTest, BaseForwardOnly) {
  KC_CHAIN c = flat_chain();
  KC_PUSH push = make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.05f, 0.0f, 0.0f});
  kc_applyPush(&c, &push, nullptr);
  EXPECT_NEAR(c.pose_change.forward, 0.05f, kTol);
  EXPECT_EQ(c.pose_change.turn, 0.0f);
}

TEST_F(PushTest, BaseForwardAndTurn) {
  KC_CHAIN c = flat_chain();
  KC_PUSH push = make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.1f, 0.0f});
  KC_PUSH_DEBUG dbg;
  kc_applyPush(&c, &push, &dbg);
  EXPECT_NEAR(c.pose_change.forward, std::sqrt(0.02f) - 0.1f, kTol);
  EXPECT_NEAR(c.pose_change.turn, kPiF / 4.0f, kTol);
  EXPECT_FLOAT3_EQ(dbg.pushpos_i, (float3{0.1f, 0.0f, 0.0f}));
  EXPECT_FLOAT3_EQ(dbg.pushvec, (float3{0.0f, 0.1f, 0.0f}));
  EXPECT_FLOAT3_EQ(dbg.pushpos_f, (float3{0.1f, 0.1f, 0.0f}));
  // Successive pushes add up.
  kc_applyPush(&c, &push, nullptr);
  EXPECT_NEAR(c.pose_change.forward, 2.0f * (std::sqrt(0.02f) - 0.1f), kTol);
  EXPECT_NEAR(c.pose_change.turn, kPiF / 2.0f, kTol);
}

TEST_F(PushTest, BaseZeroVectorInFrontOrBehind) {
  KC_CHAIN c = flat_chain();
  KC_PUSH ahead = make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.05f, 0.3f}, {0.0f, 0.0f, 0.0f});
  kc_applyPush(&c, &ahead, nullptr);
  EXPECT_NEAR(c.pose_change.forward, 0.0f, kTol);
  EXPECT_NEAR(c.pose_change.turn, 0.0f, kTol);

  kc_zeroPoseChange(&c);
  KC_PUSH behind = make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {-0.1f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f});
  kc_applyPush(&c, &behind, nullptr);
  EXPECT_NEAR(c.pose_change.forward, 0.2f, kTol);
  EXPECT_EQ(c.pose_change.turn, kPiF);
}

TEST_F(PushTest, BasePointBehindTakesTheLongWay) {
  KC_CHAIN c = flat_chain();
  KC_PUSH push = make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {-0.1f, 0.0f, 0.0f}, {0.0f, 0.01f, 0.0f});
  kc_applyPush(&c, &push, nullptr);
  EXPECT_NEAR(c.pose_change.forward, std::sqrt(0.0101f) + 0.1f, kTol);
  EXPECT_NEAR(c.pose_change.turn, std::atan2(0.01f, -0.1f), kTol);
  EXPECT_GT(c.pose_change.turn, 3.0f);
}

TEST_F(PushTest, BaseTurnIsNotWrapped) {
  KC_CHAIN c = flat_chain();
  KC_PUSH push = make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.1f, 0.0f}, {-0.2f, -0.11f, 0.0f});
  kc_applyPush(&c, &push, nullptr);
  const float xf = std::sqrt((0.01f + 0.0001f) - 0.01f);
  EXPECT_NEAR(c.pose_change.turn, std::atan2(-0.01f, -0.1f) - std::atan2(0.1f, xf), 1e-5f);
  EXPECT_LT(c.pose_change.turn, -kPiF);
}

TEST_F(PushTest, XSqNegativeWarnsAndKeepsJoints) {
  KC_CHAIN c = flat_chain();
  KC_PUSH push = make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.0f, 0.2f, 0.0f}, {0.0f, -0.15f, 0.0f});
  const std::string out = capture_stdout([&] { kc_applyPush(&c, &push, nullptr); });
  EXPECT_TRUE(contains(out, "] **** WARNING **** \n\tx_sq negative\n")) << out;
  EXPECT_EQ(c.pose_change.forward, 0.0f);
  EXPECT_EQ(c.pose_change.turn, 0.0f);

  // Pushed from link 1, the joint turns toward the target before the base
  // finds it out of reach; that turn stands.
  KC_CHAIN d = flat_chain();
  KC_PUSH up = make_push(1, KC_PUSH_FLAG_DISPLACEMENT, {0.0f, 0.2f, 0.0f}, {0.02f, -0.15f, 0.0f});
  body_opt.log = 0;
  EXPECT_EQ(capture_stdout([&] { kc_applyPush(&d, &up, nullptr); }), "");
  EXPECT_NE(d.link[1].angle, 0.0f);
  EXPECT_EQ(d.pose_change.forward, 0.0f);
  EXPECT_EQ(d.pose_change.turn, 0.0f);
}

TEST_F(PushTest, TurnOnlyMeasuresInHeadFrame) {
  KC_CHAIN c = body_chain();
  const KC_CHAIN before = c;
  const float3 p0 = {0.1f, 0.02f, 0.0f}, v0 = {0.0f, 0.03f, 0.01f};
  KC_PUSH push = make_push(0, KC_PUSH_FLAG_DISPLACEMENT | KC_PUSH_FLAG_TURN_ONLY, p0, v0);
  KC_PUSH_DEBUG dbg;
  kc_applyPush(&c, &push, &dbg);
  float3 p4 = p0, v4 = v0;
  kc_changeFrameAbs(&before, 0, 4, &p4);
  kc_changeFrameRel(&before, 0, 4, &v4);
  EXPECT_FLOAT3_NEAR(dbg.pushpos_i, p4, kTol);
  EXPECT_FLOAT3_NEAR(dbg.pushvec, v4, kTol);
  EXPECT_FLOAT3_NEAR(dbg.pushpos_f, (float3{p4.x + v4.x, p4.y + v4.y, p4.z + v4.z}), kTol);
  EXPECT_EQ(c.pose_change.forward, 0.0f);
  EXPECT_NEAR(c.pose_change.turn, std::atan2(p4.y + v4.y, p4.x + v4.x) - std::atan2(p4.y, p4.x), kTol);
  EXPECT_NE(c.pose_change.turn, 0.0f);
}

TEST_F(PushTest, TurnOnlyWithoutJointsCarriesFromFrameZeroAsWritten) {
  // The joint stage does not run, so p is still in the HEAD frame; stage B
  // carries it from frame 0 all the same.
  KC_CHAIN c = body_chain();
  const KC_CHAIN before = c;
  const float3 p = {0.1f, 0.0f, 0.0f}, v = {0.0f, 0.02f, 0.0f};
  KC_PUSH push = make_push(4, KC_PUSH_FLAG_DISPLACEMENT | KC_PUSH_FLAG_TURN_ONLY | KC_PUSH_FLAG_NO_JOINTS, p, v);
  KC_PUSH_DEBUG dbg;
  kc_applyPush(&c, &push, &dbg);
  float3 p4 = p;
  kc_changeFrameAbs(&before, 0, 4, &p4);
  EXPECT_FLOAT3_NEAR(dbg.pushpos_i, p4, kTol);
  for (int i = 0; i < KC_NUM_LINKS; ++i) EXPECT_EQ(c.link[i].angle, before.link[i].angle);
}

TEST_F(PushTest, TurnOnlyTurnIsNotWrapped) {
  KC_CHAIN c = flat_chain();
  KC_PUSH push = make_push(0, KC_PUSH_FLAG_DISPLACEMENT | KC_PUSH_FLAG_TURN_ONLY, {-1.0f, 0.1f, 0.0f},
                           {0.0f, -0.2f, 0.0f});
  kc_applyPush(&c, &push, nullptr);
  EXPECT_NEAR(c.pose_change.turn, std::atan2(-0.1f, -1.0f) - std::atan2(0.1f, -1.0f), kTol);
  EXPECT_LT(c.pose_change.turn, -kPiF);
}

// ---- flags -----------------------------------------------------------------

TEST_F(PushTest, VelocityIsScaledByPushPeriod) {
  KC_CHAIN a = body_chain(), b = body_chain();
  KC_PUSH vel = make_push(4, KC_PUSH_FLAG_VELOCITY | KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f},
                          {1.0f, 2.0f, 3.0f});
  KC_PUSH disp = make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f},
                           {1.0f * 0.02f, 2.0f * 0.02f, 3.0f * 0.02f});
  KC_PUSH_DEBUG da, db;
  kc_applyPush(&a, &vel, &da);
  kc_applyPush(&b, &disp, &db);
  expect_same_chain(a, b);
  EXPECT_FLOAT3_EQ(da.pushpos_f, db.pushpos_f);
  EXPECT_NE(a.link[2].angle, body_chain().link[2].angle);
}

TEST_F(PushTest, WithoutVectorModeNothingMoves) {
  KC_CHAIN c = body_chain();
  const KC_CHAIN before = c;
  KC_PUSH push = make_push(4, KC_PUSH_FLAG_TURN_ONLY, {0.1f, 0.0f, 0.0f}, {1.0f, 2.0f, 3.0f});
  kc_applyPush(&c, &push, nullptr);
  for (int i = 0; i < KC_NUM_LINKS; ++i) EXPECT_EQ(c.link[i].angle, before.link[i].angle);
  EXPECT_NEAR(c.pose_change.forward, 0.0f, kTol);
  EXPECT_NEAR(c.pose_change.turn, 0.0f, kTol);
  // A NaN in a vector that is not used is harmless.
  KC_PUSH nan_vec = make_push(4, 0, {0.1f, 0.0f, 0.0f}, {std::nanf(""), 0.0f, 0.0f});
  kc_applyPush(&c, &nan_vec, nullptr);
  for (int i = 0; i < KC_NUM_LINKS; ++i) EXPECT_EQ(c.link[i].angle, before.link[i].angle);
  EXPECT_TRUE(std::isfinite(c.pose_change.forward));
}

TEST_F(PushTest, NoBaseAndNoJoints) {
  KC_CHAIN c = body_chain();
  const KC_CHAIN before = c;
  KC_PUSH_DEBUG dbg = {{7, 7, 7}, {7, 7, 7}, {7, 7, 7}};
  KC_PUSH both = make_push(4, KC_PUSH_FLAG_DISPLACEMENT | KC_PUSH_FLAG_NO_BASE | KC_PUSH_FLAG_NO_JOINTS,
                           {0.1f, 0.0f, 0.0f}, {0.0f, 0.05f, 0.0f});
  kc_applyPush(&c, &both, &dbg);
  expect_same_chain(c, before);
  EXPECT_FLOAT3_EQ(dbg.pushpos_i, (float3{7, 7, 7}));

  KC_PUSH no_base = make_push(4, KC_PUSH_FLAG_DISPLACEMENT | KC_PUSH_FLAG_NO_BASE, {0.1f, 0.0f, 0.0f},
                              {0.0f, 0.05f, 0.0f});
  kc_applyPush(&c, &no_base, &dbg);
  EXPECT_NE(c.link[3].angle, before.link[3].angle);  // yaw turned
  EXPECT_EQ(c.pose_change.forward, 0.0f);
  EXPECT_EQ(c.pose_change.turn, 0.0f);
  EXPECT_FLOAT3_EQ(dbg.pushpos_f, (float3{7, 7, 7}));

  KC_CHAIN d = body_chain();
  KC_PUSH no_joints = make_push(4, KC_PUSH_FLAG_DISPLACEMENT | KC_PUSH_FLAG_NO_JOINTS, {0.1f, 0.0f, 0.0f},
                                {0.0f, 0.05f, 0.0f});
  kc_applyPush(&d, &no_joints, &dbg);
  for (int i = 0; i < KC_NUM_LINKS; ++i) EXPECT_EQ(d.link[i].angle, before.link[i].angle);
  // The base works on p and v as given, in the HEAD frame.
  EXPECT_FLOAT3_EQ(dbg.pushpos_i, (float3{0.1f, 0.0f, 0.0f}));
  EXPECT_NEAR(d.pose_change.turn, std::atan2(0.05f, 0.1f) - std::atan2(0.0f, 0.1f), kTol);
}

TEST_F(PushTest, VectorInFootFrame) {
  KC_CHAIN a = body_chain(), b = body_chain();
  const float3 v0 = {0.01f, 0.02f, -0.01f};
  float3 v4 = v0;
  kc_changeFrameRel(&a, 0, 4, &v4);
  ASSERT_GT(std::fabs(v4.z - v0.z), 1e-4f);  // the chain is not the identity
  KC_PUSH in_foot = make_push(4, KC_PUSH_FLAG_DISPLACEMENT | KC_PUSH_FLAG_VEC_IN_FOOT, {0.1f, 0.0f, 0.0f}, v0);
  KC_PUSH in_head = make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, v4);
  kc_applyPush(&a, &in_foot, nullptr);
  kc_applyPush(&b, &in_head, nullptr);
  expect_same_chain(a, b);
}

TEST_F(PushTest, DeferFlagIsIgnoredByAlgorithm) {
  KC_CHAIN a = body_chain(), b = body_chain();
  KC_PUSH plain = make_push(3, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.02f, 0.0f});
  KC_PUSH deferred = plain;
  deferred.flags |= KC_PUSH_FLAG_DEFER | 0x80000000u;  // unknown bits ignored too
  kc_applyPush(&a, &plain, nullptr);
  kc_applyPush(&b, &deferred, nullptr);
  expect_same_chain(a, b);
}

// ---- refused pushes and failures -------------------------------------------

TEST_F(PushTest, LinkOutOfRangeWarnsAndChangesNothing) {
  for (int link : {5, -1, 1000}) {
    KC_CHAIN c = body_chain();
    const KC_CHAIN before = c;
    KC_PUSH_DEBUG dbg = {{7, 7, 7}, {7, 7, 7}, {7, 7, 7}};
    KC_PUSH push = make_push(link, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.05f, 0.0f});
    body_opt.log = 1;
    const std::string out = capture_stdout([&] { kc_applyPush(&c, &push, &dbg); });
    EXPECT_TRUE(contains(out, "] **** WARNING **** \n\tpushlink link index out of range\n")) << out;
    expect_same_chain(c, before);
    EXPECT_FLOAT3_EQ(dbg.pushvec, (float3{7, 7, 7}));
    body_opt.log = 0;
    EXPECT_EQ(capture_stdout([&] { kc_applyPush(&c, &push, &dbg); }), "");
    expect_same_chain(c, before);
  }
}

TEST_F(PushTest, NonFiniteOrHugePushIsDropped) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::nanf("");
  const KC_PUSH bad[] = {
      make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {nan, 0.0f, 0.0f}, {0.0f, 0.05f, 0.0f}),
      make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, inf, 0.0f}),
      make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.0f, -inf}),
      make_push(2, KC_PUSH_FLAG_VELOCITY, {0.1f, 0.0f, 0.0f}, {nan, nan, nan}),
      make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {3.0e38f, 3.0e38f, 0.0f}),
      make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {2.0e6f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}),
      make_push(4, KC_PUSH_FLAG_VELOCITY, {0.1f, 0.0f, 0.0f}, {0.0f, 1.0e9f, 0.0f}),
  };
  for (const KC_PUSH& push : bad) {
    KC_CHAIN c = body_chain();
    const KC_CHAIN before = c;
    KC_PUSH_DEBUG dbg = {{7, 7, 7}, {7, 7, 7}, {7, 7, 7}};
    const std::string out = capture_stdout([&] { kc_applyPush(&c, &push, &dbg); });
    EXPECT_TRUE(contains(out, "**** WARNING **** \n\tpush not finite or too large\n")) << out;
    expect_same_chain(c, before);
    EXPECT_FLOAT3_EQ(dbg.pushpos_i, (float3{7, 7, 7}));
  }
}

TEST_F(PushTest, LargeButAcceptedPushStaysFinite) {
  KC_CHAIN c = body_chain();
  for (float big : {1.0e3f, 1.0e5f, -9.0e5f}) {
    KC_PUSH push = make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {big, -big, big}, {big, big, -big});
    body_opt.log = 0;
    kc_applyPush(&c, &push, nullptr);
    for (const KC_LINK& link : c.link) EXPECT_TRUE(std::isfinite(link.angle));
    EXPECT_TRUE(std::isfinite(c.pose_change.forward));
    EXPECT_TRUE(std::isfinite(c.pose_change.turn));
  }
  EXPECT_GE(c.link[2].angle, BODY_LIFT_MIN_RAD);
  EXPECT_LE(c.link[2].angle, BODY_LIFT_MAX_RAD);
}

TEST_F(PushTest, InvalidAxisRaisesAfterUpperJointsMoved) {
  KC_CHAIN c = flat_chain();
  c.link[3].axis = static_cast<axis_xyz>(0);
  KC_PUSH push = make_push(4, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.1f, 0.0f});
  std::string what;
  const std::string out = capture_stdout([&] {
    try {
      kc_applyPush(&c, &push, nullptr);
    } catch (const std::runtime_error& e) {
      what = e.what();
    }
  });
  EXPECT_EQ(what, "unrecognised axis");
  EXPECT_TRUE(contains(out, "[ERROR] unrecognised axis\n"));
  EXPECT_NEAR(c.link[4].angle, kPiF / 4.0f, kTol);
  EXPECT_EQ(c.link[2].angle, 0.0f);
  EXPECT_EQ(c.pose_change.turn, 0.0f);
}

}  // namespace
