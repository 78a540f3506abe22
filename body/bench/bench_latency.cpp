// Push-to-cmd_vel latency of a running kinemod (robot "bench") over ROS on
// loopback, next to the round trip of a plain roscpp echo relay measured in
// the same run. Pushes go out at 50 Hz to each, 10 ms apart; the arrival of
// each answer is time-stamped on a monotonic clock. The run is split into
// rounds; besides the pooled percentiles, the median over the rounds of the
// p99 difference is printed, which is less at the mercy of one noisy moment
// on a shared machine than a single p99.
//
//   bench_latency [samples per round] [rounds]     (default 400 x 5 per target)
#include <geometry_msgs/TwistStamped.h>
#include <ros/ros.h>
#include <vesk2_msg/push.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWarmUp = 25;  // the first answers (waking the node) are not counted

class Target {
 public:
  Target(ros::NodeHandle& nh, const std::string& in, const std::string& out) {
    pub_ = nh.advertise<vesk2_msg::push>(in, 1);
    sub_ = nh.subscribe(out, 10, &Target::answer, this, ros::TransportHints().tcpNoDelay(true));
  }
  bool connected() const { return pub_.getNumSubscribers() > 0 && sub_.getNumPublishers() > 0; }

  void send(const vesk2_msg::push& msg) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sent_ = Clock::now();
      waiting_ = true;
    }
    pub_.publish(msg);
  }

  std::vector<double> take_latencies_us() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<double> out;
    out.swap(latencies_us_);
    return out;
  }
  int take_lost() {
    const int n = lost_;
    lost_ = 0;
    return n;
  }
  void missed() { ++lost_; }
  bool waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_;
  }

 private:
  void answer(const geometry_msgs::TwistStamped::ConstPtr&) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!waiting_) return;
    waiting_ = false;
    latencies_us_.push_back(std::chrono::duration<double, std::micro>(now - sent_).count());
  }

  ros::Publisher pub_;
  ros::Subscriber sub_;
  std::mutex mutex_;
  Clock::time_point sent_;
  bool waiting_ = false;
  std::vector<double> latencies_us_;
  int lost_ = 0;
};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p / 100.0 * (v.size() - 1) + 0.5));
  return v[i];
}

void report(const char* name, const std::vector<double>& v, int lost) {
  double mean = 0.0;
  for (double x : v) mean += x;
  mean = v.empty() ? 0.0 : mean / v.size();
  std::printf("  %-22s n=%5zu lost=%3d  p50=%8.1f us  p99=%8.1f us  mean=%8.1f us  max=%8.1f us\n", name,
              v.size(), lost, percentile(v, 50), percentile(v, 99), mean,
              v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()));
}

}  // namespace

int main(int argc, char** argv) {
  ros::init(argc, argv, "bench_latency", ros::init_options::AnonymousName);
  const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 400;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  ros::NodeHandle nh;
  ros::AsyncSpinner spinner(1);
  spinner.start();

  Target kinemod(nh, "/bench/core/mpg/push", "/bench/control/cmd_vel");
  Target echo(nh, "/bench_echo/in", "/bench_echo/out");
  const Clock::time_point give_up = Clock::now() + std::chrono::seconds(30);
  while (!(kinemod.connected() && echo.connected())) {
    if (Clock::now() > give_up) {
      std::fprintf(stderr, "bench_latency: kinemod (robot \"bench\") or the echo relay is not connected\n");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  vesk2_msg::push msg;
  msg.link = 4;
  msg.flags = 0x02;  // a velocity push on the point ahead of the head
  msg.pushpos.x = 0.1;
  const auto period = std::chrono::milliseconds(20);
  const auto half = std::chrono::milliseconds(10);
  std::vector<double> all_k, all_e, p99_diffs;
  int total_lost_k = 0, total_lost_e = 0;
  std::printf("push -> answer latency on loopback, 50 Hz each, %d rounds of %d (+%d warm-up) samples\n",
              rounds, samples, kWarmUp);
  for (int round = 0; round <= rounds && ros::ok(); ++round) {
    const int n = round == 0 ? kWarmUp : samples;  // round 0 wakes the node up
    Clock::time_point tick = Clock::now();
    for (int i = 0; i < n && ros::ok(); ++i) {
      msg.pushvec.y = (i % 2) ? -0.2 : 0.2;
      kinemod.send(msg);
      std::this_thread::sleep_until(tick + half);
      if (kinemod.waiting()) kinemod.missed();
      echo.send(msg);
      tick += period;
      std::this_thread::sleep_until(tick);
      if (echo.waiting()) echo.missed();
    }
    const std::vector<double> k = kinemod.take_latencies_us(), e = echo.take_latencies_us();
    const int lost_k = kinemod.take_lost(), lost_e = echo.take_lost();
    if (round == 0) continue;
    std::printf("round %d\n", round);
    report("echo relay (baseline)", e, lost_e);
    report("kinemod push->cmd_vel", k, lost_k);
    total_lost_k += lost_k;
    total_lost_e += lost_e;
    p99_diffs.push_back(percentile(k, 99) - percentile(e, 99));
    all_k.insert(all_k.end(), k.begin(), k.end());
    all_e.insert(all_e.end(), e.begin(), e.end());
  }
  std::printf("all rounds\n");
  report("echo relay (baseline)", all_e, total_lost_e);
  report("kinemod push->cmd_vel", all_k, total_lost_k);
  std::printf(
      "kinemod - echo: p50 %+.1f us, p99 %+.1f us (pooled); median over rounds of p99 difference %+.1f us\n",
      percentile(all_k, 50) - percentile(all_e, 50), percentile(all_k, 99) - percentile(all_e, 99),
      percentile(p99_diffs, 50));
  std::printf("ratios kinemod / echo: p50 %.2f, p99 %.2f (pooled)\n",
              percentile(all_k, 50) / std::max(1e-9, percentile(all_e, 50)),
              percentile(all_k, 99) / std::max(1e-9, percentile(all_e, 99)));
  spinner.stop();
  return 0;
}
