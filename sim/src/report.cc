#include "vesk_sim/report.h"

#include <png.h>
#include <sndfile.h>
#include <vesk_support/os.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vesk_sim {

bool write_png(const std::string& path, const RgbImage& image) {
  if (image.width <= 0 || image.height <= 0 ||
      image.rgb.size() < static_cast<size_t>(image.width) * image.height * 3) {
    os::warn("no image to write to \"" + path + "\"");
    return false;
  }
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&png, path.c_str(), 0, image.rgb.data(), 0, nullptr)) {
    os::warn("failed to write \"" + path + "\": " + png.message);
    return false;
  }
  return true;
}

bool read_png(const std::string& path, RgbImage& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
  png.format = PNG_FORMAT_RGB;
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.rgb.assign(PNG_IMAGE_SIZE(png), 0);
  if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) {
    png_image_free(&png);
    return false;
  }
  return true;
}

bool write_wav(const std::string& path, const std::vector<int16_t>& samples, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) {
    os::warn("failed to write \"" + path + "\": " + sf_strerror(nullptr));
    return false;
  }
  const sf_count_t n = static_cast<sf_count_t>(samples.size());
  const bool ok = sf_write_short(f, samples.data(), n) == n;
  sf_close(f);
  if (!ok) os::warn("failed to write all samples to \"" + path + "\"");
  return ok;
}

bool read_wav(const std::string& path, std::vector<int16_t>& samples, int& rate) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return false;
  if (info.channels != 1) {
    sf_close(f);
    return false;
  }
  rate = info.samplerate;
  samples.assign(static_cast<size_t>(info.frames), 0);
  const sf_count_t got = sf_read_short(f, samples.data(), info.frames);
  sf_close(f);
  return got == info.frames;
}

namespace {

struct Canvas {
  RgbImage& img;
  void dot(int x, int y, const uint8_t c[3]) {
    if (x < 0 || y < 0 || x >= img.width || y >= img.height) return;
    uint8_t* p = &img.rgb[(static_cast<size_t>(y) * img.width + x) * 3];
    p[0] = c[0];
    p[1] = c[1];
    p[2] = c[2];
  }
  void line(double x0, double y0, double x1, double y1, const uint8_t c[3], int thick) {
    const int n = static_cast<int>(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0))) + 1;
    for (int i = 0; i <= n; ++i) {
      const double t = static_cast<double>(i) / n;
      const int x = static_cast<int>(std::lround(x0 + t * (x1 - x0)));
      const int y = static_cast<int>(std::lround(y0 + t * (y1 - y0)));
      for (int dy = -thick / 2; dy <= thick / 2; ++dy) {
        for (int dx = -thick / 2; dx <= thick / 2; ++dx) dot(x + dx, y + dy, c);
      }
    }
  }
};

}  // namespace

RgbImage plot_paths(const std::vector<BasePose>& truth, const std::vector<BasePose>& odometry,
                    const std::vector<BasePose>& targets, int width, int height) {
  RgbImage img;
  img.width = width;
  img.height = height;
  img.rgb.assign(static_cast<size_t>(width) * height * 3, 255);
  double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  bool first = true;
  for (const auto* path : {&truth, &odometry, &targets}) {
    for (const BasePose& p : *path) {
      if (first) {
        x0 = x1 = p.x;
        y0 = y1 = p.y;
        first = false;
      }
      x0 = std::min(x0, p.x);
      x1 = std::max(x1, p.x);
      y0 = std::min(y0, p.y);
      y1 = std::max(y1, p.y);
    }
  }
  const double margin = 0.25;  // [m]
  x0 -= margin;
  x1 += margin;
  y0 -= margin;
  y1 += margin;
  const double scale = std::min(width / (x1 - x0), height / (y1 - y0));  // [pixels/m]
  const double ox = 0.5 * (width - scale * (x1 - x0)), oy = 0.5 * (height - scale * (y1 - y0));
  auto px = [&](double x) { return ox + (x - x0) * scale; };
  auto py = [&](double y) { return height - 1 - (oy + (y - y0) * scale); };  // y up
  Canvas c{img};
  const uint8_t grid[3] = {220, 220, 220}, axis[3] = {150, 150, 150};
  for (double g = std::ceil(x0 / 0.5) * 0.5; g <= x1; g += 0.5) {
    c.line(px(g), 0, px(g), height - 1, std::fabs(g) < 1e-9 ? axis : grid, 1);
  }
  for (double g = std::ceil(y0 / 0.5) * 0.5; g <= y1; g += 0.5) {
    c.line(0, py(g), width - 1, py(g), std::fabs(g) < 1e-9 ? axis : grid, 1);
  }
  const uint8_t blue[3] = {30, 60, 220}, red[3] = {220, 30, 30}, green[3] = {0, 160, 0}, black[3] = {0, 0, 0};
  for (size_t i = 1; i < truth.size(); ++i) {
    c.line(px(truth[i - 1].x), py(truth[i - 1].y), px(truth[i].x), py(truth[i].y), blue, 3);
  }
  for (size_t i = 1; i < odometry.size(); ++i) {
    c.line(px(odometry[i - 1].x), py(odometry[i - 1].y), px(odometry[i].x), py(odometry[i].y), red, 1);
  }
  for (const BasePose& t : targets) {
    const double tx = px(t.x), ty = py(t.y);
    c.line(tx - 8, ty - 8, tx + 8, ty + 8, green, 3);
    c.line(tx - 8, ty + 8, tx + 8, ty - 8, green, 3);
  }
  if (!truth.empty()) {
    const double sx = px(truth.front().x), sy = py(truth.front().y);
    for (int k = 0; k < 4; ++k) c.line(sx - 5, sy - 5 + k * 3, sx + 5, sy - 5 + k * 3, black, 2);
  }
  return img;
}

double image_spread(const RgbImage& image) {
  if (image.rgb.empty()) return 0.0;
  double sum = 0.0, sum2 = 0.0;
  for (uint8_t b : image.rgb) {
    sum += b;
    sum2 += static_cast<double>(b) * b;
  }
  const double n = static_cast<double>(image.rgb.size());
  return std::sqrt(std::max(0.0, sum2 / n - (sum / n) * (sum / n)));
}

double rms(const std::vector<int16_t>& samples) {
  if (samples.empty()) return 0.0;
  double sum2 = 0.0;
  for (int16_t s : samples) sum2 += static_cast<double>(s) * s;
  return std::sqrt(sum2 / static_cast<double>(samples.size()));
}

double path_length(const std::vector<BasePose>& path) {
  double d = 0.0;
  for (size_t i = 1; i < path.size(); ++i)
    d += std::hypot(path[i].x - path[i - 1].x, path[i].y - path[i - 1].y);
  return d;
}

}  // namespace vesk_sim
