#!/usr/bin/python3
# The robot description against the running robot (description.test): check_urdf accepts the
# URDF the build made, /robot_description is that URDF, every link of it is a frame the robot
# publishes on tf and every frame the robot publishes below base_link is a link, and each
# joint's origin is the transform the robot publishes (fixed joints: the whole transform;
# moving joints: the translation, and a rotation about the joint's axis only). Then the cliff
# sensors' markers: two arrows in body_link, pointing down to the floor the robot stands on.
import math
import os
import shutil
import subprocess
import time
import unittest
import xml.etree.ElementTree as ET

import rospy
import rostest
import tf2_ros
import yaml
from visualization_msgs.msg import Marker, MarkerArray

WAIT_S = 40.0     # longest wait for anything (wall clock)
TOL_M = 1e-5      # translation [m]
TOL_RAD = 1e-4    # rotation [rad]


def q_mul(a, b):
    ax, ay, az, aw = a
    bx, by, bz, bw = b
    return (aw * bx + ax * bw + ay * bz - az * by, aw * by - ax * bz + ay * bw + az * bx,
            aw * bz + ax * by - ay * bx + az * bw, aw * bw - ax * bx - ay * by - az * bz)


def q_conj(q):
    return (-q[0], -q[1], -q[2], q[3])


def q_rpy(r, p, y):
    cr, sr = math.cos(r / 2), math.sin(r / 2)
    cp, sp = math.cos(p / 2), math.sin(p / 2)
    cy, sy = math.cos(y / 2), math.sin(y / 2)
    return (sr * cp * cy - cr * sp * sy, cr * sp * cy + sr * cp * sy,
            cr * cp * sy - sr * sp * cy, cr * cp * cy + sr * sp * sy)


def q_angle(q):
    """The rotation angle of a unit quaternion [rad], 0 .. pi."""
    return 2.0 * math.atan2(math.sqrt(q[0] ** 2 + q[1] ** 2 + q[2] ** 2), abs(q[3]))


def floats(text):
    return [float(x) for x in text.split()]


class Description(unittest.TestCase):
    urdf_path = None

    def test_description(self):
        with open(self.urdf_path) as f:
            built = f.read()
        check = shutil.which('check_urdf')
        if check:
            out = subprocess.run([check, self.urdf_path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                 universal_newlines=True, timeout=30)
            self.assertEqual(out.returncode, 0, out.stdout)
            self.assertIn('Successfully Parsed', out.stdout)
        else:
            print('check_urdf is not installed (liburdfdom-tools): that check is skipped')
        self.assertEqual(rospy.get_param('/robot_description'), built,
                         '/robot_description is not the URDF the build made from the same model')

        robot = ET.fromstring(built)
        links = [l.get('name') for l in robot.findall('link')]
        joints = robot.findall('joint')

        buf = tf2_ros.Buffer()
        tf2_ros.TransformListener(buf)
        deadline = time.time() + WAIT_S
        missing = links
        while missing and time.time() < deadline:
            missing = [l for l in links if not buf.can_transform('base_link', l, rospy.Time(0))]
            time.sleep(0.2)
        self.assertEqual(missing, [], 'links that are no frame of the robot\'s tf tree')

        parents = {c: v['parent'] for c, v in yaml.safe_load(buf.all_frames_as_yaml()).items()}

        def below_base(f):
            while f in parents:
                f = parents[f]
                if f == 'base_link':
                    return True
            return False
        published = sorted(f for f in parents if below_base(f))
        self.assertEqual(sorted(set(links) - {'base_link'}), published)

        for j in joints:
            name, kind = j.get('name'), j.get('type')
            parent, child = j.find('parent').get('link'), j.find('child').get('link')
            self.assertEqual(parents[child], parent, name)
            origin = j.find('origin')
            xyz, rpy = floats(origin.get('xyz')), floats(origin.get('rpy'))
            t = buf.lookup_transform(parent, child, rospy.Time(0)).transform
            got = (t.translation.x, t.translation.y, t.translation.z)
            for a, b in zip(got, xyz):
                self.assertAlmostEqual(a, b, delta=TOL_M, msg='%s: translation %s, URDF %s' % (name, got, xyz))
            rest = q_mul(q_conj(q_rpy(*rpy)), (t.rotation.x, t.rotation.y, t.rotation.z, t.rotation.w))
            if kind == 'fixed':
                self.assertLess(q_angle(rest), TOL_RAD, '%s: rotation differs from the URDF' % name)
            else:
                # origin * rotation(axis, q): what is left turns about the axis only.
                axis = floats(j.find('axis').get('xyz'))
                off_axis = [r - sum(a * b for a, b in zip(rest[:3], axis)) * a for r, a in zip(rest[:3], axis)]
                self.assertLess(math.sqrt(sum(x * x for x in off_axis)), TOL_RAD / 2,
                                '%s: turns about another axis than %s' % (name, axis))

    def test_cliff_markers(self):
        got = []
        sub = rospy.Subscriber('/vesk/view/cliff', MarkerArray, lambda m: got.append(m), queue_size=1)
        deadline = time.time() + WAIT_S
        while not got and time.time() < deadline:
            time.sleep(0.1)
        sub.unregister()
        self.assertTrue(got, 'no cliff markers on /vesk/view/cliff')
        markers = got[-1].markers
        self.assertEqual(len(markers), 2)
        for m in markers:
            self.assertEqual((m.type, m.header.frame_id), (Marker.ARROW, 'body_link'))
            start, end = m.points
            length = math.dist((start.x, start.y, start.z), (end.x, end.y, end.z))
            self.assertLess(end.z, start.z, 'a cliff arrow does not point down')
            self.assertTrue(0.005 < length < 0.1, 'cliff arrow %.3f m long on the floor' % length)
            self.assertGreater(m.color.g, m.color.r, 'the floor under the robot shows as a cliff')


def built_urdf():
    """The URDF the build made: share/vesk_sim/urdf/vesk.urdf in the first workspace that has it."""
    for prefix in os.environ.get('CMAKE_PREFIX_PATH', '').split(os.pathsep):
        p = os.path.join(prefix, 'share', 'vesk_sim', 'urdf', 'vesk.urdf')
        if prefix and os.path.exists(p):
            return p
    raise RuntimeError('no share/vesk_sim/urdf/vesk.urdf in CMAKE_PREFIX_PATH (workspace not built?)')


if __name__ == '__main__':
    Description.urdf_path = built_urdf()
    rospy.init_node('description_check', anonymous=True)
    rostest.rosrun('vesk_sim', 'description', Description)
