// Records exchanged between a robot platform and the ROS interface: the
// upward and downward tick records, the three configuration records, camera
// frames, microphone blocks and downward audio stream packets.
//
// All records are plain data, little-endian. Reserved blocks are kept only so
// that the fields behind them stay at the byte offsets a platform writes;
// nothing here fills or reads them. The static_asserts below pin the layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---- flags -------------------------------------------------------------------

// Option bits of VESK_NET_CONFIG::net_flags.
constexpr uint32_t NET_FLAG_SIM = 0x10000;        // simulated platform
constexpr uint32_t NET_FLAG_NO_TOUCH = 0x200000;  // do not publish the touch topics
constexpr uint32_t NET_FLAG_HW_CLOCK = 0x400000;  // stamp from the platform clock

// Network modes (VESK_NET_CONFIG::mode).
constexpr uint32_t NET_MODE_OFFLINE = 1;
constexpr uint32_t NET_MODE_ROS = 2;

// Platform flags: a flags value carrying this bit becomes the persistent flags.
constexpr uint32_t PLATFORM_D_FLAG_PERSISTENT = 0x80000000u;
// Downward platform flags read by the wheel drive: no cliff reflex; both wheels stopped;
// both wheels at the forward speed, the turn rate ignored.
constexpr uint32_t PLATFORM_D_FLAG_NO_CLIFF_REFLEX = 0x200000;
constexpr uint32_t PLATFORM_D_FLAG_WHEELS_STOP = 0x800000;
constexpr uint32_t PLATFORM_D_FLAG_WHEELS_STRAIGHT = 0x1000000;
// Bit added to the published flags by a simulated platform.
constexpr uint32_t PLATFORM_U_FLAG_SIM = 0x8000;

// Frame kinds (VESK_MSG_FRAME::flags).
constexpr uint16_t FRAME_FLAG_RAW = 0x2;   // raw 8-bit RGB pixels
constexpr uint16_t FRAME_FLAG_JPEG = 0x4;  // JPEG data

// Bit 0 of VESK_PLATFORM_PARS::frame_flags: a frame specification changed the streams.
constexpr uint16_t FRAME_FLAGS_CHANGED = 0x1;

// ---- timing and geometry of the platform -----------------------------------------
// Every package takes the robot's timing and wheel geometry from here: each value is
// typed once, and every other form (double, rate, microseconds) is derived from it.

// The platform tick [us]: one upward and one downward record each tick.
constexpr int32_t TICK_PERIOD_US = 20000;
// The tick period [s] in single precision (0.02f), as the platform computes with it.
constexpr float TICK_PERIOD = float(TICK_PERIOD_US) / 1000000.0f;
// That float widened to double (0.019999999552965164 s): the simulated tick on simulation time.
constexpr double TICK_PERIOD_WIDENED = double(TICK_PERIOD);
// The tick period [s] as the nearest double (0.02), for arithmetic on ROS times.
constexpr double TICK_PERIOD_D = double(TICK_PERIOD_US) / 1000000.0;
// Ticks per second (50).
constexpr float TICK_RATE_HZ = 1000000.0f / float(TICK_PERIOD_US);
// The platform clock (VESK_TICK_U::tick_stamp, VESK_MSG_FRAME::clock) [us] wraps to 0 here.
constexpr int64_t PLATFORM_CLOCK_WRAP_US = 1000000000;
// A whole number of ticks lasting `us` microseconds.
constexpr int32_t ticks_in_us(int32_t us) { return us / TICK_PERIOD_US; }

constexpr float WHEEL_RADIUS = 0.045f;                 // [m]
constexpr float HALF_TRACK = 0.082f;                   // [m], wheel to the body's mid-plane
constexpr float WHEEL_TRACK = 2.0f * HALF_TRACK;       // [m], 0.164 between the wheels
constexpr float INV_WHEEL_TRACK = 1.0f / WHEEL_TRACK;  // [1/m], 6.097561
constexpr float WHEEL_SPEED_MAX = 0.4f;                // [m/s]

// ---- joint slots ------------------------------------------------------------------

// Slots of the kinematic joint arrays: VESK_TICK_U::joint_pos and joint_effort,
// VESK_TICK_D::kinematic_joints.
enum KinematicJoint : unsigned {
  KINEMATIC_TILT = 0,
  KINEMATIC_LIFT = 1,
  KINEMATIC_YAW = 2,
  KINEMATIC_PITCH = 3,
  KINEMATIC_COUNT = 4
};

// Slots of VESK_TICK_D::cosmetic_joints.
enum CosmeticJoint : unsigned {
  COSMETIC_DROOP = 0,  // tail droop
  COSMETIC_WAG = 1,    // tail wag
  COSMETIC_EAR_L = 2,
  COSMETIC_EAR_R = 3,
  COSMETIC_EYELID_L = 4,
  COSMETIC_EYELID_R = 5,
  COSMETIC_COUNT = 6
};

// Slots of the simulated platform's joint table (slot 0 is never filled). The tilt joint
// has no slot: the body's tilt is fixed at TICK_D_DEFAULT_TILT.
enum SimJoint : unsigned {
  SIM_JOINT_NONE = 0,
  SIM_JOINT_LIFT = 1,   // body to neck
  SIM_JOINT_YAW = 2,    // neck to gimbal
  SIM_JOINT_PITCH = 3,  // gimbal to head
  SIM_JOINT_EYELID_L = 4,
  SIM_JOINT_EYELID_R = 5,
  SIM_JOINT_WHEEL_L = 6,
  SIM_JOINT_WHEEL_R = 7,
  SIM_JOINT_EAR_L = 8,
  SIM_JOINT_EAR_R = 9,
  SIM_JOINT_TAIL_WAG = 10,
  SIM_JOINT_TAIL_DROOP = 11,
  SIM_JOINT_CAMERA_CALIB = 12,  // head camera calibration joint: looked up, never driven
  VESK_JOINT_COUNT_SIM = 13
};

// ---- upward tick record ---------------------------------------------------------

// One inertial unit: accelerometer counts (8192 counts = 9.81 m/s^2), then
// bytes whose meaning belongs to the platform.
struct VESK_IMU_BLOCK {
  int16_t acc[3];
  uint8_t reserved[14];
};

// Everything the platform sensed during one tick (TICK_PERIOD). Owned by the platform.
struct VESK_TICK_U {
  uint8_t reserved0[12];
  uint32_t flags;  // platform flags
  uint8_t reserved1[16];
  int32_t tick_stamp;             // platform clock [us], wraps 999999999 -> 0
  uint16_t stream[2];             // stream status values
  float wheel_speed_cmd[2];       // left, right demanded [m/s]
  float wheel_speed_opto[2];      // left, right measured [m/s]
  float wheel_speed_back_emf[2];  // left, right from back-EMF [m/s]
  float wheel_effort_pwm[2];      // left, right drive effort
  uint8_t reserved2[8];
  float joint_pos[KINEMATIC_COUNT];     // tilt, lift, yaw, pitch [rad]
  float joint_effort[KINEMATIC_COUNT];  // same order
  float light[4];                       // light sensor values
  float battery_voltage;                // [V]
  uint16_t touch_body;
  uint16_t touch_head;
  VESK_IMU_BLOCK imu_body;
  VESK_IMU_BLOCK imu_head;
  uint8_t cliff[2];  // 0..15, larger = floor nearer
  uint8_t reserved3[2];
  float sonar;  // range [m]
  uint16_t dip;
  uint8_t reserved4[1174];
  float body_pose[3];  // ground truth x [m], y [m], theta [rad]; simulation only
};

// ---- downward tick record -------------------------------------------------------

// Tone request: the first value kept whole (non-zero = pending), the second
// and third cut to their low 8 bits.
struct VESK_TONE {
  uint16_t value;
  uint8_t level;
  uint8_t duration;
};

// Everything commanded for one tick.
struct VESK_TICK_D {
  uint8_t reserved0[12];
  uint32_t flags;  // platform flags
  uint8_t reserved1[16];
  VESK_TONE tone;
  uint32_t illum[6];
  float cosmetic_joints[COSMETIC_COUNT];    // droop, wag, left ear, right ear, left eyelid, right eyelid
  float body_vel[2];                        // forward [m/s], turn rate [rad/s]
  float kinematic_joints[KINEMATIC_COUNT];  // tilt, lift, yaw, pitch [rad]
  uint8_t joints_set;                       // 255 whenever joint targets arrive
  uint8_t reserved2[64];
  uint16_t reserved3[66];
  std::vector<std::string> commands;  // text commands since the previous tick

  VESK_TICK_D() { reset(); }

  // Every field to its default; the command list emptied.
  void reset();
};

// The default pose (VESK_TICK_D::reset); the body's tilt never leaves its default.
constexpr float TICK_D_DEFAULT_TILT = -0.10471976f;  // -6 deg
constexpr float TICK_D_DEFAULT_LIFT = 0.5934119f;    // 34 deg
constexpr float TICK_D_DEFAULT_COSMETIC[COSMETIC_COUNT] = {0.0f, 0.5f, 0.3333f, 0.3333f, 0.0f, 0.0f};

// ---- configuration ---------------------------------------------------------------

struct VESK_NET_CONFIG {
  uint32_t mode = 0;           // NET_MODE_OFFLINE or NET_MODE_ROS
  std::string robot_name;      // node name and topic namespace
  uint32_t net_flags = 0;      // NET_FLAG_*
  uint32_t initial_flags = 0;  // platform flags in force at start
  uint32_t reserved[4] = {};   // platform fields this system does not use
  // Put in front of every frame id the interface sends (transforms, message headers,
  // camera images and camera info), e.g. "rob1/", so that several robots on one ROS
  // master keep their frame trees apart. Empty (the default): the plain frame names.
  // Read at construction.
  std::string frame_prefix;
  // Set non-zero by the platform (from any thread) to abandon the wait for
  // the ROS master during construction.
  int32_t exit_request = 0;
};

struct VESK_TOOL_CONFIG {
  int32_t verbosity = 0;  // >0 warnings, >1 progress, >2 debug
};

// Camera frame geometry; the frame specification sets the four further fields to 0.
struct VESK_FRAME_GEOM {
  uint16_t width;
  uint16_t height;
  uint16_t aux[4];
};

// True when all six fields are equal.
bool comp_frame_geom(const VESK_FRAME_GEOM& a, const VESK_FRAME_GEOM& b);
inline bool comp_frame_geom(const VESK_FRAME_GEOM* a, const VESK_FRAME_GEOM* b) {
  return comp_frame_geom(*a, *b);
}

// Camera stream rates a platform delivers [frames per second]; 0 turns a stream off. A frame
// carries the tick clock of its platform (TICK_RATE_HZ ticks per second), so frames faster than the
// ticks could not be told apart, and a simulated camera asked for more renders at every
// physics step and stalls the world. Below the minimum (one frame in 100 s) a stream is as
// good as off, and its next frame would lie so far ahead that a later rate could not be
// told from it: ask for rate 0 instead.
constexpr float STREAM_RATE_MIN = 0.01f;
constexpr float STREAM_RATE_MAX = TICK_RATE_HZ;

// One eye camera stream.
struct VESK_STREAM_PARS {
  VESK_FRAME_GEOM stream_geom;
  uint8_t reserved[4];  // not part of the geometry comparison
  float stream_rate;    // frames per second, 0 = off
  uint32_t stream_aux;  // platform's own (the simulator sets 192)
};

// Platform parameters; parse_frame_spec rewrites the stream entries.
struct VESK_PLATFORM_PARS {
  uint32_t platform[4];        // platform-owned leading fields
  uint16_t frame_flags;        // bit 0: a frame specification changed the streams
  uint16_t frame_aux;          // platform's own (the simulator sets 1)
  VESK_STREAM_PARS stream[2];  // 0 left eye, 1 right eye
};

// ---- camera frames, microphones, audio stream -------------------------------------

// One camera frame: the 40-byte wire header, then a pointer to the frame data
// (width x height x 3 bytes of RGB, or size - 40 bytes of JPEG). A platform
// that holds the wire form contiguously points `data` just past the header.
// The data need only stay valid during publish_frame, which never reads more
// than `size` - 40 bytes of them: a frame whose size cannot hold its pixels
// (raw) or its header (JPEG) is dropped with a warning.
struct VESK_MSG_FRAME {
  uint8_t reserved0[4];
  uint32_t size;  // total bytes including the 40-byte header (raw frames too)
  uint8_t reserved1[8];
  uint16_t seq;          // frame sequence number
  uint8_t stream_index;  // 0 left eye, 1 right eye, 2 overhead, 3 gaze
  uint8_t reserved2;
  uint16_t flags;  // FRAME_FLAG_RAW, FRAME_FLAG_JPEG
  uint8_t reserved3[6];
  uint16_t width;       // pixels
  uint16_t height;      // pixels
  uint32_t clock_aux;   // the simulator repeats the platform clock here; unread
  int32_t clock;        // platform clock [us], same clock as tick_stamp
  const uint8_t* data;  // frame data (not owned)
};

constexpr uint32_t FRAME_HEADER_BYTES = 40;

// The lens of a simulated camera's frames, as sensor_msgs/CameraInfo names it.
enum CameraLensModel : uint8_t {
  CAMERA_LENS_PINHOLE = 0,      // rectilinear: radius = f tan(angle); "plumb_bob", no distortion
  CAMERA_LENS_EQUIDISTANT = 1,  // radius = f angle; "equidistant" (fisheye), zero coefficients
};

// The projection of the frames a simulated camera sends on one stream, in the pixels of the
// published frame (after resizing, cropping and trimming); pixel centres lie at whole
// coordinates, as sensor_msgs/CameraInfo has them.
struct VESK_CAMERA_MODEL {
  CameraLensModel lens = CAMERA_LENS_PINHOLE;
  double fx = 0.0, fy = 0.0;  // focal lengths [pixels]
  double cx = 0.0, cy = 0.0;  // principal point [pixels]
};

// Number of microphone channels and samples per channel in one block.
constexpr unsigned MICS_CHANNELS = 4;
constexpr unsigned MICS_SAMPLES = 500;

// One microphone block: a header word, then 2000 samples interleaved by channel.
struct MICS_ALL {
  uint32_t header;
  int16_t data[MICS_CHANNELS * MICS_SAMPLES];
};

constexpr unsigned STREAM_MAX_SAMPLES = 4048;
constexpr uint32_t STREAM_PACKET_MAGIC = 0x00500000;
constexpr uint16_t STREAM_PACKET_KIND = 0x2202;
constexpr uint32_t STREAM_PACKET_HEADER_BYTES = 16;
// The speaker plays the stream at this rate [samples/s].
constexpr unsigned STREAM_SAMPLE_RATE = 8000;
// The robot's speaker buffer [samples]: it takes one stream packet of the largest size.
constexpr unsigned SPEAKER_BUFFER_SAMPLES = STREAM_MAX_SAMPLES;

// Downward audio: 8-bit unsigned samples centred on 128.
struct VESK_STREAM_PACKET {
  uint32_t magic;   // STREAM_PACKET_MAGIC
  uint32_t length;  // 16 + number of samples
  uint16_t kind;    // STREAM_PACKET_KIND
  uint16_t fresh;   // 1 when filled, 0 once handed out
  uint32_t reserved;
  uint8_t samples[STREAM_MAX_SAMPLES];

  // Header preset, no samples, not fresh.
  void preset();
};

// ---- layout ------------------------------------------------------------------------

static_assert(sizeof(VESK_IMU_BLOCK) == 20, "inertial block");
static_assert(offsetof(VESK_TICK_U, flags) == 12, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, tick_stamp) == 32, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, stream) == 36, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, wheel_speed_cmd) == 40, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, wheel_speed_opto) == 48, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, wheel_speed_back_emf) == 56, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, wheel_effort_pwm) == 64, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, joint_pos) == 80, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, joint_effort) == 96, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, light) == 112, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, battery_voltage) == 128, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, touch_body) == 132, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, touch_head) == 134, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, imu_body) == 136, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, imu_head) == 156, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, cliff) == 176, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, sonar) == 180, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, dip) == 184, "tick_u layout");
static_assert(offsetof(VESK_TICK_U, body_pose) == 1360, "tick_u layout");
static_assert(sizeof(VESK_TICK_U) == 1372, "tick_u size");

static_assert(offsetof(VESK_TICK_D, flags) == 12, "tick_d layout");
static_assert(offsetof(VESK_TICK_D, tone) == 32 && sizeof(VESK_TONE) == 4, "tick_d layout");
static_assert(offsetof(VESK_TICK_D, illum) == 36, "tick_d layout");
static_assert(offsetof(VESK_TICK_D, cosmetic_joints) == 60, "tick_d layout");
static_assert(offsetof(VESK_TICK_D, body_vel) == 84, "tick_d layout");
static_assert(offsetof(VESK_TICK_D, kinematic_joints) == 92, "tick_d layout");
static_assert(offsetof(VESK_TICK_D, joints_set) == 108, "tick_d layout");
static_assert(offsetof(VESK_TICK_D, reserved2) == 109, "tick_d layout");
static_assert(offsetof(VESK_TICK_D, reserved3) == 174, "tick_d layout");

static_assert(offsetof(VESK_FRAME_GEOM, aux) == 4 && sizeof(VESK_FRAME_GEOM) == 12, "geometry");
static_assert(sizeof(VESK_STREAM_PARS) == 24 && offsetof(VESK_STREAM_PARS, stream_rate) == 16,
              "stream entry");
static_assert(offsetof(VESK_PLATFORM_PARS, frame_aux) == offsetof(VESK_PLATFORM_PARS, frame_flags) + 2,
              "platform pars");
static_assert(offsetof(VESK_PLATFORM_PARS, stream) == offsetof(VESK_PLATFORM_PARS, frame_flags) + 4,
              "platform pars");

static_assert(offsetof(VESK_MSG_FRAME, size) == 4, "frame header");
static_assert(offsetof(VESK_MSG_FRAME, seq) == 16, "frame header");
static_assert(offsetof(VESK_MSG_FRAME, stream_index) == 18, "frame header");
static_assert(offsetof(VESK_MSG_FRAME, flags) == 20, "frame header");
static_assert(offsetof(VESK_MSG_FRAME, width) == 28, "frame header");
static_assert(offsetof(VESK_MSG_FRAME, height) == 30, "frame header");
static_assert(offsetof(VESK_MSG_FRAME, clock_aux) == 32, "frame header");
static_assert(offsetof(VESK_MSG_FRAME, clock) == 36, "frame header");
static_assert(offsetof(VESK_MSG_FRAME, data) == FRAME_HEADER_BYTES, "frame header");

static_assert(offsetof(MICS_ALL, data) == 4 && sizeof(MICS_ALL) == 4004, "microphone block");
static_assert(offsetof(VESK_STREAM_PACKET, samples) == STREAM_PACKET_HEADER_BYTES &&
                  sizeof(VESK_STREAM_PACKET) == 4064,
              "stream packet");
