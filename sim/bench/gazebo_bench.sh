#!/usr/bin/env bash
# Real-time factor of real Gazebo 11 (gzserver, update rate unlimited) against the headless
# simulator, for the same world, robot and load (kinemod, vocalsynth and vesk_demo driving
# the robot), with the four image cameras on (the kit's configuration) and off. Prints both
# factors and their ratio gzserver / vesk_sim.
#   bash sim/bench/gazebo_bench.sh [SECONDS]   (default 40; simulated seconds for vesk_sim,
#                                               wall-clock seconds of measurement for gzserver)
# Where Gazebo 11 is not installed, the whole benchmark runs in the Debian 11 root of
# scripts/gazebo11.sh, so both simulators run in one environment.
set -eu
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
seconds="${1:-40}"
if [ -z "${VESK_IN_GAZEBO_ROOT:-}" ] && ! gzserver --version 2>/dev/null | grep -q "version 11\."; then
  exec bash "$repo/scripts/gazebo11.sh" -- \
    "bash scripts/build.sh >/dev/null && source build/devel/setup.bash && bash sim/bench/gazebo_bench.sh $seconds"
fi
if ! command -v roslaunch >/dev/null 2>&1 || ! rospack find vesk_sim >/dev/null 2>&1; then
  bash "$repo/scripts/build.sh" >/dev/null
  set +u
  source "${VESK_BUILD_DIR:-$repo/build}/devel/setup.bash"
  set -u
fi
command -v rosrun >/dev/null && rospack find vesk_sim >/dev/null || { echo "gazebo_bench: workspace not built" >&2; exit 1; }
export VESK_DIR_STATE="${VESK_DIR_STATE:-/tmp/vesk_state}"
export VESK_DIR_QOR="${VESK_DIR_QOR:-/tmp/vesk_qor}"
export ROS_HOME="${ROS_HOME:-/tmp/vesk_bench_ros}"
mkdir -p "$ROS_HOME"

# gzserver's own average real-time factor over `seconds` of wall-clock time, measured after a
# warm-up of 15 s, with the demo load. Prints the factor (empty when it could not measure).
gazebo_rtf() {  # configuration folder
  local port=$((12000 + RANDOM % 2000)) log uri="" pid factor
  log="$(mktemp)"
  ROS_MASTER_URI="http://localhost:$port" \
    roslaunch -p "$port" "$here/gazebo_bench.launch" config:="$1" >"$log" 2>&1 &
  pid=$!
  for _ in $(seq 1 120); do
    uri="$(ROS_MASTER_URI="http://localhost:$port" rosparam get /gazebo/master_uri 2>/dev/null || true)"
    [ -n "$uri" ] && break
    sleep 1
  done
  factor=""
  if [ -n "$uri" ]; then
    sleep 15
    # line-buffered: a slow server can outlast the timeout, and what it printed still counts
    factor="$(GAZEBO_MASTER_URI="$uri" timeout $((3 * seconds + 30)) stdbuf -oL gz stats -p -d "$seconds" 2>/dev/null |
      awk -F, '/^[ 0-9.]+,/ { s += $1; n++ } END { if (n) printf "%.3f", s / n }')"
  fi
  kill -INT "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  [ -n "$factor" ] || echo "gazebo_bench: no figure from gzserver (log in $log)" >&2
  [ -n "$factor" ] && rm -f "$log"
  echo "$factor"
}

echo "gazebo_bench: headless simulator, $seconds simulated seconds, demo load"
sim_out="$(bash "$here/run_bench.sh" "$seconds" 1)"
echo "$sim_out"
# one robot on one thread, cameras on and off (the lines "1 robot(s), threads=1  RTF  F ..."
# and "1 robot, cameras off  RTF  F ...")
sim_on="$(sed -n 's/^1 robot(s), threads=1 *RTF *\([0-9.]*\).*/\1/p' <<<"$sim_out")"
sim_off="$(sed -n 's/^1 robot, cameras off *RTF *\([0-9.]*\).*/\1/p' <<<"$sim_out")"
echo "gazebo_bench: gzserver, $seconds wall-clock seconds, demo load"
gz_on="$(gazebo_rtf "$repo/config")"
gz_off="$(gazebo_rtf "$here/config_no_cameras")"
echo
printf '%-12s %10s %10s %18s\n' "" "vesk_sim" "gzserver" "gzserver/vesk_sim"
for row in "cameras on:$sim_on:$gz_on" "cameras off:$sim_off:$gz_off"; do
  IFS=: read -r label s g <<<"$row"
  ratio="$(awk -v s="$s" -v g="$g" 'BEGIN { if (s > 0 && g != "") printf "%.3f", g / s; else print "-" }')"
  printf '%-12s %10s %10s %18s\n' "$label" "${s:--}" "${g:--}" "$ratio"
done
