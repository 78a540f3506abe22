// ResizeImage (three channels) against OpenCV's cv::resize with INTER_AREA on the same
// image, single thread, measured in the same run. Prints thread CPU time per image and the
// ratio ours / OpenCV (below 1: ours is faster).
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "vesk_gazebo/image_resize.h"

namespace {

double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Median over `rounds` of the CPU time per call [s] of `reps` calls.
template <class F>
double Measure(F f, int reps, int rounds = 9) {
  std::vector<double> t;
  f();  // warm
  for (int r = 0; r < rounds; ++r) {
    const double t0 = CpuNow();
    for (int i = 0; i < reps; ++i) f();
    t.push_back((CpuNow() - t0) / reps);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

void Case(const char* name, int w, int h, int W, int H, int reps) {
  std::mt19937 rng(42);
  cv::Mat src(h, w, CV_8UC3);
  for (int i = 0; i < h * w * 3; ++i) src.data[i] = static_cast<unsigned char>(rng());
  std::vector<unsigned char> ours(static_cast<size_t>(W) * H * 3);
  cv::Mat theirs;
  volatile unsigned sink = 0;
  const double t_ours = Measure(
      [&]() {
        for (int c = 0; c < 3; ++c) vesk_gazebo::ResizeImage(src.data + c, w, h, ours.data() + c, W, H);
        sink = sink + ours[ours.size() / 2];
      },
      reps);
  auto run_ours = [&]() {
    for (int c = 0; c < 3; ++c) vesk_gazebo::ResizeImage(src.data + c, w, h, ours.data() + c, W, H);
    sink = sink + ours[ours.size() / 2];
  };
  vesk_gazebo::SetResizeSimd(false);
  const double t_plain = Measure(run_ours, reps);
  vesk_gazebo::SetResizeSimd(true);
  const double t_cv = Measure(
      [&]() {
        cv::resize(src, theirs, cv::Size(W, H), 0, 0, cv::INTER_AREA);
        sink = sink + theirs.data[theirs.total() * 3 / 2];
      },
      reps);
  std::printf("%-38s %9.1f us %9.1f us   ratio %.2f   (plain code %.1f us, ratio %.2f)\n", name, t_ours * 1e6,
              t_cv * 1e6, t_ours / t_cv, t_plain * 1e6, t_plain / t_cv);
}

}  // namespace

int main() {
  cv::setNumThreads(1);
  std::printf("%-40s %12s %12s   %s\n", "case (3 channels)", "ResizeImage", "cv INTER_AREA", "ours/cv");
  Case("1280x720 -> 640x360 (2x2)", 1280, 720, 640, 360, 40);
  Case("1280x720 -> 320x180 (4x4)", 1280, 720, 320, 180, 40);
  Case("640x360 -> 128x72 (area, 5)", 640, 360, 128, 72, 40);
  Case("640x360 -> 500x300 (area, 1.28x1.2)", 640, 360, 500, 300, 40);
  Case("640x360 -> 427x240 (area, 1.5)", 640, 360, 427, 240, 40);
  Case("1280x720 -> 500x300 (area, 2.56x2.4)", 1280, 720, 500, 300, 20);
  return 0;
}
