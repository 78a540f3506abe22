#!/usr/bin/python3
# Writes the seed corpora of the message fuzz targets: each seed is one selector byte (the
# topic) followed by a message serialised as roscpp sends it. Run from the repository root
# with the workspace sourced (source build/devel/setup.bash), after changing a target's
# topic list: /usr/bin/python3 scripts/fuzz_seeds.py
import io
import math
import os

from geometry_msgs.msg import TwistStamped
from sensor_msgs.msg import JointState
from std_msgs.msg import (Float32MultiArray, Int16MultiArray, MultiArrayDimension, String, UInt16MultiArray,
                          UInt32, UInt32MultiArray)
from vesk2_msg.msg import animal_state, push, sensors_package


def write(folder, name, selector, msg):
    os.makedirs(folder, exist_ok=True)
    buf = io.BytesIO()
    msg.serialize(buf)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(bytes([selector]) + buf.getvalue())


def multi(cls, values):
    m = cls()
    m.layout.dim = [MultiArrayDimension(label='', size=len(values), stride=1)]
    m.data = values
    return m


net = 'net/fuzz/corpus/fuzz_net_control'
t = TwistStamped()
t.twist.linear.x, t.twist.angular.z = 0.2, -0.5
write(net, 'cmd_vel', 0, t)
t.twist.linear.x = float('nan')
write(net, 'cmd_vel_nan', 0, t)
t.twist.linear.x, t.twist.angular.z = 1e300, -math.inf
write(net, 'cmd_vel_huge', 0, t)
j = JointState(name=['tilt', 'lift', 'yaw', 'pitch'], position=[0.0, 0.6, 0.1, -0.1])
write(net, 'kinematic_joints', 1, j)
j.position = [0.0, 1e39, float('nan'), 0.0]
write(net, 'kinematic_joints_bad', 1, j)
j.position = [0.1]
write(net, 'kinematic_joints_short', 1, j)
write(net, 'cosmetic_joints', 2, multi(Float32MultiArray, [0.0, 0.5, 0.0, 0.0, 0.3, 0.3]))
write(net, 'cosmetic_joints_inf', 2, multi(Float32MultiArray, [math.inf, 0.5, float('nan'), 0.0, 0.3, 0.3]))
write(net, 'illum', 3, multi(UInt32MultiArray, [0xFF0000FF] * 6))
write(net, 'tone', 4, multi(UInt16MultiArray, [440, 200, 25]))
write(net, 'stream', 5, multi(Int16MultiArray, [0, 32767, -32768, 100] * 8))
write(net, 'flags', 6, UInt32(data=0x80000001))
write(net, 'command', 7, String(data='frame=360w@15;frame=@1e38;;frame=720p!'))

body = 'body/fuzz/corpus/fuzz_kinemod_callbacks'
p = sensors_package()
p.kinematic_joints.position = [0.0, 0.6, 0.0, 0.0]
write(body, 'package', 0, p)
p.kinematic_joints.position = [0.0]
write(body, 'package_short', 0, p)
q = push(link=4, flags=0)
q.pushpos.x, q.pushpos.z = 0.1, 0.0
q.pushvec.y = 0.2
write(body, 'push', 1, q)
q.pushvec.y = 1e300
write(body, 'push_huge', 1, q)
q.link, q.pushvec.y = 200, float('nan')
write(body, 'push_bad_link', 1, q)
write(body, 'reset', 2, UInt32(data=1))

voice = 'voice/fuzz/corpus/fuzz_vocalsynth_callbacks'
a = animal_state(flags=1, sound_level=0.5)
a.emotion.valence, a.emotion.arousal, a.sleep.wakefulness = 0.7, 0.8, 1.0
write(voice, 'animal_state', 0, a)
a.emotion.valence = float('nan')
write(voice, 'animal_state_nan', 0, a)
a.emotion.valence, a.emotion.arousal = 3e38, -math.inf
write(voice, 'animal_state_huge', 0, a)
write(voice, 'stream', 1, multi(UInt16MultiArray, [100, 1700]))
write(voice, 'stream_short', 1, multi(UInt16MultiArray, [5]))
