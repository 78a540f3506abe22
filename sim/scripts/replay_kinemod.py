#!/usr/bin/python3
"""Replays a recorded run into a fresh kinemod and checks that it answers as it did then.

    replay_kinemod.py BAG [robot=vesk]

Start a ROS master and kinemod (robot=NAME) first, with no robot or simulator: this
program is the robot and the pushing node. It reads BAG (record.launch) with rosbag's
Python API and feeds kinemod, one message at a time, the inputs it had in the recording,
in the order in which it took them, waiting for each answer:

- kinemod numbers its passes with one counter that the headers of "control/cmd_vel"
  and "control/kinematic_joints" carry (header.seq), so the recorded answers, sorted
  by it, are its passes in order: a cmd_vel answers a push, a joint report answers a
  sensors package. (Joint passes while it was asleep published nothing; they change
  nothing either.)
- A cmd_vel answered one push. While kinemod is awake it spins every millisecond and
  answers each push before the next arrives: the cmd_vel answered the oldest push not yet
  answered. While asleep it spins every 100 ms, and its subscription keeps only the newest
  message: of the pushes that arrived meanwhile, only the newest was applied. Asleep, it
  still counts the sensors packages it does not answer, so a gap in the counter before a
  cmd_vel shows that kinemod slept since its previous answer: that cmd_vel answered the
  last push written into the bag before it. (The order in which the recorder wrote the
  messages is read from rosbag's index: the stamps are the recorder's clock, the simulated
  one in simulation, too coarse to order a push and its answer, and rosbag's reading API
  orders by stamp.) The pushes skipped are not replayed. Pushes come once per tick and
  kinemod answers within a few milliseconds awake, so the oldest-unanswered rule holds
  unless kinemod falls behind by a whole tick; the test records at a real-time factor of
  0.25 (a push every 80 ms of wall time) to leave it the time on a loaded machine.
- A joint report answered a sensors package: the last one recorded before it is sent.

"Equal" is exact: the replayed answers, in order, have the recorded values bit for bit
(cmd_vel: all six twist components and the frame id; joint reports: the names and the
four positions, no velocities or efforts). Stamps and sequence numbers are not compared,
the replay running on wall time at its own pace. Joint reports before the first push
are not compared: kinemod reports joints only while awake, in its first half second
and then up to half a second after a push, which the replay cannot reproduce before a
push. Deferred pushes and resets, which the replay cannot order against an answer, end
it with an error. Exit status: 0 when every answer is equal, 1 otherwise.
"""
import sys
import threading
import time

import rosbag
import rospy
from geometry_msgs.msg import TwistStamped
from sensor_msgs.msg import JointState
from vesk2_msg.msg import push as Push
from vesk2_msg.msg import sensors_package

ANSWER_TIMEOUT = 5.0  # [s] longest wait for one answer of kinemod
PUSH_FLAG_DEFER = 0x20  # kinemod's push flag: queue without a processing pass


def fail(message):
    print("[ERROR] " + message)
    sys.exit(1)


def read_in_order(bag, topics):
    """The messages of `topics` in the order the recorder wrote them: (topic, message, header)."""
    connections = list(bag._get_connections(topics))
    entries = sorted((e.position for index in bag._get_indexes(connections) for e in index))
    for position in entries:
        topic, msg, _, header = bag._read_message(position, False, True)
        yield topic, msg, header


def read_bag(path, robot):
    """The inputs (pushes, packages) and kinemod's answers in the bag's order; the answers
    sorted by kinemod's counter."""
    base = "/%s/" % robot
    node = "/%s_kinemod" % robot
    inputs, answers = [], []
    with rosbag.Bag(path) as bag:
        topics = [base + t for t in ("core/mpg/push", "core/mpg/reset", "sensors/package",
                                     "control/cmd_vel", "control/kinematic_joints")]
        for order, (topic, msg, header) in enumerate(read_in_order(bag, topics)):
            kind = topic[len(base):]
            if kind == "core/mpg/reset":
                fail("the recording holds a reset, which the replay cannot order")
            if kind in ("core/mpg/push", "sensors/package"):
                inputs.append((order, kind, msg))
            elif header.get("callerid") in (node, node.encode()):
                answers.append((msg.header.seq, order, kind, msg))
    answers.sort(key=lambda a: a[0])
    return inputs, answers


def plan(inputs, answers):
    """The replay: (input topic, input, answer topic, recorded answer) in kinemod's order."""
    pushes = [(o, m) for o, k, m in inputs if k == "core/mpg/push"]
    packages = [(o, m) for o, k, m in inputs if k == "sensors/package"]
    steps, skipped, used, previous = [], 0, -1, None  # used: index of the last push applied
    for seq, order, kind, msg in answers:
        slept = previous is None or seq - previous > 1
        previous = seq
        if kind == "control/cmd_vel":
            newest = max((i for i in range(used + 1, len(pushes)) if pushes[i][0] < order), default=None)
            used = newest if slept and newest is not None else used + 1
            if used >= len(pushes):
                fail("cmd_vel %d answers no recorded push (recording started late?)" % seq)
            if pushes[used][1].flags & PUSH_FLAG_DEFER:
                fail("the recording holds a deferred push, which the replay cannot order")
            steps.append(("core/mpg/push", pushes[used][1], kind, msg))
        elif used < 0:
            skipped += 1
        else:
            before = [p for p in packages if p[0] < order]
            if not before:
                fail("joint report %d answers no recorded package" % seq)
            steps.append(("sensors/package", before[-1][1], kind, msg))
    return steps, skipped


class Kinemod:
    """kinemod's two answers as they come."""

    def __init__(self, base):
        self.cond = threading.Condition()
        self.answers = []
        self.subs = [rospy.Subscriber(base + t, c, self.on_answer, callback_args=t, queue_size=100,
                                      tcp_nodelay=True)
                     for t, c in (("control/cmd_vel", TwistStamped),
                                  ("control/kinematic_joints", JointState))]

    def on_answer(self, msg, kind):
        with self.cond:
            self.answers.append(("control/" + kind.split("/")[-1], msg))
            self.cond.notify_all()

    def next(self, n):
        with self.cond:
            if not self.cond.wait_for(lambda: len(self.answers) > n, ANSWER_TIMEOUT):
                return None
            return self.answers[n]


def equal(kind, got, want):
    if kind == "control/cmd_vel":
        g, w = got.twist, want.twist
        return (got.header.frame_id == want.header.frame_id and
                (g.linear.x, g.linear.y, g.linear.z, g.angular.x, g.angular.y, g.angular.z) ==
                (w.linear.x, w.linear.y, w.linear.z, w.angular.x, w.angular.y, w.angular.z))
    return (list(got.name) == list(want.name) and list(got.position) == list(want.position) and
            list(got.velocity) == list(want.velocity) and list(got.effort) == list(want.effort))


def main():
    argv = rospy.myargv()[1:]
    if not argv or argv[0] in ("help", "-h", "--help"):
        print(__doc__)
        return 0 if argv else 2
    robot = "vesk"
    for a in argv[1:]:
        if a.startswith("robot="):
            robot = a[len("robot="):]
        else:
            fail("unrecognised argument \"%s\"" % a)
    inputs, answers = read_bag(argv[0], robot)
    steps, skipped = plan(inputs, answers)
    pushes = sum(1 for s in steps if s[0] == "core/mpg/push")
    print("replay: %d recorded answers of kinemod (%d cmd_vel, %d joint reports; %d joint reports "
          "before the first push not compared), %d pushes and %d packages recorded" %
          (len(answers), pushes, len(steps) - pushes, skipped,
           sum(1 for i in inputs if i[1] == "core/mpg/push"),
           sum(1 for i in inputs if i[1] == "sensors/package")))
    if pushes == 0:
        fail("the recording holds no answer of kinemod to a push")

    base = "/%s/" % robot
    rospy.init_node("%s_replay" % robot, anonymous=True, disable_signals=True)
    kinemod = Kinemod(base)
    pubs = {t: rospy.Publisher(base + t, c, queue_size=1, tcp_nodelay=True)
            for t, c in (("core/mpg/push", Push), ("sensors/package", sensors_package))}
    end = time.monotonic() + 30.0
    while not all(p.get_num_connections() > 0 for p in pubs.values()) or \
            not all(s.get_num_connections() > 0 for s in kinemod.subs):
        if time.monotonic() > end:
            fail("kinemod for robot \"%s\" is not there" % robot)
        time.sleep(0.02)

    for n, (topic, message, kind, want) in enumerate(steps):
        pubs[topic].publish(message)
        got = kinemod.next(n)
        if got is None:
            fail("step %d: no answer of kinemod to %s within %.0f s" % (n, topic, ANSWER_TIMEOUT))
        if got[0] != kind or not equal(kind, got[1], want):
            fail("step %d: kinemod answered %s\n%s\nrecorded %s\n%s\n(if kinemod fell behind the pushes in "
                 "the recording, record with a lower real-time factor)" % (n, got[0], got[1], kind, want))
    print("replay: kinemod's %d answers equal the recorded ones" % len(steps))
    return 0


if __name__ == "__main__":
    sys.exit(main())
