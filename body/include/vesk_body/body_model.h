// The robot's body model: the chain "motor" with the robot's five links, the
// pose a reset returns to, and the queue of pushes waiting for the next
// processing pass. Process-wide; the node serialises every call.
//
//   idx name  axis translation [m]      initial  limits            output
//   0   FOOT  Z    0, 0, 0              0        none              -
//   1   BODY  Y    0, 0, WHEEL_RADIUS   -6 deg   -6 .. -6 deg      "tilt"
//   2   NECK  Y    0.0022, 0, 0.0357    34 deg   8 .. 60 deg       "lift"
//   3   GMBL  Z    0, 0, 0.1201         0        -55 .. 55 deg     "yaw"
//   4   HEAD  Y    0, 0, 0              0        -22 .. 8 deg      "pitch"
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vesk_body/kc_chain.h"
#include "vesk_body/kc_push.h"

enum { KC_LINK_FOOT = 0, KC_LINK_BODY = 1, KC_LINK_NECK = 2, KC_LINK_GMBL = 3, KC_LINK_HEAD = 4 };

constexpr unsigned BODY_PUSH_QUEUE_MAX = 100;

// Joint angles [rad] of the body, and the reset variant with bit 0. The initial tilt and
// lift are the platform's default pose (TICK_D_DEFAULT_TILT, held by equal limits, and
// TICK_D_DEFAULT_LIFT); pushes are processed once per tick (TICK_RATE_HZ).
constexpr float BODY_LIFT_MIN_RAD = 0.13962634f;       // 8 deg
constexpr float BODY_LIFT_MAX_RAD = 1.0471976f;        // 60 deg
constexpr float BODY_YAW_MAX_RAD = 0.9599311f;         // 55 deg, symmetric
constexpr float BODY_PITCH_MIN_RAD = -0.38397244f;     // -22 deg
constexpr float BODY_PITCH_MAX_RAD = 0.13962634f;      // 8 deg
constexpr float BODY_RESET1_LIFT_RAD = 0.17453292f;    // 10 deg
constexpr float BODY_RESET1_PITCH_RAD = -0.08726646f;  // -5 deg

struct VESK_BODY_STATE {
  float foot_x;      // [m] FOOT translation
  float foot_y;      // [m]
  float foot_theta;  // [rad] FOOT angle
  float tilt;        // [rad] links 1..4
  float lift;
  float yaw;
  float pitch;
};

struct VESK_BODY_VEL {
  float forward;  // [m/s] along the FOOT x axis
  float turn;     // [rad/s] about the FOOT z axis
};

extern KC_CHAIN kc_m;
extern VESK_BODY_STATE state_reset_m;
extern std::vector<KC_PUSH> g_pushes;

void body_init();
void body_initChain(KC_CHAIN* chain, std::string name);

void body_getState_m(VESK_BODY_STATE* state);
void body_setState_m(const VESK_BODY_STATE* state);         // no limits applied
void body_getConfig(const KC_CHAIN* chain, float* config);  // 4 angles, links 1..4
void body_setConfig(KC_CHAIN* chain, const float* config);  // no limits applied

// Translation of link `index` of kc_m; an index outside 0..4 is a failed
// assertion.
float3 body_getTranslation_m(int index);

// Banner, reset pose; bit 0 of flags: lift 10 deg and pitch -5 deg.
void body_u_reset(uint32_t flags);

// Queues a copy; with 100 pushes pending the push is dropped silently.
void body_d_add_push(const KC_PUSH& push);

// Applies the debug push (if on) and every queued push in order, empties the
// queue and turns the base motion of one push period into a velocity.
void body_process(VESK_BODY_VEL& vel);

// The four joint angles for output: tilt, lift, yaw, pitch.
void body_get(float* out);
