// Robot models and worlds read from SDF files with libsdformat, turned into plain
// records the simulator builds on. This header names no sdformat or ignition type, so
// it can be included beside the Gazebo API stand-in.
//
// Poses follow SDF 1.6: a link's pose is relative to the frame of the model that holds
// it, a nested model's pose relative to its parent model, a joint's pose relative to its
// child link, and a joint axis is expressed in the joint frame unless the file says
// "__model__" (or use_parent_model_frame). Joint parents and children are looked up by
// name in the joint's own model scope first and then in the enclosing scopes.
#pragma once

#include <string>
#include <vector>

#include "vesk_sim/dynamics.h"
#include "vesk_sim/math3.h"
#include "vesk_sim/scene.h"

namespace vesk_sim {

// A visual shape approximated by a box in its link's frame (cylinders and spheres by their
// bounding boxes).
struct ShapeBox {
  Pose pose;  // box centre in the link frame
  Vec3 half;  // [m]
  Rgb colour;
};

struct SensorDesc {
  std::string name;         // leaf name, e.g. "eye_l"
  std::string scoped_name;  // relative to the robot model, e.g. "vesk_head::head::eye_l"
  std::string type;         // SDF type attribute: "camera", "wideanglecamera", "imu", "sonar"
  int link = -1;
  Pose pose;               // in the link frame
  double update_rate = 0;  // [Hz]; 0 = every step
  bool always_on = true;
  // cameras
  int width = 0, height = 0;
  double hfov = 0, near_clip = 0.01, far_clip = 30;
  // sonars
  double min_range = 0, max_range = 0, radius = 0;
};

struct LinkDesc {
  std::string name;   // relative to the robot model, e.g. "vesk_body::body"
  Pose pose0;         // in the model frame, all joints at zero
  double mass = 0;    // [kg]
  Vec3 com;           // centre of mass in the link frame
  Vec3 inertia_diag;  // principal moments about the centre of mass, link axes [kg m^2]
  std::vector<ShapeBox> shapes;
};

struct JointDesc {
  std::string name;  // relative to the robot model, e.g. "vesk_body::body_wheel_lh"
  std::string type;  // "revolute", "continuous", "fixed", ...
  int parent = -1;   // link index; -1 = the world
  int child = -1;
  Vec3 axis0;          // unit axis in the model frame, all joints at zero
  Vec3 anchor0;        // a point of the axis in the model frame, all joints at zero
  JointParams params;  // inertia filled in by the loader from the child subtree
};

struct PluginDesc {
  std::string name, filename;
};

struct RobotDesc {
  std::string name;  // model name (the robot name)
  std::vector<LinkDesc> links;
  std::vector<JointDesc> joints;  // parents before children
  std::vector<SensorDesc> sensors;
  std::vector<PluginDesc> plugins;
  int root = -1;                // link carried by the base (the canonical link)
  bool fixed_to_world = false;  // a joint ties the model to the world
};

struct WorldDesc {
  std::string name = "default";
  double max_step_size = 0.001;  // [s]
  Vec3 gravity{0, 0, -9.81};
  Scene scene;  // static boxes of the world (owner kOwnerWorld)
};

// Reads a robot model file (model.sdf). The model is renamed to `name` when it is not
// empty. Fails (os::fail) with the parser's messages when the file cannot be read or is
// not a model.
RobotDesc load_robot(const std::string& path, const std::string& name = "");

// Reads a world file: physics step, gravity, scene colours and light, and every model's
// visual boxes as static scene boxes (a plane becomes a thin box whose top is the plane).
WorldDesc load_world(const std::string& path);

// World poses of all links for a base pose and joint positions (indexed like joints).
void forward_kinematics(const RobotDesc& robot, const Pose& base, const std::vector<double>& q,
                        std::vector<Pose>& link_world);

}  // namespace vesk_sim
