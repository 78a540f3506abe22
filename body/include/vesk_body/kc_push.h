// Pushes: requests to move a point of one link by a vector. The joints from
// the pushed link down to link 1 each take what a turn about their axis can
// deliver within their limits; the base (link 0) takes the rest as a forward
// displacement and a turn, accumulated in the chain's pose_change.
#pragma once

#include <cstdint>

#include "vesk_body/kc_chain.h"
#include "vesk_net/records.h"

constexpr uint32_t KC_PUSH_FLAG_DISPLACEMENT = 0x01;  // pushvec is a displacement [m]
constexpr uint32_t KC_PUSH_FLAG_VELOCITY = 0x02;      // pushvec is a velocity [m/s], wins over 0x01
constexpr uint32_t KC_PUSH_FLAG_TURN_ONLY = 0x04;     // the base only turns
constexpr uint32_t KC_PUSH_FLAG_NO_BASE = 0x08;       // skip the base stage
constexpr uint32_t KC_PUSH_FLAG_NO_JOINTS = 0x10;     // skip the joint stage
constexpr uint32_t KC_PUSH_FLAG_DEFER = 0x20;         // queue without a processing pass (node)
constexpr uint32_t KC_PUSH_FLAG_VEC_IN_FOOT = 0x40;   // pushvec is given in frame 0

// One push per platform tick (TICK_PERIOD): a velocity push moves by velocity x TICK_PERIOD.
constexpr float KC_FIXED_ANGLE_GAIN = 0.1f;  // step toward a fixed angle per push

// Largest magnitude [m] of a push point or of a push vector (after velocity
// scaling) that a push may carry. The body is a few decimetres long, so this
// only rejects garbage, and it keeps every square in the algorithm finite.
constexpr float KC_PUSH_MAX_M = 1.0e6f;

struct KC_PUSH {
  int32_t link = 0;  // pushed link, 0..4; pushpos is in its frame
  uint32_t flags = 0;
  float3 pushpos = {0.0f, 0.0f, 0.0f};  // [m]
  float3 pushvec = {0.0f, 0.0f, 0.0f};  // [m] or [m/s] by flags
};

// Written by the base stage only, in the frame it works in.
struct KC_PUSH_DEBUG {
  float3 pushpos_i;  // push point as the base stage starts
  float3 pushvec;    // remaining push vector then
  float3 pushpos_f;  // target point, their sum
};

// Applies one push: joint angles of links 1..4 change, pose_change grows.
// A push on a link outside 0..4 warns "pushlink link index out of range"; a
// push whose point or vector is not finite or beyond KC_PUSH_MAX_M warns
// "push not finite or too large"; both are dropped without effect.
void kc_applyPush(KC_CHAIN* chain, const KC_PUSH* push, KC_PUSH_DEBUG* debug);

// One joint: turns `link` toward the target p + v within its limits and
// carries p and the undelivered rest of v into the parent's frame.
void kc_applyPush_link(KC_LINK* link, float3* p, float3* v);
