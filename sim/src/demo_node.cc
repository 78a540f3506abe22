// vesk_demo: the scripted demo. Drives a running robot (simulated, with kinemod and
// vocalsynth) through the behaviour of DemoScript, one step per sensors package, and
// records what happens; at the end it writes the report folder:
//   index.html      the report page: trajectory plot, eye snapshots, voice player, summary
//   trajectory.png  ground truth and odometry from above in metres, the start, the targets
//                   with their reach radius (drawn by plot_trajectory.py with matplotlib)
//   trajectory.csv  the same paths as numbers
//   caml.png, camr.png  the last frame of each eye camera
//   voice.wav       the voice as the robot's speaker played it (8000 samples/s): the audio
//                   sent on "control/stream" less what still waited in the speaker's buffer
//   summary.txt     distance driven, targets reached, ticks run, voice timing, messages per
//                   topic, ...
// Command line (key=value): robot=NAME (default VESK_ROBOT_NAME or "vesk"), duration=SECONDS
// of simulated time (20), report=DIR (default ./vesk_report), targets=X,Y[/X,Y...] in the
// world (in front of the red box, then in front of the green one: see Options).
#include <geometry_msgs/Pose2D.h>
#include <ros/callback_queue.h>
#include <ros/package.h>
#include <ros/ros.h>
#include <sensor_msgs/Image.h>
#include <std_msgs/Float32MultiArray.h>
#include <std_msgs/Int16MultiArray.h>
#include <topic_tools/shape_shifter.h>
#include <vesk2_msg/animal_state.h>
#include <vesk2_msg/push.h>
#include <vesk2_msg/sensors_package.h>
#include <vesk_net/records.h>
#include <vesk_support/os.h>
#include <vesk_support/qor.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>

#include "vesk_sim/demo_script.h"
#include "vesk_sim/report.h"

namespace vesk_sim {
namespace {

constexpr int kAudioRate = STREAM_SAMPLE_RATE;  // [samples/s] of the speaker and the recording
constexpr double kPlotTimeout = 120;            // [s] longest wait for the plotting program

struct Options {
  std::string robot = "vesk";
  double duration = 20.0;
  std::string report = "vesk_report";
  // World x, y [m]: where the robot stops to look at the red box (1.2, 0.5), then at the
  // green one (0.9, -0.8), about 0.35 m short of each, clear of the box.
  std::vector<BasePose> targets{{0.88, 0.37, 0.0}, {0.89, -0.45, 0.0}};
};

std::vector<BasePose> parse_targets(const std::string& text) {
  std::vector<BasePose> out;
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, '/')) {
    const size_t comma = item.find(',');
    char* end1 = nullptr;
    char* end2 = nullptr;
    const double x = std::strtod(item.c_str(), &end1);
    const double y = comma == std::string::npos ? 0.0 : std::strtod(item.c_str() + comma + 1, &end2);
    if (comma == std::string::npos || end1 != item.c_str() + comma || !end2 || *end2 != '\0' ||
        !std::isfinite(x) || !std::isfinite(y)) {
      os::fail("bad target \"" + item + "\" (X,Y in metres)");
    }
    out.push_back({x, y, 0.0});
  }
  if (out.empty()) os::fail("no targets in \"" + text + "\"");
  return out;
}

Options parse(int argc, char** argv) {
  Options o;
  const std::string env_robot = qor::get_env("VESK_ROBOT_NAME");
  if (!env_robot.empty()) o.robot = env_robot;
  for (int i = 1; i < argc; ++i) {
    const std::string w = argv[i];
    if (w.compare(0, 2, "__") == 0) continue;
    const size_t eq = w.find('=');
    const std::string key = w.substr(0, eq), value = eq == std::string::npos ? "" : w.substr(eq + 1);
    if (key == "robot" && !value.empty()) {
      o.robot = value;
    } else if (key == "duration") {
      o.duration = std::atof(value.c_str());
      if (!(o.duration > 2.0)) os::fail("duration must be more than 2 s");
    } else if (key == "report" && !value.empty()) {
      o.report = value;
    } else if (key == "targets") {
      o.targets = parse_targets(value);
    } else {
      os::fail("unrecognised argument \"" + w + "\"");
    }
  }
  return o;
}

RgbImage to_rgb(const sensor_msgs::Image& m) {
  RgbImage img;
  const bool rgb = m.encoding == "rgb8", bgr = m.encoding == "bgr8", mono = m.encoding == "mono8";
  if (!(rgb || bgr || mono) || m.step * m.height > m.data.size()) return img;
  img.width = static_cast<int>(m.width);
  img.height = static_cast<int>(m.height);
  img.rgb.resize(static_cast<size_t>(m.width) * m.height * 3);
  for (uint32_t y = 0; y < m.height; ++y) {
    for (uint32_t x = 0; x < m.width; ++x) {
      uint8_t* out = &img.rgb[(static_cast<size_t>(y) * m.width + x) * 3];
      const uint8_t* in = &m.data[y * m.step + x * (mono ? 1 : 3)];
      out[0] = mono ? in[0] : (bgr ? in[2] : in[0]);
      out[1] = mono ? in[0] : in[1];
      out[2] = mono ? in[0] : (bgr ? in[0] : in[2]);
    }
  }
  return img;
}

class Demo {
 public:
  explicit Demo(const Options& o) : opt_(o) {
    const std::string base = "/" + o.robot + "/";
    push_pub_ = nh_.advertise<vesk2_msg::push>(base + "core/mpg/push", 1);
    cosmetic_pub_ = nh_.advertise<std_msgs::Float32MultiArray>(base + "control/cosmetic_joints", 1);
    animal_pub_ = nh_.advertise<vesk2_msg::animal_state>(base + "core/animal/state", 1);
    const ros::TransportHints fast = ros::TransportHints().tcpNoDelay();
    // The ticks, and the audio that follows them, on the main queue; camera images and the
    // message counters on a queue of their own with its own thread, so that decoding images
    // never holds up the reply to a tick.
    subs_.push_back(nh_.subscribe(base + "sensors/package", 10, &Demo::on_package, this, fast));
    subs_.push_back(nh_.subscribe<std_msgs::Int16MultiArray>(
        base + "control/stream", 100, [this, base](const std_msgs::Int16MultiArray::ConstPtr& m) {
          count(base + "control/stream");
          if (finished_) return;
          audio_.insert(audio_.end(), m->data.begin(), m->data.end());
          ++audio_blocks_;
        }));
    side_nh_.setCallbackQueue(&side_queue_);
    subs_.push_back(side_nh_.subscribe<sensor_msgs::Image>(
        base + "sensors/caml", 1, [this, base](const sensor_msgs::Image::ConstPtr& m) {
          count(base + "sensors/caml");
          std::lock_guard<std::mutex> lock(mutex_);
          if (!finished_) caml_ = m;
        }));
    subs_.push_back(side_nh_.subscribe<sensor_msgs::Image>(
        base + "sensors/camr", 1, [this, base](const sensor_msgs::Image::ConstPtr& m) {
          count(base + "sensors/camr");
          std::lock_guard<std::mutex> lock(mutex_);
          if (!finished_) camr_ = m;
        }));
    for (const char* t : {"sensors/odom", "sensors/body_pose", "sensors/imu_body", "sensors/sonar",
                          "sensors/light", "sensors/overhead", "sensors/gaze", "control/cmd_vel",
                          "control/kinematic_joints", "core/voice_state", "core/mpg/fovea_speed"}) {
      const std::string topic = base + t;
      counts_[topic] = 0;
      subs_.push_back(side_nh_.subscribe<topic_tools::ShapeShifter>(
          topic, 100, [this, topic](const topic_tools::ShapeShifter::ConstPtr&) { count(topic); }));
    }
    side_spinner_.start();
    counts_[base + "sensors/package"] = 0;
    counts_[base + "core/mpg/push"] = 0;
    counts_[base + "control/cosmetic_joints"] = 0;
    counts_[base + "core/animal/state"] = 0;
    std::cout << os::cout_global_elapsed() << "demo for robot \"" << o.robot << "\": " << o.duration
              << " s of simulated time, waiting for the robot..." << std::endl;
  }

  bool finished() const { return finished_; }

 private:
  void count(const std::string& topic) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_[topic];
  }

  void on_package(const vesk2_msg::sensors_package::ConstPtr& m) {
    const std::string base = "/" + opt_.robot + "/";
    count(base + "sensors/package");
    if (finished_) return;
    const double stamp = m->header.stamp.toSec();
    const BasePose truth{m->body_pose.x, m->body_pose.y, m->body_pose.theta};
    const auto& q = m->odom.pose.pose.orientation;
    const BasePose odom{m->odom.pose.pose.position.x, m->odom.pose.pose.position.y,
                        2.0 * std::atan2(q.z, q.w)};
    if (!script_) {
      // The start: odometry begins here; the target goes into the start frame.
      start_stamp_ = stamp;
      first_seq_ = m->header.seq;
      start_ = truth;
      odom0_ = odom;
      const double c = std::cos(truth.yaw), s = std::sin(truth.yaw);
      std::vector<Vec3> goals;
      for (const BasePose& g : opt_.targets) {
        const double dx = g.x - truth.x, dy = g.y - truth.y;
        goals.emplace_back(c * dx + s * dy, -s * dx + c * dy, 0.0);
        closest_.push_back(std::hypot(dx, dy));
      }
      script_.emplace(opt_.duration, goals);
      std::cout << os::cout_global_elapsed() << "demo started at simulated time " << stamp << " s"
                << std::endl;
    } else {
      // A gap in the sequence numbers is packages this node missed; a gap in the stamps
      // beyond that is ticks the platform skipped.
      const long seq_gap = std::max(0L, static_cast<long>(m->header.seq) - static_cast<long>(last_seq_) - 1);
      missed_ += seq_gap;
      const long stamp_gap = std::lround((stamp - last_stamp_) / TICK_PERIOD_D) - 1;
      dropped_ += std::max(0L, stamp_gap - seq_gap);
    }
    last_seq_ = m->header.seq;
    last_stamp_ = stamp;
    ++ticks_;
    const double t = stamp - start_stamp_;
    // The speaker's buffer: samples still to play are the second stream value less the first.
    if (m->stream.data.size() >= 2) {
      speaker_held_ = static_cast<int>(m->stream.data[1]) - static_cast<int>(m->stream.data[0]);
      if (speaker_held_ > 0 && voice_start_ < 0) voice_start_ = t;
      if (speaker_held_ > 0) voice_last_ = t;
    }
    // Odometry relative to where it read at the start, in the start frame.
    const double c0 = std::cos(odom0_.yaw), s0 = std::sin(odom0_.yaw);
    const BasePose od{c0 * (odom.x - odom0_.x) + s0 * (odom.y - odom0_.y),
                      -s0 * (odom.x - odom0_.x) + c0 * (odom.y - odom0_.y), odom.yaw - odom0_.yaw};
    truth_path_.push_back(truth);
    for (size_t k = 0; k < opt_.targets.size(); ++k) {
      closest_[k] =
          std::min(closest_[k], std::hypot(opt_.targets[k].x - truth.x, opt_.targets[k].y - truth.y));
    }
    odom_path_.push_back(od);
    times_.push_back(t);

    const DemoCommand cmd = script_->step(t, od);
    if (cmd.push) {
      vesk2_msg::push p;
      p.link = cmd.link;
      p.flags = cmd.flags;
      p.pushpos.x = cmd.pushpos.x;
      p.pushpos.y = cmd.pushpos.y;
      p.pushpos.z = cmd.pushpos.z;
      p.pushvec.x = cmd.pushvec.x;
      p.pushvec.y = cmd.pushvec.y;
      p.pushvec.z = cmd.pushvec.z;
      push_pub_.publish(p);
      count(base + "core/mpg/push");
    }
    std_msgs::Float32MultiArray cos;
    cos.data.assign(cmd.cosmetic, cmd.cosmetic + 6);
    cosmetic_pub_.publish(cos);
    count(base + "control/cosmetic_joints");
    if (cmd.wake) {
      vesk2_msg::animal_state a;
      a.flags = 1;
      a.emotion.valence = 0.8f;
      a.emotion.arousal = 0.9f;
      a.sleep.wakefulness = 1.0f;
      a.sound_level = 0.3f;
      animal_pub_.publish(a);
      count(base + "core/animal/state");
    }
    if (t >= opt_.duration - 1e-6) {
      finish(t);
      ros::shutdown();
    }
  }

  // The start frame's paths carried into the world by the start pose.
  std::vector<BasePose> odom_in_world() const {
    std::vector<BasePose> out;
    const double c = std::cos(start_.yaw), s = std::sin(start_.yaw);
    for (const BasePose& p : odom_path_) {
      out.push_back({start_.x + c * p.x - s * p.y, start_.y + s * p.x + c * p.y, p.yaw + start_.yaw});
    }
    return out;
  }

  // Draws trajectory.png from trajectory.csv with the plotting program; false (and a
  // warning) when it fails.
  bool plot(const std::string& dir, double t) const {
    // "--key=value": a value that begins with "-" (a negative x) is not taken for an option.
    std::ostringstream targets, radius, title;
    for (size_t k = 0; k < opt_.targets.size(); ++k)
      targets << (k ? "/" : "") << opt_.targets[k].x << "," << opt_.targets[k].y;
    radius << DemoScript::kReachRadius;
    title << "vesk demo, robot \"" << opt_.robot << "\": trajectory from above (" << std::fixed
          << std::setprecision(1) << t << " s simulated)";
    const std::string script = ros::package::getPath("vesk_sim") + "/scripts/plot_trajectory.py";
    std::string out;
    const int status =
        run_program({VESK_PYTHON, script, dir + "/trajectory.csv", dir + "/trajectory.png",
                     "--radius=" + radius.str(), "--targets=" + targets.str(), "--title=" + title.str()},
                    kPlotTimeout, &out);
    if (status == 0) return true;
    os::warn("trajectory plot failed (status " + std::to_string(status) + ", " + VESK_PYTHON + " " + script +
             ", needs matplotlib: scripts/setup.sh installs it):\n" + out);
    return false;
  }

  void finish(double t) {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(opt_.report, ec);
    if (ec) os::fail("cannot create report folder \"" + opt_.report + "\": " + ec.message());
    const std::string dir = fs::absolute(opt_.report).string();
    const std::vector<BasePose> odom_world = odom_in_world();

    std::ofstream csv(dir + "/trajectory.csv");
    csv << "t,truth_x,truth_y,truth_theta,odom_x,odom_y,odom_theta\n";
    for (size_t i = 0; i < times_.size(); ++i) {
      csv << times_[i] << "," << truth_path_[i].x << "," << truth_path_[i].y << "," << truth_path_[i].yaw
          << "," << odom_world[i].x << "," << odom_world[i].y << "," << odom_world[i].yaw << "\n";
    }
    csv.close();
    fs::remove(dir + "/trajectory.png", ec);
    const bool plotted = plot(dir, t);
    RgbImage left, right;
    if (caml_) left = to_rgb(*caml_);
    if (camr_) right = to_rgb(*camr_);
    const bool have_left = write_png(dir + "/caml.png", left);
    const bool have_right = write_png(dir + "/camr.png", right);
    // The speaker has played what was sent less what it still holds. It played from the tick
    // after its buffer first held audio until the end, or until the tick after the last one
    // that left audio in it (the voice fell asleep): 8000 samples per simulated second unless
    // it ran dry in between.
    const size_t held = static_cast<size_t>(std::max(0, speaker_held_));
    const std::vector<int16_t> played(audio_.begin(), audio_.end() - std::min(held, audio_.size()));
    const bool have_voice = write_wav(dir + "/voice.wav", played, kAudioRate);
    const double speaker_end = held > 0 ? t : voice_last_ + TICK_PERIOD_D;
    const double speaker_s = voice_start_ < 0 ? 0.0 : speaker_end - voice_start_;

    const BasePose& end_truth = truth_path_.back();
    const BasePose& end_odom = odom_world.back();
    std::vector<SummaryRow> rows;
    auto add = [&rows](const std::string& key, auto value) {
      std::ostringstream v;
      v << std::fixed << std::setprecision(4) << value;
      rows.push_back({key, v.str()});
    };
    add("robot", opt_.robot);
    add("simulated_time_s", t);
    add("ticks_run", last_seq_ - first_seq_ + 1);
    add("dropped_ticks", dropped_);
    add("packages_received", ticks_);
    add("packages_missed", missed_);
    add("distance_driven_truth_m", path_length(truth_path_));
    add("distance_driven_odometry_m", path_length(odom_path_));
    add("odometry_error_end_m", std::hypot(end_truth.x - end_odom.x, end_truth.y - end_odom.y));
    add("start_x_m", start_.x);
    add("start_y_m", start_.y);
    add("end_x_m", end_truth.x);
    add("end_y_m", end_truth.y);
    // A target counts as reached when the ground-truth path came within this radius of it.
    add("reach_radius_m", DemoScript::kReachRadius);
    int reached = 0;
    for (size_t k = 0; k < opt_.targets.size(); ++k) {
      const BasePose& g = opt_.targets[k];
      const std::string name = "target_" + std::to_string(k);
      std::ostringstream xy;
      xy << std::fixed << std::setprecision(4) << g.x << " " << g.y;
      rows.push_back({name, xy.str()});
      add(name + "_distance_start_m", std::hypot(g.x - start_.x, g.y - start_.y));
      add(name + "_closest_m", closest_[k]);
      const bool hit = closest_[k] <= DemoScript::kReachRadius;
      rows.push_back({name + "_reached", hit ? "yes" : "no"});
      reached += hit;
    }
    rows.push_back(
        {"targets_reached", std::to_string(reached) + " of " + std::to_string(opt_.targets.size())});
    add("caml_png", std::to_string(left.width) + "x" + std::to_string(left.height));
    add("camr_png", std::to_string(right.width) + "x" + std::to_string(right.height));
    add("voice_blocks_sent", audio_blocks_);
    add("voice_samples_sent", audio_.size());
    add("speaker_start_s", voice_start_);
    add("speaker_played_s", speaker_s);
    add("speaker_held_at_end_samples", held);
    add("voice_wav_samples", played.size());
    add("voice_wav_rate", kAudioRate);
    add("voice_wav_seconds", static_cast<double>(played.size()) / kAudioRate);
    add("voice_rms", rms(played));

    std::ostringstream s;
    s << "vesk demo report\n";
    for (const SummaryRow& r : rows) s << r.key << ": " << r.value << "\n";
    s << "messages per topic:\n";
    std::vector<SummaryRow> messages;
    for (const auto& [topic, n] : counts_) {
      s << "  " << topic << ": " << n << "\n";
      messages.push_back({topic, std::to_string(n)});
    }

    ReportPage page;
    page.title = "vesk demo report: robot \"" + opt_.robot + "\"";
    std::ostringstream intro;
    intro << std::fixed << std::setprecision(1) << t
          << " s of simulated time: the robot turns its head toward "
          << "each target and drives there, looks around, wags its tail, flicks its ears, blinks and "
          << "talks. " << reached << " of " << opt_.targets.size() << " targets reached (closer than "
          << std::setprecision(2) << DemoScript::kReachRadius << " m).";
    page.intro = intro.str();
    page.plot = plotted ? "trajectory.png" : "";
    page.plot_caption =
        "Ground truth is the body link's pose in the simulator; odometry is what the robot "
        "integrates from its wheel speeds, drawn from the same start.";
    page.eye_left = have_left ? "caml.png" : "";
    page.eye_right = have_right ? "camr.png" : "";
    page.audio = have_voice ? "voice.wav" : "";
    std::ostringstream voice;
    voice << std::fixed << std::setprecision(2) << static_cast<double>(played.size()) / kAudioRate
          << " s of audio at " << kAudioRate << " samples/s, as the robot's speaker played it from "
          << std::max(0.0, voice_start_) << " s on, for " << speaker_s << " s of simulated time.";
    page.audio_caption = voice.str();
    page.summary = rows;
    page.messages = messages;
    {
      std::ofstream f(dir + "/index.html");
      f << report_html(page);
    }
    // Written last, through a rename, so that a complete summary marks a complete report.
    {
      std::ofstream f(dir + "/summary.txt.part");
      f << s.str();
    }
    fs::rename(dir + "/summary.txt.part", dir + "/summary.txt", ec);
    std::cout << s.str();
    std::cout << os::cout_global_elapsed() << "report written to " << dir << "/index.html" << std::endl;
  }

  Options opt_;
  ros::NodeHandle nh_, side_nh_;
  ros::CallbackQueue side_queue_;
  ros::AsyncSpinner side_spinner_{1, &side_queue_};
  std::mutex mutex_;  // guards counts_, caml_, camr_ and finished_ against the side thread
  ros::Publisher push_pub_, cosmetic_pub_, animal_pub_;
  std::vector<ros::Subscriber> subs_;
  std::map<std::string, unsigned long> counts_;
  std::optional<DemoScript> script_;
  double start_stamp_ = 0, last_stamp_ = 0;
  uint32_t first_seq_ = 0, last_seq_ = 0;
  BasePose start_, odom0_;
  long ticks_ = 0, dropped_ = 0, missed_ = 0;
  std::vector<BasePose> truth_path_, odom_path_;
  std::vector<double> closest_;  // closest approach to each target so far [m]
  std::vector<double> times_;
  sensor_msgs::Image::ConstPtr caml_, camr_;
  std::vector<int16_t> audio_;  // everything sent on "control/stream"
  unsigned long audio_blocks_ = 0;
  int speaker_held_ = 0;     // [samples] in the speaker's buffer at the last tick
  double voice_start_ = -1;  // [s] demo time the speaker's buffer first held audio
  double voice_last_ = -1;   // [s] demo time it last held audio
  std::atomic<bool> finished_{false};
};

}  // namespace
}  // namespace vesk_sim

int main(int argc, char** argv) {
  try {
    const vesk_sim::Options o = vesk_sim::parse(argc, argv);
    ros::init(argc, argv, o.robot + "_demo");
    vesk_sim::Demo demo(o);
    ros::spin();
    return demo.finished() ? 0 : 1;
  } catch (const std::exception& e) {
    std::cout << e.what() << std::endl;
    return 1;
  }
}
