#!/bin/bash
# One command for the exchange benchmark: builds bench_exchange in an existing
# catkin build folder of the workspace, starts a private ROS master on a free
# loopback port and a subscriber process, runs the measurement, and stops
# both again.
#   net/bench/run_bench.sh [BUILD_DIR] [TICKS_PER_SIDE]
set -e
BUILD=${1:-/tmp/build-net}
TICKS=${2:-3000}
source "$BUILD/devel/setup.bash"
make -C "$BUILD" -j2 bench_exchange >/dev/null
BENCH="$BUILD/devel/lib/vesk_net/bench_exchange"

PORT=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export ROS_MASTER_URI=http://127.0.0.1:$PORT
export ROS_HOSTNAME=127.0.0.1

PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

rosmaster --core -p "$PORT" >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do
  /usr/bin/python3 -c "import xmlrpc.client as x; x.ServerProxy('$ROS_MASTER_URI').getPid('/b')" \
    >/dev/null 2>&1 && break
  sleep 0.1
done
"$BENCH" sink >/dev/null 2>&1 &
PIDS+=($!)
"$BENCH" run "$TICKS"
