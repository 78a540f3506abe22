// The body as a serial chain of five revolute links. Link 0 is the base,
// standing in the world (frame -1); link k (k >= 1) hangs from link k - 1.
// A point p in frame k is R(axis_k, angle_k) p + translation_k in frame k - 1.
#pragma once

#include <string>

#include "vesk_body/float3.h"

constexpr int KC_NUM_LINKS = 5;

// Value of a limit or of the fixed angle meaning "none" (compared exactly; a
// NaN in such a field counts as none as well).
constexpr float KC_ANGLE_NONE = 1000.0f;

inline bool kc_isNone(float limit) { return limit == KC_ANGLE_NONE || limit != limit; }  // NaN: none

struct KC_LINK {
  const char* name = nullptr;  // not owned
  axis_xyz axis = AXIS_Z;
  float angle_min = KC_ANGLE_NONE;          // [rad]
  float angle_max = KC_ANGLE_NONE;          // [rad]
  float angle_fixed = KC_ANGLE_NONE;        // [rad], locks the joint when not none
  float3 translation = {0.0f, 0.0f, 0.0f};  // [m] origin in the parent frame
  float angle = 0.0f;                       // [rad] about `axis`
};

struct KC_POSE_CHANGE {
  float forward = 0.0f;  // [m] along the base's x axis
  float turn = 0.0f;     // [rad] about the base's z axis
};

struct KC_CHAIN {
  std::string name;
  KC_LINK link[KC_NUM_LINKS];
  bool initialised = false;
  KC_POSE_CHANGE pose_change;  // base motion accumulated by pushes
};

// Failed assertion of the kinematics: prints "\n[FAILED ASSERT] [kinemod]
// failed assert\n\n" and raises std::runtime_error("[kinemod] failed assert").
[[noreturn]] void kc_assert_failed();
inline void kc_assert(bool condition) {
  if (!condition) kc_assert_failed();
}

// Stores translation and angle only while the chain is not yet initialised;
// always stores name, axis and limits, clears the fixed angle, constrains.
void kc_initLink(KC_CHAIN* chain, KC_LINK* link, const char* name, float3 translation, float angle,
                 axis_xyz axis, float angle_min, float angle_max);
void kc_constrainAngle(KC_LINK* link);
void kc_setAngle(KC_LINK* link, float angle);
void kc_zeroPoseChange(KC_CHAIN* chain);

void float3_rotate_fwd(float3* v, const KC_LINK* link);  // by +angle
void float3_rotate_rev(float3* v, const KC_LINK* link);  // by -angle

void kc_toParentAbs(const KC_LINK* link, float3* p);    // rotate, add translation
void kc_toParentRel(const KC_LINK* link, float3* v);    // rotate
void kc_fromParentAbs(const KC_LINK* link, float3* p);  // subtract translation, rotate back
void kc_fromParentRel(const KC_LINK* link, float3* v);  // rotate back

// Carry a point (Abs) or a direction (Rel) from frame `from` to frame `to`,
// each -1 (world) to 4. An index outside 0..4 on the path fails as an
// assertion; links earlier on the path have then already been applied.
void kc_changeFrameAbs(const KC_CHAIN* chain, int from, int to, float3* p);
void kc_changeFrameRel(const KC_CHAIN* chain, int from, int to, float3* v);

// Diagnostic print, only when body_opt.log > 1.
void kc_dumpLink(const KC_LINK* link);
void kc_dumpChain(const KC_CHAIN* chain);
