#!/usr/bin/python3
"""approach: drive toward what the head's sonar sees and stop in front of it.

Sensors in, commands out. The robot sends all its readings of one platform tick in one
sensors package (vesk2_msg/sensors_package, 50 per second); this node answers each one
with a velocity on "control/cmd_vel": ahead at `speed` while the sonar sees nothing
nearer than `stop` plus a slowing-down stretch, slower within it, standing at `stop`.
The head, which holds the sonar, is raised to look ahead ("control/kinematic_joints"):
in its default pose the sonar sees the floor 0.3 m in front of the robot.
When the node ends the robot stops by itself: the platform lets a velocity lapse 0.2 s
after the last one.

    rosrun vesk_examples approach.py [robot=NAME] [stop=0.25] [speed=0.15]
"""
import math
import os

import rospy
from geometry_msgs.msg import TwistStamped
from sensor_msgs.msg import JointState
from vesk2_msg.msg import sensors_package

SLOW_DOWN = 0.2  # [m] before the stop distance: down to a fifth of the speed
ARRIVED = 0.01  # [m] this close to the stop distance the robot stands
LOOK_AHEAD = [-0.10471976, 0.3, 0.0, -0.3]  # [rad] tilt (fixed), lift, yaw, pitch


def main():
    args = dict(a.split("=", 1) for a in rospy.myargv()[1:] if "=" in a)
    robot = args.get("robot", os.environ.get("VESK_ROBOT_NAME") or "vesk")
    stop = float(args.get("stop", 0.25))  # [m] sonar reading to stand at
    speed = float(args.get("speed", 0.15))  # [m/s]
    rospy.init_node(robot + "_approach")
    cmd_vel = rospy.Publisher("/%s/control/cmd_vel" % robot, TwistStamped, queue_size=1)
    neck = rospy.Publisher("/%s/control/kinematic_joints" % robot, JointState, queue_size=1)
    cmd = TwistStamped()
    head = JointState(name=["tilt", "lift", "yaw", "pitch"], position=LOOK_AHEAD)

    def on_package(package):
        sonar = package.sonar  # sensor_msgs/Range
        distance = sonar.range
        if not math.isfinite(distance) or distance >= sonar.max_range:
            distance = sonar.max_range  # nothing in range
        gap = distance - stop
        cmd.header.stamp = package.header.stamp
        cmd.twist.linear.x = 0.0 if gap < ARRIVED else speed * min(1.0, max(gap / SLOW_DOWN, 0.2))
        cmd_vel.publish(cmd)
        head.header.stamp = package.header.stamp
        neck.publish(head)  # the platform holds it; sent again in case it came too early

    rospy.Subscriber("/%s/sensors/package" % robot, sensors_package, on_package, queue_size=1,
                     tcp_nodelay=True)
    rospy.loginfo("approach: robot \"%s\", stopping %.2f m from what the sonar sees", robot, stop)
    rospy.spin()


if __name__ == "__main__":
    main()
