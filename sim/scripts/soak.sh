#!/usr/bin/env bash
# Soak run of the simulated robot: the headless simulator as fast as possible (rtf=0) with
# kinemod and vocalsynth, and the demo started again and again (each run 3 simulated
# seconds, connecting to all three programs and leaving again), for MINUTES minutes.
# Every minute it prints each program's resident memory (VmRSS, and its anonymous part
# RssAnon: heap and stacks, as opposed to pages of the program and its libraries), open
# descriptors and threads, sampled between two demo runs; at the end the growth from the
# first sample.
#   bash sim/scripts/soak.sh [MINUTES=10]
# Fails (status 1) when a program ends, or grows beyond the bounds below between the first
# sample (after one minute of warm-up) and the last:
#   resident memory  VESK_SOAK_RSS_KB  kB (default 4096)
#   descriptors      VESK_SOAK_FDS          (default 8)
#   threads          VESK_SOAK_THREADS      (default 4)
# Run from the repository root after a build (bash scripts/build.sh); uses a ROS master of
# its own on a free port and a log folder under /tmp.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
minutes="${1:-10}"
rss_limit="${VESK_SOAK_RSS_KB:-4096}"
fds_limit="${VESK_SOAK_FDS:-8}"
threads_limit="${VESK_SOAK_THREADS:-4}"
build="${VESK_BUILD_DIR:-$repo/build}"

set +u
source "$build/devel/setup.bash"
source "$repo/config/setup.bash"
set -u
work="$(mktemp -d /tmp/vesk_soak_XXXXXX)"
export ROS_HOME="$work/ros_home" ROS_LOG_DIR="$work/ros_home/log"
mkdir -p "$ROS_LOG_DIR"
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("",0)); print(s.getsockname()[1])')
export ROS_MASTER_URI="http://localhost:$port"

roslaunch -p "$port" vesk_sim sim.launch rtf:=0 nodes_output:=log > "$work/launch.log" 2>&1 &
launch_pid=$!
stop() {
  if kill -0 "$launch_pid" 2>/dev/null; then
    kill -INT "$launch_pid" 2>/dev/null || true
    wait "$launch_pid" 2>/dev/null || true
  fi
}
trap stop EXIT

# The programs' process ids, from the master.
pid_of() {
  /usr/bin/python3 - "$1" <<'EOF'
import sys, xmlrpc.client, rosgraph
m = rosgraph.Master('/vesk_soak')
print(xmlrpc.client.ServerProxy(m.lookupNode(sys.argv[1])).getPid('/vesk_soak')[2])
EOF
}
names=(vesk_sim vesk_kinemod vesk_vocalsynth)
declare -A pid
for n in "${names[@]}"; do
  for _ in $(seq 1 120); do
    p="$(pid_of "/$n" 2>/dev/null || true)"
    [ -n "$p" ] && { pid[$n]=$p; break; }
    sleep 1
  done
  [ -n "${pid[$n]:-}" ] || { echo "soak: /$n did not come up (see $work/launch.log)" >&2; exit 1; }
done

sample() {  # name -> "rss_kB fds threads anon_kB"
  local p=${pid[$1]}
  [ -d "/proc/$p" ] || { echo "gone"; return; }
  local rss threads fds anon
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$p/status")
  anon=$(awk '/^RssAnon:/ {print $2}' "/proc/$p/status")
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$p/status")
  fds=$(ls "/proc/$p/fd" | wc -l)
  echo "$rss $fds $threads $anon"
}

demo_once() {
  rm -rf "$work/report"
  timeout 120 rosrun vesk_sim vesk_demo robot=vesk duration=3 report="$work/report" >> "$work/demo.log" 2>&1
}

echo "soak: $minutes min, rtf=0, demo restarted continuously; logs in $work"
printf 'soak: %-6s %-16s %10s %5s %8s %12s %6s\n' minute program rss_kB fds threads rss_anon_kB demos
start=$(date +%s)
declare -A first
demos=0
failures=0
minute=0
last_minute=-1
end=$((start + 60 * (minutes + 1)))
while :; do
  now=$(date +%s)
  minute=$(((now - start) / 60))
  if [ "$minute" -ne "$last_minute" ]; then
    last_minute=$minute
    for n in "${names[@]}"; do
      s="$(sample "$n")"
      [ "$s" = gone ] && { echo "soak: $n (pid ${pid[$n]}) ended" >&2; exit 1; }
      printf 'soak: %-6s %-16s %10s %5s %8s %12s %6s\n' "$minute" "$n" $s "$demos"
      # The first sample is taken after a minute of demo runs, once every lazy allocation
      # of the first connections has been made.
      [ "$minute" -eq 1 ] && first[$n]="$s"
    done
  fi
  [ "$now" -ge "$end" ] && break
  if demo_once; then demos=$((demos + 1)); else failures=$((failures + 1)); fi
done

status=0
echo "soak: $demos demo runs ($failures failed) in $(( $(date +%s) - start )) s"
for n in "${names[@]}"; do
  read -r r0 f0 t0 a0 <<< "${first[$n]}"
  read -r r1 f1 t1 a1 <<< "$(sample "$n")"
  verdict=ok
  if [ $((r1 - r0)) -gt "$rss_limit" ] || [ $((f1 - f0)) -gt "$fds_limit" ] || [ $((t1 - t0)) -gt "$threads_limit" ]; then
    verdict=GREW
    status=1
  fi
  echo "soak: $n from minute 1 to $((minutes + 1)): RSS $r0 -> $r1 kB ($((r1 - r0)) kB; anonymous $((a1 - a0)) kB), descriptors $f0 -> $f1, threads $t0 -> $t1: $verdict"
done
[ "$failures" -eq 0 ] || { echo "soak: $failures demo runs failed (see $work/demo.log)" >&2; status=1; }
exit $status
