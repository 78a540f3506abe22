// Watch on the ROS master a process registered with (needs roscpp; header only, so that
// every program that talks to a master can use it without another library).
//
// roscpp registers a process's topics and services with the master once. A master that
// ends and is started again knows none of them, and roscpp does not register again: the
// process keeps running, but no new peer can find it. MasterWatch notices that: it asks the
// master for its process id at construction (call it once the process has registered) and
// then again every `period_s` on a thread of its own. A master that stops answering is
// reported once ("the ROS master at <uri> does not answer"); a master that answers with
// another process id is a new master, reported once (with `consequence` appended) and
// flagged by restarted(). A master that answers again with its old id was only out of
// reach: nothing was lost, and the watch goes on quietly.
#pragma once

#include <ros/master.h>
#include <ros/ros.h>
#include <vesk_support/os.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class MasterWatch {
 public:
  // What a node adds to the restart warning before it ends with status 1 (its topics
  // cannot be registered again from inside roscpp; a respawning launcher starts it anew).
  static constexpr const char* kNodeEnds = "; this node ends so that it can be started again";
  // The message of the node's failure then.
  static constexpr const char* kNodeFailure = "ROS master restarted";

  explicit MasterWatch(const std::string& consequence, double period_s = 1.0)
      : shared_(std::make_shared<Shared>()) {
    shared_->consequence = consequence;
    shared_->period_s = period_s;
    shared_->uri = ros::master::getURI();
    shared_->pid = master_pid();
    std::shared_ptr<Shared> shared = shared_;
    thread_ = std::thread([shared] { run(*shared); });
  }

  // Stops the watch. A check in progress may wait on the network: the thread is given a
  // moment to end and otherwise left to end on its own (it holds its own state).
  ~MasterWatch() {
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      shared_->stop = true;
    }
    shared_->wake.notify_all();
    std::unique_lock<std::mutex> lock(shared_->mutex);
    const bool ended =
        shared_->wake.wait_for(lock, std::chrono::seconds(2), [this] { return shared_->ended; });
    lock.unlock();
    if (ended) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }

  MasterWatch(const MasterWatch&) = delete;
  MasterWatch& operator=(const MasterWatch&) = delete;

  // True from the moment a new master (another process id) answered at the master's URI.
  bool restarted() const { return shared_->restarted; }
  const std::string& uri() const { return shared_->uri; }

  // The process id the master at ROS_MASTER_URI answers with, or -1 when none answers.
  static int master_pid() {
    XmlRpc::XmlRpcValue args, result, payload;
    args[0] = ros::this_node::getName();
    if (!ros::master::execute("getPid", args, result, payload, false)) return -1;
    if (payload.getType() != XmlRpc::XmlRpcValue::TypeInt) return -1;
    return static_cast<int>(payload);
  }

 private:
  struct Shared {
    std::string consequence;
    double period_s = 1.0;
    std::string uri;
    int pid = -1;  // of the master the process registered with
    std::atomic<bool> restarted{false};
    bool stop = false;
    bool ended = false;
    std::mutex mutex;
    std::condition_variable wake;
  };

  static void run(Shared& s) {
    bool gone_told = false;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.wake.wait_for(lock, std::chrono::duration<double>(s.period_s), [&s] { return s.stop; });
        if (s.stop) break;
      }
      const int pid = master_pid();
      if (pid < 0) {
        if (!gone_told) os::warn("the ROS master at " + s.uri + " does not answer");
        gone_told = true;
      } else if (s.pid < 0) {
        s.pid = pid;  // the first answer (the master was out of reach at construction)
      } else if (pid != s.pid) {
        os::warn("the ROS master at " + s.uri + " was restarted: it knows nothing of this program's topics" +
                 s.consequence);
        s.restarted = true;
        break;
      } else {
        gone_told = false;
      }
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    s.ended = true;
    s.wake.notify_all();
  }

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};
