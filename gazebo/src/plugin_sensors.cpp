// gazebo::VESK_ModelPlugin: sensor callbacks and camera frames.
#include <atomic>
#include <iostream>
#include <mutex>

#include "vesk_gazebo/image_resize.h"
#include "vesk_gazebo/model_plugin.h"
#include "vesk_gazebo/sensor_coding.h"

namespace gazebo {

namespace {

// Whether the resize of eye stream 0 / 1 has been announced (for the life of the process).
// Robots of one process resize their frames on their own camera threads: until the
// announcement is made, the resizes that may make it take turns, so it is made once.
std::atomic<bool> reported_resize[2] = {{false}, {false}};
std::mutex announce_lock;

}  // namespace

void VESK_ModelPlugin::OnIMUUpdate(sensors::ImuSensor* s) {
  const ignition::math::Vector3d a = s->LinearAcceleration(false);
  const double accel[3] = {a.X(), a.Y(), a.Z()};
  const bool head = s == state.sensor.acc_head;
  os::ScopedLock lock(tick_u_lock);
  VESK_IMU_BLOCK& block = head ? state.tick_u.imu_head : state.tick_u.imu_body;
  vesk_gazebo::ImuFilterUpdate(imu_filter[head ? 1 : 0], accel, block.acc);
}

void VESK_ModelPlugin::OnSonarUpdate(sensors::SonarSensor* s) {
  const double r = s->Range();
  if (s == state.sensor.sonar) {
    os::ScopedLock lock(tick_u_lock);
    state.tick_u.sonar = static_cast<float>(r);
    return;
  }
  const uint8_t c = vesk_gazebo::CliffCode(r);
  os::ScopedLock lock(tick_u_lock);
  state.tick_u.cliff[s == state.sensor.cliff_l ? 0 : 1] = c;
}

void VESK_ModelPlugin::OnLightUpdate(sensors::CameraSensor* s) {
  int index;
  if (s == state.sensor.light_fl)
    index = 0;
  else if (s == state.sensor.light_fr)
    index = 1;
  else if (s == state.sensor.light_rl)
    index = 2;
  else if (s == state.sensor.light_rr)
    index = 3;
  else
    os::fail("internal error");
  const float level = vesk_gazebo::LightLevel(s->ImageData(), s->ImageWidth(), s->ImageHeight());
  os::ScopedLock lock(tick_u_lock);
  state.tick_u.light[index] = level;
}

void VESK_ModelPlugin::OnCamUpdate(sensors::CameraSensor* s) {
  if (s == state.sensor.eye_l) PublishCameraFrame(s, 0);
  if (s == state.sensor.eye_r) PublishCameraFrame(s, 1);
  if (s == state.sensor.overhead) PublishCameraFrame(s, 2);
  if (s == state.sensor.gaze) PublishCameraFrame(s, 3);
}

void VESK_ModelPlugin::PublishCameraFrame(sensors::CameraSensor* s, int stream) {
  // A frame rendered before the interface exists (or without image data) has nowhere to go.
  if (!state.interf) return;
  vesk_gazebo::FrameImage img{s->ImageData(), static_cast<int>(s->ImageWidth()),
                              static_cast<int>(s->ImageHeight())};
  if (!img.data) return;
  // The stream geometry and the tick clock as the tick last left them (one reading of the
  // clock for both clock fields).
  VESK_FRAME_GEOM g{};
  int32_t stamp;
  {
    os::ScopedLock lock(pars_lock);
    if (stream == 0 || stream == 1) g = platform_pars.stream[stream].stream_geom;
    stamp = state.tick_stamp;
  }
  if (stream == 0 || stream == 1) {
    unsigned char* resize_buf = state.frame_buffer[stream];
    unsigned char* crop_buf = state.frame_buffer[2 + stream];
    // Only a frame that is resized (its height is not the stream's) can make the announcement.
    if (img.height == g.height || reported_resize[stream].load()) {
      img = vesk_gazebo::FitEyeFrame(img, stream, g.width, g.height, resize_buf, crop_buf,
                                     vesk_gazebo::kFrameBufferBytes, nullptr);
    } else {
      std::lock_guard<std::mutex> lock(announce_lock);
      bool reported = reported_resize[stream].load();
      img = vesk_gazebo::FitEyeFrame(img, stream, g.width, g.height, resize_buf, crop_buf,
                                     vesk_gazebo::kFrameBufferBytes, &reported);
      if (reported) reported_resize[stream] = true;
    }
  }
  img = vesk_gazebo::TrimFrame(img);
  if (img.width > 0xffff || img.height > 0xffff) os::fail("camera frame too large to publish");
  VESK_MSG_FRAME frame{};
  frame.seq = frame_seq[stream]++;
  frame.stream_index = static_cast<uint8_t>(stream);
  frame.flags = FRAME_FLAG_RAW;
  frame.width = static_cast<uint16_t>(img.width);
  frame.height = static_cast<uint16_t>(img.height);
  frame.clock_aux = static_cast<uint32_t>(stamp);
  frame.clock = stamp;
  frame.size = FRAME_HEADER_BYTES + static_cast<uint32_t>(img.width) * img.height * 3;
  frame.data = img.data;
  state.interf->publish_frame(&frame);
}

}  // namespace gazebo
