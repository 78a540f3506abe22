#!/usr/bin/python3
"""The robot's URDF (robot_description), taken from its Gazebo model.

    vesk_urdf.py [MODEL_SDF] [-o URDF]

Reads the model (default: models/vesk/model.sdf beside this script's package) and prints the
URDF, or writes it to URDF. The URDF's links are the frames the robot publishes on tf, with the
same names: base_link, body_link, neck_link, gimbal_link, head_link (joints "tilt", "lift",
"yaw", "pitch", the names of the joint state on sensors/kinematic_joints), the eye frames
head_cams, head_caml, head_camr with their optical frames, head_sonar, head_imu and body_imu.
Every other part of the model (wheels, ears, eyelids, tail, caster) has no frame of its own:
its visuals and collisions hang from the frame of the link it is jointed to, at the model's rest
pose (every joint at zero). Shapes, poses and colours all come from the model; this file only
says which model link or sensor each frame is.

Also a module: cliff_view.py reads the cliff sensors' poses through load_model().
"""

import argparse
import math
import os
import sys
import xml.etree.ElementTree as ET

# ---- rigid transforms: (R, t), R a 3x3 row-major rotation, t a translation [m] ----------


def rpy_matrix(roll, pitch, yaw):
    """Rotation of fixed-axis roll, pitch, yaw (x, then y, then z) [rad], as SDF and URDF."""
    cr, sr = math.cos(roll), math.sin(roll)
    cp, sp = math.cos(pitch), math.sin(pitch)
    cy, sy = math.cos(yaw), math.sin(yaw)
    return [[cy * cp, cy * sp * sr - sy * cr, cy * sp * cr + sy * sr],
            [sy * cp, sy * sp * sr + cy * cr, sy * sp * cr - cy * sr],
            [-sp, cp * sr, cp * cr]]


def matrix_rpy(r):
    """Roll, pitch, yaw [rad] of a rotation (the inverse of rpy_matrix)."""
    pitch = math.atan2(-r[2][0], math.hypot(r[0][0], r[1][0]))
    if abs(math.cos(pitch)) < 1e-9:  # gimbal lock: put it all in yaw
        return 0.0, pitch, math.atan2(-r[0][1], r[1][1])
    return math.atan2(r[2][1], r[2][2]), pitch, math.atan2(r[1][0], r[0][0])


def axis_matrix(axis, angle):
    """Rotation by angle [rad] about the unit axis."""
    x, y, z = axis
    c, s = math.cos(angle), math.sin(angle)
    v = 1.0 - c
    return [[c + x * x * v, x * y * v - z * s, x * z * v + y * s],
            [y * x * v + z * s, c + y * y * v, y * z * v - x * s],
            [z * x * v - y * s, z * y * v + x * s, c + z * z * v]]


def mat_mul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)] for i in range(3)]


def mat_vec(a, v):
    return [sum(a[i][k] * v[k] for k in range(3)) for i in range(3)]


def transpose(a):
    return [[a[j][i] for j in range(3)] for i in range(3)]


IDENTITY = ([[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]], [0.0, 0.0, 0.0])


def compose(a, b):
    """a then b: the pose b, given in a's frame, in a's parent frame."""
    return mat_mul(a[0], b[0]), [p + q for p, q in zip(mat_vec(a[0], b[1]), a[1])]


def inverse(a):
    rt = transpose(a[0])
    return rt, [-x for x in mat_vec(rt, a[1])]


def relative(parent, child):
    """The child's pose in the parent's frame, both given in one frame."""
    return compose(inverse(parent), child)


def rotation_angle(r, axis):
    """The angle [rad] of the rotation r about the unit axis (r's part about it)."""
    s = [r[2][1] - r[1][2], r[0][2] - r[2][0], r[1][0] - r[0][1]]
    c = r[0][0] + r[1][1] + r[2][2] - 1.0
    return math.atan2(sum(a * b for a, b in zip(s, axis)), c)


# ---- the model --------------------------------------------------------------------------


class ModelError(Exception):
    pass


def parse_pose(elem):
    """The <pose> child of elem as a transform (identity when there is none)."""
    p = elem.find('pose')
    if p is None or not (p.text or '').strip():
        return IDENTITY
    v = [float(x) for x in p.text.split()]
    if len(v) != 6:
        raise ModelError('pose of %s "%s" has %d numbers, not 6' % (elem.tag, elem.get('name'), len(v)))
    return rpy_matrix(v[3], v[4], v[5]), v[:3]


def unscoped(name):
    return name.split('::')[-1]


class Model:
    """The links (pose in the model frame), their visuals, collisions and sensors (pose in the
    link's frame), and the joints of one SDF model, nested models flattened."""

    def __init__(self, path):
        try:
            root = ET.parse(path).getroot()
        except (OSError, ET.ParseError) as e:
            raise ModelError('cannot read the model %s: %s' % (path, e))
        top = root.find('model')
        if top is None:
            raise ModelError('%s has no <model>' % path)
        self.name = top.get('name', 'vesk')
        self.links = {}   # name -> {'pose', 'visuals', 'collisions', 'sensors'}
        self.joints = {}  # name -> {'parent', 'child', 'axis', 'limit'}
        self._read(top, IDENTITY)

    def _read(self, model, frame):
        for link in model.findall('link'):
            name = link.get('name')
            if name in self.links:
                raise ModelError('link "%s" appears twice' % name)
            self.links[name] = {
                'pose': compose(frame, parse_pose(link)),
                'visuals': [self._shape(v) for v in link.findall('visual')],
                'collisions': [self._shape(c) for c in link.findall('collision')],
                'sensors': {s.get('name'): s for s in link.findall('sensor')},
            }
        for joint in model.findall('joint'):
            axis = joint.find('axis')
            xyz = [0.0, 0.0, 1.0]
            limit = {}
            if axis is not None:
                if axis.find('xyz') is not None:
                    xyz = [float(x) for x in axis.find('xyz').text.split()]
                lim = axis.find('limit')
                if lim is not None:
                    limit = {c.tag: float(c.text) for c in lim}
            norm = math.sqrt(sum(x * x for x in xyz))
            if norm == 0.0:
                raise ModelError('joint "%s" has a zero axis' % joint.get('name'))
            self.joints[joint.get('name')] = {
                'parent': unscoped(joint.find('parent').text.strip()),
                'child': unscoped(joint.find('child').text.strip()),
                'axis': [x / norm for x in xyz],
                'limit': limit,
            }
        for nested in model.findall('model'):
            self._read(nested, compose(frame, parse_pose(nested)))

    @staticmethod
    def _shape(elem):
        geometry = elem.find('geometry')
        shape = None
        for kind in ('box', 'cylinder', 'sphere'):
            g = geometry.find(kind) if geometry is not None else None
            if g is not None:
                if kind == 'box':
                    shape = ('box', [float(x) for x in g.find('size').text.split()])
                elif kind == 'cylinder':
                    shape = ('cylinder', float(g.find('radius').text), float(g.find('length').text))
                else:
                    shape = ('sphere', float(g.find('radius').text))
        if shape is None:
            raise ModelError('%s "%s": only boxes, cylinders and spheres are described' %
                             (elem.tag, elem.get('name')))
        colour = None
        material = elem.find('material')
        if material is not None:
            c = material.find('diffuse')
            if c is None:
                c = material.find('ambient')
            if c is not None:
                colour = [float(x) for x in c.text.split()]
        return {'name': elem.get('name'), 'pose': parse_pose(elem), 'shape': shape, 'colour': colour}

    def link(self, name):
        if name not in self.links:
            raise ModelError('the model has no link "%s"' % name)
        return self.links[name]

    def sensor_pose(self, link, sensor):
        """The pose of a sensor of a link in the model frame."""
        l = self.link(link)
        if sensor not in l['sensors']:
            raise ModelError('link "%s" has no sensor "%s"' % (link, sensor))
        return compose(l['pose'], parse_pose(l['sensors'][sensor]))

    def joint(self, name):
        if name not in self.joints:
            raise ModelError('the model has no joint "%s"' % name)
        return self.joints[name]


def load_model(path):
    return Model(path)


# ---- which model part each frame of the robot is ----------------------------------------

# The joint chain: (URDF joint, parent frame, child frame, model link of the child, model joint
# that turns it). The robot's body has no tilt joint in the model: it rests on its wheels and
# its caster, and its rest pitch is the tilt. base_link is the model frame: on the floor under
# the wheel axle, at the model's rest pose.
CHAIN = [
    ('tilt', 'base_link', 'body_link', 'body', None),
    ('lift', 'body_link', 'neck_link', 'neck', 'body_neck'),
    ('yaw', 'neck_link', 'gimbal_link', 'gmbl', 'neck_gmbl'),
    ('pitch', 'gimbal_link', 'head_link', 'head', 'gmbl_head'),
]
TILT_AXIS = [0.0, 1.0, 0.0]  # the body tilts about the wheel axle

# Sensor frames: (frame, parent frame, model link, sensor, turn from the sensor's frame to the
# robot's). A sonar measures along -z of its sensor frame, the robot's sonar frame along +x.
SONAR_TURN = rpy_matrix(0.0, math.pi / 2, 0.0)
SENSOR_FRAMES = [
    ('head_sonar', 'head_link', 'head', 'sonar', SONAR_TURN),
    ('head_imu', 'head_link', 'head', 'acc_head', None),
    ('body_imu', 'body_link', 'body', 'acc_body', None),
]

# The eyes: head_cams lies midway between the two eye cameras, each eye turned from it about its
# z axis; head_caml and head_camr are the eye cameras (x forward, as a Gazebo camera looks).
EYES = ('head_cams', 'head_link', 'head', 'eye_l', 'eye_r', 'head_caml', 'head_camr')
# A camera's optical frame: z forward, x right, y down.
OPTICAL_TURN = rpy_matrix(-math.pi / 2, 0.0, -math.pi / 2)


class Robot:
    """The URDF's frames (pose in the model frame at rest) and joints."""

    def __init__(self, model):
        self.model = model
        self.frames = {'base_link': IDENTITY}
        self.joints = []  # (name, type, parent, child, origin, axis, limit)
        self.frame_of_link = {}
        for name, parent, child, link, joint in CHAIN:
            pose = model.link(link)['pose']
            origin = relative(self.frames[parent], pose)
            if joint is None:
                # The rest pitch is the joint's angle, not part of the joint's origin.
                angle = rotation_angle(origin[0], TILT_AXIS)
                origin = (mat_mul(origin[0], axis_matrix(TILT_AXIS, -angle)), origin[1])
                self.joints.append((name, 'continuous', parent, child, origin, TILT_AXIS, {}))
            else:
                j = model.joint(joint)
                if j['child'] == link:
                    axis = j['axis']
                elif j['parent'] == link:  # the model names the joint the other way round
                    axis = [-x for x in j['axis']]
                else:
                    raise ModelError('joint "%s" does not hold link "%s"' % (joint, link))
                self.joints.append((name, 'revolute', parent, child, origin, axis, j['limit']))
            self.frames[child] = pose
            self.frame_of_link[link] = child

        cams, parent, link, left, right, caml, camr = EYES
        pl = model.sensor_pose(link, left)
        pr = model.sensor_pose(link, right)
        turn = mat_mul(transpose(pl[0]), pr[0])  # from the left eye to the right: about z
        half = 0.5 * rotation_angle(turn, [0.0, 0.0, 1.0])
        centre = (mat_mul(pl[0], axis_matrix([0.0, 0.0, 1.0], half)),
                  [0.5 * (a + b) for a, b in zip(pl[1], pr[1])])
        self._fixed(cams, parent, centre)
        self._fixed(caml, cams, pl)
        self._fixed(camr, cams, pr)
        for eye in (caml, camr):
            p = self.frames[eye]
            self._fixed(eye + '_optical', eye, (mat_mul(p[0], OPTICAL_TURN), p[1]))

        for frame, parent, link, sensor, turn in SENSOR_FRAMES:
            p = model.sensor_pose(link, sensor)
            if turn is not None:
                p = (mat_mul(p[0], turn), p[1])
            self._fixed(frame, parent, p)

    def _fixed(self, frame, parent, pose):
        self.joints.append((parent + '_' + frame, 'fixed', parent, frame,
                            relative(self.frames[parent], pose), None, {}))
        self.frames[frame] = pose

    def frame_for(self, link):
        """The frame a model link's shapes hang from: its own, or that of the link it is jointed
        to (following the joints toward the chain)."""
        seen = set()
        while link not in self.frame_of_link:
            if link in seen:
                raise ModelError('link "%s" is not jointed to the body chain' % link)
            seen.add(link)
            parents = [j['parent'] for j in self.model.joints.values() if j['child'] == link]
            if not parents:
                raise ModelError('link "%s" is not jointed to the body chain' % link)
            link = parents[0]
        return self.frame_of_link[link]


# ---- URDF text --------------------------------------------------------------------------


def num(x):
    # The model gives its poses to the micrometre and microradian: so does the URDF, without the
    # rounding noise of composing them.
    x = round(x, 6)
    return '%.9g' % (0.0 if x == 0.0 else x)


def nums(v):
    return ' '.join(num(x) for x in v)


def origin_element(parent, pose):
    r, t = pose
    return ET.SubElement(parent, 'origin', xyz=nums(t), rpy=nums(matrix_rpy(r)))


def geometry_element(parent, shape):
    g = ET.SubElement(parent, 'geometry')
    if shape[0] == 'box':
        ET.SubElement(g, 'box', size=nums(shape[1]))
    elif shape[0] == 'cylinder':
        ET.SubElement(g, 'cylinder', radius=num(shape[1]), length=num(shape[2]))
    else:
        ET.SubElement(g, 'sphere', radius=num(shape[1]))


def urdf_text(model, source):
    robot = Robot(model)
    root = ET.Element('robot', name=model.name)
    links = {f: ET.SubElement(root, 'link', name=f) for f in robot.frames}
    for link_name in sorted(model.links):
        link = model.links[link_name]
        frame = robot.frame_for(link_name)
        to_frame = relative(robot.frames[frame], link['pose'])
        for tag, shapes in (('visual', link['visuals']), ('collision', link['collisions'])):
            for s in shapes:
                name = s['name'] if s['name'].startswith(link_name) else link_name + '_' + s['name']
                e = ET.SubElement(links[frame], tag, name=name)
                origin_element(e, compose(to_frame, s['pose']))
                geometry_element(e, s['shape'])
                if tag == 'visual' and s['colour'] is not None:
                    rgba = (s['colour'] + [1.0] * 4)[:4]
                    m = ET.SubElement(e, 'material', name='rgba_' + '_'.join(num(x) for x in rgba))
                    ET.SubElement(m, 'color', rgba=nums(rgba))
    for name, kind, parent, child, origin, axis, limit in robot.joints:
        j = ET.SubElement(root, 'joint', name=name, type=kind)
        ET.SubElement(j, 'parent', link=parent)
        ET.SubElement(j, 'child', link=child)
        origin_element(j, origin)
        if axis is not None:
            ET.SubElement(j, 'axis', xyz=nums(axis))
        if kind == 'revolute':
            ET.SubElement(j, 'limit', lower=num(limit.get('lower', -math.pi)),
                          upper=num(limit.get('upper', math.pi)),
                          effort=num(limit.get('effort', 0.0)),
                          velocity=num(limit.get('velocity', 0.0)))
    indent(root)
    head = ('<?xml version="1.0"?>\n<!-- The vesk robot, made by vesk_urdf.py from %s: edit the '
            'model, not this file. -->\n' % os.path.basename(source))
    return head + ET.tostring(root, encoding='unicode') + '\n'


def indent(elem, level=0):
    pad = '\n' + '  ' * level
    if len(elem):
        elem.text = pad + '  '
        for child in elem:
            indent(child, level + 1)
        child.tail = pad
    if level and not (elem.tail or '').strip():
        elem.tail = pad


def default_model():
    here = os.path.dirname(os.path.realpath(__file__))
    for d in (os.path.join(here, '..'), here):
        p = os.path.join(d, 'models', 'vesk', 'model.sdf')
        if os.path.exists(p):
            return os.path.normpath(p)
    return os.path.join(here, '..', 'models', 'vesk', 'model.sdf')


def main(argv):
    ap = argparse.ArgumentParser(description='Prints the URDF of the vesk robot from its model.')
    ap.add_argument('model', nargs='?', default=None, help='model.sdf (default: the package\'s)')
    ap.add_argument('-o', '--output', help='write the URDF to this file')
    # roslaunch passes its own arguments (__name:=, __log:=) to a node; none reach here from a
    # <param command=...>, but ignore them if they do.
    args = ap.parse_args([a for a in argv if ':=' not in a])
    path = args.model or default_model()
    try:
        text = urdf_text(load_model(path), path)
    except ModelError as e:
        # Standard output carries the URDF (roslaunch reads it): the error goes to the console's
        # error stream, where roslaunch shows it.
        sys.stderr.write('[ERROR] %s\n' % e)
        return 1
    if args.output:
        os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
        tmp = args.output + '.tmp'
        with open(tmp, 'w') as f:
            f.write(text)
        os.replace(tmp, args.output)
    else:
        sys.stdout.write(text)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
