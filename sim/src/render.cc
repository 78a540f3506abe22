#include "vesk_sim/render.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace vesk_sim {
namespace {

struct CamPoint {
  double x, y, z;  // camera frame: x forward (depth), y left, z up
};

struct ScreenPoint {
  double u, v, inv_depth;
};

uint8_t to_byte(double c) { return static_cast<uint8_t>(std::clamp(c, 0.0, 1.0) * 255.0 + 0.5); }

// Clips a convex polygon to the half space x >= near (Sutherland-Hodgman, one plane).
int clip_near(const CamPoint* in, int n, double near_clip, CamPoint* out) {
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const CamPoint& a = in[i];
    const CamPoint& b = in[(i + 1) % n];
    const bool a_in = a.x >= near_clip;
    const bool b_in = b.x >= near_clip;
    if (a_in) out[m++] = a;
    if (a_in != b_in) {
      const double t = (near_clip - a.x) / (b.x - a.x);
      out[m++] = {near_clip, a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)};
    }
  }
  return m;
}

// Fills one triangle with a depth test. Pixel centres are sampled; 1/depth is affine in
// screen space, so it is interpolated by a plane equation.
void fill_triangle(const ScreenPoint& a, const ScreenPoint& b, const ScreenPoint& c, int w, int h,
                   float* depth, uint8_t* rgb, const uint8_t colour[3]) {
  const double area = (b.u - a.u) * (c.v - a.v) - (b.v - a.v) * (c.u - a.u);
  if (std::fabs(area) < 1e-12) return;
  const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.u, b.u, c.u}))));
  const int x1 = std::min(w - 1, static_cast<int>(std::ceil(std::max({a.u, b.u, c.u}))));
  const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.v, b.v, c.v}))));
  const int y1 = std::min(h - 1, static_cast<int>(std::ceil(std::max({a.v, b.v, c.v}))));
  if (x0 > x1 || y0 > y1) return;
  const double inv_area = 1.0 / area;
  // Barycentric weights as affine functions of (u, v): w_i = A_i u + B_i v + C_i.
  auto edge = [&](const ScreenPoint& p, const ScreenPoint& q, double& A, double& B, double& C) {
    A = (p.v - q.v) * inv_area;
    B = (q.u - p.u) * inv_area;
    C = (p.u * q.v - p.v * q.u) * inv_area;
  };
  double Aa, Ba, Ca, Ab, Bb, Cb, Ac, Bc, Cc;
  edge(b, c, Aa, Ba, Ca);  // weight of a
  edge(c, a, Ab, Bb, Cb);  // weight of b
  edge(a, b, Ac, Bc, Cc);  // weight of c
  const double Az = Aa * a.inv_depth + Ab * b.inv_depth + Ac * c.inv_depth;
  const double Bz = Ba * a.inv_depth + Bb * b.inv_depth + Bc * c.inv_depth;
  const double Cz = Ca * a.inv_depth + Cb * b.inv_depth + Cc * c.inv_depth;
  constexpr double kEps = -1e-9;  // shared edges: both triangles may claim the pixel
  for (int y = y0; y <= y1; ++y) {
    const double v = y + 0.5;
    double u = x0 + 0.5;
    double wa = Aa * u + Ba * v + Ca, wb = Ab * u + Bb * v + Cb, wc = Ac * u + Bc * v + Cc;
    double z = Az * u + Bz * v + Cz;
    float* drow = depth + static_cast<size_t>(y) * w;
    uint8_t* prow = rgb + static_cast<size_t>(y) * w * 3;
    for (int x = x0; x <= x1; ++x) {
      if (wa >= kEps && wb >= kEps && wc >= kEps && z > drow[x]) {
        drow[x] = static_cast<float>(z);
        prow[3 * x] = colour[0];
        prow[3 * x + 1] = colour[1];
        prow[3 * x + 2] = colour[2];
      }
      wa += Aa;
      wb += Ab;
      wc += Ac;
      z += Az;
    }
  }
}

}  // namespace

void Renderer::render(const Scene& scene, const CameraSpec& cam, uint8_t* rgb) {
  const int w = cam.width, h = cam.height;
  if (w <= 0 || h <= 0) return;
  const size_t n = static_cast<size_t>(w) * h;
  if (depth_.size() < n) depth_.resize(n);
  std::fill(depth_.begin(), depth_.begin() + n, 0.0f);
  const uint8_t sky[3] = {to_byte(scene.sky.r), to_byte(scene.sky.g), to_byte(scene.sky.b)};
  for (size_t i = 0; i < n; ++i) {
    rgb[3 * i] = sky[0];
    rgb[3 * i + 1] = sky[1];
    rgb[3 * i + 2] = sky[2];
  }
  const double focal = 0.5 * w / std::tan(0.5 * cam.hfov);  // [pixels]
  const double cu = 0.5 * w, cv = 0.5 * h;
  const double min_inv_depth = 1.0 / cam.far_clip;
  const Vec3 sun = scene.sun_dir.normalized();
  const Pose world_to_cam = cam.pose.inverse();

  // Corner k of a box has the sign pattern of bits 0 (x), 1 (y), 2 (z).
  static const int kFaces[6][4] = {{1, 3, 7, 5}, {0, 4, 6, 2}, {2, 6, 7, 3},
                                   {0, 1, 5, 4}, {4, 5, 7, 6}, {0, 2, 3, 1}};
  static const double kNormals[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  // A box whose bounding sphere lies wholly outside the view (behind the near plane, beyond
  // the far one, or beyond a side of the view) covers no pixel centre: it is skipped before
  // its corners are made. Planes through the eye, normals pointing out of the view.
  const double tan_h = 0.5 * w / focal, tan_v = 0.5 * h / focal;
  const Vec3 side_planes[4] = {Vec3(-tan_h, 1.0, 0.0).normalized(), Vec3(-tan_h, -1.0, 0.0).normalized(),
                               Vec3(-tan_v, 0.0, 1.0).normalized(), Vec3(-tan_v, 0.0, -1.0).normalized()};
  auto outside_view = [&](const SceneBox& box) {
    const Vec3 c = world_to_cam.transform(box.pose.pos);
    const double r = box.half.norm();
    if (c.x + r < cam.near_clip || c.x - r > cam.far_clip) return true;
    for (const Vec3& n : side_planes)
      if (n.dot(c) > r) return true;
    return false;
  };
  for (const SceneBox& box : scene.boxes) {
    if (outside_view(box)) continue;
    if (box_contains(box, cam.pose.pos)) continue;
    std::array<Vec3, 8> world;
    for (int k = 0; k < 8; ++k) {
      const Vec3 local((k & 1) ? box.half.x : -box.half.x, (k & 2) ? box.half.y : -box.half.y,
                       (k & 4) ? box.half.z : -box.half.z);
      world[k] = box.pose.pos + box.pose.rot.rotate(local);
    }
    for (int f = 0; f < 6; ++f) {
      const Vec3 normal = box.pose.rot.rotate(Vec3(kNormals[f][0], kNormals[f][1], kNormals[f][2]));
      // Back faces point away from the camera.
      if (normal.dot(world[kFaces[f][0]] - cam.pose.pos) >= 0.0) continue;
      const double light = scene.ambient + scene.diffuse * std::max(0.0, -normal.dot(sun));
      const uint8_t colour[3] = {to_byte(box.colour.r * light), to_byte(box.colour.g * light),
                                 to_byte(box.colour.b * light)};
      CamPoint quad[4];
      for (int i = 0; i < 4; ++i) {
        const Vec3 p = world_to_cam.transform(world[kFaces[f][i]]);
        quad[i] = {p.x, p.y, p.z};
      }
      CamPoint clipped[8];
      const int m = clip_near(quad, 4, cam.near_clip, clipped);
      if (m < 3) continue;
      ScreenPoint screen[8];
      for (int i = 0; i < m; ++i) {
        screen[i] = {cu - focal * clipped[i].y / clipped[i].x, cv - focal * clipped[i].z / clipped[i].x,
                     1.0 / clipped[i].x};
      }
      for (int i = 1; i + 1 < m; ++i) {
        fill_triangle(screen[0], screen[i], screen[i + 1], w, h, depth_.data(), rgb, colour);
      }
    }
  }
  // Anything beyond the far clip plane shows as sky.
  for (size_t i = 0; i < n; ++i) {
    if (depth_[i] > 0.0f && depth_[i] < min_inv_depth) {
      rgb[3 * i] = sky[0];
      rgb[3 * i + 1] = sky[1];
      rgb[3 * i + 2] = sky[2];
    }
  }
}

}  // namespace vesk_sim
