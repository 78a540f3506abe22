// Camera image downscaling and eye-frame geometry.
#include "vesk_gazebo/image_resize.h"

#include <vesk_support/os.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VESK_RESIZE_SSSE3 1
#endif

namespace vesk_gazebo {

namespace {

constexpr int kPix = 3;                   // bytes per pixel
constexpr double kEdgeMargin = 0.000001;  // keeps the last span inside the image

// Integer mean of F x F blocks: the block sum divided by F * F (for F = 4 and 2 the
// division is the right shift by 4 and by 2). Blocks start at column 0, so the columns past
// F * W are never read.
template <int F>
void ResizeBlock(const unsigned char* src, int w, unsigned char* dst, int W, int H) {
  const size_t row = static_cast<size_t>(w) * kPix;
  for (int j = 0; j < H; ++j) {
    const unsigned char* r0 = src + static_cast<size_t>(F * j) * row;
    unsigned char* out = dst + static_cast<size_t>(j) * W * kPix;
    for (int k = 0; k < W; ++k) {
      const size_t x = static_cast<size_t>(k) * F * kPix;
      unsigned s = 0;
      for (int y = 0; y < F; ++y) {
        const unsigned char* r = r0 + y * row + x;
        for (int i = 0; i < F * kPix; i += kPix) s += r[i];
      }
      out[static_cast<size_t>(k) * kPix] = static_cast<unsigned char>(s / unsigned(F * F));
    }
  }
}

#ifdef VESK_RESIZE_SSSE3
// The 2 x 2 block means with SSSE3, 16 outputs at a time: the channel's bytes of 32 source
// pixels per row are gathered with byte shuffles, horizontal pairs summed with maddubs, the
// two rows added: the same integer arithmetic as ResizeBlock<2>. The 16 results are merged
// into 48 destination bytes (16 pixels) read and written back whole, the other channels'
// bytes unchanged. A block is only taken while the source pixel and the output pixel after
// it exist, so no access leaves the image.
__attribute__((target("ssse3"))) inline __m128i Gather16(const unsigned char* p) {
  const __m128i m0 = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i m1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
  const __m128i m2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
  const __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  const __m128i c2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(c0, m0), _mm_shuffle_epi8(c1, m1)),
                      _mm_shuffle_epi8(c2, m2));
}

// Writes the 16 bytes of q to o[0], o[3], ..., o[45]; the bytes between keep their values.
__attribute__((target("ssse3"))) inline void Scatter16(__m128i q, unsigned char* o) {
  const __m128i s0 = _mm_setr_epi8(0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5);
  const __m128i s1 = _mm_setr_epi8(-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1);
  const __m128i s2 = _mm_setr_epi8(-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1);
  const __m128i k0 = _mm_setr_epi8(0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0);
  const __m128i k1 = _mm_setr_epi8(-1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1);
  const __m128i k2 = _mm_setr_epi8(-1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1, 0, -1, -1);
  __m128i* d = reinterpret_cast<__m128i*>(o);
  const __m128i d0 = _mm_loadu_si128(d), d1 = _mm_loadu_si128(d + 1), d2 = _mm_loadu_si128(d + 2);
  _mm_storeu_si128(d, _mm_or_si128(_mm_and_si128(d0, k0), _mm_shuffle_epi8(q, s0)));
  _mm_storeu_si128(d + 1, _mm_or_si128(_mm_and_si128(d1, k1), _mm_shuffle_epi8(q, s1)));
  _mm_storeu_si128(d + 2, _mm_or_si128(_mm_and_si128(d2, k2), _mm_shuffle_epi8(q, s2)));
}

__attribute__((target("ssse3"))) void ResizeBlock2Ssse3(const unsigned char* src, int w, unsigned char* dst,
                                                        int W, int H) {
  const size_t row = static_cast<size_t>(w) * kPix;
  const __m128i ones = _mm_set1_epi8(1);
  for (int j = 0; j < H; ++j) {
    const unsigned char* r0 = src + static_cast<size_t>(2 * j) * row;
    const unsigned char* r1 = r0 + row;
    unsigned char* out = dst + static_cast<size_t>(j) * W * kPix;
    int k = 0;
    for (; k + 16 < W; k += 16) {
      const size_t x = static_cast<size_t>(k) * 2 * kPix;
      const __m128i a =
          _mm_add_epi16(_mm_maddubs_epi16(Gather16(r0 + x), ones), _mm_maddubs_epi16(Gather16(r1 + x), ones));
      const __m128i b = _mm_add_epi16(_mm_maddubs_epi16(Gather16(r0 + x + 48), ones),
                                      _mm_maddubs_epi16(Gather16(r1 + x + 48), ones));
      Scatter16(_mm_packus_epi16(_mm_srli_epi16(a, 2), _mm_srli_epi16(b, 2)),
                out + static_cast<size_t>(k) * kPix);
    }
    for (; k < W; ++k) {
      const size_t x = static_cast<size_t>(k) * 2 * kPix;
      const unsigned s = unsigned(r0[x]) + r0[x + kPix] + r1[x] + r1[x + kPix];
      out[static_cast<size_t>(k) * kPix] = static_cast<unsigned char>(s >> 2);
    }
  }
}

std::atomic<bool> g_simd_enabled{true};

bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has && g_simd_enabled.load(std::memory_order_relaxed);
}

// Column sums of the channel over source rows ya..yb (at most 257 rows, so that 16-bit
// lanes hold them), 16 columns at a time.
__attribute__((target("ssse3"))) int ColumnSumsSsse3(const unsigned char* src, int w, int ya, int yb,
                                                     uint32_t* colsum) {
  const size_t row = static_cast<size_t>(w) * kPix;
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 16 < w; x += 16) {
    __m128i lo = zero, hi = zero;
    const unsigned char* p = src + static_cast<size_t>(ya) * row + static_cast<size_t>(x) * kPix;
    for (int y = ya; y <= yb; ++y, p += row) {
      const __m128i g = Gather16(p);
      lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(g, zero));
      hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(g, zero));
    }
    __m128i* o = reinterpret_cast<__m128i*>(colsum + x);
    _mm_storeu_si128(o, _mm_unpacklo_epi16(lo, zero));
    _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(lo, zero));
    _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(hi, zero));
    _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(hi, zero));
  }
  return x;  // columns done
}
#endif

// colsum[x] = sum of the channel's bytes in column x over source rows ya..yb.
void ColumnSums(const unsigned char* src, int w, int ya, int yb, uint32_t* colsum) {
  int x0 = 0;
#ifdef VESK_RESIZE_SSSE3
  if (HasSsse3() && yb - ya < 257) x0 = ColumnSumsSsse3(src, w, ya, yb, colsum);
#endif
  const size_t row = static_cast<size_t>(w) * kPix;
  for (int x = x0; x < w; ++x) {
    uint32_t sum = 0;
    const unsigned char* p = src + static_cast<size_t>(ya) * row + static_cast<size_t>(x) * kPix;
    for (int y = ya; y <= yb; ++y, p += row) sum += *p;
    colsum[x] = sum;
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

// Indices of an integral span whose weight is 1 (the others weigh 0): [*a, *b], empty when
// *a > *b.
inline void UnitRange(const Span& sp, int* a, int* b) {
  if (sp.first == sp.last) {
    *a = sp.first;
    *b = sp.w_first == 1.0 ? sp.first : sp.first - 1;
    return;
  }
  *a = sp.w_first == 1.0 ? sp.first : sp.first + 1;
  *b = sp.w_last == 1.0 ? sp.last : sp.last - 1;
}

// One output pixel from its weighted source block, term by term in row-major order.
inline double WeightedSum(const unsigned char* src, int w, const Span& ry, const Span& cx) {
  double sum = 0.0;
  for (int y = ry.first; y <= ry.last; ++y) {
    const double wy = Weight(ry, y);
    const unsigned char* p = src + (static_cast<size_t>(y) * w + cx.first) * kPix;
    for (int x = cx.first; x <= cx.last; ++x, p += kPix) sum += *p * wy * Weight(cx, x);
  }
  return sum;
}

inline unsigned char AreaValue(double sum, double scale) {
  double value = sum * scale;
  if (!(value > 0.0)) value = 0.0;
  if (value > 255.0) value = 255.0;
  return static_cast<unsigned char>(value);
}

// Where both spans of an output pixel are integral, every term is a whole number: the sum is
// taken in integers from per-column sums over the span's rows, which gives exactly the
// floating-point sum. Other pixels take the weighted sum term by term.
void ResizeArea(const unsigned char* src, int w, int h, unsigned char* dst, int W, int H) {
  thread_local std::vector<Span> rows, cols;
  thread_local std::vector<uint32_t> colsum;
  MakeSpans(h, H, rows);
  MakeSpans(w, W, cols);
  colsum.resize(static_cast<size_t>(w));
  const double scale = (static_cast<double>(W) / w) * (static_cast<double>(H) / h);
  for (int j = 0; j < H; ++j) {
    const Span& ry = rows[static_cast<size_t>(j)];
    unsigned char* out = dst + static_cast<size_t>(j) * W * kPix;
    if (ry.last < ry.first) {
      for (int k = 0; k < W; ++k) out[static_cast<size_t>(k) * kPix] = 0;
      continue;
    }
    if (ry.integral) {
      int ya, yb;
      UnitRange(ry, &ya, &yb);
      ColumnSums(src, w, ya, yb, colsum.data());
    }
    for (int k = 0; k < W; ++k) {
      const Span& cx = cols[static_cast<size_t>(k)];
      unsigned char& o = out[static_cast<size_t>(k) * kPix];
      if (cx.last < cx.first) {
        o = 0;
      } else if (ry.integral && cx.integral) {
        int xa, xb;
        UnitRange(cx, &xa, &xb);
        uint32_t isum = 0;
        for (int x = xa; x <= xb; ++x) isum += colsum[static_cast<size_t>(x)];
        o = AreaValue(static_cast<double>(isum), scale);
      } else {
        o = AreaValue(WeightedSum(src, w, ry, cx), scale);
      }
    }
  }
}

}  // namespace

void SetResizeSimd(bool enabled) {
#ifdef VESK_RESIZE_SSSE3
  g_simd_enabled = enabled;
#else
  (void)enabled;
#endif
}

void ResizeImage(const unsigned char* src, int w, int h, unsigned char* dst, int W, int H) {
  if (W < 1 || H < 1 || w < 1 || h < 1) return;
  if (w == 4 * W && h == 4 * H)
    ResizeBlock<4>(src, w, dst, W, H);
  else if (w == 2 * W && h == 2 * H) {
#ifdef VESK_RESIZE_SSSE3
    if (HasSsse3()) {
      ResizeBlock2Ssse3(src, w, dst, W, H);
      return;
    }
#endif
    ResizeBlock<2>(src, w, dst, W, H);
  } else if (w == 3 * W + 2 && h == 3 * H)
    ResizeBlock<3>(src, w, dst, W, H);
  else
    ResizeArea(src, w, h, dst, W, H);
}

const char* EyeFrameProblem(int w, int h, int W0, int H0, size_t buf_bytes) {
  if (h != H0) {
    if (H0 < 1 || h % H0 != 0 || h < H0) return "resize frame failed (height scale not integral)";
    const int f = h / H0;
    if (w % f != 0) return "resize frame failed (width scale not integral)";
    w /= f;
    h = H0;
    if (static_cast<size_t>(w) * h * kPix > buf_bytes) return "frame too large for frame buffer";
  }
  if (w != W0) {
    if (w < W0) return "crop frame failed (cropped larger than original)";
    if (W0 < 0 || static_cast<size_t>(W0) * h * kPix > buf_bytes) return "frame too large for frame buffer";
  }
  return nullptr;
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
               std::to_string(out.height) + " resized to " + std::to_string(W) + " x " + std::to_string(H0) +
               ")");
    if (reported && !*reported) {
      std::cout << "resizing stream " << stream << " from " << out.width << " x " << out.height << " to " << W
                << " x " << H0 << std::endl;
      *reported = true;
    }
    for (int c = 0; c < kPix; ++c) ResizeImage(out.data + c, out.width, out.height, resize_buf + c, W, H0);
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
