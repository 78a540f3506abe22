// The software renderer: what a camera sees of a few boxes.
#include <gtest/gtest.h>

#include <vector>

#include "vesk_sim/render.h"

namespace vesk_sim {
namespace {

SceneBox coloured(const Pose& pose, const Vec3& half, Rgb c) {
  SceneBox b;
  b.pose = pose;
  b.half = half;
  b.colour = c;
  return b;
}

struct Image {
  int w, h;
  std::vector<uint8_t> rgb;
  const uint8_t* at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * w + x) * 3]; }
};

Image shoot(const Scene& s, const CameraSpec& cam) {
  Image img{cam.width, cam.height, std::vector<uint8_t>(static_cast<size_t>(cam.width) * cam.height * 3)};
  Renderer r;
  r.render(s, cam, img.rgb.data());
  return img;
}

Scene red_wall_scene() {
  Scene s;
  s.sky = Rgb{0.2f, 0.4f, 1.0f};
  s.sun_dir = Vec3(0, 0, -1);
  s.ambient = 0.5f;
  s.diffuse = 0.5f;
  s.boxes.push_back(coloured(Pose(Vec3(0, 0, -0.05), Quat()), Vec3(10, 10, 0.05), Rgb{0, 1, 0}));  // floor
  s.boxes.push_back(coloured(Pose(Vec3(3, 0, 0.5), Quat()), Vec3(0.1, 0.5, 0.5), Rgb{1, 0, 0}));  // red block
  return s;
}

TEST(Renderer, SkyFloorAndObjectWhereExpected) {
  CameraSpec cam;
  cam.pose = Pose(Vec3(0, 0, 0.5), Quat());  // level, looking along +x at the block's centre
  cam.hfov = 1.0;
  cam.width = 64;
  cam.height = 48;
  const Image img = shoot(red_wall_scene(), cam);
  // Centre: the red block's front face, lit only by ambient (its normal is horizontal).
  const uint8_t* c = img.at(32, 24);
  EXPECT_NEAR(c[0], 128, 2);
  EXPECT_EQ(c[1], 0);
  // Top row corners: sky. Bottom row: floor, fully lit (normal faces the sun).
  EXPECT_EQ(img.at(0, 0)[2], 255);
  EXPECT_EQ(img.at(0, 0)[1], 102);
  EXPECT_EQ(img.at(0, 47)[1], 255);
  EXPECT_EQ(img.at(0, 47)[0], 0);
}

TEST(Renderer, ObjectExtentMatchesThePinholeProjection) {
  CameraSpec cam;
  cam.pose = Pose(Vec3(0, 0, 0.5), Quat());
  cam.hfov = 1.0;
  cam.width = 200;
  cam.height = 100;
  const Image img = shoot(red_wall_scene(), cam);
  // The block's front face spans y = +-0.5 at depth 2.9: half width in pixels =
  // f * 0.5 / 2.9 with f = 100 / tan(0.5).
  const double f = 100.0 / std::tan(0.5);
  const int half_px = static_cast<int>(f * 0.5 / 2.9);
  int red = 0;
  for (int x = 0; x < cam.width; ++x) red += img.at(x, 50)[0] > 100 && img.at(x, 50)[1] == 0;
  EXPECT_NEAR(red, 2 * half_px, 2);
}

TEST(Renderer, NearerBoxHidesFartherOneAndBoxAroundCameraIsSkipped) {
  Scene s = red_wall_scene();
  s.boxes.push_back(coloured(Pose(Vec3(1.5, 0, 0.5), Quat()), Vec3(0.1, 0.1, 0.1), Rgb{0, 0, 1}));
  s.boxes.push_back(coloured(Pose(Vec3(0, 0, 0.5), Quat()), Vec3(0.2, 0.2, 0.2), Rgb{1, 1, 1}));  // shell
  CameraSpec cam;
  cam.pose = Pose(Vec3(0, 0, 0.5), Quat());
  cam.width = 32;
  cam.height = 24;
  const Image img = shoot(s, cam);
  const uint8_t* c = img.at(16, 12);
  EXPECT_EQ(c[0], 0);
  EXPECT_GT(c[2], 100);  // blue, in front of the red block; the shell is not drawn
}

TEST(Renderer, FaceCrossingTheNearPlaneIsClippedNotLost) {
  // Camera just above a floor looking slightly down: the floor extends behind the camera.
  Scene s = red_wall_scene();
  s.boxes.pop_back();
  CameraSpec cam;
  cam.pose = Pose::from_xyzrpy(0, 0, 0.05, 0, 0.3, 0);
  cam.width = 40;
  cam.height = 30;
  const Image img = shoot(s, cam);
  EXPECT_EQ(img.at(20, 29)[1], 255);  // bottom centre is floor
  EXPECT_EQ(img.at(20, 0)[2], 255);   // top centre is sky
}

TEST(Renderer, BeyondTheFarClipIsSky) {
  CameraSpec cam;
  cam.pose = Pose(Vec3(0, 0, 0.5), Quat());
  cam.width = 16;
  cam.height = 12;
  cam.far_clip = 2.0;  // the block is 2.9 m away
  const Image img = shoot(red_wall_scene(), cam);
  EXPECT_EQ(img.at(8, 6)[2], 255);
}

}  // namespace
}  // namespace vesk_sim
