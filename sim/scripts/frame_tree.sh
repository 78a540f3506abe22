#!/usr/bin/env bash
# Draws the frame tree of the running simulated robot: starts vesk_sim (sim.launch, without
# kinemod and vocalsynth) on a ROS master of its own on a free port, listens to /tf and
# /tf_static for a few seconds (frame_tree.py), and renders the graph with Graphviz.
#   bash sim/scripts/frame_tree.sh [OUT.png=docs/frames.png]
# Run from the repository root after a build (bash scripts/build.sh); needs Debian's graphviz.
# The Graphviz source is written beside the picture (OUT.gv).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
out="${1:-$repo/docs/frames.png}"
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
build="${VESK_BUILD_DIR:-$repo/build}"
command -v dot >/dev/null || { echo "frame_tree.sh: no dot (Debian package graphviz)" >&2; exit 1; }

set +u
source "$build/devel/setup.bash"
source "$repo/config/setup.bash"
set -u
work="$(mktemp -d /tmp/vesk_frames_XXXXXX)"
export ROS_HOME="$work" ROS_LOG_DIR="$work/log"
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export ROS_MASTER_URI="http://127.0.0.1:$port" ROS_IP=127.0.0.1
unset ROS_HOSTNAME

roslaunch -p "$port" vesk_sim sim.launch nodes:=false > "$work/launch.log" 2>&1 &
launch_pid=$!
stop() {
  if kill -0 "$launch_pid" 2>/dev/null; then
    kill -INT "$launch_pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$launch_pid" 2>/dev/null || break; sleep 0.1; done
    kill -TERM "$launch_pid" 2>/dev/null || true
    wait "$launch_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop EXIT

mkdir -p "$(dirname "$out")"
/usr/bin/python3 "$here/frame_tree.py" "${out%.png}.gv" 3
dot -Tpng -Gdpi=72 "${out%.png}.gv" -o "$out"
echo "frame_tree.sh: $out"
