#!/usr/bin/python3
# Watches the simulated robot's ground truth ("sensors/body_pose") while an example drives it
# and passes once the robot stands (less than ~still_move~ metres over ~still_time~ simulated
# seconds) within ~within~ metres of (~goal_x~, ~goal_y~), having come at least ~travel~
# metres from where it started, and, with ~face~ true, facing the goal within ~face_within~ rad.
# With ~sonar~ set, the sonar ("sensors/sonar") must also read ~sonar~ within ~sonar_within~ m.
# Fails when ~timeout~ simulated seconds pass first.
import math
import sys
import threading
import unittest

import rospy
import rostest
from geometry_msgs.msg import Pose2D
from sensor_msgs.msg import Range


class Arrival(unittest.TestCase):
    def test_arrives(self):
        p = lambda name, default=None: rospy.get_param("~" + name, default)
        goal = (p("goal_x"), p("goal_y"))
        within, travel, timeout = p("within"), p("travel"), p("timeout", 20.0)
        still_time, still_move = p("still_time", 1.0), p("still_move", 0.005)
        robot = p("robot", "vesk")
        face, face_within = p("face", False), p("face_within", 0.3)
        sonar_want, sonar_within = p("sonar", None), p("sonar_within", 0.02)
        sonar = [float("nan")]
        lock = threading.Lock()
        poses = []  # (simulated time, x, y, theta)

        def on_pose(m):
            with lock:
                poses.append((rospy.get_time(), m.x, m.y, m.theta))

        def on_sonar(m):
            sonar[0] = m.range

        rospy.Subscriber("/%s/sensors/body_pose" % robot, Pose2D, on_pose, queue_size=100)
        rospy.Subscriber("/%s/sensors/sonar" % robot, Range, on_sonar, queue_size=1)
        start = None
        trace = []  # one pose per simulated second, printed
        while not rospy.is_shutdown():
            with lock:
                seen = list(poses)
            if seen:
                if start is None:
                    start = seen[0]
                    print("start: x %.3f y %.3f theta %.3f" % start[1:])
                now = seen[-1]
                if now[0] - start[0] >= len(trace):
                    trace.append(now)
                    print("%5.1f s: x %.3f y %.3f theta %.3f" % (now[0] - start[0], now[1], now[2], now[3]))
                recent = [q for q in seen if q[0] >= now[0] - still_time]
                moved = max(math.hypot(q[1] - now[1], q[2] - now[2]) for q in recent)
                away = math.hypot(now[1] - start[1], now[2] - start[2])
                off = math.hypot(now[1] - goal[0], now[2] - goal[1])
                bearing = math.atan2(goal[1] - now[2], goal[0] - now[1]) - now[3]
                bearing = math.atan2(math.sin(bearing), math.cos(bearing))
                facing = not face or abs(bearing) <= face_within
                sonar_ok = sonar_want is None or abs(sonar[0] - sonar_want) <= sonar_within
                if (now[0] - start[0] >= still_time and moved < still_move and away >= travel and
                        off <= within and facing and sonar_ok):
                    print("arrived after %.2f simulated s: x %.3f y %.3f theta %.3f, %.3f m from the "
                          "goal (bearing %.3f rad), %.3f m from the start, sonar %.3f m" %
                          (now[0] - start[0], now[1], now[2], now[3], off, bearing, away, sonar[0]))
                    return
                if now[0] - start[0] > timeout:
                    self.fail("after %.1f simulated s the robot is at x %.3f y %.3f, %.3f m from the goal "
                              "(at most %.3f) at bearing %.3f rad, %.3f m from the start (at least %.3f), moved %.4f "
                              "m in the last %.1f s, sonar %.3f m" % (timeout, now[1], now[2], off, within, bearing,
                                                                     away, travel, moved, still_time, sonar[0]))
            rospy.sleep(0.1) if seen else rospy.rostime.wallsleep(0.05)


if __name__ == "__main__":
    rospy.init_node("check_arrival")
    rostest.rosrun("vesk_examples", "check_arrival", Arrival, sys.argv)
