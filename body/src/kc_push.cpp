#include "vesk_body/kc_push.h"

#include <vesk_support/os.h>

#include <cmath>
#include <cstdio>
#include <iostream>

#include "vesk_body/body_options.h"

namespace {

bool tracing() { return body_opt.log > 3; }

void trace_vec(const char* label, const float3& v) {
  std::cout << os::cout_global_elapsed() << label << ": [" << double(v.x) << ", " << double(v.y) << ", "
            << double(v.z) << "]\n";
}

void trace_angle(float d) { std::cout << os::cout_global_elapsed() << "angle_delta: " << double(d) << "\n"; }

void push_warning(const char* msg) {
  if (body_opt.log > 0) os::warn(msg);
}

bool usable(const float3& v) {
  return std::fabs(v.x) <= KC_PUSH_MAX_M && std::fabs(v.y) <= KC_PUSH_MAX_M &&
         std::fabs(v.z) <= KC_PUSH_MAX_M;  // false for NaN and +-inf as well
}

// Change of the bearing of p -> f about `axis`, measured as atan2 in the
// plane the rotation of float3_rotate turns.
float bearing_change(axis_xyz axis, const float3& p, const float3& f) {
  switch (axis) {
    case AXIS_X:
      return std::atan2(f.z, f.y) - std::atan2(p.z, p.y);
    case AXIS_Y:
      return std::atan2(f.x, f.z) - std::atan2(p.x, p.z);
    case AXIS_Z:
      return std::atan2(f.y, f.x) - std::atan2(p.y, p.x);
  }
  os::fail("unrecognised axis");
}

}  // namespace

void kc_applyPush_link(KC_LINK* link, float3* p, float3* v) {
  kc_assert(link != nullptr && p != nullptr && v != nullptr);
  const bool trace = tracing();
  if (trace) {
    std::printf("\n--- push frame \"%s\" ---\n\n", link->name ? link->name : "(null)");
    std::fflush(stdout);
    trace_vec("pushpos_i", *p);
    trace_vec("pushvec", *v);
  }

  // 1-2. Target and the raw change of the joint angle that reaches its bearing.
  float3 f = *p;
  float3_add_unary(&f, v);
  const bool fixed = !kc_isNone(link->angle_fixed);
  // A joint held by equal limits ends at that limit whatever the bearing
  // change (which is always finite here): the two atan2 are only needed for
  // the trace then.
  const bool pinned = !fixed && !kc_isNone(link->angle_min) && link->angle_min == link->angle_max;
  float d = 0.0f;
  if (fixed) {
    d = geom_smallangle(KC_FIXED_ANGLE_GAIN * (link->angle_fixed - link->angle));
  } else if (!pinned || trace) {
    d = geom_smallangle(bearing_change(link->axis, *p, f));
  } else if (link->axis != AXIS_X && link->axis != AXIS_Y && link->axis != AXIS_Z) {
    os::fail("unrecognised axis");
  }
  if (trace) {
    trace_vec("pushpos_i", *p);
    trace_vec("pushpos_f", f);
    trace_angle(d);
  }

  // 3. Limits (a fixed-angle step is not limited).
  const float old_angle = link->angle;
  float new_angle = old_angle + d;
  if (!fixed) {
    if (!kc_isNone(link->angle_min) && link->angle_min > new_angle) new_angle = link->angle_min;
    if (!kc_isNone(link->angle_max) && link->angle_max < new_angle) new_angle = link->angle_max;
    d = new_angle - old_angle;
  }
  if (trace) trace_angle(d);

  // 4-5. What the turn delivers, and what is left of the push.
  // (A turn by exactly 0 delivers exactly nothing; the rotation is skipped.)
  float3 a = {0.0f, 0.0f, 0.0f};
  if (d != 0.0f) {
    a = *p;
    float3_rotate(&a, link->axis, d);
    float3_subtract_unary(&a, p);
    float3_subtract_unary(v, &a);
  }
  if (trace) {
    trace_vec("pushvec_act", a);
    trace_vec("pushvec", *v);
  }

  // 6-7. Into the parent's frame: the rest with the old angle, the point (now
  // moved by the turn) with the new one.
  kc_toParentRel(link, v);
  if (trace) {
    trace_vec("pushvec", *v);
    trace_vec("pushpos_i", *p);
  }
  link->angle = new_angle;
  kc_toParentAbs(link, p);
  if (trace) {
    trace_vec("pushpos_i", *p);
    std::cout.flush();
  }
}

void kc_applyPush(KC_CHAIN* chain, const KC_PUSH* push, KC_PUSH_DEBUG* debug) {
  kc_assert(chain != nullptr && push != nullptr);
  float3 p = push->pushpos;
  float3 v = push->pushvec;
  const uint32_t flags = push->flags;

  if (flags & KC_PUSH_FLAG_VELOCITY) {
    float3_scale(&v, TICK_PERIOD);
  } else if (!(flags & KC_PUSH_FLAG_DISPLACEMENT)) {
    v = {0.0f, 0.0f, 0.0f};
  }

  const int link = push->link;
  if (link < 0 || link >= KC_NUM_LINKS) {
    push_warning("pushlink link index out of range");
    return;
  }
  // Bad input from the network must not reach the chain: a NaN would stay in
  // the joint angles for good, and overflowing squares would command an
  // infinite velocity.
  if (!usable(p) || !usable(v)) {
    push_warning("push not finite or too large");
    return;
  }

  if (flags & KC_PUSH_FLAG_VEC_IN_FOOT) kc_changeFrameRel(chain, 0, link, &v);

  if (!(flags & KC_PUSH_FLAG_NO_JOINTS)) {
    for (int i = link; i >= 1; --i) kc_applyPush_link(&chain->link[i], &p, &v);
  }

  if (flags & KC_PUSH_FLAG_NO_BASE) return;

  float forward = 0.0f;
  float turn = 0.0f;
  if (!(flags & KC_PUSH_FLAG_TURN_ONLY)) {
    // Stage A: forward along x to the target's distance from the z axis,
    // then turn about z onto the target's bearing.
    float3 f = p;
    float3_add_unary(&f, &v);
    if (debug) *debug = {p, v, f};
    const float x_sq = (f.x * f.x + f.y * f.y) - p.y * p.y;
    if (x_sq < 0.0f) {
      push_warning("x_sq negative");
      return;
    }
    const float xf = std::sqrt(x_sq);
    forward = xf - p.x;
    turn = std::atan2(f.y, f.x) - std::atan2(p.y, xf);
  } else {
    // Stage B: turn only, measured in the HEAD frame.
    kc_changeFrameAbs(chain, 0, KC_NUM_LINKS - 1, &p);
    kc_changeFrameRel(chain, 0, KC_NUM_LINKS - 1, &v);
    float3 f = p;
    float3_add_unary(&f, &v);
    if (debug) *debug = {p, v, f};
    turn = std::atan2(f.y, f.x) - std::atan2(p.y, p.x);
  }
  chain->pose_change.forward += forward;
  chain->pose_change.turn += turn;
}
