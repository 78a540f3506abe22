#!/usr/bin/python3
# The robot and the workstation on two hosts: two network namespaces of this test, joined by a
# veth pair with addresses in a private range that exists only inside them.
#   robot host:       the ROS master and the simulated robot (roslaunch vesk_sim sim.launch
#                     nodes:=false), and a monitor that reads the robot's sensors package
#   workstation host: roslaunch vesk_sim workstation.launch rviz:=false (kinemod, vocalsynth),
#                     the scripted demo, and a driver that sends control/cmd_vel at the tick rate
# It runs the demo across the link (both targets must be reached), then drives the robot at
# 0.1 m/s, takes the workstation's link down for 3 simulated seconds (the robot must stop within
# the wheel lapse time plus a braking margin, and keep ticking) and brings it back (the robot
# must drive again), and at last kills every workstation process (the robot must stop again).
# Stopping and driving are read on the robot host from the wheel odometry of the sensors
# package; the ground-truth pose there must agree that the robot stood still while cut off.
# Prints the figures: stop time after the cut, resume time after the link returns, stop time
# after the kill.
# Needs root for the namespaces; where they cannot be made it prints why and exits 77
# (skipped). The namespaces and every process in them are removed however the test ends.
#   two_hosts.py              the test
#   two_hosts.py monitor      (in the robot's namespace) one line per sensors package
#   two_hosts.py drive V W    (in the workstation's namespace) cmd_vel V m/s, W rad/s
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
ROBOT = 'vesk'
SKIP = 77

DRIVE_V = 0.1  # [m/s] the drive under which the link is cut
DRIVE_W = 1.0  # [rad/s] a circle of 0.1 m radius, which keeps the robot clear of the boxes
MOVING_V = 0.09  # [m/s] odometry speed that counts as driving at DRIVE_V
STOPPED_V = 0.005  # [m/s] forward odometry speed below which the drive has ended
# [s] beyond the wheel lapse for the robot to stop: the wheels' joint controllers brake from
# 0.1 m/s to 0 in 0.08 s (4 ticks, measured here), the last command may have reached the
# robot up to a tick before the cut, and the cut is placed on the robot's clock by the last
# package the monitor had received (up to a few ticks early on a loaded machine). Measured
# stops: 0.32 to 0.42 s after the cut or the kill, against 0.22 s of lapse.
# (The wheels then swing back and forth by a few millimetres for about 0.3 s: SETTLE_S.)
BRAKE_MARGIN_S = 0.25
SETTLE_S = 1.0  # [s] after the stop the odometry stays below STOPPED_V
STILL_M = 0.005  # [m] the ground truth moves at most this from the stop to the link's return
CUT_S = 3.0  # [s of simulated time] the link stays down
RESUME_LIMIT_S = 3.0  # [s] the robot drives again within this after the link returns
DEMO_DURATION = 20  # [simulated s] of the demo across the link
WAIT_S = 90.0  # [s] longest wait for one event (start-up on a loaded machine)
TOTAL_S = 240.0  # [s] the whole test ends (and cleans up) before this


def header_constant(path, pattern):
    with open(path) as f:
        m = re.search(pattern, f.read())
    if not m:
        raise RuntimeError('%s: no match for %s' % (path, pattern))
    return int(m.group(1))


def wheel_lapse_s():
    """The time a velocity command keeps the wheels going when no other follows [s]: the
    wheel ttl in ticks, plus the tick that delivers the last command."""
    tick_us = header_constant(os.path.join(REPO, 'net/include/vesk_net/records.h'),
                              r'constexpr int32_t TICK_PERIOD_US = (\d+);')
    ttl_us = header_constant(os.path.join(REPO, 'net/include/vesk_net/control_buffer.h'),
                             r'WHEEL_TTL_TICKS = ticks_in_us\((\d+)\)')
    return (ttl_us // tick_us + 1) * tick_us * 1e-6


# ---- the two helpers that run inside the namespaces --------------------------------------

def monitor():
    import rospy
    from vesk2_msg.msg import sensors_package

    def on_package(m):
        # wall clock (shared by both namespaces), stamp, odometry speed and turn, ground truth
        sys.stdout.write('%.4f %.4f %d %.4f %.4f %.5f %.5f\n' %
                         (time.monotonic(), m.header.stamp.to_sec(), m.header.seq, m.odom.twist.twist.linear.x,
                          m.odom.twist.twist.angular.z, m.body_pose.x, m.body_pose.y))
        sys.stdout.flush()

    rospy.init_node('two_hosts_monitor', disable_signals=True)
    rospy.Subscriber('/%s/sensors/package' % ROBOT, sensors_package, on_package, queue_size=50, tcp_nodelay=True)
    while not rospy.is_shutdown():
        time.sleep(0.1)


def drive(v, w):
    import rospy
    from geometry_msgs.msg import TwistStamped
    rospy.init_node('two_hosts_driver', disable_signals=True)
    pub = rospy.Publisher('/%s/control/cmd_vel' % ROBOT, TwistStamped, queue_size=1, tcp_nodelay=True)
    msg = TwistStamped()
    msg.twist.linear.x = v
    msg.twist.angular.z = w
    period = 0.02  # the robot's tick: one command per tick, as a controller sends them
    next_t = time.monotonic()
    while not rospy.is_shutdown():
        msg.header.stamp = rospy.Time.now()
        pub.publish(msg)
        next_t += period
        time.sleep(max(0.0, next_t - time.monotonic()))


# ---- the test ------------------------------------------------------------------------------

class Failure(Exception):
    pass


def run(cmd, check=True):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True)
    if check and r.returncode != 0:
        raise Failure('%s: %s' % (' '.join(cmd), r.stdout.strip()))
    return r


class Hosts:
    """Two namespaces joined by veth; tear_down kills every process in them and removes them."""

    def __init__(self):
        tag = str(os.getpid())
        self.ns = {'robot': 'vesk%sr' % tag, 'ws': 'vesk%sw' % tag}
        self.dev = {'robot': 'vkr%s' % tag, 'ws': 'vkw%s' % tag}  # at most 15 characters
        octet = os.getpid() % 250 + 1
        self.addr = {'robot': '10.213.%d.1' % octet, 'ws': '10.213.%d.2' % octet}
        self.made = []

    def enter(self, side):
        """The command prefix that runs a program in the side's namespace: nsenter joins the
        network namespace alone (ip netns exec also remounts /sys, which a chroot may refuse)."""
        return ['nsenter', '--net=/run/netns/' + self.ns[side]]

    def set_up(self):
        for side in ('robot', 'ws'):
            r = run(['ip', 'netns', 'add', self.ns[side]], check=False)
            if r.returncode != 0:
                return 'ip netns add failed: ' + r.stdout.strip()
            self.made.append(self.ns[side])
        # The pair is made inside the robot's namespace with its other end in the workstation's:
        # nothing of it ever appears in this host's own network.
        r = run(self.enter('robot') + ['ip', 'link', 'add', self.dev['robot'], 'type', 'veth', 'peer', 'name',
                                      self.dev['ws'], 'netns', self.ns['ws']], check=False)
        if r.returncode != 0:
            return 'no veth pair between namespaces: ' + r.stdout.strip()
        for side in ('robot', 'ws'):
            ip = self.enter(side) + ['ip']
            run(ip + ['link', 'set', 'lo', 'up'])
            run(ip + ['addr', 'add', self.addr[side] + '/24', 'dev', self.dev[side]])
            run(ip + ['link', 'set', self.dev[side], 'up'])
        return None

    def link(self, up):
        run(self.enter('ws') + ['ip', 'link', 'set', self.dev['ws'], 'up' if up else 'down'])

    def pids(self, side):
        r = run(['ip', 'netns', 'pids', self.ns[side]], check=False)
        return [int(p) for p in r.stdout.split() if p.isdigit()]

    def kill_all(self, side):
        """SIGKILL to every process in the side's namespace (all started by this test), until none
        is left. Returns the wall time at which the first round of signals had gone out."""
        end = time.monotonic() + 10
        first = None
        while time.monotonic() < end:
            pids = self.pids(side)
            if not pids:
                return first or time.monotonic()
            for p in pids:
                try:
                    os.kill(p, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            first = first or time.monotonic()
            time.sleep(0.05)
        print('two_hosts: processes left in %s: %s' % (self.ns[side], self.pids(side)))
        return first or time.monotonic()

    def tear_down(self):
        for side in ('ws', 'robot'):
            if self.ns[side] in self.made:
                self.kill_all(side)
        for n in self.made:
            run(['ip', 'netns', 'del', n], check=False)
        self.made = []


class Monitor:
    """The monitor's lines, read on a thread: (wall, stamp, seq, v, w, x, y)."""

    def __init__(self, proc):
        self.samples = []
        self.lock = threading.Lock()
        self.proc = proc
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            f = line.split()
            if len(f) == 7:
                with self.lock:
                    self.samples.append(tuple(float(x) for x in f))

    def since(self, wall):
        with self.lock:
            return [s for s in self.samples if s[0] > wall]

    def last(self):
        with self.lock:
            return self.samples[-1] if self.samples else None

    def wait(self, what, pred, after, timeout=WAIT_S):
        """The first sample after wall time `after` for which pred(sample) holds (bounded)."""
        end = time.monotonic() + timeout
        seen = 0
        while time.monotonic() < end:
            s = self.since(after)
            for i in range(seen, len(s)):
                if pred(s[i]):
                    return s[i]
            seen = len(s)
            if self.proc.poll() is not None:
                raise Failure('the monitor on the robot host ended while waiting for ' + what)
            time.sleep(0.01)
        raise Failure('timed out after %.0f s waiting for %s' % (timeout, what))

    def wait_steady(self, what, after):
        """The sample ending a run of 10 ticks at the drive's speed."""
        run_len = [0]

        def steady(s):
            run_len[0] = run_len[0] + 1 if s[3] >= MOVING_V else 0
            return run_len[0] >= 10

        return self.wait(what, steady, after)

    def sim_time_at(self, wall):
        """Simulated time at a wall time: the stamp of the last package received before it."""
        with self.lock:
            before = [s for s in self.samples if s[0] <= wall]
        if not before:
            raise Failure('no sensors package before the event')
        return before[-1][1]


def tail(path, lines=30):
    try:
        with open(path, errors='replace') as f:
            return ''.join(f.readlines()[-lines:])
    except OSError:
        return '(no %s)\n' % path


def test():
    if os.geteuid() != 0:
        print('two_hosts: SKIPPED: network namespaces need root (running as uid %d)' % os.geteuid())
        return SKIP
    for tool, package in (('ip', 'iproute2'), ('nsenter', 'util-linux')):
        if not shutil.which(tool):
            print('two_hosts: SKIPPED: no "%s" command (Debian package %s)' % (tool, package))
            return SKIP
    lapse = wheel_lapse_s()
    stop_limit = lapse + BRAKE_MARGIN_S
    hosts = Hosts()
    work = tempfile.mkdtemp(prefix='vesk_two_hosts_')
    logs = {}
    procs = []
    files = []

    def spawn(side, name, argv, stdout=None):
        env = dict(os.environ)
        env.pop('ROS_HOSTNAME', None)
        env.update({
            'ROS_MASTER_URI': 'http://%s:11311' % hosts.addr['robot'],
            'ROS_IP': hosts.addr[side],
            'ROS_HOME': os.path.join(work, side),
            'ROS_LOG_DIR': os.path.join(work, side, 'log'),
            'VESK_DIR_STATE': os.path.join(work, side, 'state'),
            'VESK_DIR_QOR': os.path.join(work, side, 'qor'),
            'VESK_ROBOT_NAME': ROBOT,
            'PYTHONUNBUFFERED': '1',
        })
        os.makedirs(env['ROS_LOG_DIR'], exist_ok=True)
        logs[name] = os.path.join(work, name + '.log')
        log = open(logs[name], 'w')
        files.append(log)
        p = subprocess.Popen(hosts.enter(side) + argv, env=env, stdin=subprocess.DEVNULL,
                             stdout=stdout or log, stderr=log, universal_newlines=True, start_new_session=True)
        procs.append(p)
        return p

    def on_signal(signum, _frame):
        raise Failure('ended by signal %d' % signum)

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGALRM, on_signal)
    signal.alarm(int(TOTAL_S))
    status = 1
    mon = None
    try:
        why = hosts.set_up()
        if why:
            print('two_hosts: SKIPPED: network namespaces cannot be made here: ' + why)
            status = SKIP
            return status
        print('two_hosts: robot host %s (%s), workstation host %s (%s)' %
              (hosts.ns['robot'], hosts.addr['robot'], hosts.ns['ws'], hosts.addr['ws']))
        me = [sys.executable, os.path.abspath(__file__)]
        t0 = time.monotonic()
        # roslaunch starts the master too: ROS_MASTER_URI names this host.
        spawn('robot', 'robot_launch', ['roslaunch', 'vesk_sim', 'sim.launch', 'nodes:=false', 'rtf:=1'])
        mon = Monitor(spawn('robot', 'monitor', me + ['monitor'], stdout=subprocess.PIPE))
        mon.wait('the first sensors package on the robot host', lambda s: True, 0)
        print('two_hosts: the robot ticks (%.1f s)' % (time.monotonic() - t0))

        spawn('ws', 'workstation_launch', ['roslaunch', 'vesk_sim', 'workstation.launch', 'rviz:=false'])
        report = os.path.join(work, 'report')
        demo = spawn('ws', 'demo', ['rosrun', 'vesk_sim', 'vesk_demo', 'robot=' + ROBOT,
                                    'duration=%d' % DEMO_DURATION, 'report=' + report])
        try:
            demo_status = demo.wait(timeout=WAIT_S + 3 * DEMO_DURATION)
        except subprocess.TimeoutExpired:
            raise Failure('the demo did not end\n' + tail(logs['demo']))
        if demo_status != 0:
            raise Failure('the demo ended with status %d\n%s' % (demo_status, tail(logs['demo'])))
        summary = {}
        with open(os.path.join(report, 'summary.txt')) as f:
            for line in f:
                key, colon, value = line.strip().partition(': ')
                if colon:
                    summary[key] = value
        reached = summary.get('targets_reached', '?')
        print('two_hosts: the demo across the link: %s targets reached (%.1f s)' % (reached, time.monotonic() - t0))
        if reached != '2 of 2':
            raise Failure('the demo across the link reached %s targets\n%s' % (reached, tail(logs['demo'])))

        # Drive, cut the link, bring it back.
        spawn('ws', 'driver', me + ['drive', str(DRIVE_V), str(DRIVE_W)])
        mon.wait_steady('the robot to drive at %.2f m/s' % DRIVE_V, time.monotonic())
        t_cut = time.monotonic()
        hosts.link(False)
        sim_cut = mon.sim_time_at(t_cut)
        stopped = mon.wait('the robot to stop after the cut', lambda s: s[3] < STOPPED_V, t_cut)
        stop_cut = stopped[1] - sim_cut
        mon.wait('the robot to tick on for %.0f simulated seconds with the link down' % CUT_S,
                 lambda s: s[1] >= sim_cut + CUT_S, t_cut)
        t_up = time.monotonic()
        hosts.link(True)
        cut = [s for s in mon.since(stopped[0] - 1e-6) if s[0] <= t_up]
        moving = [s for s in cut if abs(s[3]) >= STOPPED_V]
        settle = (moving[-1][1] - stopped[1]) if moving else 0.0
        drift = max(((s[5] - cut[0][5]) ** 2 + (s[6] - cut[0][6]) ** 2) ** 0.5 for s in cut)
        ticks = cut[-1][2] - cut[0][2]
        tick_rate = ticks / max(1e-9, cut[-1][0] - cut[0][0])
        resumed = mon.wait('the robot to drive again after the link returned', lambda s: s[3] >= 0.5 * DRIVE_V,
                           t_up, timeout=RESUME_LIMIT_S + 10)
        resume_wall = resumed[0] - t_up
        resume_sim = resumed[1] - mon.sim_time_at(t_up)
        print('two_hosts: link cut under a %.2f m/s drive: stopped after %.3f s (simulated; limit %.3f s = '
              'wheel lapse %.3f s + %.3f s), still %.3f s later; %d ticks at %.1f per wall second while cut '
              'off, ground truth within %.4f m of the stop; drove again %.3f s (wall; %.3f s simulated) after '
              'the link returned' % (DRIVE_V, stop_cut, stop_limit, lapse, BRAKE_MARGIN_S, settle, ticks,
                                     tick_rate, drift, resume_wall, resume_sim))

        # Every workstation process ends at once.
        mon.wait_steady('the robot to drive at %.2f m/s again' % DRIVE_V, resumed[0])
        t_kill = hosts.kill_all('ws')
        sim_kill = mon.sim_time_at(t_kill)
        stopped_k = mon.wait('the robot to stop after the workstation was killed', lambda s: s[3] < STOPPED_V,
                             t_kill)
        stop_kill = stopped_k[1] - sim_kill
        mon.wait('the robot to tick on after the workstation was killed', lambda s: s[1] >= sim_kill + 1.0, t_kill)
        print('two_hosts: workstation killed: the robot stopped after %.3f s (simulated) and ticks on' % stop_kill)

        errors = []
        if stop_cut > stop_limit:
            errors.append('the robot stopped %.3f s after the cut, later than %.3f s' % (stop_cut, stop_limit))
        if settle > SETTLE_S or drift > STILL_M:
            errors.append('the robot did not stand still while cut off (odometry above %.3f m/s until %.3f s '
                          'after the stop, ground truth %.4f m from it)' % (STOPPED_V, settle, drift))
        if resume_wall > RESUME_LIMIT_S:
            errors.append('the robot drove again %.3f s after the link returned, later than %.1f s' %
                          (resume_wall, RESUME_LIMIT_S))
        if stop_kill > stop_limit:
            errors.append('the robot stopped %.3f s after the kill, later than %.3f s' % (stop_kill, stop_limit))
        if errors:
            raise Failure('; '.join(errors))
        print('two_hosts: passed (%.1f s)' % (time.monotonic() - t0))
        status = 0
    except Failure as e:
        print('two_hosts: FAILED: %s' % e)
        for name in ('robot_launch', 'workstation_launch'):
            if name in logs:
                print('---- %s (last lines) ----\n%s' % (name, tail(logs[name])))
    finally:
        signal.alarm(0)
        hosts.tear_down()
        if mon is not None:
            with open(os.path.join(work, 'samples.txt'), 'w') as f:
                f.write('# wall stamp seq v w x y\n')
                for smp in mon.samples:
                    f.write(' '.join('%.5f' % x for x in smp) + '\n')
        for p in procs:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
        for f in files:
            f.close()
        if status == 0 or status == SKIP:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print('two_hosts: logs kept in ' + work)
    return status


if __name__ == '__main__':
    if len(sys.argv) > 1 and sys.argv[1] == 'monitor':
        monitor()
    elif len(sys.argv) > 3 and sys.argv[1] == 'drive':
        drive(float(sys.argv[2]), float(sys.argv[3]))
    else:
        sys.exit(test())
