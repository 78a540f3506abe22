// Speed of the voice: the real-time factor of one 320-sample block, and each
// table function against its C library twin over the same inputs. Everything
// is measured in this run on this machine (process CPU time), so the figures
// are ratios rather than absolute times.
//
//   make voice_bench        (in the build folder)
#include <time.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "vesk_voice/fastmath.h"
#include "vesk_voice/voice_block.h"

namespace {

double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

volatile float g_sink;  // keeps results alive

// Best of `reps` timings of f(), in seconds.
double best_of(int reps, const std::function<void()>& f) {
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    const double t0 = cpu_seconds();
    f();
    best = std::min(best, cpu_seconds() - t0);
  }
  return best;
}

// Sum of fn over the inputs, so that no call can be dropped.
template <class Fn>
double time_unary(const std::vector<float>& xs, Fn fn, int reps) {
  return best_of(reps, [&] {
    float acc = 0.0f;
    for (float x : xs) acc += fn(x);
    g_sink = acc;
  });
}

// The approximation is passed as a lambda so that it is inlined as in the
// synthesis loop; the C library function is a call either way.
template <class Fast, class Lib>
void compare(const char* name, const std::vector<float>& xs, Fast approx, Lib accurate, int reps) {
  const double t_fast = time_unary(xs, approx, reps);
  const double t_lib = time_unary(xs, accurate, reps);
  std::printf("%-22s %8.2f ns/call  C library %8.2f ns/call  ratio %6.2fx\n", name, 1e9 * t_fast / xs.size(),
              1e9 * t_lib / xs.size(), t_lib / t_fast);
}

}  // namespace

int main() {
  // Real-time factor of the node's block computation.
  VOCS_STATE state;
  vocalsynth_init(state);
  int16_t block[kVoiceBlockSamples];
  const AffState in{0.4f, 0.5f, 0.9f, 0.5f};
  for (int k = 0; k < 200; ++k) vocalsynth_update(state, in, block);  // warm up
  const int blocks = 5000;
  const double t_blocks = best_of(3, [&] {
    for (int k = 0; k < blocks; ++k) vocalsynth_update(state, in, block);
    g_sink = block[17];
  });
  const double audio = blocks * double(kVoiceBlockSamples) / kVocsSampleRate;
  std::printf("block of %d samples   %8.2f us/block   real-time factor %.0fx (target >= 2000x)\n",
              kVoiceBlockSamples, 1e6 * t_blocks / blocks, audio / t_blocks);

  // Table functions against the C library, over the inputs each is used on.
  const int n = 1 << 20;
  std::vector<float> angles(n), wide(n), unit(n), ys(n), xs(n);
  rng_seed = kRngSeedStart;
  for (int i = 0; i < n; ++i) {
    angles[i] = (rng_unif_f() * 2.0f - 1.0f) * 25.0f;  // radians, as 4*theta reaches
    wide[i] = (rng_unif_f() * 2.0f - 1.0f) * 5.0f;
    unit[i] = rng_unif_f() * 2.0f - 1.0f;
    ys[i] = rng_unif_f() * 2.0f - 1.0f;
    xs[i] = rng_unif_f() * 2.0f - 1.0f;
  }
  const int reps = 5;
  compare(
      "cosf_approx", angles, [](float x) { return cosf_approx(x); }, [](float x) { return cosf_accurate(x); },
      reps);
  compare(
      "sinf_approx", angles, [](float x) { return sinf_approx(x); }, [](float x) { return sinf_accurate(x); },
      reps);
  compare(
      "tanhf_approx", wide, [](float x) { return tanhf_approx(x); },
      [](float x) { return tanhf_accurate(x); }, reps);
  compare(
      "exp_minus_sq_approx", wide, [](float x) { return exp_minus_sq_approx(x); },
      [](float x) { return expf(-x * x); }, reps);
  compare(
      "asinf_approx", unit, [](float x) { return asinf_approx(x); },
      [](float x) { return asinf_accurate(x); }, reps);

  const auto atan2_loop = [&](auto fn) {
    return best_of(reps, [&] {
      float acc = 0.0f;
      for (int i = 0; i < n; ++i) acc += fn(ys[i], xs[i]);
      g_sink = acc;
    });
  };
  const double t_fast = atan2_loop([](float y, float x) { return atan2f_approx(y, x); });
  const double t_lib = atan2_loop([](float y, float x) { return atan2f_accurate(y, x); });
  std::printf("%-22s %8.2f ns/call  C library %8.2f ns/call  ratio %6.2fx\n", "atan2f_approx",
              1e9 * t_fast / n, 1e9 * t_lib / n, t_lib / t_fast);
  return 0;
}
