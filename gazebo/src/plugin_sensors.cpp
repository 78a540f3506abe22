// gazebo::VESK_ModelPlugin: sensor callbacks and camera frames.
#include <atomic>
#include <cmath>
#include <gazebo/rendering/Camera.hh>
#include <gazebo/rendering/WideAngleCamera.hh>
#include <iostream>
#include <mutex>
#include <sstream>

#include "vesk_gazebo/camera_model.h"
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
  // Frames that cannot be made or published are dropped here, said once per run of drops:
  // nothing may raise out of a sensor callback.
  std::string problem;
  if (stream == 0 || stream == 1) {
    const char* p = vesk_gazebo::EyeFrameProblem(img.width, img.height, g.width, g.height,
                                                 vesk_gazebo::kFrameBufferBytes);
    if (p) problem = p;
  }
  const int h_rendered = img.height, w_rendered = img.width;
  try {
    if (problem.empty() && (stream == 0 || stream == 1)) {
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
    const int h_fitted = img.height;
    img = vesk_gazebo::TrimFrame(img);
    if (problem.empty() && (img.width > 0xffff || img.height > 0xffff))
      problem = "camera frame too large to publish";
    if (problem.empty()) {
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
      SetFrameCameraModel(s, stream, w_rendered, h_rendered, h_fitted, img);
      state.interf->publish_frame(&frame);
    }
  } catch (const std::exception& e) {
    problem = e.what();
  }
  if (problem.empty()) {
    frame_drop_told[stream] = false;
    return;
  }
  if (!frame_drop_told[stream].exchange(true) && verbosity > 0) {
    std::ostringstream msg;
    msg << "camera frame of stream " << stream << " dropped: " << problem << " (" << s->ImageWidth() << " x "
        << s->ImageHeight() << " image";
    if (stream == 0 || stream == 1) msg << ", stream " << g.width << " x " << g.height;
    msg << "); further frames dropped the same way are not reported";
    os::warn(msg.str());
  }
}

void VESK_ModelPlugin::SetFrameCameraModel(sensors::CameraSensor* s, int stream, int w, int h, int h_fitted,
                                           const vesk_gazebo::FrameImage& frame) {
  // The camera exists once the sensor is initialised (in Gazebo, after the plug-in's Load).
  const rendering::Camera* camera = s->Camera().get();
  CameraLensModel lens = CAMERA_LENS_PINHOLE;
  bool known = camera != nullptr;
  std::string type = "gnomonical";
  if (const auto* wide = dynamic_cast<const rendering::WideAngleCamera*>(camera)) {
    const rendering::CameraLens* l = wide->Lens();
    type = l ? l->Type() : "none";
    known = l && vesk_gazebo::LensOfType(type, l->ScaleToHFOV(), &lens);
  }
  if (!known) {
    if (!lens_told[stream].exchange(true) && verbosity > 0)
      os::warn("camera of stream " + std::to_string(stream) + ": lens \"" + type +
               "\" has no camera model; its images go without camera info");
    return;
  }
  const VESK_CAMERA_MODEL rendered = vesk_gazebo::RenderedCameraModel(lens, camera->HFOV().Radian(), w, h);
  state.interf->set_camera_model(
      static_cast<unsigned>(stream),
      vesk_gazebo::FrameCameraModel(rendered, w, h, h_fitted, frame.width, frame.height));
}

void VESK_ModelPlugin::ApplyFrameCommand(const std::string& frame_text) {
  std::string refused;
  {
    os::ScopedLock lock(pars_lock);
    const VESK_PLATFORM_PARS before = platform_pars;
    VESK_NET_INTERF::parse_frame_spec(frame_text, &platform_pars);
    std::ostringstream msg;
    // Both streams take the rate of a frame text (or stream 1 alone); it is said once.
    bool rate_told = false;
    for (int s = 0; s < 2; ++s) {
      float& rate = platform_pars.stream[s].stream_rate;
      if (rate > STREAM_RATE_MAX && std::isfinite(rate)) {
        if (!rate_told) msg << "rate " << rate << " clamped to " << STREAM_RATE_MAX << " frames per second; ";
        rate_told = true;
        rate = STREAM_RATE_MAX;
      } else if (rate != 0.0f && !(rate >= STREAM_RATE_MIN && rate <= STREAM_RATE_MAX)) {
        msg << "rate " << rate << " refused (0, or " << STREAM_RATE_MIN << " to " << STREAM_RATE_MAX
            << " frames per second); ";
        platform_pars.stream[0].stream_rate = before.stream[0].stream_rate;
        platform_pars.stream[1].stream_rate = before.stream[1].stream_rate;
        break;
      }
    }
    sensors::CameraSensor* eyes[2] = {state.sensor.eye_l, state.sensor.eye_r};
    for (int s = 0; s < 2; ++s) {
      const VESK_FRAME_GEOM& g = platform_pars.stream[s].stream_geom;
      if (!eyes[s] || comp_frame_geom(g, before.stream[s].stream_geom)) continue;
      const int w = static_cast<int>(eyes[s]->ImageWidth()), h = static_cast<int>(eyes[s]->ImageHeight());
      if (vesk_gazebo::EyeFrameProblem(w, h, g.width, g.height, vesk_gazebo::kFrameBufferBytes)) {
        msg << "frame size " << g.width << " x " << g.height << " refused: the eye cameras render " << w
            << " x " << h << "; ";
        platform_pars.stream[0].stream_geom = before.stream[0].stream_geom;
        platform_pars.stream[1].stream_geom = before.stream[1].stream_geom;
        break;
      }
    }
    refused = msg.str();
  }
  if (refused.empty()) {
    frame_spec_told = false;
  } else {
    if (!frame_spec_told && verbosity > 0)
      os::warn("frame specification \"" + frame_text + "\": " + refused.substr(0, refused.size() - 2));
    frame_spec_told = true;
  }
  ApplyCameraRates();
}

}  // namespace gazebo
