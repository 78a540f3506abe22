#include "vesk_body/body_model.h"

#include <iostream>

#include "vesk_body/body_options.h"

KC_CHAIN kc_m;
VESK_BODY_STATE state_reset_m = {};
std::vector<KC_PUSH> g_pushes;

void body_initChain(KC_CHAIN* chain, std::string name) {
  kc_assert(chain != nullptr);
  KC_LINK* link = chain->link;
  kc_initLink(chain, &link[KC_LINK_FOOT], "FOOT", {0.0f, 0.0f, 0.0f}, 0.0f, AXIS_Z, KC_ANGLE_NONE,
              KC_ANGLE_NONE);
  // The body tilts about the wheel axle.
  kc_initLink(chain, &link[KC_LINK_BODY], "BODY", {0.0f, 0.0f, WHEEL_RADIUS}, TICK_D_DEFAULT_TILT, AXIS_Y,
              TICK_D_DEFAULT_TILT, TICK_D_DEFAULT_TILT);
  kc_initLink(chain, &link[KC_LINK_NECK], "NECK", {0.0022f, 0.0f, 0.0357f}, TICK_D_DEFAULT_LIFT, AXIS_Y,
              BODY_LIFT_MIN_RAD, BODY_LIFT_MAX_RAD);
  kc_initLink(chain, &link[KC_LINK_GMBL], "GMBL", {0.0f, 0.0f, 0.1201f}, 0.0f, AXIS_Z, -BODY_YAW_MAX_RAD,
              BODY_YAW_MAX_RAD);
  kc_initLink(chain, &link[KC_LINK_HEAD], "HEAD", {0.0f, 0.0f, 0.0f}, 0.0f, AXIS_Y, BODY_PITCH_MIN_RAD,
              BODY_PITCH_MAX_RAD);
  chain->name = std::move(name);
  chain->initialised = true;
}

void body_init() {
  body_initChain(&kc_m, "motor");
  body_getState_m(&state_reset_m);
  g_pushes.clear();
  g_pushes.reserve(BODY_PUSH_QUEUE_MAX);
  if (body_opt.log > 2) kc_dumpChain(&kc_m);
}

void body_getState_m(VESK_BODY_STATE* state) {
  const KC_LINK* link = kc_m.link;
  state->foot_x = link[KC_LINK_FOOT].translation.x;
  state->foot_y = link[KC_LINK_FOOT].translation.y;
  state->foot_theta = link[KC_LINK_FOOT].angle;
  state->tilt = link[KC_LINK_BODY].angle;
  state->lift = link[KC_LINK_NECK].angle;
  state->yaw = link[KC_LINK_GMBL].angle;
  state->pitch = link[KC_LINK_HEAD].angle;
}

void body_setState_m(const VESK_BODY_STATE* state) {
  KC_LINK* link = kc_m.link;
  link[KC_LINK_FOOT].translation.x = state->foot_x;
  link[KC_LINK_FOOT].translation.y = state->foot_y;
  link[KC_LINK_FOOT].angle = state->foot_theta;
  link[KC_LINK_BODY].angle = state->tilt;
  link[KC_LINK_NECK].angle = state->lift;
  link[KC_LINK_GMBL].angle = state->yaw;
  link[KC_LINK_HEAD].angle = state->pitch;
}

void body_getConfig(const KC_CHAIN* chain, float* config) {
  for (int i = 0; i < 4; ++i) config[i] = chain->link[i + 1].angle;
}

void body_setConfig(KC_CHAIN* chain, const float* config) {
  for (int i = 0; i < 4; ++i) chain->link[i + 1].angle = config[i];
}

float3 body_getTranslation_m(int index) {
  kc_assert(index >= 0 && index < KC_NUM_LINKS);
  return kc_m.link[index].translation;
}

void body_u_reset(uint32_t flags) {
  std::cout << "******** KINEMOD RESET ********" << std::endl;
  body_setState_m(&state_reset_m);
  if (flags & 1u) {
    kc_m.link[KC_LINK_NECK].angle = BODY_RESET1_LIFT_RAD;
    kc_m.link[KC_LINK_HEAD].angle = BODY_RESET1_PITCH_RAD;
  }
}

void body_d_add_push(const KC_PUSH& push) {
  if (g_pushes.size() >= BODY_PUSH_QUEUE_MAX) return;
  g_pushes.push_back(push);
}

void body_process(VESK_BODY_VEL& vel) {
  vel = {0.0f, 0.0f};
  kc_zeroPoseChange(&kc_m);
  if (body_opt.apply_debug_push) {
    KC_PUSH debug_push;
    debug_push.link = KC_LINK_HEAD;
    debug_push.flags = KC_PUSH_FLAG_VELOCITY;
    debug_push.pushpos = {0.1f, 0.0f, 0.0f};
    debug_push.pushvec = {0.0f, 0.2f, 0.0f};
    kc_applyPush(&kc_m, &debug_push, nullptr);
  }
  // The queue is emptied even when a push raises, so that one bad push is not
  // applied again on every later pass.
  struct Clear {
    ~Clear() { g_pushes.clear(); }
  } clear_queue;
  for (const KC_PUSH& push : g_pushes) kc_applyPush(&kc_m, &push, nullptr);
  vel.forward += TICK_RATE_HZ * kc_m.pose_change.forward;
  vel.turn += TICK_RATE_HZ * kc_m.pose_change.turn;
}

void body_get(float* out) { body_getConfig(&kc_m, out); }
