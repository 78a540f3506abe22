// vesk_teleop: drives the robot from a terminal. Keys move the body through
// "control/cmd_vel" (geometry_msgs/TwistStamped) and the head through
// "control/kinematic_joints" (sensor_msgs/JointState), both under "/<robot>/".
//
// A terminal reports key presses and the key repeat of a held key, never a release: a
// drive key sets the velocity, which is sent once per platform tick (TICK_PERIOD) until
// kHoldTime has passed since the last key (the repeat of a held key keeps it going), then
// one zero velocity is sent and the node falls silent, leaving the wheels to other nodes.
// Speeds go in steps of a tenth of the platform's limits (WHEEL_SPEED_MAX forward; turning
// on the spot with both wheels at WHEEL_SPEED_MAX); the neck stays within the body's joint
// limits. Neck keys send the four kinematic joints once per key; the platform keeps them.
//
// kinemod publishes on the same two topics: the body velocity after every push it gets,
// and the joint angles of its body model after every sensors package while it is awake
// (up to half a second after the last push). While another node pushes kinemod, its
// commands and these arrive in turn and the robot follows whichever came last each tick.
//
// Command line: the kit's node options (robot=, log=, help). Ends on "q", Ctrl-C, SIGTERM
// and SIGHUP, and leaves the terminal as it found it, on errors too.
#include <geometry_msgs/TwistStamped.h>
#include <poll.h>
#include <ros/ros.h>
#include <sensor_msgs/JointState.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>
#include <vesk_body/body_model.h>
#include <vesk_net/records.h>
#include <vesk_support/node.h>
#include <vesk_support/os.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr double kHoldTime = 0.5;  // [s] a drive key lasts this long without its repeat
constexpr int kSpeedSteps = 10;    // speed levels 1 .. kSpeedSteps, in tenths of the limits
constexpr int kSpeedStart = 3;
constexpr float kTurnMax = 2.0f * WHEEL_SPEED_MAX / WHEEL_TRACK;  // [rad/s] on the spot
constexpr float kNeckStep = 0.08726646f;                          // [rad] 5 deg per key

NodeOptions opt;
volatile sig_atomic_t g_terminated = 0;

void on_terminate(int) { g_terminated = 1; }

// The terminal in raw mode (no line buffering, no echo; Ctrl-C still signals) for the
// lifetime of the object; the saved settings come back however the scope is left.
class RawTerminal {
 public:
  RawTerminal() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0)
      os::fail("standard input is not a terminal (run vesk_teleop in a terminal)");
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) os::fail("cannot set up the terminal");
  }
  ~RawTerminal() {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    std::printf("\n");
    std::fflush(stdout);
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

 private:
  termios saved_{};
};

const char* const kHelp =
    "vesk_teleop: drive the robot \"%s\" (topics under %s)\n"
    "  w / up arrow     forward          s / down arrow   backward\n"
    "  a / left arrow   turn left        d / right arrow  turn right\n"
    "  space            stop             + / -            speed up / down\n"
    "  j / l            head left/right  i / k            head up / down\n"
    "  u / m            lift up / down   c                head to the middle\n"
    "  q or Ctrl-C      quit\n"
    "Hold a drive key to keep driving; the robot stops %.1f s after the last key.\n";

struct Teleop {
  int speed = kSpeedStart;
  float forward = 0.0f, turn = 0.0f;  // [m/s], [rad/s] of the key held, unit steps
  ros::WallTime last_key;
  bool driving = false;
  float lift = TICK_D_DEFAULT_LIFT, yaw = 0.0f, pitch = 0.0f;  // [rad]
  bool neck_changed = false;

  float speed_forward() const { return forward * WHEEL_SPEED_MAX * speed / kSpeedSteps; }
  float speed_turn() const { return turn * kTurnMax * speed / kSpeedSteps; }

  void drive(float f, float t) {
    forward = f;
    turn = t;
    driving = true;
    last_key = ros::WallTime::now();
  }
  // The next tick sends one zero velocity and the node falls silent.
  void stop() {
    forward = turn = 0.0f;
    driving = true;
    last_key = ros::WallTime();
  }
  void neck(float dlift, float dyaw, float dpitch) {
    lift = std::min(std::max(lift + dlift, BODY_LIFT_MIN_RAD), BODY_LIFT_MAX_RAD);
    yaw = std::min(std::max(yaw + dyaw, -BODY_YAW_MAX_RAD), BODY_YAW_MAX_RAD);
    pitch = std::min(std::max(pitch + dpitch, BODY_PITCH_MIN_RAD), BODY_PITCH_MAX_RAD);
    neck_changed = true;
  }

  // One key (arrow keys come as w, s, a, d). Returns false on "q".
  bool key(char c) {
    switch (c) {
      case 'w':
        drive(1, 0);
        break;
      case 's':
        drive(-1, 0);
        break;
      case 'a':
        drive(0, 1);
        break;
      case 'd':
        drive(0, -1);
        break;
      case ' ':
        stop();
        break;
      case '+':
      case '=':
        speed = std::min(speed + 1, kSpeedSteps);
        break;
      case '-':
      case '_':
        speed = std::max(speed - 1, 1);
        break;
      case 'j':
        neck(0, kNeckStep, 0);
        break;
      case 'l':
        neck(0, -kNeckStep, 0);
        break;
      case 'i':
        neck(0, 0, -kNeckStep);
        break;
      case 'k':
        neck(0, 0, kNeckStep);
        break;
      case 'u':
        neck(kNeckStep, 0, 0);
        break;
      case 'm':
        neck(-kNeckStep, 0, 0);
        break;
      case 'c':
        lift = TICK_D_DEFAULT_LIFT;
        yaw = pitch = 0.0f;
        neck_changed = true;
        break;
      case 'q':
        return false;
      default:
        break;
    }
    return true;
  }
};

void run() {
  ros_init_node("teleop", opt);
  if (!wait_for_master(opt)) return;
  struct sigaction term {};
  term.sa_handler = on_terminate;
  sigaction(SIGTERM, &term, nullptr);
  sigaction(SIGHUP, &term, nullptr);

  ros::NodeHandle nh;
  const std::string base = base_topic(opt);
  announce_publish(base + "control/cmd_vel");
  ros::Publisher cmd_pub = nh.advertise<geometry_msgs::TwistStamped>(base + "control/cmd_vel", 1);
  announce_publish(base + "control/kinematic_joints");
  ros::Publisher joint_pub = nh.advertise<sensor_msgs::JointState>(base + "control/kinematic_joints", 1);

  RawTerminal terminal;
  std::printf(kHelp, opt.robot.c_str(), base.c_str(), kHoldTime);
  Teleop t;
  geometry_msgs::TwistStamped cmd;
  sensor_msgs::JointState joints;
  joints.name = {"tilt", "lift", "yaw", "pitch"};
  const ros::WallDuration tick(TICK_PERIOD_D), hold(kHoldTime);
  ros::WallTime next = ros::WallTime::now();
  int escape = 0;  // bytes of an arrow key's "ESC [" seen so far
  bool running = true;
  std::string status;
  while (running && node_running() && !g_terminated) {
    // Keys until the next tick.
    const double wait_ms = std::max(0.0, (next - ros::WallTime::now()).toSec() * 1000.0);
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, static_cast<int>(wait_ms)) > 0) {
      char buf[64];
      const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
      if (n == 0) break;  // the terminal has gone
      for (ssize_t i = 0; i < n && running; ++i) {
        const char c = buf[i];
        if (escape == 0 && c == '\x1b') {
          escape = 1;
        } else if (escape == 1) {
          escape = (c == '[' || c == 'O') ? 2 : 0;  // "ESC O" in application cursor mode
        } else if (escape == 2) {
          escape = 0;
          if (c >= 'A' && c <= 'D') t.key("wsda"[c - 'A']);  // up, down, right, left
        } else {
          running = t.key(c);
        }
      }
    }
    const ros::WallTime now = ros::WallTime::now();
    if (now < next) continue;
    next += tick;
    if (next < now) next = now + tick;  // after a stall, no burst of ticks

    if (t.driving) {
      const bool held = !t.last_key.isZero() && now - t.last_key < hold;
      cmd.header.stamp = ros::Time::now();
      cmd.twist.linear.x = held ? t.speed_forward() : 0.0;
      cmd.twist.angular.z = held ? t.speed_turn() : 0.0;
      cmd_pub.publish(cmd);
      t.driving = held;
    }
    if (t.neck_changed) {
      joints.header.stamp = ros::Time::now();
      joints.position = {TICK_D_DEFAULT_TILT, t.lift, t.yaw, t.pitch};
      joint_pub.publish(joints);
      t.neck_changed = false;
    }
    // The status line, rewritten in place when it changes.
    constexpr float kDeg = 57.29578f;
    char line[128];
    std::snprintf(line, sizeof line,
                  "\rspeed %2d/%d  %-5s %+.2f m/s %+.2f rad/s  lift %2.0f yaw %+3.0f pitch %+3.0f deg ",
                  t.speed, kSpeedSteps, t.driving ? "drive" : "idle", t.driving ? t.speed_forward() : 0.0f,
                  t.driving ? t.speed_turn() : 0.0f, t.lift * kDeg, t.yaw * kDeg, t.pitch * kDeg);
    if (status != line) {
      status = line;
      std::fputs(line, stdout);
      std::fflush(stdout);
    }
    ros::spinOnce();
  }
  if (t.driving) {  // leave the robot standing
    cmd.header.stamp = ros::Time::now();
    cmd.twist.linear.x = cmd.twist.angular.z = 0.0;
    cmd_pub.publish(cmd);
  }
}

}  // namespace

int main(int argc, char** argv) { return run_node("teleop", false, argc, argv, opt, run); }
