// Cost of one push on the HEAD link of the body chain, next to the maths it
// is built from (one rotation, one atan2) measured in the same run.
#include <benchmark/benchmark.h>

#include <cmath>

#include "vesk_body/body_model.h"
#include "vesk_body/body_options.h"

namespace {

// The debug push of the node: the point ahead of the head, pushed sideways.
// Alternating its direction keeps the joints swinging inside their limits.
void BM_kc_applyPush_head(benchmark::State& state) {
  body_opt.log = 0;
  KC_CHAIN chain;
  body_initChain(&chain, "motor");
  KC_PUSH push;
  push.link = KC_LINK_HEAD;
  push.flags = KC_PUSH_FLAG_VELOCITY;
  push.pushpos = {0.1f, 0.0f, 0.0f};
  float sign = 1.0f;
  for (auto _ : state) {
    push.pushvec = {0.0f, 0.2f * sign, 0.05f * sign};
    sign = -sign;
    kc_applyPush(&chain, &push, nullptr);
    benchmark::DoNotOptimize(chain.pose_change);
  }
}
BENCHMARK(BM_kc_applyPush_head);

// The same push with the joints put back before each push (4 stores), so
// that every push starts from the reset pose.
void BM_kc_applyPush_head_from_reset(benchmark::State& state) {
  body_opt.log = 0;
  KC_CHAIN chain;
  body_initChain(&chain, "motor");
  float start[4];
  body_getConfig(&chain, start);
  KC_PUSH push;
  push.link = KC_LINK_HEAD;
  push.flags = KC_PUSH_FLAG_VELOCITY;
  push.pushpos = {0.1f, 0.0f, 0.0f};
  push.pushvec = {0.0f, 0.2f, 0.0f};
  for (auto _ : state) {
    body_setConfig(&chain, start);
    kc_applyPush(&chain, &push, nullptr);
    benchmark::DoNotOptimize(chain.pose_change);
  }
}
BENCHMARK(BM_kc_applyPush_head_from_reset);

void BM_float3_rotate(benchmark::State& state) {
  float3 v = {0.1f, 0.2f, 0.3f};
  float angle = 0.3f;
  for (auto _ : state) {
    float3_rotate(&v, AXIS_Z, angle);
    angle = -angle;
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_float3_rotate);

void BM_atan2f(benchmark::State& state) {
  float y = 0.3f, x = 0.7f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(y);
    benchmark::DoNotOptimize(x);
    float a = std::atan2(y, x);
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_atan2f);

}  // namespace

BENCHMARK_MAIN();
