// ROS-free logic of the robot interface: the control buffer that the control
// topics write and exchange() reads, audio companding, command splitting,
// wheel odometry, the platform clock and the camera calibration model.
#pragma once

#include <vesk_support/os.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vesk_net/records.h"

namespace vesk {

// ---- control ----------------------------------------------------------------------

constexpr int32_t WHEEL_TTL_TICKS = ticks_in_us(200000);     // 0.2 s
constexpr int32_t CONTROL_TTL_TICKS = ticks_in_us(1000000);  // 1 s

// One signed 16-bit sample to an unsigned 8-bit one centred on 128 through
// the soft limiter y = x - x|x|/2 (x = s / 32768).
uint8_t stream_compand(int16_t s);

// Bounds of what control/command takes in. Any node may publish there; the platform keeps
// every command until the next tick and echoes each one, so without bounds one message of
// megabytes of ";" becomes millions of commands held, copied and printed. The commands the
// platforms understand ("frame=" and a frame specification) are a few tens of characters;
// the bounds leave ample room above that. A message beyond them is dropped whole.
constexpr size_t COMMAND_TEXT_MAX = 1024;        // characters in one message
constexpr size_t COMMANDS_PER_MESSAGE_MAX = 16;  // commands in one message
constexpr size_t COMMANDS_PER_TICK_MAX = 64;     // commands held for one tick, all messages

// Splits "a;;b;" into "a", "", "b" and appends them to `out`: every ";" ends a
// command, a trailing ";" adds nothing, an empty text adds nothing.
void split_commands(const std::string& text, std::vector<std::string>& out);

// Everything the control callbacks share with exchange() and receive(). Every
// operation takes the lock for its whole duration and never throws. Size
// failures warn (verbosity > 0) and change nothing but the ttl refreshes.
// Velocities and joint positions are narrowed to float without undefined
// behaviour; a message with a value that is not finite as a float (NaN,
// infinite, beyond the float range) is refused whole, with one warning per run
// of such messages on its topic; a refused velocity refreshes no ttl.
class Inbuf {
 public:
  Inbuf();
  Inbuf(const Inbuf&) = delete;
  Inbuf& operator=(const Inbuf&) = delete;

  // Construction state: records reset, ttls full, flags = initial_flags.
  void init(uint32_t initial_flags, const VESK_TOOL_CONFIG* tool_config);

  void cmd_vel(double linear_x, double angular_z);
  void kinematic_joints(const double* positions, size_t n);
  void cosmetic_joints(const float* values, size_t n);
  void illum(const uint32_t* values, size_t n);
  void tone(const uint16_t* values, size_t n);
  void stream(const int16_t* samples, size_t n);
  void flags(uint32_t value);
  // Refused (with one warning until a message is taken again) beyond the bounds above.
  void command(const std::string& text);

  // Copies the input record to the output record, lets short-lived commands
  // lapse, and returns the output record (valid until the next call).
  VESK_TICK_D* exchange();

  // The packet filled last if not yet handed out (and marks it taken), else nullptr.
  VESK_STREAM_PACKET* take_packet();

  // Snapshots for inspection (taken under the lock).
  uint32_t persistent_flags() const;
  int32_t wheel_ttl() const;
  int32_t control_ttl() const;

 private:
  int verbosity() const;
  enum Topic { kTopicCmdVel, kTopicKinematic, kTopicCosmetic, kTopicCount };
  // True when all n values are finite; otherwise warns (once per run of refusals on the topic).
  bool all_finite(const float* values, size_t n, Topic topic, const char* what);

  mutable os::Mutex lock_;
  VESK_STREAM_PACKET packet_[2];
  int fill_ = 0;
  uint32_t persistent_flags_ = 0;
  VESK_TICK_D input_;
  VESK_TICK_D output_;
  int32_t wheel_ttl_ = WHEEL_TTL_TICKS;
  int32_t control_ttl_ = CONTROL_TTL_TICKS;
  const VESK_TOOL_CONFIG* tool_config_ = nullptr;
  bool not_finite_told_[kTopicCount] = {false, false, false};
  bool command_refused_told_ = false;
};

// ---- odometry ---------------------------------------------------------------------

// Planar wheel odometry in single precision, integrated once per tick (TICK_PERIOD) over the
// wheel track (INV_WHEEL_TRACK).
struct Odometry {
  float x = 0.0f;      // [m]
  float y = 0.0f;      // [m]
  float theta = 0.0f;  // heading [rad]
  float v = 0.0f;      // last forward speed [m/s]
  float omega = 0.0f;  // last turn rate [rad/s]

  // Integrates one tick of left and right wheel speeds [m/s]; both position
  // updates use the heading from before this tick's turn. v and omega always
  // take this tick's values, but a tick that would leave the pose not finite
  // (a NaN or infinite speed from a faulty sensor) is not integrated, so that
  // one bad reading cannot spoil the pose for good.
  void step(float left, float right);
};

// ---- platform clock ------------------------------------------------------------------

// Unwraps a platform clock reading (microseconds, wrapping 999999999 -> 0)
// against the last unwrapped value `last_us`, which it updates. Jumps of more
// than half a wrap are taken as a wrap in the other direction.
int64_t unwrap_platform_clock(int64_t& last_us, int32_t stamp_us);

// Largest time a ROS stamp can hold [ns]: 2^32 - 1 seconds and 999999999 ns.
constexpr uint64_t STAMP_MAX_NS = 4294967295ull * 1000000000ull + 999999999ull;

// The stamp [ns] of unwrapped platform time `t_us` on top of the time base
// `base_ns`, limited to 0 .. STAMP_MAX_NS: a platform clock far behind (or
// ahead of) the base gives the nearest valid stamp instead of an invalid time.
uint64_t platform_stamp_ns(uint64_t base_ns, int64_t t_us);

// ---- camera calibration ----------------------------------------------------------

// Each row gives one camera parameter as a dot product with the feature vector
// (w, h, 0.001 w h, sqrt(w^2 + h^2), 1000 h / w, 1) of an image size.
extern const double camera_calib[13][6];

// Six-element dot product.
double vecmult(const double* a, const double* b);

struct CameraModel {
  double D[5];            // plumb-bob distortion
  double fx, cx, fy, cy;  // K[0], K[2], K[4], K[5]
  double p0, p2, p5, p6;  // P[0], P[2], P[5], P[6]
};

// The calibration model for an image of width w and height h (w > 0).
CameraModel camera_model(double w, double h);

}  // namespace vesk
