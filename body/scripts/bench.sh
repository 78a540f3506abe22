#!/bin/bash
# Benchmarks of the body kinematics, in one command:
#   1. kc_applyPush on the HEAD link of the body chain [ns per push], next to
#      one rotation and one atan2 measured in the same run (Google Benchmark);
#   2. push -> cmd_vel latency of kinemod over ROS on loopback, p50/p99, next
#      to a plain roscpp echo relay measured in the same run, 50 Hz each.
#
# Usage: body/scripts/bench.sh [samples per round] [rounds]   (default 400 x 5)
# Builds a Release tree in $VESK_BENCH_BUILD (default /tmp/build-vesk-body-bench)
# and starts its own rosmaster on a free port; everything it starts it stops.
set -eu

REPO=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${VESK_BENCH_BUILD:-/tmp/build-vesk-body-bench}
SAMPLES=${1:-400}
ROUNDS=${2:-5}

mkdir -p "$BUILD"
cd "$BUILD"
cmake "$REPO" -DPYTHON_EXECUTABLE=/usr/bin/python3 -DCMAKE_BUILD_TYPE=Release -DCATKIN_ENABLE_TESTING=OFF \
  -DCATKIN_WHITELIST_PACKAGES="vesk2_msg;vesk_support;vesk_body" > cmake.log
make -j2 kinemod bench_push bench_echo_relay bench_latency > make.log
set +u
. devel/setup.bash
set -u
BIN=$BUILD/devel/lib/vesk_body

echo "==== kc_applyPush (Release, $(nproc) cores) ===="
"$BIN/bench_push" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_min_time=0.2

PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2> /dev/null || true; done
}
trap cleanup EXIT

PORT=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
export ROS_MASTER_URI=http://127.0.0.1:$PORT
export ROS_HOSTNAME=127.0.0.1
rosmaster --core -p "$PORT" > "$BUILD/rosmaster.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do
  /usr/bin/python3 -c "import xmlrpc.client as x; x.ServerProxy('$ROS_MASTER_URI').getPid('/bench')" > /dev/null 2>&1 && break
  sleep 0.1
done

"$BIN/kinemod" robot=bench log=warn > "$BUILD/kinemod.log" 2>&1 &
PIDS+=($!)
"$BIN/bench_echo_relay" > "$BUILD/echo.log" 2>&1 &
PIDS+=($!)

echo "==== push -> cmd_vel latency ===="
"$BIN/bench_latency" "$SAMPLES" "$ROUNDS"
