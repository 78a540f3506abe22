#include "vesk_sim/sdf_world.h"

#include <vesk_support/os.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sdf/sdf.hh>

#include "vesk_sim/sdf_compat.h"

namespace vesk_sim {

using os::fail;

namespace {

Pose to_pose(const ignition::math::Pose3d& p) {
  return {Vec3(p.Pos().X(), p.Pos().Y(), p.Pos().Z()),
          Quat(p.Rot().W(), p.Rot().X(), p.Rot().Y(), p.Rot().Z())};
}

Vec3 to_vec(const ignition::math::Vector3d& v) { return {v.X(), v.Y(), v.Z()}; }

// The parser's errors that make the file unusable, in one line (empty when none).
std::string parser_errors(const sdf::Errors& errors) {
  std::string text;
  for (const sdf::Error& e : errors) {
    if (!harmless(e)) text += (text.empty() ? "" : "; ") + e.Message();
  }
  return text;
}

// Boxes approximating the visuals of one link, in the link frame.
std::vector<ShapeBox> link_shapes(const sdf::Link& link) {
  std::vector<ShapeBox> shapes;
  for (uint64_t i = 0; i < link.VisualCount(); ++i) {
    const sdf::Visual* visual = link.VisualByIndex(i);
    const sdf::Geometry* geom = visual->Geom();
    ShapeBox s;
    s.pose = to_pose(visual->RawPose());
    s.colour = Rgb{0.6f, 0.6f, 0.6f};
    if (const sdf::Material* m = visual->Material()) {
      s.colour = Rgb{m->Diffuse().R(), m->Diffuse().G(), m->Diffuse().B()};
    }
    switch (geom->Type()) {
      case sdf::GeometryType::BOX:
        s.half = to_vec(geom->BoxShape()->Size()) * 0.5;
        break;
      case sdf::GeometryType::CYLINDER: {
        const double r = geom->CylinderShape()->Radius();
        s.half = Vec3(r, r, 0.5 * geom->CylinderShape()->Length());
        break;
      }
      case sdf::GeometryType::SPHERE: {
        const double r = geom->SphereShape()->Radius();
        s.half = Vec3(r, r, r);
        break;
      }
      case sdf::GeometryType::PLANE: {
        // A floor plane: a thin box whose top face is the plane (normal +z assumed).
        const auto size = geom->PlaneShape()->Size();
        constexpr double kThickness = 0.01;  // [m]
        s.half = Vec3(0.5 * size.X(), 0.5 * size.Y(), 0.5 * kThickness);
        s.pose = s.pose * Pose(Vec3(0, 0, -0.5 * kThickness), Quat());
        break;
      }
      default:
        continue;  // meshes and other shapes are not drawn
    }
    shapes.push_back(s);
  }
  return shapes;
}

double elem_double(const sdf::ElementPtr& parent, const char* child, double fallback) {
  if (!parent || !parent->HasElement(child)) return fallback;
  return parent->GetElement(child)->Get<double>();
}

SensorDesc read_sensor(const sdf::Sensor& sensor, int link, const std::string& link_name) {
  SensorDesc d;
  d.name = sensor.Name();
  d.scoped_name = link_name + "::" + sensor.Name();
  d.link = link;
  // Pose and rate from the element: sdformat 9 leaves them unset in the sensor object of a
  // type it does not know (sonar, wide-angle camera).
  const sdf::ElementPtr e = sensor.Element();
  d.pose = e->HasElement("pose") ? to_pose(e->GetElement("pose")->Get<ignition::math::Pose3d>()) : Pose();
  d.update_rate = elem_double(e, "update_rate", 0.0);
  d.type = e->Get<std::string>("type");
  d.always_on = e->HasElement("always_on") ? e->GetElement("always_on")->Get<bool>() : false;
  if (e->HasElement("camera")) {
    const sdf::ElementPtr cam = e->GetElement("camera");
    d.hfov = elem_double(cam, "horizontal_fov", 1.047);
    if (cam->HasElement("image")) {
      const sdf::ElementPtr img = cam->GetElement("image");
      d.width = img->HasElement("width") ? img->GetElement("width")->Get<int>() : 320;
      d.height = img->HasElement("height") ? img->GetElement("height")->Get<int>() : 240;
    }
    if (cam->HasElement("clip")) {
      d.near_clip = elem_double(cam->GetElement("clip"), "near", 0.01);
      d.far_clip = elem_double(cam->GetElement("clip"), "far", 30);
    }
  }
  if (e->HasElement("sonar")) {
    const sdf::ElementPtr sonar = e->GetElement("sonar");
    d.min_range = elem_double(sonar, "min", 0.0);
    d.max_range = elem_double(sonar, "max", 1.0);
    d.radius = elem_double(sonar, "radius", 0.5);
  }
  return d;
}

struct PendingJoint {
  JointDesc desc;
  std::string scope, parent_name, child_name;
  Pose pose;  // relative to the child link
  Vec3 xyz;
  bool xyz_in_model = false;
  Pose model_frame;  // the joint's model frame in the robot model frame
};

// Finds `name` as seen from `scope` ("a::b::"): first inside the scope, then outward.
int resolve_link(const std::map<std::string, int>& links, std::string scope, const std::string& name) {
  for (;;) {
    const auto it = links.find(scope + name);
    if (it != links.end()) return it->second;
    if (scope.empty()) return -1;
    scope.erase(scope.size() - 2);  // drop "::"
    const size_t cut = scope.rfind("::");
    scope = cut == std::string::npos ? std::string() : scope.substr(0, cut + 2);
  }
}

void walk_model(const sdf::Model& model, const std::string& prefix, const Pose& frame, RobotDesc& robot,
                std::map<std::string, int>& link_index, std::vector<PendingJoint>& joints) {
  for (uint64_t i = 0; i < model.LinkCount(); ++i) {
    const sdf::Link* link = model.LinkByIndex(i);
    LinkDesc l;
    l.name = prefix + link->Name();
    l.pose0 = frame * to_pose(link->RawPose());
    const auto& inertial = link->Inertial();
    l.mass = inertial.MassMatrix().Mass();
    l.com = to_vec(inertial.Pose().Pos());
    l.inertia_diag = to_vec(inertial.MassMatrix().DiagonalMoments());
    l.shapes = link_shapes(*link);
    const int index = static_cast<int>(robot.links.size());
    link_index[l.name] = index;
    for (uint64_t s = 0; s < link->SensorCount(); ++s) {
      robot.sensors.push_back(read_sensor(*link->SensorByIndex(s), index, l.name));
    }
    robot.links.push_back(l);
  }
  for (uint64_t i = 0; i < model.JointCount(); ++i) {
    const sdf::Joint* joint = model.JointByIndex(i);
    PendingJoint p;
    p.desc.name = prefix + joint->Name();
    p.desc.type = joint->Element()->Get<std::string>("type");
    p.scope = prefix;
    p.parent_name = joint->ParentLinkName();
    p.child_name = joint->ChildLinkName();
    p.pose = to_pose(joint->RawPose());
    p.model_frame = frame;
    if (const sdf::JointAxis* axis = joint->Axis(0)) {
      p.xyz = to_vec(axis->Xyz());
      p.xyz_in_model = axis->XyzExpressedIn() == "__model__";
      p.desc.params.lower = axis->Lower();
      p.desc.params.upper = axis->Upper();
      p.desc.params.effort = axis->Effort() > 0 ? axis->Effort() : 1e9;
      p.desc.params.damping = axis->Damping();
    }
    if (p.desc.type == "continuous") {
      p.desc.params.lower = -1e16;
      p.desc.params.upper = 1e16;
    }
    joints.push_back(p);
  }
  for (uint64_t i = 0; i < model.ModelCount(); ++i) {
    const sdf::Model* nested = model.ModelByIndex(i);
    walk_model(*nested, prefix + nested->Name() + "::", frame * to_pose(nested->RawPose()), robot, link_index,
               joints);
  }
}

// Moment of inertia of the subtree hanging from `joint`'s child about the joint axis,
// all joints at zero [kg m^2].
double subtree_inertia(const RobotDesc& robot, const JointDesc& joint) {
  std::vector<int> stack{joint.child};
  std::vector<bool> seen(robot.links.size(), false);
  double inertia = 0.0;
  while (!stack.empty()) {
    const int k = stack.back();
    stack.pop_back();
    if (k < 0 || seen[k]) continue;
    seen[k] = true;
    const LinkDesc& l = robot.links[k];
    const Vec3 a = l.pose0.rot.rotate_reverse(joint.axis0);  // axis in link axes
    inertia += l.inertia_diag.x * a.x * a.x + l.inertia_diag.y * a.y * a.y + l.inertia_diag.z * a.z * a.z;
    const Vec3 r = l.pose0.transform(l.com) - joint.anchor0;
    const Vec3 perp = r - joint.axis0 * r.dot(joint.axis0);
    inertia += l.mass * perp.dot(perp);
    for (const JointDesc& j : robot.joints) {
      if (j.parent == k) stack.push_back(j.child);
    }
  }
  return std::max(inertia, 1e-7);
}

// The joints in tree order from `root` (parents before children, breadth first; joints
// tied to the world come first). A joint whose child is already placed while its parent
// is not is turned round; `turns` counts them. Joints not reached are left out.
std::vector<JointDesc> tree_order(std::vector<JointDesc> joints, size_t link_count, int root, size_t* turns) {
  std::vector<bool> placed(link_count, false);
  placed[root] = true;
  std::vector<bool> used(joints.size(), false);
  std::vector<JointDesc> order;
  *turns = 0;
  for (bool progress = true; progress;) {
    progress = false;
    for (size_t i = 0; i < joints.size(); ++i) {
      if (used[i]) continue;
      JointDesc& j = joints[i];
      const bool parent_placed = j.parent < 0 || placed[j.parent];
      if (!parent_placed && placed[j.child]) {
        std::swap(j.parent, j.child);
        j.axis0 = j.axis0 * -1.0;
        ++*turns;
      } else if (!parent_placed) {
        continue;
      }
      if (placed[j.child] && j.parent >= 0) continue;  // both ends placed: a loop, left out
      used[i] = progress = true;
      placed[j.child] = true;
      order.push_back(j);
    }
  }
  return order;
}

}  // namespace

RobotDesc load_robot(const std::string& path, const std::string& name) {
  sdf::Root root;
  const std::string errors = parser_errors(root.Load(path));
  if (!errors.empty()) fail("failed to read robot model \"" + path + "\": " + errors);
  const sdf::Model* model = root_model(root);
  if (!model) fail("no model in \"" + path + "\"");

  RobotDesc robot;
  robot.name = name.empty() ? model->Name() : name;
  std::map<std::string, int> link_index;
  std::vector<PendingJoint> pending;
  walk_model(*model, "", Pose(), robot, link_index, pending);
  if (robot.links.empty()) fail("robot model \"" + path + "\" has no links");

  std::vector<JointDesc> joints;
  std::vector<bool> is_child(robot.links.size(), false);
  for (PendingJoint& p : pending) {
    JointDesc& j = p.desc;
    const std::string model_prefix = model->Name() + "::";
    auto strip = [&](const std::string& n) {
      return n.compare(0, model_prefix.size(), model_prefix) == 0 ? n.substr(model_prefix.size()) : n;
    };
    j.parent = p.parent_name == "world" ? -1 : resolve_link(link_index, p.scope, strip(p.parent_name));
    j.child = resolve_link(link_index, p.scope, strip(p.child_name));
    if (j.child < 0 || (j.parent < 0 && p.parent_name != "world")) {
      fail("joint \"" + j.name + "\" names an unknown link (\"" + p.parent_name + "\" / \"" + p.child_name +
           "\")");
    }
    const Pose joint_frame = robot.links[j.child].pose0 * p.pose;
    j.anchor0 = joint_frame.pos;
    j.axis0 = (p.xyz_in_model ? p.model_frame.rot.rotate(p.xyz) : joint_frame.rot.rotate(p.xyz)).normalized();
    if (j.parent < 0) robot.fixed_to_world = true;
    is_child[j.child] = true;
    joints.push_back(j);
  }
  // The root is a link that no joint names as its child. A joint may name its links the
  // other way round from the tree seen from the root (a nested model's link can be a joint's
  // parent but, for sdformat, not its child): such a joint is turned round, its axis
  // negated so that its angle keeps its sense. Of several candidate roots, the one that
  // turns the fewest joints round wins (the first on a tie).
  std::vector<JointDesc> order;
  size_t best_turns = 0;
  for (size_t k = 0; k < robot.links.size(); ++k) {
    if (is_child[k]) continue;
    size_t turns = 0;
    const std::vector<JointDesc> o = tree_order(joints, robot.links.size(), static_cast<int>(k), &turns);
    if (o.size() != joints.size()) continue;
    if (robot.root < 0 || turns < best_turns) {
      robot.root = static_cast<int>(k);
      best_turns = turns;
      order = o;
    }
  }
  if (robot.root < 0) {
    const bool any_free = std::find(is_child.begin(), is_child.end(), false) != is_child.end();
    fail("robot model \"" + path + "\" " +
         (any_free ? "has joints not connected to its root link" : "has no root link (joint loop)"));
  }
  robot.joints = order;
  for (JointDesc& j : robot.joints) j.params.inertia = subtree_inertia(robot, j);

  const sdf::ElementPtr elem = model->Element();
  for (sdf::ElementPtr p = elem->HasElement("plugin") ? elem->GetElement("plugin") : nullptr; p;
       p = p->GetNextElement("plugin")) {
    robot.plugins.push_back({p->Get<std::string>("name"), p->Get<std::string>("filename")});
  }
  return robot;
}

WorldDesc load_world(const std::string& path) {
  sdf::Root root;
  const std::string errors = parser_errors(root.Load(path));
  if (!errors.empty()) fail("failed to read world \"" + path + "\": " + errors);
  if (root.WorldCount() < 1) fail("no world in \"" + path + "\"");
  const sdf::World* world = root.WorldByIndex(0);
  WorldDesc desc;
  desc.name = world->Name();
  desc.gravity = to_vec(world->Gravity());
  if (world->PhysicsCount() > 0) desc.max_step_size = world->PhysicsDefault()->MaxStepSize();
  if (const sdf::Scene* scene = world->Scene()) {
    desc.scene.sky = Rgb{scene->Background().R(), scene->Background().G(), scene->Background().B()};
    desc.scene.ambient = scene->Ambient().R();
  }
  for (uint64_t i = 0; i < world->LightCount(); ++i) {
    const sdf::Light* light = world->LightByIndex(i);
    if (light->Type() == sdf::LightType::DIRECTIONAL) {
      desc.scene.sun_dir = to_vec(light->Direction()).normalized();
      desc.scene.diffuse = light->Diffuse().R();
      break;
    }
  }
  std::function<void(const sdf::Model&, const Pose&)> add = [&](const sdf::Model& m, const Pose& frame) {
    const Pose model_pose = frame * to_pose(m.RawPose());
    for (uint64_t i = 0; i < m.LinkCount(); ++i) {
      const sdf::Link* link = m.LinkByIndex(i);
      const Pose link_pose = model_pose * to_pose(link->RawPose());
      for (const ShapeBox& s : link_shapes(*link)) {
        SceneBox box;
        box.pose = link_pose * s.pose;
        box.half = s.half;
        box.colour = s.colour;
        desc.scene.boxes.push_back(box);
      }
    }
    for (uint64_t i = 0; i < m.ModelCount(); ++i) add(*m.ModelByIndex(i), model_pose);
  };
  for (uint64_t i = 0; i < world->ModelCount(); ++i) add(*world->ModelByIndex(i), Pose());
  return desc;
}

void forward_kinematics(const RobotDesc& robot, const Pose& base, const std::vector<double>& q,
                        std::vector<Pose>& link_world) {
  link_world.resize(robot.links.size());
  link_world[robot.root] = base * robot.links[robot.root].pose0;
  for (size_t i = 0; i < robot.joints.size(); ++i) {
    const JointDesc& j = robot.joints[i];
    const Pose parent_world = j.parent >= 0 ? link_world[j.parent] : base;
    const Pose parent0 = j.parent >= 0 ? robot.links[j.parent].pose0 : Pose();
    const bool moves = j.type == "revolute" || j.type == "continuous";
    const double angle = moves && i < q.size() ? q[i] : 0.0;
    // Rotation about the axis through the anchor, in the model frame at zero angles.
    const Pose turn = Pose(j.anchor0, Quat::from_axis_angle(j.axis0, angle)) * Pose(-j.anchor0, Quat());
    link_world[j.child] = parent_world * parent0.inverse() * turn * robot.links[j.child].pose0;
  }
}

}  // namespace vesk_sim
