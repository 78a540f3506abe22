// gazebo::VESK_ModelPlugin: joint gains, joint targets and the simulation tick.
#include <cmath>
#include <iostream>
#include <sstream>

#include "vesk_gazebo/joint_control.h"
#include "vesk_gazebo/model_plugin.h"

namespace gazebo {

namespace {

struct JointEntry {
  unsigned slot;
  const char* label;
};
const JointEntry kWheelJoints[] = {{SIM_JOINT_WHEEL_L, "WHEEL_LH"}, {SIM_JOINT_WHEEL_R, "WHEEL_RH"}};
const JointEntry kKinematicJoints[] = {
    {SIM_JOINT_LIFT, "BODY_NECK"}, {SIM_JOINT_YAW, "NECK_GMBL"}, {SIM_JOINT_PITCH, "GMBL_HEAD"}};
const JointEntry kCosmeticJoints[] = {{SIM_JOINT_EYELID_L, "EYELID_LH"},
                                      {SIM_JOINT_EYELID_R, "EYELID_RH"},
                                      {SIM_JOINT_EAR_L, "EAR_LH"},
                                      {SIM_JOINT_EAR_R, "EAR_RH"},
                                      {SIM_JOINT_TAIL_DROOP, "BODY_TAIL_GMBL"},
                                      {SIM_JOINT_TAIL_WAG, "TAIL_GMBL_TAIL"}};

}  // namespace

void VESK_ModelPlugin::ConfigureControllers() {
  const double dt = state.model->GetWorld()->Physics()->GetMaxStepSize();
  if (!(dt > 0.0) || !std::isfinite(dt)) {
    std::ostringstream msg;
    msg << "physics max step size must be positive (max_step_size = " << dt << ")";
    os::fail(msg.str());
  }
  const vesk_gazebo::ControllerGains g = vesk_gazebo::GainsForStep(dt);
  if (verbosity > 1) {
    std::cout << os::cout_global_elapsed() << "max_step_size = " << dt << std::endl;
    std::cout << os::cout_global_elapsed() << "wheels P/D: " << g.wheel.P << ", " << g.wheel.D << std::endl;
  }
  auto configure = [&](const JointEntry* table, size_t n, const vesk_gazebo::GainPair& gains) {
    for (size_t i = 0; i < n; ++i) {
      if (state.joint[table[i].slot])
        SetPID(kJointSuffix[table[i].slot], gains.P, gains.D);
      else if (verbosity > 0)
        os::warn(std::string("joint not found: ") + table[i].label);
    }
  };
  configure(kWheelJoints, 2, g.wheel);
  if (verbosity > 1)
    std::cout << os::cout_global_elapsed() << "kinematic P/D: " << g.kinematic.P << ", " << g.kinematic.D
              << std::endl;
  configure(kKinematicJoints, 3, g.kinematic);
  if (verbosity > 1)
    std::cout << os::cout_global_elapsed() << "cosmetic P/D: " << g.wheel.P << ", " << g.wheel.D << std::endl;
  configure(kCosmeticJoints, 6, g.wheel);
  // The head camera calibration joint is only looked up (no gains, no target); its absence
  // is said all the same.
  if (!state.joint[SIM_JOINT_CAMERA_CALIB] && verbosity > 0) os::warn("joint not found: HEAD_CAMERA_CALIB");
}

void VESK_ModelPlugin::SetPID(const std::string& suffix, double P, double D) {
  const vesk_gazebo::PidParams p = vesk_gazebo::PidFromGains(P, D);
  const common::PID pid(p.p, p.i, p.d, p.imax, p.imin, p.cmdMax, p.cmdMin);
  const std::string name = robot_name + suffix;
  state.joint_controller->SetPositionPID(name, pid);
  state.joint_controller->SetPositionTarget(name, 0.0);
}

void VESK_ModelPlugin::SetTarget(unsigned slot, double target) {
  // A non-finite command (bad input from the network) keeps the joint's previous target.
  if (!state.joint[slot] || !std::isfinite(target)) return;
  state.joint_controller->SetPositionTarget(robot_name + kJointSuffix[slot], target);
}

void VESK_ModelPlugin::SetPositions(VESK_TICK_D* d) {
  uint8_t cliff[2];
  {
    os::ScopedLock lock(tick_u_lock);
    cliff[0] = state.tick_u.cliff[0];
    cliff[1] = state.tick_u.cliff[1];
  }
  float vl = 0.0f, vr = 0.0f;
  vesk_gazebo::WheelSpeeds(d->flags, d->body_vel[0], d->body_vel[1], cliff[0], cliff[1], &vl, &vr);
  state.wheel_target[0] += vl * vesk_gazebo::kWheelAnglePerSpeed;
  state.wheel_target[1] += vr * vesk_gazebo::kWheelAnglePerSpeed;

  for (unsigned i = 0; i < KINEMATIC_COUNT; ++i) state.kinematic_cmd[i] = d->kinematic_joints[i];
  double cosmetic[COSMETIC_COUNT];
  vesk_gazebo::CosmeticTargets(d->cosmetic_joints, cosmetic);

  SetTarget(SIM_JOINT_WHEEL_L, state.wheel_target[0]);
  SetTarget(SIM_JOINT_WHEEL_R, state.wheel_target[1]);
  SetTarget(SIM_JOINT_LIFT, vesk_gazebo::LiftCorrection(state.kinematic_cmd[KINEMATIC_LIFT]));
  SetTarget(SIM_JOINT_YAW, state.kinematic_cmd[KINEMATIC_YAW]);
  SetTarget(SIM_JOINT_PITCH, state.kinematic_cmd[KINEMATIC_PITCH]);
  SetTarget(SIM_JOINT_TAIL_DROOP, cosmetic[COSMETIC_DROOP]);
  SetTarget(SIM_JOINT_TAIL_WAG, cosmetic[COSMETIC_WAG]);
  SetTarget(SIM_JOINT_EAR_L, cosmetic[COSMETIC_EAR_L]);
  SetTarget(SIM_JOINT_EAR_R, cosmetic[COSMETIC_EAR_R]);
  SetTarget(SIM_JOINT_EYELID_L, cosmetic[COSMETIC_EYELID_L]);
  SetTarget(SIM_JOINT_EYELID_R, cosmetic[COSMETIC_EYELID_R]);
}

void VESK_ModelPlugin::AnchorWheels() {
  for (int side = 0; side < 2; ++side) {
    const SimJoint wheel = side == 0 ? SIM_JOINT_WHEEL_L : SIM_JOINT_WHEEL_R;
    const physics::JointPtr& j = state.joint[wheel];
    const double a = j ? j->Position(0) : 0.0;
    if (!std::isfinite(a)) continue;
    state.wheel_target[side] = state.wheel_angle_prev[side] = a;
    SetTarget(wheel, a);
  }
}

void VESK_ModelPlugin::OnWorldUpdateEnd() {
  if (state.wheels_unanchored) {
    state.wheels_unanchored = false;
    AnchorWheels();
  }
  if (speaker_enabled && state.interf) CollectAudio();
  const double t = state.model->GetWorld()->SimTime().Double();
  if (t < state.t_next_tick) return;
  state.t_next_tick += TICK_PERIOD_WIDENED;
  if (t >= state.t_next_tick) {
    std::cout << "dropped some interface frames (" << state.t_next_tick;
    while (state.t_next_tick <= t) state.t_next_tick += TICK_PERIOD_WIDENED;
    std::cout << " to " << state.t_next_tick << ")" << std::endl;
  }
  OnTick();
}

void VESK_ModelPlugin::OnTick() {
  // Without an interface (its creation failed at the end of Load) there is nothing to tick.
  if (!state.interf) return;
  if (state.model->GetWorld()->IsPaused()) return;

  VESK_TICK_U u;
  {
    os::ScopedLock lock(tick_u_lock);
    u = state.tick_u;
  }
  u.tick_stamp = state.tick_stamp;
  u.stream[0] = u.stream[1] = 0;
  if (speaker_enabled) TickSpeaker(u.stream);

  for (int side = 0; side < 2; ++side) {
    const physics::JointPtr& j = state.joint[side == 0 ? SIM_JOINT_WHEEL_L : SIM_JOINT_WHEEL_R];
    const double a = j ? j->Position(0) : 0.0;
    const float speed = vesk_gazebo::WheelSpeedFromAngles(a, state.wheel_angle_prev[side]);
    u.wheel_speed_opto[side] = speed;
    u.wheel_speed_back_emf[side] = speed;
    // A non-finite reading is not kept: it would spoil every later speed.
    if (std::isfinite(a)) state.wheel_angle_prev[side] = a;
  }

  // The tilt is fixed (the model has no tilt joint); lift, yaw and pitch are read back.
  u.joint_pos[KINEMATIC_TILT] = TICK_D_DEFAULT_TILT;
  const SimJoint read_back[] = {SIM_JOINT_LIFT, SIM_JOINT_YAW, SIM_JOINT_PITCH};
  for (unsigned k = KINEMATIC_LIFT; k <= KINEMATIC_PITCH; ++k) {
    const physics::JointPtr& j = state.joint[read_back[k - KINEMATIC_LIFT]];
    u.joint_pos[k] = j ? static_cast<float>(j->Position(0)) : 0.0f;
  }

  u.battery_voltage = vesk_gazebo::kBatteryVoltage;
  u.touch_body = u.touch_head = 0;
  u.dip = 0;

  if (state.link_body) {
    const ignition::math::Pose3d& pose = state.link_body->WorldPose();
    const ignition::math::Quaterniond& q = pose.Rot();
    u.body_pose[0] = static_cast<float>(pose.Pos().X());
    u.body_pose[1] = static_cast<float>(pose.Pos().Y());
    u.body_pose[2] = static_cast<float>(vesk_gazebo::HeadingFromQuaternion(q.W(), q.X(), q.Y(), q.Z()));
  }

  VESK_TICK_D* d = state.interf->exchange(u);

  for (const std::string& cmd : d->commands) {
    if (cmd.compare(0, 6, "frame=") != 0 || cmd.size() < 6) continue;
    ApplyFrameCommand(cmd.substr(6));
  }
  WatchCameras();

  SetPositions(d);
  os::ScopedLock lock(pars_lock);
  state.tick_stamp = vesk_gazebo::NextTickStamp(state.tick_stamp);
}

}  // namespace gazebo
