#!/bin/bash
# One command for the vesk_gazebo benchmarks: configures and builds a Release tree of the
# packages it needs, runs ResizeImage against OpenCV's INTER_AREA, then starts a private ROS
# master on a free loopback port, measures the CPU time of one simulated tick, and stops the
# master again.
#   gazebo/bench/run_bench.sh [BUILD_DIR] [TICKS]
set -e
SRC=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-/tmp/build-gazebo-bench}
TICKS=${2:-2000}
mkdir -p "$BUILD"
cmake -S "$SRC" -B "$BUILD" -DPYTHON_EXECUTABLE=/usr/bin/python3 -DCMAKE_BUILD_TYPE=Release \
  -DCATKIN_WHITELIST_PACKAGES="vesk2_msg;vesk_support;vesk_net;vesk_gazebo" >/dev/null 2>&1
make -C "$BUILD" -j2 bench_resize bench_tick >/dev/null
set +u
source "$BUILD/devel/setup.bash"

echo "== ResizeImage vs cv::resize INTER_AREA (single thread, thread CPU time, median) =="
"$BUILD/devel/lib/vesk_gazebo/bench_resize"

PORT=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export ROS_MASTER_URI=http://127.0.0.1:$PORT
export ROS_HOSTNAME=127.0.0.1
MASTER=""
SINK=""
cleanup() {
  if [ -n "$SINK" ]; then kill "$SINK" 2>/dev/null || true; fi
  if [ -n "$MASTER" ]; then kill "$MASTER" 2>/dev/null || true; fi
}
trap cleanup EXIT
rosmaster --core -p "$PORT" >/dev/null 2>&1 &
MASTER=$!
for _ in $(seq 100); do
  /usr/bin/python3 -c "import xmlrpc.client as x; x.ServerProxy('$ROS_MASTER_URI').getPid('/b')" \
    >/dev/null 2>&1 && break
  sleep 0.1
done
TICK="$BUILD/devel/lib/vesk_gazebo/bench_tick"
echo "== one simulated tick, no subscribers =="
"$TICK" "$TICKS" | grep -E '^simulated|^  '
"$TICK" sink >/dev/null 2>&1 &
SINK=$!
echo "== one simulated tick, a subscriber to the package, odometry and joints =="
"$TICK" "$TICKS" | grep -E '^simulated|^  '
