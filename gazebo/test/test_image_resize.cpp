// Tests of ResizeImage and of the eye-frame geometry (resize, crop, trim).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include "vesk_gazebo/image_resize.h"

using vesk_gazebo::FitEyeFrame;
using vesk_gazebo::FrameImage;
using vesk_gazebo::kFrameBufferBytes;
using vesk_gazebo::ResizeImage;
using vesk_gazebo::TrimFrame;

namespace {

std::vector<unsigned char> RandomImage(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> img(static_cast<size_t>(w) * h * 3);
  for (auto& b : img) b = static_cast<unsigned char>(rng() & 0xff);
  return img;
}

std::vector<unsigned char> Resize3(const std::vector<unsigned char>& src, int w, int h, int W, int H) {
  std::vector<unsigned char> dst(static_cast<size_t>(W) * H * 3, 0);
  for (int c = 0; c < 3; ++c) ResizeImage(src.data() + c, w, h, dst.data() + c, W, H);
  return dst;
}

inline unsigned Px(const std::vector<unsigned char>& img, int w, int x, int y, int c) {
  return img[(static_cast<size_t>(y) * w + x) * 3 + c];
}

// Block mean of an integer factor f, with the rounding the integer paths use.
void ExpectBlockMeans(const std::vector<unsigned char>& src, int w, int f,
                      const std::vector<unsigned char>& dst, int W, int H) {
  for (int j = 0; j < H; ++j)
    for (int k = 0; k < W; ++k)
      for (int c = 0; c < 3; ++c) {
        unsigned s = 0;
        for (int y = 0; y < f; ++y)
          for (int x = 0; x < f; ++x) s += Px(src, w, k * f + x, j * f + y, c);
        ASSERT_EQ(s / (f * f), Px(dst, W, k, j, c)) << "at " << k << "," << j << " ch " << c;
      }
}

// Area averaging written out directly from its definition, one pixel at a time.
unsigned char AreaReference(const std::vector<unsigned char>& src, int w, int h, int W, int H, int k, int j,
                            int c) {
  auto span = [](int i, int n, int N, double* a, double* b) {
    const double s = static_cast<double>(n) / N;
    *a = i == 0 ? 0.0 : std::min(i * s, n - 0.000001);
    *b = std::min((i + 1) * s, n - 0.000001);
  };
  double u, v, bb, cc;
  span(j, h, H, &u, &v);
  span(k, w, W, &bb, &cc);
  const int y0 = static_cast<int>(std::floor(u)), y1 = static_cast<int>(std::floor(v));
  const int x0 = static_cast<int>(std::floor(bb)), x1 = static_cast<int>(std::floor(cc));
  if (y1 < y0 || x1 < x0) return 0;
  double sum = 0;
  for (int y = y0; y <= y1; ++y) {
    double wy = 1.0;
    if (y == y0) wy = y0 + 1 - u;
    if (y == y1) wy += v - (y1 + 1);
    for (int x = x0; x <= x1; ++x) {
      double wx = 1.0;
      if (x == x0) wx = x0 + 1 - bb;
      if (x == x1) wx += cc - (x1 + 1);
      sum += Px(src, w, x, y, c) * wy * wx;
    }
  }
  double val = sum * ((static_cast<double>(W) / w) * (static_cast<double>(H) / h));
  val = std::max(0.0, std::min(255.0, val));
  return static_cast<unsigned char>(val);
}

// Every pixel against the definition: exactly, or within `tolerance` (fractional weights are
// summed in float, which may move a result across a whole number).
void ExpectArea(int w, int h, int W, int H, unsigned seed, int tolerance = 0) {
  const auto src = RandomImage(w, h, seed);
  const auto dst = Resize3(src, w, h, W, H);
  for (int j = 0; j < H; ++j)
    for (int k = 0; k < W; ++k)
      for (int c = 0; c < 3; ++c) {
        const int expect = AreaReference(src, w, h, W, H, k, j, c);
        const int got = dst[(static_cast<size_t>(j) * W + k) * 3 + c];
        ASSERT_LE(std::abs(got - expect), tolerance)
            << w << "x" << h << " -> " << W << "x" << H << " at " << k << "," << j << " ch " << c;
      }
}

TEST(ResizeImage, Factor4UsesBlockMeans) {
  const auto src = RandomImage(1280, 720, 1);
  ExpectBlockMeans(src, 1280, 4, Resize3(src, 1280, 720, 320, 180), 320, 180);
}

TEST(ResizeImage, Factor2UsesBlockMeans) {
  const auto src = RandomImage(1280, 720, 2);
  ExpectBlockMeans(src, 1280, 2, Resize3(src, 1280, 720, 640, 360), 640, 360);
}

TEST(ResizeImage, Factor2OfOddSizesAndEveryChannel) {
  // Widths that leave a tail after the 16-pixel blocks; the smallest sizes have no block.
  for (int W : {1, 15, 16, 17, 33, 35, 47, 64}) {
    const auto src = RandomImage(2 * W, 6, 30 + W);
    ExpectBlockMeans(src, 2 * W, 2, Resize3(src, 2 * W, 6, W, 3), W, 3);
  }
}

TEST(ResizeImage, Factor3WithTwoExtraColumnsNeverReadsThem) {
  // w = 3W + 2: 1280 = 3 * 426 + 2; the blocks cover columns 0..1277.
  auto a = RandomImage(1280, 720, 3);
  auto b = a;
  for (int y = 0; y < 720; ++y)
    for (int x = 1278; x < 1280; ++x)
      for (int c = 0; c < 3; ++c) b[(static_cast<size_t>(y) * 1280 + x) * 3 + c] ^= 0xff;
  const auto ra = Resize3(a, 1280, 720, 426, 240);
  const auto rb = Resize3(b, 1280, 720, 426, 240);
  EXPECT_EQ(ra, rb);
  for (int j = 0; j < 240; j += 7)
    for (int k = 0; k < 426; k += 5)
      for (int c = 0; c < 3; ++c) {
        unsigned s = 0;
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < 3; ++x) s += Px(a, 1280, 3 * k + x, 3 * j + y, c);
        ASSERT_EQ(s / 9, Px(ra, 426, k, j, c));
      }
}

TEST(ResizeImage, Factor3WithOtherExtraColumnsTakesAreaPath) {
  // 3W + 4 columns is not the block case: area averaging reads every column.
  ExpectArea(1282, 48, 426, 16, 20, 1);
}

TEST(ResizeImage, Factor3WithoutExtraColumnsTakesAreaPath) {
  // 3W (not 3W + 2) is not the block path; it is area averaging.
  ExpectArea(96, 48, 32, 16, 4);
}

TEST(ResizeImage, Factor5UniformImageLosesASliverAtTheEdges) {
  std::vector<unsigned char> src(640 * 360 * 3, 100);
  const auto dst = Resize3(src, 640, 360, 128, 72);
  for (int j = 0; j < 72; ++j)
    for (int k = 0; k < 128; ++k)
      for (int c = 0; c < 3; ++c) {
        const unsigned expect = (j == 71 || k == 127) ? 99 : 100;
        ASSERT_EQ(expect, Px(dst, 128, k, j, c)) << k << "," << j;
      }
}

TEST(ResizeImage, AreaPathMatchesItsDefinition) {
  ExpectArea(640, 360, 128, 72, 5);   // integral weights inside: exact
  ExpectArea(100, 600, 20, 2, 10);    // 300-row spans, integral
  ExpectArea(85, 40, 17, 8, 11);      // column blocks and a tail, integral
  ExpectArea(100, 70, 33, 21, 6, 1);  // fractional weights
  ExpectArea(7, 5, 3, 2, 7, 1);
  ExpectArea(50, 40, 50, 13, 8, 1);  // one axis unscaled
  ExpectArea(9, 9, 1, 1, 9, 1);      // everything into one pixel
}

TEST(ResizeImage, NonIntegerScalesStayWithinOneOfTheDefinition) {
  ExpectArea(640, 360, 500, 300, 12, 1);   // 1.28 x 1.2
  ExpectArea(1280, 720, 500, 300, 13, 1);  // 2.56 x 2.4
  ExpectArea(640, 360, 427, 240, 14, 1);   // 1.5
  ExpectArea(1280, 720, 183, 97, 15, 1);   // about 7 x 7.4: long spans
  ExpectArea(640, 360, 639, 359, 16, 1);   // barely scaled
}

TEST(ResizeImage, PlainCodeGivesTheSameBytesAsTheVectorCode) {
  struct Case {
    int w, h, W, H;
  };
  for (const Case& c : {Case{1280, 720, 640, 360}, Case{70, 10, 35, 5}, Case{640, 360, 128, 72},
                        Case{85, 40, 17, 8}, Case{100, 70, 33, 21}}) {
    const auto src = RandomImage(c.w, c.h, 40 + c.W);
    const auto fast = Resize3(src, c.w, c.h, c.W, c.H);
    vesk_gazebo::SetResizeSimd(false);
    const auto plain = Resize3(src, c.w, c.h, c.W, c.H);
    vesk_gazebo::SetResizeSimd(true);
    EXPECT_EQ(fast, plain) << c.w << "x" << c.h << " -> " << c.W << "x" << c.H;
  }
  // The plain 2 x 2 code against the block means directly.
  vesk_gazebo::SetResizeSimd(false);
  const auto src = RandomImage(70, 10, 50);
  ExpectBlockMeans(src, 70, 2, Resize3(src, 70, 10, 35, 5), 35, 5);
  vesk_gazebo::SetResizeSimd(true);
}

TEST(ResizeImage, AreaPathStaysWithinByteRange) {
  // Uniform images come out at their value or (rounding of the weights) one below, never
  // wrapped; the result is within one of the definition's.
  for (unsigned char value : {0, 1, 254, 255}) {
    std::vector<unsigned char> src(100 * 70 * 3, value);
    const auto dst = Resize3(src, 100, 70, 33, 21);
    for (int j = 0; j < 21; ++j)
      for (int k = 0; k < 33; ++k) {
        const unsigned got = Px(dst, 33, k, j, 1);
        ASSERT_LE(got, value);
        ASSERT_GE(got + 1, value);
        ASSERT_LE(
            std::abs(static_cast<int>(AreaReference(src, 100, 70, 33, 21, k, j, 1)) - static_cast<int>(got)),
            1);
      }
  }
}

TEST(ResizeImage, WritesOnlyItsChannel) {
  const auto src = RandomImage(64, 32, 10);
  for (int c = 0; c < 3; ++c) {
    std::vector<unsigned char> dst(16 * 8 * 3, 77);
    ResizeImage(src.data() + c, 64, 32, dst.data() + c, 16, 8);  // 4x4 path
    std::vector<unsigned char> dst5(13 * 7 * 3, 77);
    ResizeImage(src.data() + c, 64, 32, dst5.data() + c, 13, 7);  // area path
    std::vector<unsigned char> dst2(32 * 16 * 3, 77);
    ResizeImage(src.data() + c, 64, 32, dst2.data() + c, 32, 16);  // 2 x 2 path
    for (size_t i = 0; i < dst2.size(); ++i) {
      if (static_cast<int>(i % 3) == c) continue;
      ASSERT_EQ(77, dst2[i]) << "byte " << i << " channel " << c;
    }
    for (size_t i = 0; i < dst.size(); ++i) {
      if (static_cast<int>(i % 3) == c) continue;
      ASSERT_EQ(77, dst[i]);
    }
    for (size_t i = 0; i < dst5.size(); ++i) {
      if (static_cast<int>(i % 3) == c) continue;
      ASSERT_EQ(77, dst5[i]);
    }
  }
}

// ---- eye frame geometry -------------------------------------------------------------

struct EyeFrameTest : ::testing::Test {
  std::vector<unsigned char> resize_buf = std::vector<unsigned char>(kFrameBufferBytes);
  std::vector<unsigned char> crop_buf = std::vector<unsigned char>(kFrameBufferBytes);
  bool reported = false;
  FrameImage Fit(const std::vector<unsigned char>& img, int w, int h, int W0, int H0) {
    return FitEyeFrame({img.data(), w, h}, 0, W0, H0, resize_buf.data(), crop_buf.data(), kFrameBufferBytes,
                       &reported);
  }
  void ExpectFailure(const std::vector<unsigned char>& img, int w, int h, int W0, int H0,
                     const std::string& message) {
    try {
      Fit(img, w, h, W0, H0);
      FAIL() << "no failure for " << w << "x" << h << " -> " << W0 << "x" << H0;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(message, e.what());
    }
  }
};

TEST_F(EyeFrameTest, HalvesA720pImageForA360pStream) {
  const auto img = RandomImage(1280, 720, 11);
  testing::internal::CaptureStdout();
  const FrameImage f = Fit(img, 1280, 720, 640, 360);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ("resizing stream 0 from 1280 x 720 to 640 x 360\n", out);
  EXPECT_EQ(resize_buf.data(), f.data);
  EXPECT_EQ(640, f.width);
  EXPECT_EQ(360, f.height);
  const auto expect = Resize3(img, 1280, 720, 640, 360);
  EXPECT_TRUE(std::equal(expect.begin(), expect.end(), f.data));
  // The announcement comes once per stream.
  testing::internal::CaptureStdout();
  Fit(img, 1280, 720, 640, 360);
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  EXPECT_TRUE(reported);
}

TEST_F(EyeFrameTest, QuartersA720pImageAndTrimsTo176Rows) {
  const auto img = RandomImage(1280, 720, 12);
  testing::internal::CaptureStdout();
  FrameImage f = Fit(img, 1280, 720, 320, 180);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(320, f.width);
  ASSERT_EQ(180, f.height);
  const FrameImage t = TrimFrame(f);
  EXPECT_EQ(176, t.height);
  EXPECT_EQ(320, t.width);
  EXPECT_EQ(f.data + 2 * 320 * 3, t.data);
  const auto expect = Resize3(img, 1280, 720, 320, 180);
  EXPECT_TRUE(std::equal(expect.begin() + 2 * 320 * 3, expect.end() - 2 * 320 * 3, t.data));
}

TEST_F(EyeFrameTest, TrimsOnly180RowImages) {
  const auto img = RandomImage(240, 181, 13);
  const FrameImage t = TrimFrame({img.data(), 240, 181});
  EXPECT_EQ(181, t.height);
  EXPECT_EQ(img.data(), t.data);
}

TEST_F(EyeFrameTest, CropsCentrallyWithoutResize) {
  const auto img = RandomImage(640, 360, 14);
  const FrameImage f = Fit(img, 640, 360, 480, 360);
  EXPECT_EQ(crop_buf.data(), f.data);
  EXPECT_EQ(480, f.width);
  EXPECT_EQ(360, f.height);
  for (int y = 0; y < 360; y += 17)
    for (int x = 0; x < 480; x += 13) {
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(Px(img, 640, x + 80, y, c), f.data[(static_cast<size_t>(y) * 480 + x) * 3 + c]);
    }
  EXPECT_FALSE(reported);  // no resize, no announcement
}

TEST_F(EyeFrameTest, ResizesThenCrops) {
  const auto img = RandomImage(1280, 720, 15);
  testing::internal::CaptureStdout();
  const FrameImage f = Fit(img, 1280, 720, 480, 360);  // "360s"
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(crop_buf.data(), f.data);
  EXPECT_EQ(480, f.width);
  const auto half = Resize3(img, 1280, 720, 640, 360);
  for (int y = 0; y < 360; y += 11)
    ASSERT_EQ(0, std::memcmp(half.data() + (static_cast<size_t>(y) * 640 + 80) * 3,
                             f.data + static_cast<size_t>(y) * 480 * 3, 480 * 3));
}

TEST_F(EyeFrameTest, MatchingGeometryPassesThrough) {
  const auto img = RandomImage(640, 360, 16);
  const FrameImage f = Fit(img, 640, 360, 640, 360);
  EXPECT_EQ(img.data(), f.data);
}

TEST_F(EyeFrameTest, ThreeFailures) {
  const auto img = RandomImage(1280, 720, 17);
  testing::internal::CaptureStdout();
  ExpectFailure(img, 1280, 720, 320, 240, "resize frame failed (width scale not integral)");
  ExpectFailure(img, 1280, 720, 640, 500, "resize frame failed (height scale not integral)");
  ExpectFailure(img, 1280, 720, 1280, 360, "crop frame failed (cropped larger than original)");
  ExpectFailure(img, 640, 360, 960, 360, "crop frame failed (cropped larger than original)");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find("[ERROR] resize frame failed (width scale not integral)\n"));
}

TEST_F(EyeFrameTest, DegenerateHeightsFailInsteadOfDividingByZero) {
  const auto img = RandomImage(4, 4, 18);
  testing::internal::CaptureStdout();
  ExpectFailure(img, 4, 0, 640, 360, "resize frame failed (height scale not integral)");
  ExpectFailure(img, 4, 4, 4, 0, "resize frame failed (height scale not integral)");
  testing::internal::GetCapturedStdout();
}

TEST_F(EyeFrameTest, OversizedImageFailsInsteadOfOverflowingBuffers) {
  // 5120 x 1440 halves to 2560 x 720, twice what the buffers hold.
  const auto img = RandomImage(5120, 1440, 19);
  testing::internal::CaptureStdout();
  EXPECT_THROW(Fit(img, 5120, 1440, 1280, 720), std::runtime_error);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find("[ERROR] frame too large for frame buffer"));
  EXPECT_FALSE(reported);
  // Small buffers: even the crop must fit.
  std::vector<unsigned char> small(100 * 10 * 3);
  testing::internal::CaptureStdout();
  EXPECT_THROW(
      FitEyeFrame({img.data(), 200, 20}, 1, 150, 20, small.data(), small.data(), small.size(), &reported),
      std::runtime_error);
  testing::internal::GetCapturedStdout();
}

}  // namespace
