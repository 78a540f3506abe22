#!/usr/bin/env bash
# Real-time factor of the headless simulator running as fast as possible under the demo's
# load (kinemod, vocalsynth and vesk_demo driving the robot), with the four image cameras
# on (the kit's default configuration: two 640 x 360 eyes, 320 x 240 gaze and overhead, all
# at 15 frames per second) and with them off. Prints the simulator's own figures: achieved
# real-time factor and its CPU time per simulated second.
# Usage (workspace sourced): bash sim/bench/run_bench.sh [SIMULATED_SECONDS]   (default 60)
set -eu
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
seconds="${1:-60}"
export VESK_DIR_STATE="${VESK_DIR_STATE:-/tmp/vesk_state}"
export VESK_DIR_QOR="${VESK_DIR_QOR:-/tmp/vesk_qor}"

run() {  # label, configuration folder
  local log
  log="$(mktemp)"
  VESK_DIR_CONFIG="$2" roslaunch "$here/bench.launch" duration:="$seconds" demo_duration:="$(( seconds - 1 ))" >"$log" 2>&1 || true
  local line
  line="$(grep -a 'real-time factor' "$log" | grep -a 'simulated' | tail -1)"
  if [ -z "$line" ]; then
    echo "$1: no result (log in $log)"
    return
  fi
  local rtf cpu frames
  rtf="$(sed -n 's/.*real-time factor \([0-9.e+-]*\)).*/\1/p' <<<"$line")"
  cpu="$(sed -n 's/.*CPU \([0-9.e+-]*\) s per simulated second.*/\1/p' <<<"$line")"
  frames="$(sed -n 's/.* \([0-9]*\) camera frames.*/\1/p' <<<"$line")"
  printf '%-12s real-time factor %6.2f   simulator CPU %.3f s per simulated second   %s camera frames\n' \
    "$1" "$rtf" "$cpu" "$frames"
  rm -f "$log"
}

echo "headless simulator, $seconds simulated seconds as fast as possible, demo load"
run "cameras on" "$repo/config"
run "cameras off" "$here/config_no_cameras"
