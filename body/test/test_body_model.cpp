#include <array>
#include <cmath>
#include <stdexcept>

#include "test_util.h"
#include "vesk_body/body_model.h"

namespace {

class BodyModelTest : public KinematicsTest {
 protected:
  void SetUp() override {
    KinematicsTest::SetUp();
    kc_m = KC_CHAIN();
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

TEST_F(BodyModelTest, InitialPoseAndDump) {
  EXPECT_EQ(joints(), (std::array<float, 4>{-0.10471976f, 0.5934119f, 0.0f, 0.0f}));
  EXPECT_EQ(kc_m.name, "motor");
  EXPECT_TRUE(kc_m.initialised);
  EXPECT_EQ(state_reset_m.lift, 0.5934119f);
  EXPECT_FLOAT3_EQ(body_getTranslation_m(2), (float3{0.0022f, 0.0f, 0.0357f}));
  for (int bad : {-1, 5})
    EXPECT_EQ(failure_of([&] { body_getTranslation_m(bad); }), "[kinemod] failed assert");

  kc_m = KC_CHAIN();
  EXPECT_EQ(capture_stdout([] { body_init(); }), "");  // "info": no dump
  kc_m = KC_CHAIN();
  body_opt.log = 3;
  const std::string out = capture_stdout([] { body_init(); });
  size_t at = out.find("---- KC CHAIN \"motor\"");
  EXPECT_NE(at, std::string::npos) << out;
  for (const char* line :
       {"] FOOT [0,0,0] @ 0deg ([", "] BODY [0,0,0.045] @ -6", "] NECK [0.0022,0,0.0357] @ 34",
        "] GMBL [0,0,0.1201] @ 0deg ([", "] HEAD [0,0,0] @ 0deg (["}) {
    at = out.find(line, at);
    EXPECT_NE(at, std::string::npos) << line << "\n" << out;
  }
}

TEST_F(BodyModelTest, Reset) {
  VESK_BODY_STATE moved = {3.0f, 1.0f, 0.5f, 0.4f, 5.0f, -6.0f, 7.0f};
  body_setState_m(&moved);  // written as given, no limits
  EXPECT_EQ(joints(), (std::array<float, 4>{0.4f, 5.0f, -6.0f, 7.0f}));
  body_d_add_push(KC_PUSH());
  kc_m.pose_change = {0.5f, 0.25f};

  EXPECT_EQ(capture_stdout([] { body_u_reset(0); }), "******** KINEMOD RESET ********\n");
  EXPECT_EQ(joints(), (std::array<float, 4>{-0.10471976f, 0.5934119f, 0.0f, 0.0f}));
  EXPECT_EQ(kc_m.link[0].translation.x, 0.0f);
  EXPECT_EQ(kc_m.link[0].angle, 0.0f);
  capture_stdout([] { body_u_reset(1); });
  EXPECT_EQ(joints(), (std::array<float, 4>{-0.10471976f, 0.17453292f, 0.0f, -0.08726646f}));
  capture_stdout([] { body_u_reset(2); });
  EXPECT_EQ(joints(), (std::array<float, 4>{-0.10471976f, 0.5934119f, 0.0f, 0.0f}));
  EXPECT_EQ(g_pushes.size(), 1u);  // queue and pose change untouched
  EXPECT_EQ(kc_m.pose_change.forward, 0.5f);
}

TEST_F(BodyModelTest, QueueHoldsHundredThenDropsSilently) {
  const KC_PUSH small = make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0, 0}, {0.001f, 0, 0});
  const KC_PUSH big = make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0, 0}, {1.0f, 0, 0});
  for (unsigned i = 0; i < BODY_PUSH_QUEUE_MAX; ++i) body_d_add_push(small);
  EXPECT_EQ(capture_stdout([&] { body_d_add_push(big); }), "");
  EXPECT_EQ(g_pushes.size(), 100u);
  const KC_PUSH* storage = g_pushes.data();
  VESK_BODY_VEL vel;
  body_process(vel);
  EXPECT_TRUE(g_pushes.empty());
  EXPECT_NEAR(vel.forward, 50.0f * 100.0f * 0.001f, 1e-3f);  // the 101st did not count
  body_d_add_push(big);
  EXPECT_EQ(g_pushes.size(), 1u);
  EXPECT_EQ(g_pushes.data(), storage);
}

TEST_F(BodyModelTest, PassTurnsBaseMotionIntoVelocity) {
  VESK_BODY_VEL vel = {9.0f, 9.0f};
  body_process(vel);
  EXPECT_EQ(vel.forward, 0.0f);
  EXPECT_EQ(vel.turn, 0.0f);

  // Base-only pushes: 0.001 m forward, then 0.002 rad of turn.
  const float ang = 0.002f;
  body_d_add_push(make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0, 0}, {0.001f, 0, 0}));
  body_d_add_push(make_push(0, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0, 0},
                            {0.1f * std::cos(ang) - 0.1f, 0.1f * std::sin(ang), 0}));
  body_process(vel);
  EXPECT_NEAR(kc_m.pose_change.forward, 0.001f, 1e-6f);
  EXPECT_NEAR(kc_m.pose_change.turn, 0.002f, 1e-6f);
  EXPECT_EQ(vel.forward, 50.0f * kc_m.pose_change.forward);
  EXPECT_EQ(vel.turn, 50.0f * kc_m.pose_change.turn);
  EXPECT_EQ(kc_m.link[0].angle, 0.0f);  // the FOOT pose stays
}

TEST_F(BodyModelTest, YawStopsAtLimitAndHandsRestDown) {
  body_d_add_push(make_push(3, KC_PUSH_FLAG_DISPLACEMENT, {0.1f, 0, 0}, {-0.1f, 0.2f, 0}));
  VESK_BODY_VEL vel;
  body_process(vel);
  EXPECT_EQ(joints()[2], 0.9599311f);
  EXPECT_GT(vel.turn, 0.0f);  // the base turns on with the rest
}

TEST_F(BodyModelTest, DebugPushFirstInEveryPass) {
  body_opt.apply_debug_push = true;
  KC_CHAIN ref = kc_m;
  const KC_PUSH debug_push = make_push(4, KC_PUSH_FLAG_VELOCITY, {0.1f, 0, 0}, {0, 0.2f, 0});
  const KC_PUSH queued = make_push(2, KC_PUSH_FLAG_DISPLACEMENT, {0.05f, 0, 0.05f}, {0.02f, 0, -0.01f});
  for (int pass = 0; pass < 2; ++pass) {
    kc_zeroPoseChange(&ref);
    kc_applyPush(&ref, &debug_push, nullptr);
    kc_applyPush(&ref, &queued, nullptr);
    body_d_add_push(queued);
    VESK_BODY_VEL vel;
    body_process(vel);
    for (int i = 0; i < KC_NUM_LINKS; ++i) EXPECT_EQ(kc_m.link[i].angle, ref.link[i].angle);
    EXPECT_EQ(vel.turn, 50.0f * ref.pose_change.turn);
  }
  EXPECT_GT(joints()[2], 0.0f);  // the yaw follows the sideways push
}

}  // namespace
