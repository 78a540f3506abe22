// ROS-free logic of the robot interface (see vesk_net/core.h).
#include "vesk_net/core.h"

#include <vesk_support/float_cast.h>

#include <cmath>
#include <iostream>

namespace vesk {

// ---- control ----------------------------------------------------------------------

uint8_t stream_compand(int16_t s) {
  const int32_t x = s;
  const int32_t t = (x * (x < 0 ? -x : x)) >> 1;
  const int32_t v = ((x * 32768) - t) >> 22;
  const int32_t out = v + 128;
  if (out > 255) return 255;
  if (out < 0) return 0;
  return static_cast<uint8_t>(out);
}

void split_commands(const std::string& text, std::vector<std::string>& out) {
  size_t start = 0;
  while (start < text.size()) {
    const size_t semi = text.find(';', start);
    if (semi == std::string::npos) {
      out.push_back(text.substr(start));
      return;
    }
    out.push_back(text.substr(start, semi - start));
    start = semi + 1;
  }
}

Inbuf::Inbuf() {
  packet_[0].preset();
  packet_[1].preset();
}

int Inbuf::verbosity() const { return tool_config_ ? tool_config_->verbosity : 0; }

void Inbuf::init(uint32_t initial_flags, const VESK_TOOL_CONFIG* tool_config) {
  os::ScopedLock guard(lock_);
  tool_config_ = tool_config;
  packet_[0].preset();
  packet_[1].preset();
  fill_ = 0;
  input_.reset();
  output_.reset();
  wheel_ttl_ = WHEEL_TTL_TICKS;
  control_ttl_ = CONTROL_TTL_TICKS;
  input_.body_vel[0] = input_.body_vel[1] = 0.0f;

  if (verbosity() > 2) std::cout << "\t(ROS) set_initial_flags" << std::endl;
  persistent_flags_ = initial_flags;
  if (verbosity() > 2) {
    std::cout << "\t(ROS) persistent_flags=" << std::hex << persistent_flags_ << std::dec << std::endl;
  }
  input_.flags = initial_flags;
}

bool Inbuf::all_finite(const float* values, size_t n, Topic topic, const char* what) {
  bool finite = true;
  for (size_t i = 0; i < n; ++i) finite = finite && std::isfinite(values[i]);
  bool& told = not_finite_told_[topic];
  if (finite) {
    told = false;
  } else {
    if (!told && verbosity() > 0) os::warn(std::string(what) + ", ignoring input data");
    told = true;
  }
  return finite;
}

void Inbuf::cmd_vel(double linear_x, double angular_z) {
  os::ScopedLock guard(lock_);
  // A refused velocity does not refresh the wheel timeout: the wheels stop as if it had
  // never come.
  const float v[2] = {os::to_float(linear_x), os::to_float(angular_z)};
  if (!all_finite(v, 2, kTopicCmdVel, "velocity not finite or too large in control/cmd_vel")) return;
  input_.body_vel[0] = v[0];
  input_.body_vel[1] = v[1];
  wheel_ttl_ = WHEEL_TTL_TICKS;
  control_ttl_ = CONTROL_TTL_TICKS;
}

void Inbuf::kinematic_joints(const double* positions, size_t n) {
  os::ScopedLock guard(lock_);
  control_ttl_ = CONTROL_TTL_TICKS;
  if (n != KINEMATIC_COUNT) {
    if (verbosity() > 0) {
      os::warn("position vector wrong size (!=4) in control/kinematic_joints, ignoring input data");
    }
    return;
  }
  float p[KINEMATIC_COUNT];
  for (size_t i = 0; i < KINEMATIC_COUNT; ++i) p[i] = os::to_float(positions[i]);
  if (!all_finite(p, KINEMATIC_COUNT, kTopicKinematic,
                  "position not finite or too large in control/kinematic_joints"))
    return;
  for (size_t i = 0; i < KINEMATIC_COUNT; ++i) input_.kinematic_joints[i] = p[i];
  input_.joints_set = 255;
}

void Inbuf::cosmetic_joints(const float* values, size_t n) {
  os::ScopedLock guard(lock_);
  control_ttl_ = CONTROL_TTL_TICKS;
  if (n != COSMETIC_COUNT) {
    if (verbosity() > 0) {
      os::warn("position vector wrong size (!=6) in control/cosmetic_joints, ignoring input data");
    }
    return;
  }
  if (!all_finite(values, COSMETIC_COUNT, kTopicCosmetic, "position not finite in control/cosmetic_joints"))
    return;
  // Message order: droop, wag, left eyelid, right eyelid, left ear, right ear.
  static constexpr size_t kFromMessage[COSMETIC_COUNT] = {0, 1, 4, 5, 2, 3};
  for (size_t i = 0; i < COSMETIC_COUNT; ++i) input_.cosmetic_joints[i] = values[kFromMessage[i]];
  input_.joints_set = 255;
}

void Inbuf::illum(const uint32_t* values, size_t n) {
  os::ScopedLock guard(lock_);
  if (n != 6) {
    if (verbosity() > 0) os::warn("illum vector wrong size (!=6) in control/illum");
    return;
  }
  for (size_t i = 0; i < 6; ++i) input_.illum[i] = values[i];
}

void Inbuf::tone(const uint16_t* values, size_t n) {
  os::ScopedLock guard(lock_);
  if (n != 3) {
    if (verbosity() > 0) os::warn("tone vector wrong size (!=3) in control/tone");
    return;
  }
  input_.tone.value = values[0];
  input_.tone.level = static_cast<uint8_t>(values[1] & 0xff);
  input_.tone.duration = static_cast<uint8_t>(values[2] & 0xff);
}

void Inbuf::stream(const int16_t* samples, size_t n) {
  os::ScopedLock guard(lock_);
  if (n > STREAM_MAX_SAMPLES) {
    if (verbosity() > 0) {
      // This warning ends without a line end.
      std::cout << os::cout_global_elapsed() << "**** WARNING **** \n\t"
                << "stream message must not exceed " << STREAM_MAX_SAMPLES << " bytes in size" << std::flush;
    }
    return;
  }
  VESK_STREAM_PACKET& p = packet_[fill_];
  for (size_t i = 0; i < n; ++i) p.samples[i] = stream_compand(samples[i]);
  p.length = static_cast<uint32_t>(n) + STREAM_PACKET_HEADER_BYTES;
  p.fresh = 1;
  fill_ = 1 - fill_;
}

void Inbuf::flags(uint32_t value) {
  os::ScopedLock guard(lock_);
  const bool persistent = (value & PLATFORM_D_FLAG_PERSISTENT) != 0;
  if (verbosity() > 1) {
    std::cout << os::cout_global_elapsed() << "received new platform flags: " << std::hex << value << std::dec
              << (persistent ? " (PLATFORM_D_FLAG_PERSISTENT)" : "") << std::endl;
  }
  input_.flags = value;
  if (verbosity() > 2) {
    std::cout << os::cout_global_elapsed() << "\t(ROS) platform_d.flags=" << std::hex << value << std::dec
              << std::endl;
  }
  if (persistent) {
    persistent_flags_ = value;
    if (verbosity() > 2) {
      std::cout << os::cout_global_elapsed() << "\t(ROS) persistent_flags=" << std::hex << value << std::dec
                << std::endl;
    }
  }
  control_ttl_ = CONTROL_TTL_TICKS;
}

namespace {

// How many commands split_commands makes of `text`.
size_t count_commands(const std::string& text) {
  if (text.empty()) return 0;
  size_t n = 1;
  for (size_t at = text.find(';'); at != std::string::npos; at = text.find(';', at + 1)) {
    if (at + 1 < text.size()) ++n;
  }
  return n;
}

}  // namespace

void Inbuf::command(const std::string& text) {
  os::ScopedLock guard(lock_);
  const size_t count = count_commands(text);
  std::string refused;
  if (text.size() > COMMAND_TEXT_MAX) {
    refused = "command text longer than " + std::to_string(COMMAND_TEXT_MAX) +
              " characters in control/command, ignoring it";
  } else if (count > COMMANDS_PER_MESSAGE_MAX) {
    refused = "more than " + std::to_string(COMMANDS_PER_MESSAGE_MAX) +
              " commands in one control/command message, ignoring it";
  } else if (input_.commands.size() + count > COMMANDS_PER_TICK_MAX) {
    refused = "more than " + std::to_string(COMMANDS_PER_TICK_MAX) +
              " commands within one tick on control/command, ignoring the rest";
  }
  if (!refused.empty()) {
    if (!command_refused_told_ && verbosity() > 0) os::warn(refused);
    command_refused_told_ = true;
    return;
  }
  command_refused_told_ = false;
  if (verbosity() > 1) std::cout << os::cout_global_elapsed() << "received command(s):" << std::endl;
  const size_t first = input_.commands.size();
  split_commands(text, input_.commands);
  if (verbosity() > 1) {
    for (size_t i = first; i < input_.commands.size(); ++i) {
      std::cout << "\t" << input_.commands[i] << std::endl;
    }
  }
}

VESK_TICK_D* Inbuf::exchange() {
  os::ScopedLock guard(lock_);
  output_ = input_;
  if (wheel_ttl_ > 0) {
    --wheel_ttl_;
  } else {
    input_.body_vel[0] = input_.body_vel[1] = 0.0f;
  }
  if (control_ttl_ == 0) {
    input_.flags = persistent_flags_;
  } else {
    --control_ttl_;
  }
  if (input_.tone.value != 0) input_.tone = VESK_TONE{0, 0, 0};
  input_.commands.clear();
  return &output_;
}

VESK_STREAM_PACKET* Inbuf::take_packet() {
  os::ScopedLock guard(lock_);
  VESK_STREAM_PACKET& p = packet_[1 - fill_];
  if (p.fresh != 1) return nullptr;
  p.fresh = 0;
  return &p;
}

uint32_t Inbuf::persistent_flags() const {
  os::ScopedLock guard(lock_);
  return persistent_flags_;
}

int32_t Inbuf::wheel_ttl() const {
  os::ScopedLock guard(lock_);
  return wheel_ttl_;
}

int32_t Inbuf::control_ttl() const {
  os::ScopedLock guard(lock_);
  return control_ttl_;
}

// ---- odometry ---------------------------------------------------------------------

void Odometry::step(float left, float right) {
  v = (left + right) * 0.5f;
  omega = (right - left) * INV_WHEEL_TRACK;
  const float d = v * TICK_PERIOD;
  const float nx = x + std::cos(theta) * d;
  const float ny = y + std::sin(theta) * d;
  const float nt = theta + omega * TICK_PERIOD;
  if (!std::isfinite(nx) || !std::isfinite(ny) || !std::isfinite(nt)) return;
  x = nx;
  y = ny;
  theta = nt;
}

// ---- platform clock ------------------------------------------------------------------

int64_t unwrap_platform_clock(int64_t& last_us, int32_t stamp_us) {
  const int64_t base = (last_us / PLATFORM_CLOCK_WRAP_US) * PLATFORM_CLOCK_WRAP_US;
  int64_t t = base + stamp_us;
  if (t - last_us > PLATFORM_CLOCK_WRAP_US / 2) {
    t -= PLATFORM_CLOCK_WRAP_US;
  } else if (t - last_us < -PLATFORM_CLOCK_WRAP_US / 2) {
    t += PLATFORM_CLOCK_WRAP_US;
  }
  last_us = t;
  return t;
}

uint64_t platform_stamp_ns(uint64_t base_ns, int64_t t_us) {
  // Both terms are limited to +-STAMP_MAX_NS (below 2^62), so the sum cannot overflow.
  constexpr int64_t kMax = static_cast<int64_t>(STAMP_MAX_NS);
  const int64_t base = base_ns > STAMP_MAX_NS ? kMax : static_cast<int64_t>(base_ns);
  int64_t t_ns = kMax;
  if (t_us < -(kMax / 1000)) {
    t_ns = -kMax;
  } else if (t_us <= kMax / 1000) {
    t_ns = t_us * 1000;
  }
  const int64_t ns = base + t_ns;
  if (ns < 0) return 0;
  return ns > kMax ? STAMP_MAX_NS : static_cast<uint64_t>(ns);
}

// ---- camera calibration ----------------------------------------------------------

const double camera_calib[13][6] = {
    {0, 0.00066, 7.2e-05, -0.000395, -0.000633, 0.084395},     // D[0]
    {0, -0.000744, -2.1e-05, 0.00039, 0.000667, -0.323202},    // D[1]
    {0, 2e-05, -2e-05, 8e-06, -1.4e-05, -0.001836},            // D[2]
    {0, -3e-05, -1.4e-05, 2.9e-05, 1.5e-05, -0.013702},        // D[3]
    {0, 0, 0, 0, 0, 0},                                        // D[4]
    {0, 0.879871, -0.044601, 0.061053, -0.050005, 18.890031},  // K[0] fx
    {0, -0.261178, 0.048315, 0.526279, -0.017342, 20.458386},  // K[2] cx
    {0, 0.89184, -0.046117, 0.05205, -0.059327, 28.296388},    // K[4] fy
    {0, 0.685614, 0.023575, -0.091477, -0.047883, 35.011715},  // K[5] cy
    {0, 0.995108, 0.016161, -0.185715, 0.022636, -13.212525},  // P[0]
    {0, -0.243565, 0.025187, 0.544084, -0.032701, 20.079054},  // P[2]
    {0, 0.774836, -0.044621, 0.059361, -0.099125, 53.679126},  // P[5]
    {0, 0.749088, 0.024761, -0.120634, -0.067672, 46.807648},  // P[6]
};

double vecmult(const double* a, const double* b) {
  double sum = 0.0;
  for (int i = 0; i < 6; ++i) sum += a[i] * b[i];
  return sum;
}

CameraModel camera_model(double w, double h) {
  const double f[6] = {w, h, 0.001 * w * h, std::sqrt(w * w + h * h), 1000.0 * h / w, 1.0};
  CameraModel m;
  for (int i = 0; i < 5; ++i) m.D[i] = vecmult(camera_calib[i], f);
  m.fx = vecmult(camera_calib[5], f);
  m.cx = vecmult(camera_calib[6], f);
  m.fy = vecmult(camera_calib[7], f);
  m.cy = vecmult(camera_calib[8], f);
  m.p0 = vecmult(camera_calib[9], f);
  m.p2 = vecmult(camera_calib[10], f);
  m.p5 = vecmult(camera_calib[11], f);
  m.p6 = vecmult(camera_calib[12], f);
  return m;
}

}  // namespace vesk
