// Defaults and helpers of the platform records.
#include "vesk_net/records.h"

#include <cstring>

void VESK_TICK_D::reset() {
  std::memset(reserved0, 0, sizeof(reserved0));
  flags = 0;
  std::memset(reserved1, 0, sizeof(reserved1));
  tone = VESK_TONE{0, 0, 0};
  for (uint32_t& v : illum) v = 0;
  for (int i = 0; i < 6; ++i) cosmetic_joints[i] = TICK_D_DEFAULT_COSMETIC[i];
  body_vel[0] = body_vel[1] = 0.0f;
  kinematic_joints[0] = TICK_D_DEFAULT_TILT;
  kinematic_joints[1] = TICK_D_DEFAULT_LIFT;
  kinematic_joints[2] = 0.0f;
  kinematic_joints[3] = 0.0f;
  joints_set = 255;
  std::memset(reserved2, 0, sizeof(reserved2));
  std::memset(reserved3, 0, sizeof(reserved3));
  std::vector<std::string>().swap(commands);
}

bool comp_frame_geom(const VESK_FRAME_GEOM& a, const VESK_FRAME_GEOM& b) {
  return a.width == b.width && a.height == b.height && a.aux[0] == b.aux[0] && a.aux[1] == b.aux[1] &&
         a.aux[2] == b.aux[2] && a.aux[3] == b.aux[3];
}

void VESK_STREAM_PACKET::preset() {
  magic = STREAM_PACKET_MAGIC;
  length = STREAM_PACKET_HEADER_BYTES;
  kind = STREAM_PACKET_KIND;
  fresh = 0;
  reserved = 0;
}
