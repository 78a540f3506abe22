#!/usr/bin/python3
# A hostile ROS peer against the simulated robot: vesk_sim with the robot's plug-in,
# kinemod and vocalsynth (hostile_peer.test). On every topic that one of them subscribes
# it publishes empty and wrong-length arrays, NaN, infinite and huge numbers, strings of
# megabytes and a flood at up to 1 kHz. Afterwards each program must be alive, registered
# with the master with its subscriptions, publishing at no less than half the rate measured
# before the attack in the same run, and within RSS_GROWTH_LIMIT_KB of its resident memory
# before the attack.
import io
import math
import sys
import time
import unittest
import xmlrpc.client

import rosgraph
import rospy
import rostest
from geometry_msgs.msg import TwistStamped
from sensor_msgs.msg import JointState
from std_msgs.msg import (Empty, Float32MultiArray, Int16MultiArray, MultiArrayDimension, String,
                          UInt16MultiArray, UInt32, UInt32MultiArray)
from vesk2_msg.msg import animal_state, push, sensors_package

ROBOT = 'vesk'
BASE = '/' + ROBOT + '/'
NODES = ['/vesk_sim', '/' + ROBOT + '_kinemod', '/' + ROBOT + '_vocalsynth']
EXPECTED_SUBSCRIPTIONS = {
    NODES[0]: [BASE + 'control/' + t for t in ('cmd_vel', 'kinematic_joints', 'cosmetic_joints', 'illum', 'tone',
                                                'stream', 'flags', 'command')] + ['/vesk_sim/reset'],
    NODES[1]: [BASE + 'sensors/package', BASE + 'core/mpg/push', BASE + 'core/mpg/reset'],
    NODES[2]: [BASE + 'core/animal/state', BASE + 'sensors/stream'],
}
# Resident memory a program may keep after the attack, over what it had before [kB]. The
# attack's largest messages are 10 MB; the allocator may keep a few of their buffers
# (vesk_sim has kept up to 31 MB, the nodes well under 1 MB).
RSS_GROWTH_LIMIT_KB = 64 * 1024
# Under AddressSanitizer freed memory waits in its quarantine (256 MB by default) before it
# is reused, so a sanitizer build of a program keeps what the attack freed resident.
RSS_GROWTH_LIMIT_ASAN_KB = 512 * 1024
RATE_FLOOR = 0.5          # of the rate measured before the attack
FLOOD_HZ = 1000.0
FLOOD_S = 1.0                   # per topic
BIG_STRING = 10 * 1024 * 1024   # bytes
LONG_ARRAY = 100000             # elements
WAIT_S = 60.0                   # longest wait for anything (wall clock)

F64_BAD = [float('nan'), math.inf, -math.inf, 1e300, -1e300, 1e39]
F32_BAD = [float('nan'), math.inf, -math.inf, 3.4e38, -3.4e38]


def rss_kb(pid):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('VmRSS:'):
                return int(line.split()[1])
    raise RuntimeError('no VmRSS for pid %d' % pid)


def sanitized(pid):
    """Whether the program runs with AddressSanitizer's runtime."""
    try:
        with open('/proc/%d/maps' % pid) as f:
            return any('libasan' in line or 'libclang_rt.asan' in line for line in f)
    except OSError:
        return False


def alive(pid):
    try:
        with open('/proc/%d/stat' % pid) as f:
            return f.read().split(')')[-1].split()[0] not in ('Z', 'X')
    except OSError:
        return False


def wire_size(msg):
    buf = io.BytesIO()
    msg.serialize(buf)
    return buf.tell()


def multi(cls, values, label=''):
    m = cls()
    m.layout.dim = [MultiArrayDimension(label=label, size=len(values), stride=1)]
    m.data = values
    return m


class Counter:
    """Messages on `topic` from the node `source` (the attack's own messages do not count)."""

    def __init__(self, topic, cls, source):
        self.n = 0
        self.source = source
        self.sub = rospy.Subscriber(topic, cls, self.on_msg, queue_size=100)

    def on_msg(self, msg):
        if msg._connection_header.get('callerid') == self.source:
            self.n += 1


class HostilePeer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        rospy.init_node('hostile_peer', anonymous=True)
        cls.master = rosgraph.Master(rospy.get_name())

    # ---- helpers -------------------------------------------------------------------------

    def wait_until(self, what, predicate, timeout=WAIT_S):
        end = time.monotonic() + timeout
        while time.monotonic() < end and not rospy.is_shutdown():
            if predicate():
                return
            time.sleep(0.05)
        self.fail('timed out after %.0f s waiting for %s' % (timeout, what))

    def pid_of(self, node):
        uri = self.master.lookupNode(node)
        code, _, pid = xmlrpc.client.ServerProxy(uri).getPid(rospy.get_name())
        self.assertEqual(1, code, node)
        return pid

    def subscriptions_of(self, node):
        _, subscribers, _ = self.master.getSystemState()
        return sorted(topic for topic, nodes in subscribers if node in nodes)

    def publisher(self, topic, cls):
        pub = rospy.Publisher(topic, cls, queue_size=1000)
        self.wait_until('a subscriber of ' + topic, lambda: pub.get_num_connections() > 0)
        return pub

    def measure(self, sim_seconds):
        """Counts of the programs' outputs over `sim_seconds` of simulated time, with kinemod
        and vocalsynth kept awake (a zero push and a wake request ten times a second)."""
        counts = {}
        for name, c in self.counters.items():
            counts[name] = -c.n
        t0 = rospy.get_time()
        w0 = time.monotonic()
        while rospy.get_time() - t0 < sim_seconds:
            self.assertLess(time.monotonic() - w0, WAIT_S, 'simulated time does not advance')
            self.keep_awake()
            time.sleep(0.1)
        wall = time.monotonic() - w0
        for name, c in self.counters.items():
            counts[name] += c.n
        return {
            'package per sim s': counts['package'] / sim_seconds,
            'kinematic_joints per package': counts['kinematic_joints'] / max(counts['package'], 1),
            'cmd_vel per wall s': counts['cmd_vel'] / wall,
            'voice blocks per wall s': counts['voice'] / wall,
        }

    def keep_awake(self):
        p = push(link=4, flags=0)
        p.pushpos.x = 0.1
        self.awake_push.publish(p)
        self.awake_state.publish(animal_state(flags=1, sound_level=0.5))

    # ---- the attack ----------------------------------------------------------------------

    def hostile_messages(self):
        """(topic, class, [messages]) for every subscribed topic: wrong sizes, bad numbers,
        oversize strings."""
        big = 'x' * BIG_STRING
        sizes = [0, 1, 3, 5, 7, LONG_ARRAY]
        out = []

        m = []
        for v in F64_BAD:
            t = TwistStamped()
            t.twist.linear.x = t.twist.angular.z = t.twist.linear.y = v
            m.append(t)
        t = TwistStamped()
        t.header.frame_id = big
        m.append(t)
        out.append((BASE + 'control/cmd_vel', TwistStamped, m))

        m = [JointState(position=[0.1] * n) for n in sizes]
        m += [JointState(position=[v] * 4) for v in F64_BAD]
        m.append(JointState(name=[big], position=[0.0] * 4))
        m.append(JointState(name=['n'] * LONG_ARRAY, position=[0.0] * 4, velocity=[1e300] * LONG_ARRAY))
        out.append((BASE + 'control/kinematic_joints', JointState, m))

        m = [multi(Float32MultiArray, [0.1] * n) for n in sizes]
        m += [multi(Float32MultiArray, [v] * 6) for v in F32_BAD]
        m.append(multi(Float32MultiArray, [0.0] * 6, label=big))
        out.append((BASE + 'control/cosmetic_joints', Float32MultiArray, m))

        m = [multi(UInt32MultiArray, [0xFFFFFFFF] * n) for n in sizes]
        m.append(multi(UInt32MultiArray, [0] * 6, label=big))
        out.append((BASE + 'control/illum', UInt32MultiArray, m))

        m = [multi(UInt16MultiArray, [0xFFFF] * n) for n in sizes]
        m.append(multi(UInt16MultiArray, [440, 255, 255], label=big))
        out.append((BASE + 'control/tone', UInt16MultiArray, m))

        m = [multi(Int16MultiArray, [-32768] * n) for n in sizes + [2 * LONG_ARRAY]]
        m.append(multi(Int16MultiArray, [0] * 320, label=big))
        out.append((BASE + 'control/stream', Int16MultiArray, m))

        out.append((BASE + 'control/flags', UInt32, [UInt32(data=v) for v in (0xFFFFFFFF, 0x80000000, 0)]))

        m = [String(data=s) for s in (';' * BIG_STRING, big, 'frame=@1e38', 'frame=@1e-30', 'frame=@nan',
                                       'frame=720p', 'frame=' + big, '\0\n;frame=@-1;;;', 'frame=@15')]
        out.append((BASE + 'control/command', String, m))

        m = []
        for n in sizes:
            p = sensors_package()
            p.kinematic_joints.position = [0.1] * n
            p.cliff.data = [0.5] * n
            p.stream.data = [7] * n
            m.append(p)
        for v in F64_BAD:
            p = sensors_package()
            p.kinematic_joints.position = [v] * 4
            p.odom.pose.pose.position.x = v
            m.append(p)
        p = sensors_package()
        p.header.frame_id = big
        p.kinematic_joints.position = [0.0] * 4
        m.append(p)
        out.append((BASE + 'sensors/package', sensors_package, m))

        m = []
        for v in F64_BAD:
            p = push(link=4, flags=0)
            p.pushpos.x = p.pushpos.y = p.pushvec.x = p.pushvec.z = v
            m.append(p)
        for link in (-1, 5, 2**31 - 1, -2**31):
            m.append(push(link=link, flags=0xFFFFFFFF))
        out.append((BASE + 'core/mpg/push', push, m))

        out.append((BASE + 'core/mpg/reset', UInt32, [UInt32(data=v) for v in (0xFFFFFFFF, 1, 0)]))

        m = []
        for v in F32_BAD:
            a = animal_state(flags=0xFFFFFFFF, sound_level=v, time_of_day=v)
            a.emotion.valence = a.emotion.arousal = a.sleep.wakefulness = a.mood.valence = v
            m.append(a)
        out.append((BASE + 'core/animal/state', animal_state, m))

        m = [multi(UInt16MultiArray, [0xFFFF] * n) for n in sizes]
        m += [multi(UInt16MultiArray, [0xFFFF, 0]), multi(UInt16MultiArray, [0, 0xFFFF]),
              multi(UInt16MultiArray, [1, 2], label=big)]
        out.append((BASE + 'sensors/stream', UInt16MultiArray, m))

        out.append(('/vesk_sim/reset', Empty, [Empty()]))
        return out

    def attack(self, plan):
        pubs = [(self.publisher(topic, cls), msgs) for topic, cls, msgs in plan]
        # Every hostile message once, topic by topic, paced so that none is lost in a queue.
        for pub, msgs in pubs:
            for msg in msgs:
                pub.publish(msg)
                time.sleep(0.02)
        # The flood: topic after topic, small hostile messages in turn at up to FLOOD_HZ for
        # FLOOD_S each (not the world reset, which had its one message above: each one starts
        # the world again).
        for pub, msgs in pubs:
            msgs = [m for m in msgs if wire_size(m) < 4096]
            if not msgs or pub.resolved_name == '/vesk_sim/reset':
                continue
            start = time.monotonic()
            i = 0
            while time.monotonic() - start < FLOOD_S:
                pub.publish(msgs[i % len(msgs)])
                i += 1
                delay = start + i / FLOOD_HZ - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
            rospy.loginfo('flood: %d messages on %s at %.0f Hz', i, pub.resolved_name,
                          i / (time.monotonic() - start))
        # A sane frame rate again, as an operator would send after an attack.
        pubs[[t for t, _, _ in plan].index(BASE + 'control/command')][0].publish(String(data='frame=360w@15'))
        for pub, _ in pubs:
            pub.unregister()

    # ---- the test ------------------------------------------------------------------------

    def test_survives_a_hostile_peer(self):
        for n, topics in EXPECTED_SUBSCRIPTIONS.items():
            self.wait_until(n + ' and its subscriptions',
                            lambda: self.try_lookup(n) and set(topics) <= set(self.subscriptions_of(n)))
        pids = {n: self.pid_of(n) for n in NODES}
        subs = {n: self.subscriptions_of(n) for n in NODES}
        for n in NODES:
            self.assertTrue(subs[n], n + ' subscribes nothing')

        self.counters = {
            'package': Counter(BASE + 'sensors/package', sensors_package, NODES[0]),
            'kinematic_joints': Counter(BASE + 'control/kinematic_joints', JointState, NODES[1]),
            'cmd_vel': Counter(BASE + 'control/cmd_vel', TwistStamped, NODES[1]),
            'voice': Counter(BASE + 'control/stream', Int16MultiArray, NODES[2]),
        }
        self.awake_push = self.publisher(BASE + 'core/mpg/push', push)
        self.awake_state = self.publisher(BASE + 'core/animal/state', animal_state)
        self.wait_until('simulated time', lambda: rospy.get_time() > 0)
        warm_up = time.monotonic() + 1.5
        while time.monotonic() < warm_up:
            self.keep_awake()
            time.sleep(0.1)

        before = self.measure(3.0)
        rss_before = {n: rss_kb(pids[n]) for n in NODES}
        rospy.loginfo('before: %s; RSS kB %s', before, rss_before)
        for k, v in before.items():
            self.assertGreater(v, 0, k + ' before the attack')

        self.attack(self.hostile_messages())

        # Settle: the programs drain their queues and the allocator its caches.
        time.sleep(2.0)
        for n in NODES:
            self.assertTrue(alive(pids[n]), n + ' ended')
            self.wait_until(n + ' registered', lambda: self.try_lookup(n))
            self.assertEqual(pids[n], self.pid_of(n), n + ' is another process')
            self.assertEqual(subs[n], self.subscriptions_of(n), n + ' subscriptions')

        after = self.measure(3.0)
        rss_after = {n: rss_kb(pids[n]) for n in NODES}
        rospy.loginfo('after: %s; RSS kB %s', after, rss_after)
        for k, v in before.items():
            self.assertGreaterEqual(after[k], RATE_FLOOR * v, '%s: %.2f after, %.2f before' % (k, after[k], v))
        for n in NODES:
            growth = rss_after[n] - rss_before[n]
            print('%s: RSS %d kB before, %d kB after (%+d kB)' % (n, rss_before[n], rss_after[n], growth))
            limit = RSS_GROWTH_LIMIT_ASAN_KB if sanitized(pids[n]) else RSS_GROWTH_LIMIT_KB
            self.assertLessEqual(growth, limit, n + ' resident memory grew')
        print('rates before: %s' % before)
        print('rates after:  %s' % after)

    def try_lookup(self, node):
        try:
            self.master.lookupNode(node)
            return True
        except Exception:
            return False


if __name__ == '__main__':
    rostest.rosrun('vesk_sim', 'hostile_peer', HostilePeer, sys.argv)
