#include <array>
#include <cmath>
#include <stdexcept>

#include "test_util.h"
#include "vesk_body/body_model.h"

namespace {

constexpr float kTol = 2e-6f;

class BodyModelTest : public KinematicsTest {
 protected:
  void SetUp() override {
    KinematicsTest::SetUp();
    kc_m = KC_CHAIN();
    g_pushes.clear();
    body_opt.log = 0;
    body_init();
    body_opt.log = 2;
  }
  void TearDown() override {
    g_pushes.clear();
    KinematicsTest::TearDown();
  }

  static std::array<float, 4> joints() {
    std::array<float, 4> out;
    body_get(out.data());
    return out;
  }
};

KC_PUSH make_push(int link, uint32_t flags, float3 pos, float3 vec) {
  KC_PUSH p;
  p.link = link;
  p.flags = flags;
  p.pushpos = pos;
  p.pushvec = vec;
  return p;
}

TEST_F(BodyModelTest, InitialPoseAndGeometry) {
  const auto j = joints();
  EXPECT_EQ(j[0], -0.10471976f);
  EXPECT_EQ(j[1], 0.5934119f);
  EXPECT_EQ(j[2], 0.0f);
  EXPECT_EQ(j[3], 0.0f);
  EXPECT_EQ(kc_m.name, "motor");
  EXPECT_TRUE(kc_m.initialised);
  const char* names[] = {"FOOT", "BODY", "NECK", "GMBL", "HEAD"};
  const axis_xyz axes[] = {AXIS_Z, AXIS_Y, AXIS_Y, AXIS_Z, AXIS_Y};
  for (int i = 0; i < KC_NUM_LINKS; ++i) {
    EXPECT_STREQ(kc_m.link[i].name, names[i]);
    EXPECT_EQ(kc_m.link[i].axis, axes[i]);
    EXPECT_EQ(kc_m.link[i].angle_fixed, KC_ANGLE_NONE);
  }
  EXPECT_FLOAT3_EQ(body_getTranslation_m(2), (float3{0.0022f, 0.0f, 0.0357f}));
  EXPECT_FLOAT3_EQ(body_getTranslation_m(3), (float3{0.0f, 0.0f, 0.1201f}));
  EXPECT_EQ(kc_m.link[1].angle_min, kc_m.link[1].angle_max);
  EXPECT_EQ(kc_m.link[3].angle_min, -0.9599311f);
  EXPECT_EQ(kc_m.link[4].angle_min, -0.38397244f);
  EXPECT_EQ(state_reset_m.lift, 0.5934119f);
  EXPECT_EQ(state_reset_m.foot_x, 0.0f);
}

TEST_F(BodyModelTest, FoveaStartsWhereTheNodeExpects) {
  // 50 x the distance of the fovea point from the world origin, about 12.07.
  float3 f = {0.125f, 0.0f, 0.035f};
  kc_changeFrameAbs(&kc_m, 4, -1, &f);
  EXPECT_NEAR(f.x, 0.1816f, 1e-3f);
  EXPECT_NEAR(f.y, 0.0f, 1e-6f);
  EXPECT_NEAR(f.z, 0.1590f, 1e-3f);
  EXPECT_NEAR(float3_modulus(&f) * 50.0f, 12.07f, 0.01f);
}

TEST_F(BodyModelTest, InitDumpsChainAtVerb) {
  kc_m = KC_CHAIN();
  body_opt.log = 2;
  EXPECT_EQ(capture_stdout([] { body_init(); }), "");
  kc_m = KC_CHAIN();
  body_opt.log = 3;
  const std::string out = capture_stdout([] { body_init(); });
  EXPECT_TRUE(contains(out, "---- KC CHAIN \"motor\"")) << out;
  size_t at = 0;
  for (const char* name : {"] FOOT [0,0,0] @ 0deg", "] BODY [0,0,0.045] @ -6", "] NECK [0.0022,0,0.0357] @ 34",
                           "] GMBL [0,0,0.1201] @ 0deg", "] HEAD [0,0,0] @ 0deg"}) {
    const size_t next = out.find(name, at);
    EXPECT_NE(next, std::string::npos) << name << "\n" << out;
    at = next;
  }
}

TEST_F(BodyModelTest, ResetPoses) {
  kc_m.link[2].angle = 1.0f;
  kc_m.link[3].angle = 0.5f;
  kc_m.link[0].translation.x = 3.0f;
  const std::string out = capture_stdout([] { body_u_reset(0); });
  EXPECT_EQ(out, "******** KINEMOD RESET ********\n");
  auto j = joints();
  EXPECT_EQ(j[1], 0.5934119f);
  EXPECT_EQ(j[2], 0.0f);
  EXPECT_EQ(kc_m.link[0].translation.x, 0.0f);

  capture_stdout([] { body_u_reset(1); });
  j = joints();
  EXPECT_EQ(j[0], -0.10471976f);
  EXPECT_EQ(j[1], 0.17453292f);
  EXPECT_EQ(j[2], 0.0f);
  EXPECT_EQ(j[3], -0.08726646f);

  capture_stdout([] { body_u_reset(2); });
  j = joints();
  EXPECT_EQ(j[1], 0.5934119f);
  EXPECT_EQ(j[3], 0.0f);

  // The queue and the pose change are not touched.
  body_d_add_push(KC_PUSH());
  kc_m.pose_change = {0.5f, 0.25f};
  capture_stdout([] { body_u_reset(1); });
  EXPECT_EQ(g_pushes.size(), 1u);
  EXPECT_EQ(kc_m.pose_change.forward, 0.5f);
}

TEST_F(BodyModelTest, StateAndConfigSettersApplyNoLimits) {
  VESK_BODY_STATE s = {1.0f, 2.0f, 0.3f, 0.4f, 5.0f, -6.0f, 7.0f};
  body_setState_m(&s);
  VESK_BODY_STATE t;
  body_getState_m(&t);
  EXPECT_EQ(t.foot_x, 1.0f);
  EXPECT_EQ(t.foot_y, 2.0f);
  EXPECT_EQ(t.foot_theta, 0.3f);
  EXPECT_EQ(t.tilt, 0.4f);
  EXPECT_EQ(t.lift, 5.0f);
  EXPECT_EQ(t.yaw, -6.0f);
  EXPECT_EQ(t.pitch, 7.0f);
  const float cfg[4] = {0.1f, 0.2f, 0.3f, 9.0f};
  body_setConfig(&kc_m, cfg);
  float out[4];
  body_getConfig(&kc_m, out);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], cfg[i]);
}

TEST_F(BodyModelTest, TranslationIndexIsChecked) {
  for (int bad : {-1, 5}) {
    std::string what;
    capture_stdout([&] {
      try {
        body_getTranslation_m(bad);
      } catch (const std::runtime_error& e) {
        what = e.what();
      }
    });
    EXPECT_EQ(what, "[kinemod] failed assert");
  }
}

TEST_F(BodyModelTest, QueueHoldsHundredThenDrops) {
  const KC_PUSH push = make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.001f, 0.0f, 0.0f});
  for (unsigned i = 0; i < BODY_PUSH_QUEUE_MAX; ++i) body_d_add_push(push);
  EXPECT_EQ(g_pushes.size(), 100u);
  const KC_PUSH other = make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {1.0f, 0.0f, 0.0f});
  EXPECT_EQ(capture_stdout([&] { body_d_add_push(other); }), "");  // silently
  EXPECT_EQ(g_pushes.size(), 100u);
  EXPECT_EQ(g_pushes.back().pushvec.x, 0.001f);
  const auto* storage = g_pushes.data();
  VESK_BODY_VEL vel;
  body_process(vel);
  EXPECT_TRUE(g_pushes.empty());
  EXPECT_NEAR(vel.forward, 50.0f * 100.0f * 0.001f, 1e-3f);
  body_d_add_push(other);
  EXPECT_EQ(g_pushes.size(), 1u);
  EXPECT_EQ(g_pushes.data(), storage);  // storage reused
}

TEST_F(BodyModelTest, EmptyPassGivesZeroVelocity) {
  VESK_BODY_VEL vel = {9.0f, 9.0f};
  const auto before = joints();
  body_process(vel);
  EXPECT_EQ(vel.forward, 0.0f);
  EXPECT_EQ(vel.turn, 0.0f);
  EXPECT_EQ(joints(), before);
}

TEST_F(BodyModelTest, PoseChangeBecomesVelocity) {
  // Base-only pushes: 0.001 m forward, then 0.002 rad of turn.
  body_d_add_push(make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.001f, 0.0f, 0.0f}));
  const float ang = 0.002f;
  body_d_add_push(make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f},
                            {0.1f * std::cos(ang) - 0.1f, 0.1f * std::sin(ang), 0.0f}));
  VESK_BODY_VEL vel;
  body_process(vel);
  EXPECT_NEAR(kc_m.pose_change.forward, 0.001f, 1e-6f);
  EXPECT_NEAR(kc_m.pose_change.turn, 0.002f, 1e-6f);
  EXPECT_NEAR(vel.forward, 0.05f, 5e-5f);
  EXPECT_NEAR(vel.turn, 0.1f, 5e-5f);
  EXPECT_EQ(vel.forward, 50.0f * kc_m.pose_change.forward);
  EXPECT_EQ(vel.turn, 50.0f * kc_m.pose_change.turn);
  // The FOOT pose is not moved by pushes.
  EXPECT_EQ(kc_m.link[0].angle, 0.0f);
  EXPECT_EQ(kc_m.link[0].translation.x, 0.0f);
}

TEST_F(BodyModelTest, PushesApplyInArrivalOrder) {
  const KC_PUSH a = make_push(3, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {0.0f, 0.03f, 0.01f});
  const KC_PUSH b = make_push(2, KC_PUSH_FLAG_DISPLACEMENT, {0.05f, 0.0f, 0.05f}, {0.02f, 0.0f, -0.01f});
  KC_CHAIN ref = kc_m;
  kc_zeroPoseChange(&ref);
  kc_applyPush(&ref, &a, nullptr);
  kc_applyPush(&ref, &b, nullptr);
  body_d_add_push(a);
  body_d_add_push(b);
  VESK_BODY_VEL vel;
  body_process(vel);
  for (int i = 0; i < KC_NUM_LINKS; ++i) EXPECT_EQ(kc_m.link[i].angle, ref.link[i].angle);
  EXPECT_EQ(vel.forward, 50.0f * ref.pose_change.forward);
  EXPECT_EQ(vel.turn, 50.0f * ref.pose_change.turn);
}

TEST_F(BodyModelTest, YawStopsAtLimitAndHandsRestDown) {
  // Push the head point far sideways: yaw would need more than 55 degrees.
  const KC_PUSH push = make_push(3, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0.0f, 0.0f}, {-0.1f, 0.2f, 0.0f});
  body_d_add_push(push);
  VESK_BODY_VEL vel;
  body_process(vel);
  EXPECT_EQ(joints()[2], 0.9599311f);
  EXPECT_GT(vel.turn, 0.0f);  // the base turns the same way with the rest
}

TEST_F(BodyModelTest, DebugPushAppliedEveryPass) {
  VESK_BODY_VEL vel;
  body_opt.apply_debug_push = true;
  const auto before = joints();
  body_process(vel);
  const auto after = joints();
  EXPECT_NE(after[2], before[2]);  // the yaw follows the sideways push
  EXPECT_GT(after[2], 0.0f);
  EXPECT_EQ(after[0], before[0]);  // tilt is held

  KC_CHAIN ref = kc_m;
  body_process(vel);
  KC_PUSH debug_push = make_push(4, KC_PUSH_FLAG_VELOCITY, {0.1f, 0.0f, 0.0f}, {0.0f, 0.2f, 0.0f});
  kc_zeroPoseChange(&ref);
  kc_applyPush(&ref, &debug_push, nullptr);
  EXPECT_EQ(joints()[2], ref.link[3].angle);
  EXPECT_EQ(vel.turn, 50.0f * ref.pose_change.turn);
}

}  // namespace
