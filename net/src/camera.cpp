// Camera, microphone and log streams.
#include <sensor_msgs/distortion_models.h>
#include <vesk_support/os.h>
#include <vesk_support/qor.h>

#include <cmath>
#include <cstring>
#include <iostream>

#include "interf_ros.h"

namespace vesk {

void Output::Camera::init(ros::NodeHandle& nh, bool raw_mode, const std::string& camera_name,
                          const std::string& frame_prefix) {
  raw = raw_mode;
  name = camera_name;
  topic = "sensors/" + name;
  optical = frame_prefix + "head_" + name + "_optical";
  image.header.frame_id = optical;
  compressed.header.frame_id = optical;

  url = "file://" + qor::get_dir("VESK_DIR_CONFIG") + "/" + name + ".yaml";
  // The manager loads the calibration from the URL as it is made.
  manager.reset(new camera_info_manager::CameraInfoManager(ros::NodeHandle(nh, topic), name, url));
  std::cout << "initialised camera: " << name << " (" << url << ")" << std::endl;
  initialised = true;
}

void Output::Camera::advertise(ros::NodeHandle& nh, const std::string& root) {
  const std::string base = root + "/" + topic;
  if (!raw) {
    pub_info = nh.advertise<sensor_msgs::CameraInfo>(base + "/camera_info", 1);
    has_info = true;
    pub_compressed = nh.advertise<sensor_msgs::CompressedImage>(base + "/compressed", 1);
  } else {
    transport.reset(new image_transport::ImageTransport(nh));
    pub_raw = transport->advertise(base, 1, false);
    // The simulated camera's projection (set_camera_model) goes beside the image.
    pub_info = nh.advertise<sensor_msgs::CameraInfo>(base + "/camera_info", 1);
  }
}

bool Output::Camera::watched() const {
  if (!initialised) return false;
  const uint32_t images = raw ? pub_raw.getNumSubscribers() : pub_compressed.getNumSubscribers();
  return images + pub_info.getNumSubscribers() > 0;
}

void Output::Camera::publish_model_info(const std_msgs::Header& header, unsigned width, unsigned height) {
  if (!has_model || !pub_info) return;
  info.header.seq = header.seq;
  info.header.stamp = header.stamp;
  info.header.frame_id = optical;
  info.width = width;
  info.height = height;
  const bool fisheye = model.lens == CAMERA_LENS_EQUIDISTANT;
  info.distortion_model =
      fisheye ? sensor_msgs::distortion_models::EQUIDISTANT : sensor_msgs::distortion_models::PLUMB_BOB;
  info.D.assign(fisheye ? 4 : 5, 0.0);
  info.K = {model.fx, 0.0, model.cx, 0.0, model.fy, model.cy, 0.0, 0.0, 1.0};
  info.R = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
  info.P = {model.fx, 0.0, model.cx, 0.0, 0.0, model.fy, model.cy, 0.0, 0.0, 0.0, 1.0, 0.0};
  info.binning_x = info.binning_y = 0;
  info.roi = sensor_msgs::RegionOfInterest();
  pub_info.publish(info);
}

void Output::Camera::publish_camera_info(const std_msgs::Header& header, unsigned width, unsigned height) {
  if (!has_info) return;
  info = manager->getCameraInfo();
  info.header.seq = header.seq;
  info.header.stamp = header.stamp;
  info.header.frame_id = optical;
  info.width = width;
  info.height = height;
  info.distortion_model = "plumb_bob";
  if (width > 0) {
    const CameraModel m = camera_model(width, height);
    info.D.assign(m.D, m.D + 5);
    info.K[0] = m.fx;
    info.K[2] = m.cx;
    info.K[4] = m.fy;
    info.K[5] = m.cy;
    info.P[0] = m.p0;
    info.P[2] = m.p2;
    info.P[5] = m.p5;
    info.P[6] = m.p6;
  }
  pub_info.publish(info);
}

bool VESK_NET_INTERF_ROS::frame_holds(const VESK_MSG_FRAME* frame, size_t bytes) {
  // A raw frame's size counts its pixels too: never copy more than the
  // platform says it handed over.
  if (frame->size < FRAME_HEADER_BYTES + static_cast<uint64_t>(bytes)) {
    if (verbosity() > 0) {
      os::warn("bad frame size " + std::to_string(frame->size) + " in publish_frame()");
    }
    return false;
  }
  if (bytes > 0 && frame->data == nullptr) {
    if (verbosity() > 0) os::warn("frame without data in publish_frame()");
    return false;
  }
  return true;
}

void VESK_NET_INTERF_ROS::publish_frame(const VESK_MSG_FRAME* frame) {
  if (frame->stream_index > 3) {
    if (verbosity() > 0) {
      os::warn("bad stream index " + std::to_string(frame->stream_index) + " in publish_frame()");
    }
    return;
  }
  Output::Camera& cam = output_.camera[frame->stream_index];
  if (!cam.initialised) return;
  const bool hw_clock = (net_config_->net_flags & NET_FLAG_HW_CLOCK) != 0;

  if ((frame->flags & FRAME_FLAG_RAW) && cam.raw) {
    const size_t bytes = static_cast<size_t>(frame->width) * frame->height * 3;
    if (!frame_holds(frame, bytes)) return;
    sensor_msgs::Image& im = cam.image;
    im.header.seq = frame->seq;
    im.header.stamp = hw_clock ? platform_stamp(frame->clock) : ros::Time::now();
    im.height = frame->height;
    im.width = frame->width;
    im.encoding = "rgb8";
    im.is_bigendian = 0;
    im.step = 3u * frame->width;
    im.data.resize(bytes);
    if (bytes > 0) std::memcpy(im.data.data(), frame->data, bytes);
    cam.pub_raw.publish(im);
    cam.publish_camera_info(im.header, frame->width, frame->height);
    cam.publish_model_info(im.header, frame->width, frame->height);
  }

  if ((frame->flags & FRAME_FLAG_JPEG) && !cam.raw) {
    // A size below the header would wrap the data length: drop the frame.
    if (!frame_holds(frame, 0)) return;
    const size_t bytes = frame->size - FRAME_HEADER_BYTES;
    if (!frame_holds(frame, bytes)) return;
    sensor_msgs::CompressedImage& im = cam.compressed;
    im.header.seq = frame->seq;
    im.header.stamp = hw_clock ? platform_stamp(frame->clock) : ros::Time::now();
    im.format = "jpeg";
    im.data.resize(bytes);
    if (bytes > 0) std::memcpy(im.data.data(), frame->data, bytes);
    cam.pub_compressed.publish(im);
    cam.publish_camera_info(im.header, frame->width, frame->height);
  }
}

bool VESK_NET_INTERF_ROS::stream_watched(unsigned stream_index) const {
  return stream_index < CAMERA_COUNT && output_.camera[stream_index].watched();
}

void VESK_NET_INTERF_ROS::set_camera_model(unsigned stream_index, const VESK_CAMERA_MODEL& model) {
  if (stream_index >= CAMERA_COUNT) return;
  Output::Camera& cam = output_.camera[stream_index];
  if (!cam.raw) return;
  const bool finite = std::isfinite(model.fx) && std::isfinite(model.fy) && std::isfinite(model.cx) &&
                      std::isfinite(model.cy) && model.fx > 0.0 && model.fy > 0.0;
  // A projection that is not one is ignored: the last good one stays in use.
  if (!finite || (model.lens != CAMERA_LENS_PINHOLE && model.lens != CAMERA_LENS_EQUIDISTANT)) return;
  cam.model = model;
  cam.has_model = true;
}

void VESK_NET_INTERF_ROS::publish_mics(const MICS_ALL* mics) {
  std::memcpy(output_.mics.data.data(), mics->data, sizeof(mics->data));
  output_.pub_mics.publish(output_.mics);
}

void VESK_NET_INTERF_ROS::publish_log(const unsigned char* text, unsigned length) {
  if (text == nullptr) return;
  // Up to the first zero byte, and never past `length`.
  const void* end = std::memchr(text, 0, length);
  const size_t n = end ? static_cast<const unsigned char*>(end) - text : length;
  if (n == 0) return;
  output_.log.data.assign(reinterpret_cast<const char*>(text), n);
  output_.pub_log.publish(output_.log);
}

}  // namespace vesk
