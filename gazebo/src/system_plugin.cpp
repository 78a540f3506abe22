// libvesk_gazebo_system: the ROS side of gzserver that the kit and its demo need, for
// machines without gazebo_ros. Load it with `gzserver -s libvesk_gazebo_system.so`.
//   "/clock" (rosgraph_msgs/Clock)        the world's simulated time, every 5 ms of it
//   "/gazebo/reset_world" (std_srvs/Empty) resets the world (models, time, plug-ins)
//   "/vesk_sim/reset" (std_msgs/Empty)     the same, as the headless simulator offers it
//   "/gazebo/<model>/pose" (geometry_msgs/PoseStamped, frame "world")
//                                          ground truth of each top-level model: the world
//                                          pose of its "body" link (else its canonical
//                                          link), every 20 ms
// With /use_sim_time set, this process's own ROS clock follows "/clock" before the world
// steps on, so that the model plug-ins' messages carry the step's time exactly.
#include <geometry_msgs/PoseStamped.h>
#include <ros/callback_queue.h>
#include <ros/ros.h>
#include <rosgraph_msgs/Clock.h>
#include <std_msgs/Empty.h>
#include <std_srvs/Empty.h>

#include <atomic>
#include <gazebo/common/Events.hh>
#include <gazebo/common/Plugin.hh>
#include <gazebo/physics/physics.hh>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace gazebo {

namespace {

constexpr int64_t kClockPeriodNs = 5000000;  // 5 ms
constexpr int64_t kPosePeriodNs = 20000000;  // 20 ms
constexpr int kMasterAttempts = 60;

int64_t to_ns(const common::Time& t) { return static_cast<int64_t>(t.sec) * 1000000000LL + t.nsec; }

// A link named `name` of `model` or of a model nested in it, depth first.
physics::LinkPtr find_link_named(const physics::ModelPtr& model, const std::string& name) {
  for (const physics::LinkPtr& l : model->GetLinks()) {
    if (l && l->GetName() == name) return l;
  }
  for (const physics::ModelPtr& nested : model->NestedModels()) {
    if (physics::LinkPtr l = find_link_named(nested, name)) return l;
  }
  return nullptr;
}

// The link whose pose stands for a model: the robot's "body" link (Gazebo 11 makes the first
// link of the top model canonical, which in the robot is the neck, so the canonical link does
// not say how the body stands); for other models their canonical link, else the first link
// found depth first through nested models.
physics::LinkPtr pose_link(const physics::ModelPtr& model) {
  if (physics::LinkPtr body = find_link_named(model, "body")) return body;
  if (physics::LinkPtr c = model->GetLink()) return c;
  if (!model->GetLinks().empty()) return model->GetLinks().front();
  for (const physics::ModelPtr& nested : model->NestedModels()) {
    if (physics::LinkPtr l = pose_link(nested)) return l;
  }
  return nullptr;
}

}  // namespace

class VESK_SystemPlugin : public SystemPlugin {
 public:
  ~VESK_SystemPlugin() override {
    update_conn_.reset();
    world_conn_.reset();
    if (spinner_) spinner_->stop();
    if (nh_) nh_->shutdown();
  }

  void Load(int /*argc*/, char** /*argv*/) override {
    if (!ros::isInitialized()) {
      int argc = 0;
      ros::init(argc, nullptr, "gazebo", ros::init_options::NoSigintHandler);
    }
    world_conn_ =
        event::Events::ConnectWorldCreated([this](const std::string& name) { OnWorldCreated(name); });
  }

 private:
  void OnWorldCreated(const std::string& name) {
    if (world_) return;  // one world per server
    world_ = physics::get_world(name);
    if (!world_) return;
    for (int attempt = 0; !ros::master::check(); ++attempt) {
      if (attempt == 0) gzmsg << "vesk_gazebo_system: waiting for the ROS master" << std::endl;
      if (attempt >= kMasterAttempts) {
        gzerr << "vesk_gazebo_system: no ROS master at " << ros::master::getURI()
              << "; no /clock and no reset service in this run" << std::endl;
        return;
      }
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    nh_ = std::make_unique<ros::NodeHandle>();
    nh_->setCallbackQueue(&queue_);
    ros::param::get("/use_sim_time", use_sim_time_);
    clock_pub_ = nh_->advertise<rosgraph_msgs::Clock>("/clock", 10);
    reset_srv_ = nh_->advertiseService("/gazebo/reset_world", &VESK_SystemPlugin::OnResetService, this);
    reset_sub_ = nh_->subscribe<std_msgs::Empty>("/vesk_sim/reset", 10,
                                                 [this](const std_msgs::Empty::ConstPtr&) { ResetWorld(); });
    spinner_ = std::make_unique<ros::AsyncSpinner>(1, &queue_);
    spinner_->start();
    update_conn_ =
        event::Events::ConnectWorldUpdateBegin([this](const common::UpdateInfo& info) { OnUpdate(info); });
    gzmsg << "vesk_gazebo_system: /clock, /gazebo/reset_world and ground-truth poses for world [" << name
          << "]" << std::endl;
  }

  bool OnResetService(std_srvs::Empty::Request&, std_srvs::Empty::Response&) {
    ResetWorld();
    return true;
  }

  void ResetWorld() {
    gzmsg << "vesk_gazebo_system: world reset" << std::endl;
    world_->Reset();
  }

  // At the start of each world step (the world's time is already the step's end time).
  void OnUpdate(const common::UpdateInfo& info) {
    const int64_t now = to_ns(info.simTime);
    const bool restarted = now < last_clock_ns_;
    if (restarted) last_pose_ns_ = -kPosePeriodNs;
    if (restarted || last_clock_ns_ < 0 || now - last_clock_ns_ >= kClockPeriodNs) {
      last_clock_ns_ = now;
      PublishClock(now);
    }
    if (now - last_pose_ns_ >= kPosePeriodNs) {
      last_pose_ns_ = now;
      PublishPoses(now);
    }
  }

  void PublishClock(int64_t now) {
    rosgraph_msgs::Clock clock;
    clock.clock.fromNSec(static_cast<uint64_t>(now));
    clock_pub_.publish(clock);
    if (!use_sim_time_ || direct_clock_) return;
    // roscpp's own "/clock" subscription sets this process's time; wait (boundedly) until it
    // has the new time. Should it not follow (the parameter was set after this process
    // started), the time is set directly from then on.
    for (int i = 0; i < 5000 && ros::Time::now() != clock.clock; ++i) {
      if (i > 100) {
        ros::WallDuration(0.00001).sleep();
      } else {
        std::this_thread::yield();
      }
    }
    if (ros::Time::now() != clock.clock && !ros::Time::isSimTime()) {
      gzwarn << "vesk_gazebo_system: the ROS clock does not follow /clock; setting it directly" << std::endl;
      direct_clock_ = true;
    }
    if (direct_clock_) ros::Time::setNow(clock.clock);
  }

  void PublishPoses(int64_t now) {
    for (const physics::ModelPtr& model : world_->Models()) {
      if (model->IsStatic()) continue;
      const physics::LinkPtr link = pose_link(model);
      if (!link) continue;
      auto it = pose_pubs_.find(model->GetName());
      if (it == pose_pubs_.end()) {
        const std::string topic = "/gazebo/" + model->GetName() + "/pose";
        if (!ros::names::validate(topic, topic_error_)) continue;
        it =
            pose_pubs_.emplace(model->GetName(), nh_->advertise<geometry_msgs::PoseStamped>(topic, 10)).first;
      }
      const ignition::math::Pose3d p = link->WorldPose();
      geometry_msgs::PoseStamped m;
      m.header.stamp.fromNSec(static_cast<uint64_t>(now));
      m.header.frame_id = "world";
      m.pose.position.x = p.Pos().X();
      m.pose.position.y = p.Pos().Y();
      m.pose.position.z = p.Pos().Z();
      m.pose.orientation.w = p.Rot().W();
      m.pose.orientation.x = p.Rot().X();
      m.pose.orientation.y = p.Rot().Y();
      m.pose.orientation.z = p.Rot().Z();
      it->second.publish(m);
    }
  }

  physics::WorldPtr world_;
  event::ConnectionPtr world_conn_;
  event::ConnectionPtr update_conn_;
  std::unique_ptr<ros::NodeHandle> nh_;
  ros::CallbackQueue queue_;
  std::unique_ptr<ros::AsyncSpinner> spinner_;
  ros::Publisher clock_pub_;
  ros::ServiceServer reset_srv_;
  ros::Subscriber reset_sub_;
  std::map<std::string, ros::Publisher> pose_pubs_;
  std::string topic_error_;
  bool use_sim_time_ = false;
  bool direct_clock_ = false;
  int64_t last_clock_ns_ = -1;
  int64_t last_pose_ns_ = -kPosePeriodNs;
};

GZ_REGISTER_SYSTEM_PLUGIN(VESK_SystemPlugin)

}  // namespace gazebo
