// Randomised properties of the chain and the push algorithm that catch a
// wrong sign or a wrong axis anywhere between rotations, bearings and frames.
#include <cmath>
#include <random>

#include "test_util.h"
#include "vesk_body/kc_push.h"

namespace {

constexpr int kTrials = 400;
constexpr float kTol = 2e-5f;  // single precision over a few decimetres

class Random {
 public:
  explicit Random(unsigned seed) : gen_(seed) {}
  float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(gen_); }
  int integer(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen_); }
  axis_xyz axis() { return static_cast<axis_xyz>(integer(1, 3)); }
  float3 vec(float r) { return {uniform(-r, r), uniform(-r, r), uniform(-r, r)}; }

  // Free, unlimited links with random axes, angles and translations.
  KC_CHAIN chain() {
    KC_CHAIN c;
    for (KC_LINK& link : c.link)
      kc_initLink(&c, &link, "R", vec(0.1f), uniform(-kPiF, kPiF), axis(), KC_ANGLE_NONE, KC_ANGLE_NONE);
    c.initialised = true;
    return c;
  }

 private:
  std::mt19937 gen_;
};

// Distance of p from the axis through the origin.
float off_axis(const float3& p, axis_xyz axis) {
  switch (axis) {
    case AXIS_X:
      return std::hypot(p.y, p.z);
    case AXIS_Y:
      return std::hypot(p.z, p.x);
    default:
      return std::hypot(p.x, p.y);
  }
}

float3 in_frame(const KC_CHAIN& c, int from, int to, float3 p) {
  kc_changeFrameAbs(&c, from, to, &p);
  return p;
}

class PushProperties : public KinematicsTest {};

TEST_F(PushProperties, FrameChangesRoundTrip) {
  Random rnd(11);
  for (int t = 0; t < kTrials; ++t) {
    const KC_CHAIN c = rnd.chain();
    const int a = rnd.integer(-1, 4), b = rnd.integer(-1, 4);
    const float3 start = rnd.vec(0.3f);
    float3 p = start, v = start;
    kc_changeFrameAbs(&c, a, b, &p);
    kc_changeFrameAbs(&c, b, a, &p);
    EXPECT_FLOAT3_NEAR(p, start, kTol);
    kc_changeFrameRel(&c, a, b, &v);
    // Directions keep their length in every frame.
    EXPECT_NEAR(float3_modulus(&v), float3_modulus(&start), kTol);
    kc_changeFrameRel(&c, b, a, &v);
    EXPECT_FLOAT3_NEAR(v, start, kTol);
  }
}

TEST_F(PushProperties, TargetReachableByOwnJointIsDelivered) {
  Random rnd(23);
  int checked = 0;
  for (int t = 0; t < kTrials; ++t) {
    KC_CHAIN c = rnd.chain();
    const int k = rnd.integer(1, 4);
    const float3 p = rnd.vec(0.2f);
    if (off_axis(p, c.link[k].axis) < 0.05f) continue;
    const float theta = rnd.uniform(-3.0f, 3.0f);

    // Where the point goes when joint k alone turns by theta.
    KC_CHAIN moved = c;
    moved.link[k].angle += theta;
    const float3 target0 = in_frame(moved, k, 0, p);

    float3 target_k = p;
    float3_rotate(&target_k, c.link[k].axis, theta);
    float3 v = target_k;
    float3_subtract_unary(&v, &p);

    KC_PUSH push;
    push.link = k;
    push.flags = KC_PUSH_FLAG_DISPLACEMENT | KC_PUSH_FLAG_NO_BASE;
    push.pushpos = p;
    push.pushvec = v;
    kc_applyPush(&c, &push, nullptr);

    EXPECT_FLOAT3_NEAR(in_frame(c, k, 0, p), target0, kTol) << "trial " << t << " link " << k;
    EXPECT_NEAR(std::cos(c.link[k].angle), std::cos(moved.link[k].angle), kTol);
    EXPECT_NEAR(std::sin(c.link[k].angle), std::sin(moved.link[k].angle), kTol);
    ++checked;
  }
  EXPECT_GT(checked, kTrials / 2);
}

TEST_F(PushProperties, JointsKeepTheTargetAndMoveThePoint) {
  // Whatever the joints deliver, the base stage starts from where the pushed
  // point now is, aiming at the target the push named.
  Random rnd(37);
  for (int t = 0; t < kTrials; ++t) {
    KC_CHAIN c = rnd.chain();
    if (t % 2) {  // half of the chains with limits around the current angles
      for (int i = 1; i < KC_NUM_LINKS; ++i) {
        c.link[i].angle_min = c.link[i].angle - rnd.uniform(0.0f, 0.5f);
        c.link[i].angle_max = c.link[i].angle + rnd.uniform(0.0f, 0.5f);
      }
    }
    const KC_CHAIN before = c;
    KC_PUSH push;
    push.link = rnd.integer(0, 4);
    push.flags = KC_PUSH_FLAG_DISPLACEMENT;
    push.pushpos = rnd.vec(0.2f);
    push.pushvec = rnd.vec(0.1f);
    KC_PUSH_DEBUG dbg;
    body_opt.log = 0;
    kc_applyPush(&c, &push, &dbg);

    float3 target = push.pushpos;
    float3_add_unary(&target, &push.pushvec);
    EXPECT_FLOAT3_NEAR(dbg.pushpos_f, in_frame(before, push.link, 0, target), kTol) << "trial " << t;
    EXPECT_FLOAT3_NEAR(dbg.pushpos_i, in_frame(c, push.link, 0, push.pushpos), kTol) << "trial " << t;
    for (int i = 1; i < KC_NUM_LINKS; ++i) {
      if (!kc_isNone(c.link[i].angle_min)) {
        EXPECT_GE(c.link[i].angle, c.link[i].angle_min);
        EXPECT_LE(c.link[i].angle, c.link[i].angle_max);
      }
      if (i > push.link) {
        EXPECT_EQ(c.link[i].angle, before.link[i].angle);
      }
    }
  }
}

TEST_F(PushProperties, BaseMotionReachesTargetInThePlane) {
  // Moving forward by `forward` then turning by `turn` about z takes the
  // point onto the target (x and y), for points ahead of the axis.
  Random rnd(41);
  KC_CHAIN c;
  int checked = 0;
  for (int t = 0; t < kTrials; ++t) {
    KC_PUSH push;
    push.link = 0;
    push.flags = KC_PUSH_FLAG_DISPLACEMENT;
    push.pushpos = {rnd.uniform(0.0f, 0.3f), rnd.uniform(-0.1f, 0.1f), rnd.uniform(-0.1f, 0.1f)};
    push.pushvec = rnd.vec(0.1f);
    const float3& p = push.pushpos;
    const float3& v = push.pushvec;
    if ((p.x + v.x) * (p.x + v.x) + (p.y + v.y) * (p.y + v.y) < p.y * p.y + 1e-4f) continue;
    kc_zeroPoseChange(&c);
    kc_applyPush(&c, &push, nullptr);
    float3 moved = {p.x + c.pose_change.forward, p.y, 0.0f};
    float3_rotate(&moved, AXIS_Z, c.pose_change.turn);
    EXPECT_NEAR(moved.x, p.x + v.x, kTol) << "trial " << t;
    EXPECT_NEAR(moved.y, p.y + v.y, kTol) << "trial " << t;
    ++checked;
  }
  EXPECT_GT(checked, kTrials / 2);
}

}  // namespace
