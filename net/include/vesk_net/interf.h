// VESK_NET_INTERF: the robot platform's door to ROS.
//
// The platform creates one per robot with its three configuration records
// (which must outlive the interface and stay in place), then calls exchange()
// once per tick (TICK_PERIOD), publish_frame(), publish_mics() and publish_log()
// whenever it has bulk data, and receive() to collect downward audio. All of
// these run on the platform's thread.
//
// Modes: NET_MODE_OFFLINE needs no ROS at all (exchange returns a record at
// its defaults, nothing is published); NET_MODE_ROS initialises ROS for the
// process if nobody has, waits for the master (VESK_NET_CONFIG::exit_request
// abandons the wait), advertises the sensor topics and subscribes the control
// topics under "/" + robot_name. Any other mode fails with "not implemented".
//
// This header pulls in no ROS headers.
#pragma once

#include <string>

#include "vesk_net/records.h"

namespace vesk {
class VESK_NET_INTERF_ROS;
}

class VESK_NET_INTERF {
 public:
  // Throws std::runtime_error on failure (after printing "[ERROR] " + message).
  VESK_NET_INTERF(VESK_NET_CONFIG* net_config, VESK_TOOL_CONFIG* tool_config,
                  VESK_PLATFORM_PARS* platform_pars);
  ~VESK_NET_INTERF();
  VESK_NET_INTERF(const VESK_NET_INTERF&) = delete;
  VESK_NET_INTERF& operator=(const VESK_NET_INTERF&) = delete;

  // Publishes one tick's sensor record and returns the commands for the
  // platform. The record belongs to the interface and stays valid and
  // unchanged until the next exchange.
  VESK_TICK_D* exchange(VESK_TICK_U& tick_u);

  // The most recently filled downward audio packet if it has not been handed
  // out yet, else nullptr (always nullptr offline). The packet stays intact
  // until two further stream messages have arrived.
  VESK_STREAM_PACKET* receive();

  // Publishes one camera frame; the frame and its data need only stay valid
  // during the call.
  void publish_frame(const VESK_MSG_FRAME* frame);

  // Publishes one microphone block on "/sensors/mics".
  void publish_mics(const MICS_ALL* mics);

  // Publishes a log text on "/sensors/log": the bytes up to the first zero
  // byte, and never more than `length` bytes. An empty text publishes nothing.
  void publish_log(const unsigned char* text, unsigned length);

  // Applies a frame specification (e.g. "360w@15", "@10", "180s!") to the two
  // eye streams of `pars`. Returns true when the streams changed (or "!"
  // forced it), then also setting bit 0 of frame_flags; false when nothing
  // changed or the text cannot be parsed (with a warning). Needs no
  // interface instance. Console lines are graded by `verbosity`.
  static bool parse_frame_spec(std::string frame_text, VESK_PLATFORM_PARS* pars, int verbosity = 2);

  // True when somebody watches camera stream `stream_index` (0 caml, 1 camr, 2 overhead,
  // 3 gaze): its image topic, in any of its transports, or its camera info topic has a
  // subscriber. False offline and for a stream without a camera. The simulated platform
  // renders only the cameras that are watched.
  bool stream_watched(unsigned stream_index) const;

  // The projection of the next raw frames of stream `stream_index`: each raw frame published
  // after this call is followed by a sensor_msgs/CameraInfo with the image's header on
  // "<image topic>/camera_info" (raw-mode cameras only; cameras in compressed mode keep
  // their calibration). Until it is called a raw camera sends no camera info. Called on the
  // platform's thread, like publish_frame.
  void set_camera_model(unsigned stream_index, const VESK_CAMERA_MODEL& model);

  // True in NET_MODE_ROS with the ROS side up.
  bool online() const { return ros_ != nullptr; }

 private:
  uint32_t mode_;
  VESK_TOOL_CONFIG* tool_config_;
  VESK_TICK_D local_;               // offline: the record exchange returns
  vesk::VESK_NET_INTERF_ROS* ros_;  // absent offline
};
