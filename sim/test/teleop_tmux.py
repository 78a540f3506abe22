#!/usr/bin/python3
# vesk_teleop as a person uses it: in a terminal (a tmux pane of a private tmux server),
# keys sent with send-keys, the screen read with capture-pane, the commands read on the
# robot's topics. Checks the help on screen, a drive key held for a while and released
# (velocity at the speed step, kept up while the key repeats, then one zero and silence),
# a speed step and a turn, the stop key, a neck key, and that the terminal is back in its
# normal mode after "q", Ctrl-C and SIGTERM.
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
import unittest

import roslib.packages
import rospy
import rostest
from geometry_msgs.msg import TwistStamped
from sensor_msgs.msg import JointState

WHEEL_SPEED_MAX = 0.4  # [m/s], net/include/vesk_net/records.h
WHEEL_TRACK = 0.164    # [m]
TIMEOUT = 20.0         # [s] longest wait for any one effect


def child_of(pid):
    """The process id of a child of `pid` (from /proc)."""
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            continue
        if entry.isdigit() and int(fields[1]) == pid:
            return int(entry)
    raise AssertionError("process %d has no child" % pid)


class Recorder:
    def __init__(self, topic, kind):
        self.lock = threading.Lock()
        self.msgs = []  # (arrival wall time, message)
        self.sub = rospy.Subscriber(topic, kind, self.on_msg, queue_size=1000)

    def on_msg(self, m):
        with self.lock:
            self.msgs.append((time.monotonic(), m))

    def count(self):
        with self.lock:
            return len(self.msgs)

    def since(self, n):
        with self.lock:
            return list(self.msgs[n:])


class TeleopTest(unittest.TestCase):
    def setUp(self):
        self.socket = "vesk_teleop_test_%d" % os.getpid()

    def tmux(self, *args):
        return subprocess.run(["tmux", "-f", "/dev/null", "-L", self.socket] + list(args),
                              check=True, capture_output=True, text=True).stdout

    def screen(self):
        return self.tmux("capture-pane", "-p", "-t", "teleop", "-S", "-100")

    def wait_for(self, what, condition):
        end = time.monotonic() + TIMEOUT
        while time.monotonic() < end:
            if condition():
                return
            time.sleep(0.02)
        self.fail("timed out waiting for %s; screen:\n%s" % (what, self.screen()))

    def wait_quiet(self, rec, seconds, after=0):
        """Waits until `rec` has had messages beyond the first `after` and then none for
        `seconds`; returns the messages beyond `after`."""
        end = time.monotonic() + TIMEOUT
        while time.monotonic() < end:
            msgs = rec.since(after)
            if msgs and time.monotonic() - msgs[-1][0] >= seconds:
                return msgs
            time.sleep(0.02)
        self.fail("the commands did not stop")

    def keys(self, *keys):
        self.tmux("send-keys", "-t", "teleop", *keys)

    def test_keys_drive_the_robot(self):
        if shutil.which("tmux") is None:
            print("teleop test skipped: tmux is not installed (scripts/apt-packages.txt)")
            return
        teleop = roslib.packages.find_node("vesk_sim", "vesk_teleop")
        self.assertTrue(teleop, "vesk_teleop not found")
        cmd = Recorder("/vesk/control/cmd_vel", TwistStamped)
        joints = Recorder("/vesk/control/kinematic_joints", JointState)
        # Three times the program, ended by "q", Ctrl-C and SIGTERM; after each the terminal's mode.
        script = ("for end in q ctrl-c term; do %s robot=vesk; echo \"teleop ended ($end) with $?\"; "
                  "stty -a | tr ' ' '\\n' | grep -x -e -icanon -e icanon -e -echo -e echo | "
                  "tr '\\n' ' '; echo; done; exec sleep 600") % teleop[0]
        self.tmux("new-session", "-d", "-s", "teleop", "-x", "120", "-y", "40", "bash", "-c", script)
        try:
            self.run_scenario(cmd, joints)
        finally:
            subprocess.run(["tmux", "-f", "/dev/null", "-L", self.socket, "kill-server"])

    def run_scenario(self, cmd, joints):
        self.wait_for("the help on screen", lambda: "q or Ctrl-C      quit" in self.screen())
        self.wait_for("the subscription", lambda: cmd.sub.get_num_connections() > 0 and
                      joints.sub.get_num_connections() > 0)
        step = 3 / 10.0  # the starting speed step

        # "w", repeated as a held key repeats, then released.
        for _ in range(10):
            self.keys("w")
            time.sleep(0.05)
        msgs = self.wait_quiet(cmd, 0.3)
        drive = [m for _, m in msgs if m.twist.linear.x != 0.0]
        self.assertGreaterEqual(len(drive), 10, "one velocity per tick while the key is held")
        self.assertLessEqual(len(drive), 100, "the velocity stops after the hold time")
        for m in drive:
            self.assertAlmostEqual(m.twist.linear.x, WHEEL_SPEED_MAX * step, places=6)
            self.assertEqual(m.twist.angular.z, 0.0)
        self.assertEqual(msgs[-1][1].twist.linear.x, 0.0, "one zero velocity at the end")
        self.assertIn("speed  3/10", self.screen())

        # One speed step up, then a left turn: on the spot.
        n = cmd.count()
        self.keys("+", "a")
        msgs = self.wait_quiet(cmd, 0.3, n)
        turn = [m for _, m in msgs if m.twist.angular.z != 0.0]
        self.assertTrue(turn)
        for m in turn:
            self.assertAlmostEqual(m.twist.angular.z, 2 * WHEEL_SPEED_MAX / WHEEL_TRACK * 0.4, places=5)
            self.assertEqual(m.twist.linear.x, 0.0)

        # Arrow down, then the stop key at once: a zero well before the hold time is over.
        n = cmd.count()
        self.keys("Down")
        self.wait_for("reverse", lambda: any(m.twist.linear.x < 0 for _, m in cmd.since(n)))
        self.keys("Space")
        msgs = self.wait_quiet(cmd, 0.3, n)
        self.assertEqual(msgs[-1][1].twist.linear.x, 0.0)
        stopped = msgs[-1][0] - msgs[0][0]
        print("teleop: backward then stop: %d messages over %.3f s" % (len(msgs), stopped))

        # A neck key: the four kinematic joints, yaw one step to the left.
        self.keys("j")
        self.wait_for("the neck command", lambda: joints.count() > 0)
        j = joints.since(0)[-1][1]
        self.assertEqual(list(j.name), ["tilt", "lift", "yaw", "pitch"])
        self.assertAlmostEqual(j.position[2], 0.08726646, places=6)

        # "q", then the second run ended by Ctrl-C and the third by SIGTERM: the terminal in its
        # normal mode each time.
        self.keys("q")
        self.wait_for("the end by q", lambda: "teleop ended (q) with 0" in self.screen())
        self.wait_for("the second start", lambda: self.screen().count("q or Ctrl-C      quit") >= 2)
        self.keys("C-c")
        self.wait_for("the end by Ctrl-C", lambda: "teleop ended (ctrl-c) with 0" in self.screen())
        self.wait_for("the third start", lambda: self.screen().count("q or Ctrl-C      quit") >= 3)
        shell = int(self.tmux("display-message", "-p", "-t", "teleop", "#{pane_pid}"))
        os.kill(child_of(shell), signal.SIGTERM)
        self.wait_for("the end by SIGTERM", lambda: "teleop ended (term) with 0" in self.screen())
        self.wait_for("the modes", lambda: self.screen().count("icanon echo") >= 3)
        self.assertNotIn("-icanon", self.screen())
        print(self.screen())


if __name__ == "__main__":
    rospy.init_node("teleop_test", anonymous=True)
    rostest.rosrun("vesk_sim", "teleop_tmux", TeleopTest, sys.argv)
