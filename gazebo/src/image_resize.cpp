// Camera image downscaling and eye-frame geometry.
#include "vesk_gazebo/image_resize.h"

#include <cmath>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <vesk_support/os.h>

namespace vesk_gazebo {

namespace {

constexpr int kPix = 3;                   // bytes per pixel
constexpr double kEdgeMargin = 0.000001;  // keeps the last span inside the image

void ResizeBlock4(const unsigned char* src, int w, unsigned char* dst, int W, int H) {
  const size_t row = static_cast<size_t>(w) * kPix;
  for (int j = 0; j < H; ++j) {
    const unsigned char* r0 = src + static_cast<size_t>(4 * j) * row;
    const unsigned char* r1 = r0 + row;
    const unsigned char* r2 = r1 + row;
    const unsigned char* r3 = r2 + row;
    unsigned char* out = dst + static_cast<size_t>(j) * W * kPix;
    for (int k = 0; k < W; ++k) {
      const size_t x = static_cast<size_t>(k) * 4 * kPix;
      unsigned s = 0;
      for (int i = 0; i < 4 * kPix; i += kPix)
        s += unsigned(r0[x + i]) + r1[x + i] + r2[x + i] + r3[x + i];
      out[static_cast<size_t>(k) * kPix] = static_cast<unsigned char>(s >> 4);
    }
  }
}

void ResizeBlock2(const unsigned char* src, int w, unsigned char* dst, int W, int H) {
  const size_t row = static_cast<size_t>(w) * kPix;
  for (int j = 0; j < H; ++j) {
    const unsigned char* r0 = src + static_cast<size_t>(2 * j) * row;
    const unsigned char* r1 = r0 + row;
    unsigned char* out = dst + static_cast<size_t>(j) * W * kPix;
    for (int k = 0; k < W; ++k) {
      const size_t x = static_cast<size_t>(k) * 2 * kPix;
      const unsigned s = unsigned(r0[x]) + r0[x + kPix] + r1[x] + r1[x + kPix];
      out[static_cast<size_t>(k) * kPix] = static_cast<unsigned char>(s >> 2);
    }
  }
}

void ResizeBlock3(const unsigned char* src, int w, unsigned char* dst, int W, int H) {
  const size_t row = static_cast<size_t>(w) * kPix;
  for (int j = 0; j < H; ++j) {
    const unsigned char* r0 = src + static_cast<size_t>(3 * j) * row;
    const unsigned char* r1 = r0 + row;
    const unsigned char* r2 = r1 + row;
    unsigned char* out = dst + static_cast<size_t>(j) * W * kPix;
    for (int k = 0; k < W; ++k) {
      const size_t x = static_cast<size_t>(k) * 3 * kPix;
      unsigned s = 0;
      for (int i = 0; i < 3 * kPix; i += kPix) s += unsigned(r0[x + i]) + r1[x + i] + r2[x + i];
      out[static_cast<size_t>(k) * kPix] = static_cast<unsigned char>(s / 9);
    }
  }
}

// One output span along an axis: source indices first..last with their weights.
struct Span {
  int first;
  int last;
  double w_first;  // weight of `first` (when first == last: the whole span's weight)
  double w_last;   // weight of `last` (unused when first == last)
  bool integral;   // all weights exactly 0 or 1: integer sums give the same result
};

// Output index i covers [u, v) of the source axis of length n, u being the previous span's
// end and v = min((i + 1) * s, n - margin).
void MakeSpans(int n, int N, std::vector<Span>& spans) {
  spans.resize(static_cast<size_t>(N));
  const double s = static_cast<double>(n) / N;
  const double limit = n - kEdgeMargin;
  double u = 0.0;
  for (int i = 0; i < N; ++i) {
    double v = (i + 1) * s;
    if (v >= n) v = limit;
    if (v > limit) v = limit;
    Span& sp = spans[static_cast<size_t>(i)];
    sp.first = static_cast<int>(std::floor(u));
    sp.last = static_cast<int>(std::floor(v));
    if (sp.first == sp.last) {
      sp.w_first = (sp.first + 1 - u) + (v - (sp.last + 1));
      sp.w_last = sp.w_first;
    } else {
      sp.w_first = sp.first + 1 - u;
      sp.w_last = 1.0 + (v - (sp.last + 1));
    }
    auto unit = [](double x) { return x == 0.0 || x == 1.0; };
    sp.integral = unit(sp.w_first) && unit(sp.w_last);
    u = v;
  }
}

inline double Weight(const Span& sp, int i) {
  if (i == sp.first) return sp.w_first;
  if (i == sp.last) return sp.w_last;
  return 1.0;
}

void ResizeArea(const unsigned char* src, int w, int h, unsigned char* dst, int W, int H) {
  thread_local std::vector<Span> rows, cols;
  MakeSpans(h, H, rows);
  MakeSpans(w, W, cols);
  const double scale = (static_cast<double>(W) / w) * (static_cast<double>(H) / h);
  for (int j = 0; j < H; ++j) {
    const Span& ry = rows[static_cast<size_t>(j)];
    unsigned char* out = dst + static_cast<size_t>(j) * W * kPix;
    for (int k = 0; k < W; ++k) {
      const Span& cx = cols[static_cast<size_t>(k)];
      if (ry.last < ry.first || cx.last < cx.first) {
        out[static_cast<size_t>(k) * kPix] = 0;
        continue;
      }
      double sum = 0.0;
      if (ry.integral && cx.integral) {
        // Every term is a whole number, so the integer sum equals the floating one.
        unsigned isum = 0;
        for (int y = ry.first; y <= ry.last; ++y) {
          if (Weight(ry, y) == 0.0) continue;
          const unsigned char* p = src + (static_cast<size_t>(y) * w + cx.first) * kPix;
          for (int x = cx.first; x <= cx.last; ++x, p += kPix)
            if (Weight(cx, x) != 0.0) isum += *p;
        }
        sum = isum;
      } else {
        for (int y = ry.first; y <= ry.last; ++y) {
          const double wy = Weight(ry, y);
          const unsigned char* p = src + (static_cast<size_t>(y) * w + cx.first) * kPix;
          for (int x = cx.first; x <= cx.last; ++x, p += kPix) sum += *p * wy * Weight(cx, x);
        }
      }
      double value = sum * scale;
      if (!(value > 0.0)) value = 0.0;
      if (value > 255.0) value = 255.0;
      out[static_cast<size_t>(k) * kPix] = static_cast<unsigned char>(value);
    }
  }
}

}  // namespace

void ResizeImage(const unsigned char* src, int w, int h, unsigned char* dst, int W, int H) {
  if (W < 1 || H < 1 || w < 1 || h < 1) return;
  if (w == 4 * W && h == 4 * H)
    ResizeBlock4(src, w, dst, W, H);
  else if (w == 2 * W && h == 2 * H)
    ResizeBlock2(src, w, dst, W, H);
  else if (w == 3 * W + 2 && h == 3 * H)
    ResizeBlock3(src, w, dst, W, H);
  else
    ResizeArea(src, w, h, dst, W, H);
}

FrameImage FitEyeFrame(FrameImage in, int stream, int W0, int H0, unsigned char* resize_buf,
                       unsigned char* crop_buf, size_t buf_bytes, bool* reported) {
  FrameImage out = in;
  if (out.height != H0) {
    if (H0 < 1 || out.height % H0 != 0 || out.height < H0)
      os::fail("resize frame failed (height scale not integral)");
    const int f = out.height / H0;
    if (out.width % f != 0) os::fail("resize frame failed (width scale not integral)");
    const int W = out.width / f;
    if (static_cast<size_t>(W) * H0 * kPix > buf_bytes)
      os::fail("frame too large for frame buffer (" + std::to_string(out.width) + " x " +
               std::to_string(out.height) + " resized to " + std::to_string(W) + " x " +
               std::to_string(H0) + ")");
    if (reported && !*reported) {
      std::cout << "resizing stream " << stream << " from " << out.width << " x " << out.height
                << " to " << W << " x " << H0 << std::endl;
      *reported = true;
    }
    for (int c = 0; c < kPix; ++c)
      ResizeImage(out.data + c, out.width, out.height, resize_buf + c, W, H0);
    out.data = resize_buf;
    out.width = W;
    out.height = H0;
  }
  if (out.width != W0) {
    if (out.width < W0) os::fail("crop frame failed (cropped larger than original)");
    if (W0 < 0 || static_cast<size_t>(W0) * out.height * kPix > buf_bytes)
      os::fail("frame too large for frame buffer (" + std::to_string(out.width) + " x " +
               std::to_string(out.height) + " cropped to " + std::to_string(W0) + " x " +
               std::to_string(out.height) + ")");
    const size_t in_row = static_cast<size_t>(out.width) * kPix;
    const size_t out_row = static_cast<size_t>(W0) * kPix;
    const size_t offset = static_cast<size_t>((out.width - W0) / 2) * kPix;
    for (int y = 0; y < out.height; ++y)
      std::memcpy(crop_buf + y * out_row, out.data + y * in_row + offset, out_row);
    out.data = crop_buf;
    out.width = W0;
  }
  return out;
}

FrameImage TrimFrame(FrameImage in) {
  if (in.height == 180) {
    in.height = 176;
    in.data += 2 * static_cast<size_t>(in.width) * kPix;
  }
  return in;
}

}  // namespace vesk_gazebo
