// A robot of the headless simulator (see vesk_sim/sim_robot.h).
#include "vesk_sim/sim_robot.h"

#include <vesk_support/os.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vesk_sim {

namespace physics = gazebo::physics;

namespace {

constexpr double kStepHeight = 0.02;    // [m] obstacles lower than this are driven over
constexpr double kLowestFloor = -10.0;  // [m] a robot falling off everything stops here

ignition::math::Pose3d to_ign(const Pose& p) {
  return ignition::math::Pose3d(p.pos.x, p.pos.y, p.pos.z, p.rot.w, p.rot.x, p.rot.y, p.rot.z);
}

}  // namespace

SimRobot::SimRobot(const gazebo_standin::WorldPtr& world, const RobotDesc& desc, const RobotSpawn& spawn,
                   int index, const Scene& scene)
    : desc_(desc), spawn_(spawn), index_(index) {
  model_ = gazebo_standin::AddModel(world, desc.name, true);
  for (const LinkDesc& l : desc.links) links_.push_back(gazebo_standin::AddLink(model_, l.name));
  for (const JointDesc& j : desc.joints) {
    joints_.push_back(gazebo_standin::AddJoint(model_, j.name, true));
    scoped_.push_back(desc.name + "::" + j.name);
  }
  q_.assign(desc.joints.size(), JointState());
  pid_.assign(desc.joints.size(), gazebo::common::PID());
  pid_set_.assign(desc.joints.size(), false);
  find_wheels();
  reach_ = rolling_reach();
  for (const SensorDesc& s : desc.sensors) add_sensor(s);
  for (const LinkDesc& l : desc.links) mass_ += l.mass;
  place_at_spawn(scene);
}

// Back to the spawn pose, joints at zero and at rest, controllers' memory cleared.
void SimRobot::place_at_spawn(const Scene& scene) {
  base_ = BasePose{spawn_.x, spawn_.y, spawn_.yaw};
  const double floor = support_height(scene, spawn_.x, spawn_.y, 1e3, index_);
  z_ = std::isfinite(floor) ? floor : 0.0;
  vz_ = 0.0;
  for (size_t j = 0; j < q_.size(); ++j) {
    q_[j] = JointState();
    pid_[j].Reset();
  }
  for (SimSensor& s : sensors_) {
    s.next_due = 0.0;
    s.period = -1.0;
    s.have_prev = false;
    s.v_step = s.v_report = Vec3();
    s.t_report = 0.0;
  }
  publish_state(0.001);
}

void SimRobot::step(double dt, const Scene& scene, const Vec3& gravity) {
  const bool mobile = !desc_.fixed_to_world && wheel_l_ >= 0 && wheel_r_ >= 0;
  const double before_l = mobile ? q_[wheel_l_].position : 0.0;
  const double before_r = mobile ? q_[wheel_r_].position : 0.0;
  const double rate_l = mobile ? q_[wheel_l_].velocity : 0.0;
  const double rate_r = mobile ? q_[wheel_r_].velocity : 0.0;
  drive_joints(dt);
  if (mobile) {
    // The base moves as the tyres roll over the floor: the wheels' rates less their slip.
    const BaseTwist twist = diff_drive_twist(ground_rate(q_[wheel_l_].velocity, rate_l, dt, kTyreSlipTime),
                                             ground_rate(q_[wheel_r_].velocity, rate_r, dt, kTyreSlipTime),
                                             wheel_radius_, track_);
    BasePose next = base_;
    base_integrate(next, twist, dt);
    if (blocked(next, scene)) {
      // The body would enter a box: the robot stays and its wheels stall.
      q_[wheel_l_] = JointState{before_l, 0.0};
      q_[wheel_r_] = JointState{before_r, 0.0};
    } else {
      base_ = next;
    }
    settle(dt, scene, gravity);
  }
  publish_state(dt);
}

// The wheels: joints on the root link about a lateral axis whose child reaches down to
// the floor (the model frame's z = 0); left has positive y.
void SimRobot::find_wheels() {
  for (size_t j = 0; j < desc_.joints.size(); ++j) {
    const JointDesc& jd = desc_.joints[j];
    if (jd.parent != desc_.root || std::fabs(jd.axis0.y) < 0.9) continue;
    if (jd.type != "revolute" && jd.type != "continuous") continue;
    if (lowest_point(desc_.links[jd.child]) > 0.005) continue;
    if (jd.anchor0.y > 0 && wheel_l_ < 0) wheel_l_ = static_cast<int>(j);
    if (jd.anchor0.y < 0 && wheel_r_ < 0) wheel_r_ = static_cast<int>(j);
  }
  if (wheel_l_ >= 0 && wheel_r_ >= 0) {
    const JointDesc& l = desc_.joints[wheel_l_];
    const JointDesc& r = desc_.joints[wheel_r_];
    wheel_radius_ = 0.5 * (l.anchor0.z + r.anchor0.z);  // axle height above the floor
    track_ = l.anchor0.y - r.anchor0.y;
  } else {
    os::warn("robot \"" + desc_.name + "\" has no pair of wheels: its base will not move");
    wheel_l_ = wheel_r_ = -1;
  }
}

// Lowest point of a link's shapes at zero joint angles, in the model frame [m]. A wheel
// turns about its axle, so its lowest point is the same at every angle.
double SimRobot::lowest_point(const LinkDesc& link) {
  double lowest = std::numeric_limits<double>::infinity();
  for (const ShapeBox& shape : link.shapes) {
    const Pose box = link.pose0 * shape.pose;
    for (int c = 0; c < 8; ++c) {
      const Vec3 corner((c & 1) ? shape.half.x : -shape.half.x, (c & 2) ? shape.half.y : -shape.half.y,
                        (c & 4) ? shape.half.z : -shape.half.z);
      lowest = std::min(lowest, box.transform(corner).z);
    }
  }
  return lowest;
}

double drawn_hfov(const SensorDesc& d) { return std::min(d.hfov, 2.6); }

void SimRobot::add_sensor(const SensorDesc& d) {
  SimSensor s;
  s.desc = d;
  const physics::LinkPtr& link = links_[d.link];
  if (d.type == "camera" || d.type == "wideanglecamera") {
    s.camera = gazebo_standin::AddCameraSensor(link, d.name, d.width, d.height, d.update_rate, d.type);
    // What is drawn: a pinhole, a wide-angle lens included (see drawn_hfov).
    gazebo_standin::SetCameraLens(s.camera, drawn_hfov(d), "gnomonical", true);
    s.sensor = s.camera;
  } else if (d.type == "imu") {
    s.imu = gazebo_standin::AddImuSensor(link, d.name, d.update_rate);
    s.sensor = s.imu;
  } else if (d.type == "sonar") {
    s.sonar = gazebo_standin::AddSonarSensor(link, d.name, d.update_rate);
    s.sensor = s.sonar;
  } else {
    os::warn("sensor \"" + d.scoped_name + "\" of type \"" + d.type + "\" is not simulated");
    return;
  }
  if (!d.always_on) s.sensor->SetActive(false);
  sensors_.push_back(s);
}

void SimRobot::drive_joints(double dt) {
  // Each joint's gains and target as the controllers (the model's, then its nested
  // models') hold them at this step, by its scoped name.
  for (size_t j = 0; j < desc_.joints.size(); ++j) {
    const JointDesc& jd = desc_.joints[j];
    if (jd.type != "revolute" && jd.type != "continuous") continue;
    double tau = 0.0;
    gazebo::common::PID pid;
    double target = 0.0;
    if (gazebo_standin::PositionControl(model_, scoped_[j], &pid, &target)) {
      if (!pid_set_[j] || !same_gains(pid, pid_[j])) {
        pid_[j] = pid;
        pid_[j].Reset();
        pid_set_[j] = true;
      }
      tau = pid_[j].Update(q_[j].position - target, dt);
    }
    JointParams p = jd.params;
    if (static_cast<int>(j) == wheel_l_ || static_cast<int>(j) == wheel_r_) {
      // Each wheel accelerates half the robot's mass at its rim.
      p.inertia += 0.5 * mass_ * wheel_radius_ * wheel_radius_;
    }
    if (pid_set_[j]) p.inertia = std::max(p.inertia, armature(pid_[j], dt));
    joint_step(q_[j], p, tau, dt);
  }
}

// Least inertia about a joint's axis [kg m^2] for which its position PID, updated once per
// step of dt, stays stable: the derivative term must not reverse the velocity within one
// step (d dt / J <= 1/2) nor the proportional term overshoot (p dt^2 / J <= 1/4). Light
// links (eyelids, ears) get this as their motor's reflected inertia (armature), as a
// geared servo has.
double SimRobot::armature(const gazebo::common::PID& pid, double dt) {
  return std::max(2.0 * std::fabs(pid.GetDGain()) * dt, 4.0 * std::fabs(pid.GetPGain()) * dt * dt);
}

bool SimRobot::same_gains(const gazebo::common::PID& a, const gazebo::common::PID& b) {
  return a.GetPGain() == b.GetPGain() && a.GetIGain() == b.GetIGain() && a.GetDGain() == b.GetDGain() &&
         a.GetIMax() == b.GetIMax() && a.GetIMin() == b.GetIMin() && a.GetCmdMax() == b.GetCmdMax() &&
         a.GetCmdMin() == b.GetCmdMin();
}

// The 14 test points of a shape: its 8 corners and its 6 face centres, in the shape's frame.
Vec3 SimRobot::shape_point(const ShapeBox& shape, int c) {
  if (c < 8) {
    return Vec3((c & 1) ? shape.half.x : -shape.half.x, (c & 2) ? shape.half.y : -shape.half.y,
                (c & 4) ? shape.half.z : -shape.half.z);
  }
  const int axis = (c - 8) / 2;
  const double sign = (c & 1) ? 1.0 : -1.0;
  return Vec3(axis == 0 ? sign * shape.half.x : 0, axis == 1 ? sign * shape.half.y : 0,
              axis == 2 ? sign * shape.half.z : 0);
}

bool SimRobot::rolling(size_t k) const {
  return static_cast<int>(k) == desc_.root ||
         (wheel_l_ >= 0 && static_cast<int>(k) == desc_.joints[wheel_l_].child) ||
         (wheel_r_ >= 0 && static_cast<int>(k) == desc_.joints[wheel_r_].child);
}

// The farthest test point of the rolling links from the base's origin [m].
double SimRobot::rolling_reach() const {
  double reach = 0.0;
  for (size_t k = 0; k < desc_.links.size(); ++k) {
    if (!rolling(k)) continue;
    for (const ShapeBox& shape : desc_.links[k].shapes) {
      const Pose in_base = desc_.links[k].pose0 * shape.pose;
      for (int c = 0; c < 14; ++c) reach = std::max(reach, in_base.transform(shape_point(shape, c)).norm());
    }
  }
  return reach;
}

// Would the body or the wheels, with the base at `next`, enter a solid box of the world
// that is too tall to drive over?
bool SimRobot::blocked(const BasePose& next, const Scene& scene) const {
  const Pose base(Vec3(next.x, next.y, z_), Quat::from_axis_angle(Vec3(0, 0, 1), next.yaw));
  for (const SceneBox& sb : scene.boxes) {
    if (sb.owner != kOwnerWorld || !sb.solid) continue;
    // No test point lies farther than `reach_` from the base's origin: a box that far from
    // it along one of its own axes holds none of them.
    const Vec3 near = sb.pose.rot.rotate_reverse(base.pos - sb.pose.pos);
    if (std::fabs(near.x) > sb.half.x + reach_ || std::fabs(near.y) > sb.half.y + reach_ ||
        std::fabs(near.z) > sb.half.z + reach_) {
      continue;
    }
    for (size_t k = 0; k < desc_.links.size(); ++k) {
      if (!rolling(k)) continue;
      for (const ShapeBox& shape : desc_.links[k].shapes) {
        const Pose box = base * desc_.links[k].pose0 * shape.pose;
        for (int c = 0; c < 14; ++c) {
          const Vec3 p = box.transform(shape_point(shape, c));
          if (p.z < z_ + kStepHeight) continue;  // at wheel contact height: floor, not obstacle
          if (box_contains(sb, p)) return true;
        }
      }
    }
  }
  return false;
}

// Stands the robot on the surface under its base centre, falling when that drops away.
void SimRobot::settle(double dt, const Scene& scene, const Vec3& gravity) {
  double floor = support_height(scene, base_.x, base_.y, z_ + kStepHeight, index_);
  if (!std::isfinite(floor)) floor = kLowestFloor;
  if (z_ > floor + 1e-9) {
    vz_ += gravity.z * dt;
    z_ += vz_ * dt;
    if (z_ <= floor) {
      z_ = floor;
      vz_ = 0.0;
    }
  } else {
    z_ = floor;
    vz_ = 0.0;
  }
}

void SimRobot::publish_state(double dt) {
  std::vector<double> angles(q_.size());
  for (size_t j = 0; j < q_.size(); ++j) angles[j] = q_[j].position;
  const Pose base(Vec3(base_.x, base_.y, z_), Quat::from_axis_angle(Vec3(0, 0, 1), base_.yaw));
  forward_kinematics(desc_, base, angles, link_world_);
  gazebo_standin::SetModelWorldPose(model_, to_ign(base));
  for (size_t k = 0; k < links_.size(); ++k)
    gazebo_standin::SetLinkWorldPose(links_[k], to_ign(link_world_[k]));
  for (size_t j = 0; j < joints_.size(); ++j) {
    gazebo_standin::SetJointPosition(joints_[j], q_[j].position, q_[j].velocity);
  }
  // Sensor velocities for the IMUs, from the motion of this step.
  for (SimSensor& s : sensors_) {
    if (!s.imu) continue;
    const Vec3 p = (link_world_[s.desc.link] * s.desc.pose).pos;
    s.v_step = s.have_prev ? (p - s.p_prev) * (1.0 / dt) : Vec3();
    if (!s.have_prev) s.v_report = s.v_step;
    s.p_prev = p;
    s.have_prev = true;
  }
}

}  // namespace vesk_sim
