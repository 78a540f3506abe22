// Camera frames, microphone blocks and log texts through real topics.
#include <geometry_msgs/TwistStamped.h>
#include <sensor_msgs/CameraInfo.h>
#include <sensor_msgs/CompressedImage.h>
#include <sensor_msgs/Image.h>
#include <std_msgs/Int16MultiArray.h>
#include <std_msgs/String.h>

#include <cmath>

#include "ros_test_util.h"

namespace {

using vesk_test::Collector;
using vesk_test::Robot;
using vesk_test::test_nh;
using vesk_test::wait_until;

bool has(const std::string& out, const std::string& part) { return out.find(part) != std::string::npos; }

void settle() {
  wait_until([] { return false; }, 0.1);
}

VESK_MSG_FRAME make_frame(uint8_t stream, uint16_t flags, uint16_t w, uint16_t h,
                          const std::vector<uint8_t>& data, uint32_t size) {
  VESK_MSG_FRAME f;
  std::memset(&f, 0, sizeof(f));
  f.stream_index = stream;
  f.flags = flags;
  f.width = w;
  f.height = h;
  f.seq = 42;
  f.size = size;
  f.data = data.data();
  return f;
}

TEST(Cameras, RawFrameInSimulation) {
  Robot r(NET_FLAG_SIM);
  Collector<sensor_msgs::Image> img(test_nh(), r.topic("sensors/caml"));
  Collector<sensor_msgs::Image> gaze(test_nh(), r.topic("sensors/gaze"));
  Collector<sensor_msgs::CameraInfo> info(test_nh(), r.topic("sensors/caml/camera_info"));
  ASSERT_TRUE(img.connected() && gaze.connected());
  std::vector<uint8_t> pixels(640 * 360 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
  VESK_MSG_FRAME f = make_frame(0, FRAME_FLAG_RAW, 640, 360, pixels, 40 + 640 * 360 * 3);
  r.interf->publish_frame(&f);
  ASSERT_TRUE(wait_until([&] { return !img.got.empty(); }));
  const sensor_msgs::Image& m = img.last();
  EXPECT_EQ(m.width, 640u);
  EXPECT_EQ(m.height, 360u);
  EXPECT_EQ(m.step, 1920u);
  EXPECT_EQ(m.encoding, "rgb8");
  EXPECT_EQ(m.is_bigendian, 0);
  EXPECT_EQ(m.header.frame_id, "head_caml_optical");
  EXPECT_EQ(m.data, pixels);

  // A JPEG frame has no publisher on a raw camera; stream 3 goes to the gaze camera.
  std::vector<uint8_t> small(8 * 4 * 3, 9);
  VESK_MSG_FRAME j = make_frame(0, FRAME_FLAG_JPEG, 8, 4, small, 40 + 10);
  r.interf->publish_frame(&j);
  VESK_MSG_FRAME g = make_frame(3, FRAME_FLAG_RAW, 8, 4, small, 40 + 8 * 4 * 3);
  r.interf->publish_frame(&g);
  ASSERT_TRUE(wait_until([&] { return !gaze.got.empty(); }));
  settle();
  EXPECT_EQ(img.got.size(), 1u);
  EXPECT_EQ(gaze.last().header.frame_id, "head_gaze_optical");
  EXPECT_EQ(gaze.last().step, 24u);
  EXPECT_TRUE(info.got.empty());
}

// A raw camera is watched while its image or its camera info has a subscriber; with a
// projection set, each raw image is followed by its camera info under the same header.
TEST(Cameras, RawCameraWatchAndCameraModel) {
  Robot r(NET_FLAG_SIM);
  EXPECT_FALSE(r.interf->stream_watched(1));
  EXPECT_FALSE(r.interf->stream_watched(4));
  std::vector<uint8_t> pixels(64 * 36 * 3, 5);
  VESK_MSG_FRAME f = make_frame(1, FRAME_FLAG_RAW, 64, 36, pixels, 40 + 64 * 36 * 3);
  {
    Collector<sensor_msgs::CameraInfo> info(test_nh(), r.topic("sensors/camr/camera_info"));
    ASSERT_TRUE(info.connected());
    ASSERT_TRUE(wait_until([&] { return r.interf->stream_watched(1); }));
    EXPECT_FALSE(r.interf->stream_watched(0));
    Collector<sensor_msgs::Image> img(test_nh(), r.topic("sensors/camr"));
    ASSERT_TRUE(img.connected());
    VESK_CAMERA_MODEL m;
    m.lens = CAMERA_LENS_EQUIDISTANT;
    m.fx = m.fy = 29.0;
    m.cx = 31.5;
    m.cy = 17.5;
    r.interf->set_camera_model(1, m);
    r.interf->publish_frame(&f);
    ASSERT_TRUE(wait_until([&] { return !img.got.empty() && !info.got.empty(); }));
    const sensor_msgs::CameraInfo& ci = info.last();
    EXPECT_EQ(ci.header.stamp, img.last().header.stamp);
    EXPECT_EQ(ci.header.seq, img.last().header.seq);
    EXPECT_EQ(ci.header.frame_id, "head_camr_optical");
    EXPECT_EQ(ci.width, 64u);
    EXPECT_EQ(ci.height, 36u);
    EXPECT_EQ(ci.distortion_model, "equidistant");
    EXPECT_EQ(ci.D, std::vector<double>(4, 0.0));
    const boost::array<double, 9> K = {29.0, 0.0, 31.5, 0.0, 29.0, 17.5, 0.0, 0.0, 1.0};
    EXPECT_EQ(ci.K, K);
    EXPECT_EQ(ci.P[0], 29.0);
    EXPECT_EQ(ci.P[6], 17.5);
    // A projection that is not one leaves the last good one in use.
    m.fx = std::nan("");
    r.interf->set_camera_model(1, m);
    r.interf->publish_frame(&f);
    ASSERT_TRUE(wait_until([&] { return info.got.size() >= 2; }));
    EXPECT_EQ(info.last().K, K);
  }
  EXPECT_TRUE(wait_until([&] { return !r.interf->stream_watched(1); }));
}

TEST(Cameras, JpegFrameWithCameraInfo) {
  Robot r(0);
  Collector<sensor_msgs::CompressedImage> img(test_nh(), r.topic("sensors/caml/compressed"));
  Collector<sensor_msgs::CameraInfo> info(test_nh(), r.topic("sensors/caml/camera_info"));
  ASSERT_TRUE(img.connected() && info.connected());
  std::vector<uint8_t> jpeg(1000);
  for (size_t i = 0; i < jpeg.size(); ++i) jpeg[i] = static_cast<uint8_t>(255 - i);
  VESK_MSG_FRAME f = make_frame(0, FRAME_FLAG_JPEG | FRAME_FLAG_RAW, 640, 360, jpeg, 40 + 700);
  r.interf->publish_frame(&f);
  ASSERT_TRUE(wait_until([&] { return !img.got.empty() && !info.got.empty(); }));
  settle();
  ASSERT_EQ(img.got.size(), 1u);  // the raw part has no publisher here
  ASSERT_EQ(info.got.size(), 1u);
  EXPECT_EQ(img.last().format, "jpeg");
  EXPECT_EQ(img.last().data, std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 700));
  EXPECT_EQ(img.last().header.frame_id, "head_caml_optical");
  const sensor_msgs::CameraInfo& ci = info.last();
  EXPECT_EQ(ci.width, 640u);
  EXPECT_EQ(ci.height, 360u);
  EXPECT_EQ(ci.distortion_model, "plumb_bob");
  EXPECT_EQ(ci.header.stamp, img.last().header.stamp);
  EXPECT_EQ(ci.header.frame_id, "head_caml_optical");
  const double diag = std::sqrt(640.0 * 640 + 360.0 * 360);
  EXPECT_NEAR(ci.K[0], 0.879871 * 360 - 0.044601 * 230.4 + 0.061053 * diag - 0.050005 * 562.5 + 18.890031,
              1e-9);
  EXPECT_NEAR(ci.K[0], 342.071, 1e-3);
  EXPECT_NEAR(ci.P[6], 0.749088 * 360 + 0.024761 * 230.4 - 0.120634 * diag - 0.067672 * 562.5 + 46.807648,
              1e-9);
  ASSERT_EQ(ci.D.size(), 5u);
  EXPECT_EQ(ci.D[4], 0.0);
  // Fields the table leaves alone come from the calibration file.
  EXPECT_EQ(ci.K[1], 0.25);
  EXPECT_EQ(ci.P[3], 0.5);
}

TEST(Cameras, BadFramesAreDropped) {
  Robot r(0, 1);
  Collector<sensor_msgs::CompressedImage> img(test_nh(), r.topic("sensors/camr/compressed"));
  Collector<sensor_msgs::CameraInfo> info(test_nh(), r.topic("sensors/camr/camera_info"));
  ASSERT_TRUE(img.connected() && info.connected());
  std::vector<uint8_t> data(64, 1);
  testing::internal::CaptureStdout();
  VESK_MSG_FRAME bad_index = make_frame(4, FRAME_FLAG_JPEG, 8, 8, data, 60);
  r.interf->publish_frame(&bad_index);
  VESK_MSG_FRAME short_jpeg = make_frame(1, FRAME_FLAG_JPEG, 8, 8, data, 39);
  r.interf->publish_frame(&short_jpeg);
  settle();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(has(out, "**** WARNING **** \n\tbad stream index 4 in publish_frame()\n")) << out;
  EXPECT_TRUE(has(out, "**** WARNING **** \n\tbad frame size 39 in publish_frame()\n")) << out;
  EXPECT_TRUE(img.got.empty());
  EXPECT_TRUE(info.got.empty());
  // A header-only JPEG frame is well formed: an empty image.
  VESK_MSG_FRAME empty = make_frame(1, FRAME_FLAG_JPEG, 8, 8, data, 40);
  r.interf->publish_frame(&empty);
  ASSERT_TRUE(wait_until([&] { return !img.got.empty(); }));
  EXPECT_TRUE(img.last().data.empty());
}

// A raw frame whose size cannot hold its pixels is dropped, never read past.
TEST(Cameras, ShortRawFrameIsDropped) {
  Robot r(NET_FLAG_SIM, 1);
  Collector<sensor_msgs::Image> img(test_nh(), r.topic("sensors/camr"));
  ASSERT_TRUE(img.connected());
  std::vector<uint8_t> pixels(4 * 2 * 3, 7);
  testing::internal::CaptureStdout();
  for (uint32_t size : {0u, 39u, 40u + 4 * 2 * 3 - 1}) {
    VESK_MSG_FRAME f = make_frame(1, FRAME_FLAG_RAW, 4, 2, pixels, size);
    r.interf->publish_frame(&f);
  }
  VESK_MSG_FRAME no_data = make_frame(1, FRAME_FLAG_RAW, 4, 2, pixels, 40 + 4 * 2 * 3);
  no_data.data = nullptr;
  r.interf->publish_frame(&no_data);
  settle();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(has(out, "**** WARNING **** \n\tbad frame size 0 in publish_frame()\n")) << out;
  EXPECT_TRUE(has(out, "**** WARNING **** \n\tbad frame size 39 in publish_frame()\n")) << out;
  EXPECT_TRUE(has(out, "**** WARNING **** \n\tbad frame size 63 in publish_frame()\n")) << out;
  EXPECT_TRUE(has(out, "**** WARNING **** \n\tframe without data in publish_frame()\n")) << out;
  EXPECT_TRUE(img.got.empty());
  // Exactly the pixels, or more than they need: published, pixels only.
  for (uint32_t size : {40u + 4 * 2 * 3, 1000u}) {
    VESK_MSG_FRAME f = make_frame(1, FRAME_FLAG_RAW, 4, 2, pixels, size);
    r.interf->publish_frame(&f);
  }
  ASSERT_TRUE(wait_until([&] { return img.got.size() >= 2; }));
  for (const sensor_msgs::Image& m : img.got) EXPECT_EQ(m.data, pixels);
}

// With the platform clock, frames and ticks share one unwrapped clock: a
// frame taken just after the clock wrapped is stamped just after the tick
// before the wrap.
TEST(Cameras, HardwareClockFrameStamps) {
  Robot r(NET_FLAG_SIM | NET_FLAG_HW_CLOCK);
  Collector<sensor_msgs::Image> img(test_nh(), r.topic("sensors/caml"));
  Collector<geometry_msgs::TwistStamped> vel(test_nh(), r.topic("sensors/body_vel"));
  ASSERT_TRUE(img.connected() && vel.connected());
  r.platform.set_clock(999990000);
  r.tick();
  std::vector<uint8_t> pixels(2 * 2 * 3, 1);
  VESK_MSG_FRAME f = make_frame(0, FRAME_FLAG_RAW, 2, 2, pixels, 40 + 2 * 2 * 3);
  f.clock = 10000;
  r.interf->publish_frame(&f);
  r.tick();  // the platform clock reads 10000 as well
  ASSERT_TRUE(wait_until([&] { return !img.got.empty() && vel.got.size() >= 2; }));
  EXPECT_EQ((img.last().header.stamp - vel.got[0].header.stamp).toNSec(), 20000000);
  EXPECT_EQ(img.last().header.stamp, vel.got[1].header.stamp);
}

TEST(Streams, MicrophoneLayout) {
  Robot r(NET_FLAG_SIM);
  Collector<std_msgs::Int16MultiArray> mics(test_nh(), r.topic("sensors/mics"));
  ASSERT_TRUE(mics.connected());
  MICS_ALL block;
  block.header = 0xabcdef01;
  for (int i = 0; i < 2000; ++i) block.data[i] = static_cast<int16_t>(i * 31 - 20000);
  r.interf->publish_mics(&block);
  ASSERT_TRUE(wait_until([&] { return !mics.got.empty(); }));
  const std_msgs::Int16MultiArray& m = mics.last();
  ASSERT_EQ(m.data.size(), 2000u);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(m.data[i], block.data[i]) << i;
  ASSERT_EQ(m.layout.dim.size(), 2u);
  EXPECT_EQ(m.layout.dim[0].label, "channel");
  EXPECT_EQ(m.layout.dim[0].size, 4u);
  EXPECT_EQ(m.layout.dim[0].stride, 1u);
  EXPECT_EQ(m.layout.dim[1].label, "sample_number");
  EXPECT_EQ(m.layout.dim[1].size, 500u);
  EXPECT_EQ(m.layout.dim[1].stride, 4u);
  EXPECT_EQ(m.layout.data_offset, 0u);
}

TEST(Streams, LogTexts) {
  Robot r(NET_FLAG_SIM);
  Collector<std_msgs::String> log(test_nh(), r.topic("sensors/log"));
  ASSERT_TRUE(log.connected());
  const unsigned char empty[] = "";
  r.interf->publish_log(empty, 10);
  const unsigned char with_zero[] = "hello\0world";
  r.interf->publish_log(with_zero, sizeof(with_zero));
  // No terminating zero within `length`: at most `length` bytes.
  const unsigned char unterminated[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
  r.interf->publish_log(unterminated, 5);
  r.interf->publish_log(nullptr, 4);
  ASSERT_TRUE(wait_until([&] { return log.got.size() >= 2; }));
  settle();
  ASSERT_EQ(log.got.size(), 2u);
  EXPECT_EQ(log.got[0].data, "hello");
  EXPECT_EQ(log.got[1].data, "abcde");
}

}  // namespace
