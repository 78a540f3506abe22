#!/usr/bin/env bash
# The headless simulator under the demo's load, as fast as possible: for 1, 2 and 4 robots,
# each with its own kinemod, vocalsynth and scripted demo, the simulator renders its cameras
# (the kit's default configuration: two 640 x 360 eyes, 320 x 240 gaze and overhead, all at
# 15 frames per second, and the light sensors) on one thread and on two (threads=N); once
# more for one robot with the cameras off. Every demo runs to its end and writes its report;
# then the simulator is stopped. Last, the simulator alone (no nodes, no demo) for the same
# robot counts and threads, for the speed-up of its own threads.
#
# Printed per run: the simulator's real-time factor, and the CPU time per simulated second of
# the whole system (simulator, the nodes, the demos; each process's own user + system time,
# all threads, taken by /usr/bin/time around it) and of the simulator alone. Then, per robot
# count, the ratios of the two-thread run to the one-thread run of the same robots, and of
# every run's CPU per simulated second to the one-robot one-thread run's; for the simulator
# alone also an estimate of its two-thread speed-up from CPU times, which the machine's other
# load hardly changes (all in this run).
# A private ROS master on a free loopback port is started and stopped here.
#
# Usage (workspace sourced): bash sim/bench/run_bench.sh [DEMO_SECONDS] [ROBOT_COUNTS]
#   DEMO_SECONDS  simulated seconds of each demo (default 20, more than 2)
#   ROBOT_COUNTS  e.g. "1 2 4" (default)
set -eu
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
seconds="${1:-20}"
counts="${2:-1 2 4}"
export VESK_DIR_STATE="${VESK_DIR_STATE:-/tmp/vesk_state}"
export VESK_DIR_QOR="${VESK_DIR_QOR:-/tmp/vesk_qor}"
mkdir -p "$VESK_DIR_STATE" "$VESK_DIR_QOR"
if ! command -v rosmaster >/dev/null 2>&1 || ! rospack find vesk_sim >/dev/null 2>&1; then
  echo "run_bench.sh: the vesk workspace is not sourced (source build/devel/setup.bash first)" >&2
  exit 1
fi
sim_bin="$(catkin_find --first-only vesk_sim vesk_sim 2>/dev/null || true)"
demo_bin="$(catkin_find --first-only vesk_sim vesk_demo 2>/dev/null || true)"
kinemod_bin="$(catkin_find --first-only vesk_body kinemod 2>/dev/null || true)"
voice_bin="$(catkin_find --first-only vesk_voice vocalsynth 2>/dev/null || true)"
for b in "$sim_bin" "$demo_bin" "$kinemod_bin" "$voice_bin"; do
  if [ ! -x "$b" ]; then
    echo "run_bench.sh: a kit program was not found (build the workspace first)" >&2
    exit 1
  fi
done

work="$(mktemp -d /tmp/vesk_sim_bench.XXXXXX)"
port="$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
export ROS_MASTER_URI="http://127.0.0.1:$port"
export ROS_HOSTNAME=127.0.0.1
master=""
pids=()
# Stops a program started by `start` below: the signal goes to the program itself, the
# child of its /usr/bin/time process, which then writes the program's CPU time.
stop() {  # PID of the time process, signal
  local child
  child="$(pgrep -P "$1" 2>/dev/null || true)"
  if [ -n "$child" ]; then kill "-$2" $child 2>/dev/null || true; fi
}
cleanup() {
  for p in "${pids[@]}"; do stop "$p" INT; done
  if [ -n "$master" ]; then kill "$master" 2>/dev/null || true; fi
}
trap cleanup EXIT
rosmaster --core -p "$port" >"$work/master.log" 2>&1 &
master=$!
for _ in $(seq 100); do
  rosparam set /use_sim_time true >/dev/null 2>&1 && break
  sleep 0.1
done

# Robot spawn poses (x,y,yaw) on free floor of the arena, in the order robots are added.
poses=("0,0,0" "-0.6,1.0,1.57" "0.8,-1.0,3.14" "-1.0,-0.8,0.8")

# Starts a program under /usr/bin/time, which writes its user and system CPU time [s] to
# FILE when it ends. Sets `started` to the PID of the time process.
start() {  # FILE, LOG, program and arguments...
  local file="$1" log="$2"
  shift 2
  /usr/bin/time -f "%U %S" -o "$file" "$@" >"$log" 2>&1 &
  started=$!
}

# Sum of the CPU times in the given files [s].
cpu_sum() { cat "$@" 2>/dev/null | awk '{ s += $1 + $2 } END { printf "%.3f", s }'; }

# One run: robot count, threads, configuration folder. Prints a result line and leaves
# "RTF CPU_TOTAL_PER_SIM_S" in $work/result.
run() {
  local n="$1" threads="$2" config="$3" label="$4"
  local dir="$work/run_${n}_${threads}_$(basename "$config")"
  mkdir -p "$dir"
  export VESK_DIR_CONFIG="$config"
  local robots=() demo_pids=() node_pids=() i name
  pids=()
  for ((i = 0; i < n; i++)); do
    name=vesk; [ "$i" -gt 0 ] && name="vesk$((i + 1))"
    robots+=("robot=$name@${poses[$i]}")
    start "$dir/cpu_kinemod_$name" "$dir/kinemod_$name.log" "$kinemod_bin" robot="$name" __name:="${name}_kinemod"
    node_pids+=("$started")
    start "$dir/cpu_vocalsynth_$name" "$dir/vocalsynth_$name.log" "$voice_bin" robot="$name" __name:="${name}_vocalsynth"
    node_pids+=("$started")
    start "$dir/cpu_demo_$name" "$dir/demo_$name.log" "$demo_bin" robot="$name" duration="$seconds" \
      report="$dir/report_$name"
    demo_pids+=("$started")
  done
  pids=("${node_pids[@]}" "${demo_pids[@]}")
  start "$dir/cpu_sim" "$dir/sim.log" "$sim_bin" "${robots[@]}" rtf=0 threads="$threads"
  local sim=$started
  pids+=("$sim")
  # The demos end by themselves; a run that takes longer than a simulated second per wall
  # second (besides a minute to start) is given up.
  local status=0 deadline=$((SECONDS + 60 + seconds))
  for p in "${demo_pids[@]}"; do
    while kill -0 "$p" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.2; done
    if kill -0 "$p" 2>/dev/null; then
      status=1
      stop "$p" INT
    fi
    wait "$p" || status=1
  done
  stop "$sim" INT
  wait "$sim" || true
  for p in "${node_pids[@]}"; do stop "$p" INT; done
  for p in "${node_pids[@]}"; do wait "$p" || true; done
  pids=()
  local reports=0
  for ((i = 0; i < n; i++)); do
    name=vesk; [ "$i" -gt 0 ] && name="vesk$((i + 1))"
    [ -f "$dir/report_$name/summary.txt" ] && reports=$((reports + 1))
  done
  local line
  line="$(grep -a 'real-time factor' "$dir/sim.log" | grep -a 'simulated' | tail -1 || true)"
  if [ -z "$line" ] || [ "$status" -ne 0 ]; then
    echo "$label: no result (logs in $dir)"
    echo "0 0" >"$work/result"
    failed=1
    return
  fi
  local simulated rtf sim_cpu total frames
  simulated="$(sed -n 's/.*simulated \([0-9.e+-]*\) s in.*/\1/p' <<<"$line")"
  rtf="$(sed -n 's/.*real-time factor \([0-9.e+-]*\)).*/\1/p' <<<"$line")"
  frames="$(sed -n 's/.* \([0-9]*\) camera frames.*/\1/p' <<<"$line")"
  sim_cpu="$(cpu_sum "$dir/cpu_sim")"
  total="$(cpu_sum "$dir"/cpu_*)"
  awk -v l="$label" -v r="$rtf" -v t="$total" -v c="$sim_cpu" -v s="$simulated" -v f="$frames" \
    -v rep="$reports" -v n="$n" 'BEGIN {
      printf "%-26s RTF %6.2f   CPU per simulated s: system %.3f s, simulator %.3f s   (%.1f s simulated, %s frames, %d/%d reports)\n",
        l, r, t / s, c / s, s, f, rep, n }'
  echo "$rtf $(awk -v t="$total" -v s="$simulated" 'BEGIN { printf "%.6f", t / s }')" >"$work/result"
}

failed=0
echo "headless simulator, demos of $seconds simulated seconds, as fast as possible, $(nproc) cores"
declare -A rtf_of cpu_of
for n in $counts; do
  for threads in 1 2; do
    run "$n" "$threads" "$repo/config" "$n robot(s), threads=$threads"
    read -r rtf_of["$n,$threads"] cpu_of["$n,$threads"] <"$work/result"
  done
done
run 1 1 "$here/config_no_cameras" "1 robot, cameras off"
read -r rtf_off cpu_off <"$work/result"

# The simulator alone (no nodes, no demo; its plug-ins still tick and publish), for the
# speed-up of its own rendering threads: each robot count on one thread and on two.
alone() {  # robot count, threads; prints the real-time factor and the process's and the stepping thread's CPU per simulated second
  local n="$1" threads="$2" robots=() i name line
  for ((i = 0; i < n; i++)); do
    name=vesk; [ "$i" -gt 0 ] && name="vesk$((i + 1))"
    robots+=("robot=$name@${poses[$i]}")
  done
  line="$(VESK_DIR_CONFIG="$repo/config" "$sim_bin" "${robots[@]}" rtf=0 duration="$seconds" threads="$threads" 2>&1 |
    grep -a 'real-time factor' | grep -a 'simulated' | tail -1 || true)"
  echo "$(sed -n 's/.*real-time factor \([0-9.e+-]*\)).*/\1/p' <<<"$line")" \
    "$(sed -n 's/.*CPU \([0-9.e+-]*\) s per simulated second.*/\1/p' <<<"$line")" \
    "$(sed -n 's/.*stepping thread \([0-9.e+-]*\) s).*/\1/p' <<<"$line")"
}
echo
echo "simulator alone, $seconds simulated seconds:"
declare -A alone_of step_of proc_of
for n in $counts; do
  for threads in 1 2; do
    read -r rtf proc step <<<"$(alone "$n" "$threads")"
    alone_of["$n,$threads"]="${rtf:-0}"
    proc_of["$n,$threads"]="${proc:-0}"
    step_of["$n,$threads"]="${step:-0}"
    printf '%-26s RTF %6.2f   CPU per simulated s %.3f s, of it the stepping thread %.3f s\n' \
      "$n robot(s), threads=$threads" "${alone_of[$n,$threads]}" "${proc_of[$n,$threads]}" "${step_of[$n,$threads]}"
  done
done

echo
echo "ratios (same run):"
base_cpu="${cpu_of[1,1]:-0}"
for n in $counts; do
  awk -v n="$n" -v r1="${rtf_of[$n,1]}" -v r2="${rtf_of[$n,2]}" -v c1="${cpu_of[$n,1]}" -v c2="${cpu_of[$n,2]}" \
    -v b="$base_cpu" 'BEGIN {
      if (r1 > 0 && b > 0)
        printf "  %d robot(s): RTF threads=2 / threads=1 %.2f   system CPU per simulated s vs 1 robot threads=1: %.2f (threads=1), %.2f (threads=2)\n",
          n, r2 / r1, c1 / b, c2 / b
      else printf "  %d robot(s): no ratio (a run failed)\n", n }'
done
# Where each thread has a core of its own, the busier thread sets the pace: the one-thread
# run's CPU per simulated second over the two-thread run's busier share (the stepping
# thread's, or everything else's) estimates the speed-up without the machine's other load.
for n in $counts; do
  awk -v n="$n" -v r1="${alone_of[$n,1]:-0}" -v r2="${alone_of[$n,2]:-0}" -v c1="${proc_of[$n,1]:-0}" \
    -v c2="${proc_of[$n,2]:-0}" -v s2="${step_of[$n,2]:-0}" 'BEGIN {
    busier = s2 > c2 - s2 ? s2 : c2 - s2
    if (r1 > 0 && busier > 0)
      printf "  simulator alone, %d robot(s): RTF threads=2 / threads=1 %.2f   estimate on free cores %.2f\n",
        n, r2 / r1, c1 / busier }'
done
awk -v c="$cpu_off" -v b="$base_cpu" -v r="$rtf_off" -v r1="${rtf_of[1,1]:-0}" 'BEGIN {
  if (b > 0 && r1 > 0) printf "  1 robot, cameras off vs on (threads=1): system CPU per simulated s %.2f, RTF %.2f\n", c / b, r / r1 }'
if [ "$failed" -eq 0 ]; then rm -rf "$work"; fi
