#include "vesk_body/kc_chain.h"

#include <vesk_support/os.h>

#include <cmath>
#include <iostream>
#include <stdexcept>

#include "vesk_body/body_options.h"

BODY_OPTIONS body_opt;

namespace {

constexpr float kDegPerRad = 57.29578f;

template <void (*Up)(const KC_LINK*, float3*), void (*Down)(const KC_LINK*, float3*)>
void change_frame(const KC_CHAIN* chain, int from, int to, float3* v) {
  kc_assert(chain != nullptr);
  if (from < to) {
    for (int i = from + 1; i <= to; ++i) {
      kc_assert(i >= 0 && i < KC_NUM_LINKS);
      Up(&chain->link[i], v);
    }
  } else if (from > to) {
    kc_assert(from >= 0 && from < KC_NUM_LINKS);
    for (int i = from; i > to; --i) {
      kc_assert(i >= 0 && i < KC_NUM_LINKS);
      Down(&chain->link[i], v);
    }
  }
}

char axis_letter(axis_xyz axis) {
  switch (axis) {
    case AXIS_X:
      return 'X';
    case AXIS_Y:
      return 'Y';
    case AXIS_Z:
      return 'Z';
  }
  return '?';
}

}  // namespace

void kc_assert_failed() {
  const char* msg = "[kinemod] failed assert";
  std::cout << "\n[FAILED ASSERT] " << msg << "\n" << std::endl;
  throw std::runtime_error(msg);
}

void kc_initLink(KC_CHAIN* chain, KC_LINK* link, const char* name, float3 translation, float angle,
                 axis_xyz axis, float angle_min, float angle_max) {
  kc_assert(chain != nullptr && link != nullptr);
  if (!chain->initialised) {
    link->translation = translation;
    link->angle = angle;
  }
  link->name = name;
  link->axis = axis;
  link->angle_fixed = KC_ANGLE_NONE;
  link->angle_min = angle_min;
  link->angle_max = angle_max;
  kc_constrainAngle(link);
}

void kc_constrainAngle(KC_LINK* link) {
  if (!kc_isNone(link->angle_fixed)) {
    link->angle = link->angle_fixed;
    return;
  }
  if (!kc_isNone(link->angle_min) && link->angle_min > link->angle) link->angle = link->angle_min;
  if (!kc_isNone(link->angle_max) && link->angle_max < link->angle) link->angle = link->angle_max;
}

void kc_setAngle(KC_LINK* link, float angle) {
  link->angle = angle;
  kc_constrainAngle(link);
}

void kc_zeroPoseChange(KC_CHAIN* chain) {
  chain->pose_change.forward = 0.0f;
  chain->pose_change.turn = 0.0f;
}

void float3_rotate_fwd(float3* v, const KC_LINK* link) {
  kc_assert(link != nullptr);
  float3_rotate(v, link->axis, link->angle);
}

void float3_rotate_rev(float3* v, const KC_LINK* link) {
  kc_assert(link != nullptr);
  float3_rotate(v, link->axis, -link->angle);
}

void kc_toParentAbs(const KC_LINK* link, float3* p) {
  float3_rotate_fwd(p, link);
  float3_add_unary(p, &link->translation);
}

void kc_toParentRel(const KC_LINK* link, float3* v) { float3_rotate_fwd(v, link); }

void kc_fromParentAbs(const KC_LINK* link, float3* p) {
  kc_assert(link != nullptr);
  float3_subtract_unary(p, &link->translation);
  float3_rotate_rev(p, link);
}

void kc_fromParentRel(const KC_LINK* link, float3* v) { float3_rotate_rev(v, link); }

void kc_changeFrameAbs(const KC_CHAIN* chain, int from, int to, float3* p) {
  change_frame<kc_fromParentAbs, kc_toParentAbs>(chain, from, to, p);
}

void kc_changeFrameRel(const KC_CHAIN* chain, int from, int to, float3* v) {
  change_frame<kc_fromParentRel, kc_toParentRel>(chain, from, to, v);
}

void kc_dumpLink(const KC_LINK* link) {
  if (body_opt.log <= 1) return;
  kc_assert(link != nullptr);
  // A missing name is printed as such: streaming a null pointer would put
  // std::cout into its failure state and silence all later console output.
  const char* name = link->name ? link->name : "(null)";
  const float3& t = link->translation;
  std::cout << os::cout_global_elapsed() << name << " [" << double(t.x) << "," << double(t.y) << ","
            << double(t.z) << "] @ " << double(link->angle * kDegPerRad) << "deg (";
  std::cout << os::cout_global_elapsed() << axis_letter(link->axis);
  std::cout << os::cout_global_elapsed() << ")"
            << "\n";
}

void kc_dumpChain(const KC_CHAIN* chain) {
  if (body_opt.log <= 1) return;
  kc_assert(chain != nullptr);
  std::cout << os::cout_global_elapsed() << "---- KC CHAIN \"" << chain->name << "\" ------------------"
            << std::endl;
  for (const KC_LINK& link : chain->link) kc_dumpLink(&link);
  std::cout << os::cout_global_elapsed() << "--------------------------------" << std::endl;
}
