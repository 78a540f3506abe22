#!/usr/bin/python3
# Listens to the frame tree of a running robot (/tf and /tf_static) for a few seconds and
# writes it as a Graphviz graph: one box per frame, one arrow per transform from parent to
# child, labelled with the publisher and how often it is sent per second of the robot's time
# (from the transforms' stamps; "static" for /tf_static).
#   frame_tree.py OUT.gv [SECONDS=3]
# Needs a ROS master with the robot on it (sim/scripts/frame_tree.sh starts one); the picture:
#   dot -Tpng OUT.gv -o frames.png
import sys
import time

import rospy
from tf2_msgs.msg import TFMessage


def main():
    if len(sys.argv) < 2:
        sys.exit('usage: frame_tree.py OUT.gv [SECONDS]')
    out, seconds = sys.argv[1], float(sys.argv[2]) if len(sys.argv) > 2 else 3.0
    edges = {}  # (parent, child) -> [static, publisher, stamps [s]]

    def on_tf(msg, static):
        pub = msg._connection_header.get('callerid', '?') if hasattr(msg, '_connection_header') else '?'
        for t in msg.transforms:
            e = edges.setdefault((t.header.frame_id.lstrip('/'), t.child_frame_id.lstrip('/')), [static, pub, []])
            e[2].append(t.header.stamp.to_sec())

    rospy.init_node('frame_tree', anonymous=True, disable_signals=True)
    rospy.Subscriber('/tf', TFMessage, on_tf, callback_args=False, queue_size=100)
    rospy.Subscriber('/tf_static', TFMessage, on_tf, callback_args=True, queue_size=100)
    # Wait for the first transform (bounded), then listen for the given time.
    end = time.monotonic() + 60
    while not edges and time.monotonic() < end:
        time.sleep(0.05)
    if not edges:
        sys.exit('frame_tree.py: no transform on /tf or /tf_static within 60 s')
    time.sleep(seconds)

    lines = ['digraph frames {', '  rankdir=TB;', '  node [shape=box, style="rounded,filled", fillcolor="#eef3fb",'
             ' fontname="Helvetica"];', '  edge [fontname="Helvetica", fontsize=10];']
    for (parent, child), (static, pub, times) in sorted(edges.items()):
        if static:
            label = 'static\\n%s' % pub
        else:
            stamps = sorted(set(times))
            span = stamps[-1] - stamps[0]
            rate = (len(stamps) - 1) / span if span > 0 else 0.0
            label = '%.0f Hz\\n%s' % (rate, pub)
        style = ', style=dashed' if static else ''
        lines.append('  "%s" -> "%s" [label="%s"%s];' % (parent, child, label, style))
    lines.append('}')
    with open(out, 'w') as f:
        f.write('\n'.join(lines) + '\n')
    print('frame_tree.py: %d transforms written to %s' % (len(edges), out))


if __name__ == '__main__':
    main()
