#!/usr/bin/python3
"""Shows the robot's two cliff sensors in RViz.

    rosrun vesk_sim cliff_view.py [_robot:=vesk] [_frame_prefix:=] [_model:=MODEL_SDF]

The robot publishes its cliff readings on "sensors/cliff" (std_msgs/Float32MultiArray: left,
right; 1.0 when the floor is near, smaller as it falls away: the sensor's code over 15, where
the code is the inverse of the measured distance in metres) and has no tf frame for the
sensors. This node draws each reading as an arrow in the body frame, from the sensor along the
direction it looks (both taken from the robot's model), as long as the distance the reading
stands for (at most the sensor's range), coloured by what the wheels' cliff reflex makes of it:
green where the wheel on that side drives forward freely, yellow where the reflex slows it and
red where it stops it. Published on "view/cliff" (visualization_msgs/MarkerArray).
"""

import math
import os
import sys

import rospy
from geometry_msgs.msg import Point
from std_msgs.msg import ColorRGBA, Float32MultiArray
from visualization_msgs.msg import Marker, MarkerArray

sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
import vesk_urdf  # noqa: E402  (beside this script)

SENSORS = ('cliff_l', 'cliff_r')  # the model's sensors, in the order of the readings
BODY_LINK = 'body'                # the model link that is the frame body_link
CODE_MAX = 15.0                   # a reading is the sensor's code over 15
REFLEX_STOP = 4.0                 # code at or under which the reflex stops forward motion
REFLEX_FREE = 12.0                # code from which the reflex leaves it alone


def sensor_rays(model):
    """Each cliff sensor's position and looking direction (its -z) in body_link, and its range."""
    body = model.link(BODY_LINK)
    rays = []
    for name in SENSORS:
        r, t = vesk_urdf.relative(body['pose'], model.sensor_pose(BODY_LINK, name))
        sonar = body['sensors'][name].find('sonar')
        reach = float(sonar.find('max').text) if sonar is not None and sonar.find('max') is not None else 0.2
        rays.append((t, [-r[0][2], -r[1][2], -r[2][2]], reach))
    return rays


def reflex_colour(code):
    """Green (free), through yellow, to red (stopped), as the reflex's factor on forward speed."""
    f = min(max((code - REFLEX_STOP) / (REFLEX_FREE - REFLEX_STOP), 0.0), 1.0)
    return ColorRGBA(min(1.0, 2.0 * (1.0 - f)), min(1.0, 2.0 * f), 0.0, 1.0)


class CliffView:
    def __init__(self):
        robot = rospy.get_param('~robot', os.environ.get('VESK_ROBOT_NAME', 'vesk'))
        self.frame = rospy.get_param('~frame_prefix', '') + 'body_link'
        model = rospy.get_param('~model', vesk_urdf.default_model())
        self.rays = sensor_rays(vesk_urdf.load_model(model))
        self.pub = rospy.Publisher('/%s/view/cliff' % robot, MarkerArray, queue_size=1)
        rospy.Subscriber('/%s/sensors/cliff' % robot, Float32MultiArray, self.on_cliff, queue_size=1)

    def on_cliff(self, msg):
        if len(msg.data) != len(self.rays):
            rospy.logwarn_throttle(10.0, 'cliff_view: %d cliff readings, not %d' % (len(msg.data), len(self.rays)))
            return
        out = MarkerArray()
        for i, ((p, d, reach), value) in enumerate(zip(self.rays, msg.data)):
            if not math.isfinite(value):
                continue
            code = value * CODE_MAX
            length = min(reach, 1.0 / code) if code > 0.0 else reach
            m = Marker()
            m.header.frame_id = self.frame
            m.ns = 'cliff'
            m.id = i
            m.type = Marker.ARROW
            m.action = Marker.ADD
            m.pose.orientation.w = 1.0
            m.points = [Point(*p), Point(*[a + length * b for a, b in zip(p, d)])]
            m.scale.x, m.scale.y, m.scale.z = 0.006, 0.012, 0.012  # shaft, head width, head length
            m.color = reflex_colour(code)
            m.lifetime = rospy.Duration(1.0)
            out.markers.append(m)
        self.pub.publish(out)


def main():
    rospy.init_node('cliff_view')
    try:
        CliffView()
    except vesk_urdf.ModelError as e:
        sys.stderr.write('[ERROR] %s\n' % e)
        return 1
    rospy.spin()
    return 0


if __name__ == '__main__':
    sys.exit(main())
