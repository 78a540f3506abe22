#!/usr/bin/env bash
# The headless simulator at scale, as fast as possible.
#
# 1. The simulator alone (its plug-ins tick and publish; no other node) for each robot count
#    on one thread and on two, once with nobody watching the cameras and once with every
#    camera of every robot watched (vesk_camera_watch subscribes the raw images of the two
#    eyes, the overhead and the gaze camera: two 640 x 360 and two 320 x 240 at 15 frames
#    per second per robot). A camera renders only while watched; the light sensors (8 x 8
#    cameras) always do. Printed: the real-time factor table, the CPU per simulated second
#    of the simulator, and the ratios of the same run: unwatched / watched, two threads /
#    one, and every count's CPU per robot against one robot's.
# 2. Under the demo's load (DEMO_COUNTS, default "1"; "" leaves it out): each robot with its
#    own kinemod, vocalsynth and scripted demo (which watches the eyes), one and two
#    threads, and one robot with the cameras off; printed are the real-time factor and the
#    CPU per simulated second of the whole system (each process's user + system time, taken
#    by /usr/bin/time around it) and of the simulator alone, with their ratios.
#
# Robots stand on free floor of the arena (up to 16, at the poses below). A private ROS
# master on a free loopback port is started here. Everything the benchmark starts is
# stopped however it ends (Ctrl-C, a failed run, an error).
#
# Usage (workspace sourced): bash sim/bench/run_bench.sh [SECONDS] [ROBOT_COUNTS]
#   SECONDS       simulated seconds of each run (default 10, more than 2)
#   ROBOT_COUNTS  e.g. "1 4 16" (default), each 1 to 16
#   DEMO_COUNTS   (environment) robot counts of the runs under the demo's load (default "1")
set -eu
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
seconds="${1:-10}"
counts="${2:-1 4 16}"
demo_counts="${DEMO_COUNTS-1}"

# Robot spawn poses (x,y,yaw) on free floor of vesk_arena.world, in the order robots are
# added: at least 0.3 m from every box's side and 0.4 m from the walls, 0.5 m apart.
poses=("0,0,0" "-0.6,1.0,1.57" "0.8,-1.0,3.14" "-1.0,-0.8,0.8"
  "-1.6,-0.4,0" "-1.6,0.4,0" "-1.6,1.2,0" "-1.2,0,1.57"
  "-1.2,1.6,0" "-0.8,0.4,3.14" "-0.4,-0.8,1.57" "-0.4,1.6,0"
  "0,0.8,0" "0.4,-1.6,1.57" "0.4,-0.4,0" "0.4,0.4,3.14")
max_robots=${#poses[@]}

case "$seconds" in '' | *[!0-9.]*) echo "run_bench.sh: SECONDS must be a number" >&2; exit 2 ;; esac
if ! awk -v s="$seconds" 'BEGIN { exit !(s > 2) }'; then
  echo "run_bench.sh: SECONDS must be more than 2" >&2
  exit 2
fi
for n in $counts $demo_counts; do
  case "$n" in '' | *[!0-9]*) echo "run_bench.sh: robot count \"$n\" is not a whole number" >&2; exit 2 ;; esac
  if [ "$n" -lt 1 ] || [ "$n" -gt "$max_robots" ]; then
    echo "run_bench.sh: robot count $n is not within 1 to $max_robots" >&2
    exit 2
  fi
done

export VESK_DIR_STATE="${VESK_DIR_STATE:-/tmp/vesk_state}"
export VESK_DIR_QOR="${VESK_DIR_QOR:-/tmp/vesk_qor}"
mkdir -p "$VESK_DIR_STATE" "$VESK_DIR_QOR"
if ! command -v rosmaster >/dev/null 2>&1 || ! rospack find vesk_sim >/dev/null 2>&1; then
  echo "run_bench.sh: the vesk workspace is not sourced (source build/devel/setup.bash first)" >&2
  exit 1
fi
find_bin() { catkin_find --first-only "$1" "$2" 2>/dev/null || true; }
sim_bin="$(find_bin vesk_sim vesk_sim)"
demo_bin="$(find_bin vesk_sim vesk_demo)"
kinemod_bin="$(find_bin vesk_body kinemod)"
voice_bin="$(find_bin vesk_voice vocalsynth)"
# The viewer of this tree's build (an older workspace sourced to measure it has none).
watch_bin="${VESK_CAMERA_WATCH:-$(find_bin vesk_sim vesk_camera_watch)}"
[ -x "$watch_bin" ] || watch_bin="$repo/build/devel/lib/vesk_sim/vesk_camera_watch"
for b in "$sim_bin" "$demo_bin" "$kinemod_bin" "$voice_bin" "$watch_bin"; do
  if [ ! -x "$b" ]; then
    echo "run_bench.sh: a kit program was not found (build the workspace first): ${b:-?}" >&2
    exit 1
  fi
done

work="$(mktemp -d /tmp/vesk_sim_bench.XXXXXX)"
port="$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
export ROS_MASTER_URI="http://127.0.0.1:$port"
export ROS_HOSTNAME=127.0.0.1

# Every process started here, by PID (of its /usr/bin/time where it has one).
started_pids=()
master=""
# Stops one started process and what it runs: SIGINT to the program (the child of its
# /usr/bin/time process, which then writes the program's CPU time) and to the process,
# SIGTERM after 5 s, SIGKILL after 5 more.
stop_pid() {  # PID
  local p="$1" child i
  kill -0 "$p" 2>/dev/null || return 0
  child="$(pgrep -P "$p" 2>/dev/null || true)"
  [ -n "$child" ] && kill -INT $child 2>/dev/null
  kill -INT "$p" 2>/dev/null || true
  for i in $(seq 50); do kill -0 "$p" 2>/dev/null || return 0; sleep 0.1; done
  [ -n "$child" ] && kill -TERM $child 2>/dev/null
  kill -TERM "$p" 2>/dev/null || true
  for i in $(seq 50); do kill -0 "$p" 2>/dev/null || return 0; sleep 0.1; done
  [ -n "$child" ] && kill -KILL $child 2>/dev/null
  kill -KILL "$p" 2>/dev/null || true
}
cleanup() {
  local p
  trap - EXIT INT TERM
  for p in "${started_pids[@]}"; do stop_pid "$p"; done
  if [ -n "$master" ]; then stop_pid "$master"; fi
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

rosmaster --core -p "$port" >"$work/master.log" 2>&1 &
master=$!
for _ in $(seq 100); do
  rosparam set /use_sim_time true >/dev/null 2>&1 && break
  sleep 0.1
done

# Starts a program under /usr/bin/time, which writes its user and system CPU time [s] to
# FILE when it ends. Sets `started` to the PID of the time process.
start() {  # FILE, LOG, program and arguments...
  local file="$1" log="$2"
  shift 2
  /usr/bin/time -f "%U %S" -o "$file" "$@" >"$log" 2>&1 &
  started=$!
  started_pids+=("$started")
}
# Stops the started processes given and forgets them.
finish() {  # PID...
  local p keep=() q gone
  for p in "$@"; do stop_pid "$p"; wait "$p" 2>/dev/null || true; done
  for q in "${started_pids[@]}"; do
    gone=0
    for p in "$@"; do [ "$p" = "$q" ] && gone=1; done
    [ "$gone" -eq 0 ] && keep+=("$q")
  done
  started_pids=("${keep[@]+"${keep[@]}"}")
}

# Sum of the CPU times in the given files [s].
cpu_sum() { cat "$@" 2>/dev/null | awk '{ s += $1 + $2 } END { printf "%.3f", s }'; }
robot_name() { if [ "$1" -eq 0 ]; then echo vesk; else echo "vesk$(($1 + 1))"; fi; }
robot_args() {  # count: the simulator's robot arguments
  local i
  for ((i = 0; i < $1; i++)); do echo "robot=$(robot_name "$i")@${poses[$i]}"; done
}
robot_names() {
  local i
  for ((i = 0; i < $1; i++)); do robot_name "$i"; done
}
# The simulator's closing line: "RTF CPU_PER_SIM_S SIMULATED_S FRAMES", or nothing.
sim_result() {  # log file
  local line
  line="$(grep -a 'real-time factor' "$1" | grep -a 'simulated' | tail -1 || true)"
  [ -n "$line" ] || return 0
  echo "$(sed -n 's/.*real-time factor \([0-9.e+-]*\)).*/\1/p' <<<"$line")" \
    "$(sed -n 's/.*CPU \([0-9.e+-]*\) s per simulated second.*/\1/p' <<<"$line")" \
    "$(sed -n 's/.*simulated \([0-9.e+-]*\) s in.*/\1/p' <<<"$line")" \
    "$(sed -n 's/.* \([0-9]*\) camera frames.*/\1/p' <<<"$line")"
}

failed=0
echo "headless simulator, $seconds simulated seconds per run, as fast as possible, $(nproc) cores;" \
  "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# ---- 1. the simulator alone, cameras unwatched and watched ---------------------------------
declare -A rtf_of cpu_of frames_of
alone() {  # count, threads, watched (0/1)
  local n="$1" threads="$2" watched="$3" dir watcher="" sim result
  dir="$work/alone_${n}_${threads}_${watched}"
  mkdir -p "$dir"
  local args=()
  mapfile -t args < <(robot_args "$n")
  if [ "$watched" -eq 1 ]; then
    local names=()
    mapfile -t names < <(robot_names "$n")
    start "$dir/cpu_watch" "$dir/watch.log" "$watch_bin" "${names[@]}"
    watcher=$started
  fi
  start "$dir/cpu_sim" "$dir/sim.log" env VESK_DIR_CONFIG="$repo/config" "$sim_bin" "${args[@]}" \
    rtf=0 duration="$seconds" threads="$threads"
  sim=$started
  wait "$sim" || true
  finish "$sim"
  [ -n "$watcher" ] && finish "$watcher"
  result="$(sim_result "$dir/sim.log")"
  if [ -z "$result" ]; then
    echo "  $n robot(s), threads=$threads, watched=$watched: no result (logs in $dir)"
    failed=1
    result="0 0 0 0"
  fi
  local rtf cpu simulated frames
  read -r rtf cpu simulated frames <<<"$result"
  rtf_of["$n,$threads,$watched"]="$rtf"
  cpu_of["$n,$threads,$watched"]="$cpu"
  frames_of["$n,$threads,$watched"]="$frames"
  if [ "$watched" -eq 1 ]; then
    # The simulator's own figure counts the start, before the viewer is connected: the
    # viewer's figure is taken while every camera is watched.
    local got watched_rtf
    got="$(sed -n 's/^camera frames received: \([0-9]*\)$/\1/p' "$dir/watch.log" | tail -1)"
    watched_rtf="$(sed -n 's/^all cameras watched .*(real-time factor \([0-9.e+-]*\))$/\1/p' "$dir/watch.log" | tail -1)"
    frames_of["$n,$threads,$watched"]="$frames, ${got:-?} received"
    if [ -z "$watched_rtf" ]; then
      echo "  $n robot(s), threads=$threads: not every camera was watched (logs in $dir)"
      failed=1
      watched_rtf=0
    fi
    rtf_of["$n,$threads,$watched"]="$watched_rtf"
  fi
}
for n in $counts; do
  for threads in 1 2; do
    for watched in 0 1; do alone "$n" "$threads" "$watched"; done
  done
done

echo
echo "simulator alone: real-time factor (camera frames rendered, the light sensors' included; watched:"
echo "the real-time factor while every camera was watched, and the frames the viewer received)"
printf '%-8s %-8s %-24s %-34s %s\n' robots threads "cameras unwatched" "cameras watched" "unwatched / watched"
for n in $counts; do
  for threads in 1 2; do
    awk -v n="$n" -v t="$threads" -v u="${rtf_of[$n,$threads,0]}" -v w="${rtf_of[$n,$threads,1]}" \
      -v fu="${frames_of[$n,$threads,0]}" -v fw="${frames_of[$n,$threads,1]}" 'BEGIN {
        printf "%-8d %-8d %-24s %-34s %s\n", n, t, sprintf("%.2f (%s)", u, fu), sprintf("%.2f (%s)", w, fw),
          (w > 0 ? sprintf("%.2f", u / w) : "-") }'
  done
done
echo
echo "simulator alone: CPU per simulated second [s] (per robot)"
first="${counts%% *}"
for n in $counts; do
  for threads in 1 2; do
    awk -v n="$n" -v t="$threads" -v u="${cpu_of[$n,$threads,0]}" -v w="${cpu_of[$n,$threads,1]}" 'BEGIN {
      printf "  %2d robot(s), threads=%d: unwatched %.3f (%.4f), watched %.3f (%.4f)\n", n, t, u, u / n, w, w / n }'
  done
done
echo
echo "ratios (same run):"
for n in $counts; do
  for watched in 0 1; do
    awk -v n="$n" -v w="$watched" -v r1="${rtf_of[$n,1,$watched]}" -v r2="${rtf_of[$n,2,$watched]}" \
      -v c="${cpu_of[$n,1,$watched]}" -v c1="${cpu_of[$first,1,$watched]}" -v n1="$first" 'BEGIN {
      if (r1 > 0 && c1 > 0)
        printf "  %2d robot(s), cameras %s: RTF threads=2 / threads=1 %.2f; CPU per robot vs %d robot(s) %.2f\n",
          n, (w ? "watched  " : "unwatched"), r2 / r1, n1, (c / n) / (c1 / n1)
      else printf "  %2d robot(s): no ratio (a run failed)\n", n }'
  done
done

# ---- 2. under the demo's load ----------------------------------------------------------------
demo_run() {  # count, threads, configuration folder, label; leaves "RTF CPU_TOTAL_PER_SIM_S" in $work/result
  local n="$1" threads="$2" config="$3" label="$4"
  local dir="$work/demo_${n}_${threads}_$(basename "$config")"
  mkdir -p "$dir"
  local demo_pids=() node_pids=() i name args=()
  mapfile -t args < <(robot_args "$n")
  for ((i = 0; i < n; i++)); do
    name="$(robot_name "$i")"
    start "$dir/cpu_kinemod_$name" "$dir/kinemod_$name.log" env VESK_DIR_CONFIG="$config" "$kinemod_bin" \
      robot="$name" __name:="${name}_kinemod"
    node_pids+=("$started")
    start "$dir/cpu_vocalsynth_$name" "$dir/vocalsynth_$name.log" env VESK_DIR_CONFIG="$config" "$voice_bin" \
      robot="$name" __name:="${name}_vocalsynth"
    node_pids+=("$started")
    start "$dir/cpu_demo_$name" "$dir/demo_$name.log" env VESK_DIR_CONFIG="$config" "$demo_bin" robot="$name" \
      duration="$seconds" report="$dir/report_$name"
    demo_pids+=("$started")
  done
  start "$dir/cpu_sim" "$dir/sim.log" env VESK_DIR_CONFIG="$config" "$sim_bin" "${args[@]}" rtf=0 threads="$threads"
  local sim=$started
  # The demos end by themselves; a run that takes longer than a simulated second per wall
  # second (besides a minute to start) is given up.
  local status=0 deadline=$((SECONDS + 60 + ${seconds%.*})) p
  for p in "${demo_pids[@]}"; do
    while kill -0 "$p" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.2; done
    kill -0 "$p" 2>/dev/null && status=1
  done
  finish "${demo_pids[@]}"
  finish "$sim"
  finish "${node_pids[@]}"
  local reports=0
  for ((i = 0; i < n; i++)); do
    [ -f "$dir/report_$(robot_name "$i")/summary.txt" ] && reports=$((reports + 1))
  done
  local result rtf simulated frames total sim_cpu
  result="$(sim_result "$dir/sim.log")"
  if [ -z "$result" ] || [ "$status" -ne 0 ]; then
    echo "$label: no result (logs in $dir)"
    echo "0 0" >"$work/result"
    failed=1
    return
  fi
  read -r rtf _ simulated frames <<<"$result"
  sim_cpu="$(cpu_sum "$dir/cpu_sim")"
  total="$(cpu_sum "$dir"/cpu_*)"
  awk -v l="$label" -v r="$rtf" -v t="$total" -v c="$sim_cpu" -v s="$simulated" -v f="$frames" \
    -v rep="$reports" -v n="$n" 'BEGIN {
      printf "%-26s RTF %6.2f   CPU per simulated s: system %.3f s, simulator %.3f s   (%.1f s simulated, %s frames, %d/%d reports)\n",
        l, r, t / s, c / s, s, f, rep, n }'
  echo "$rtf $(awk -v t="$total" -v s="$simulated" 'BEGIN { printf "%.6f", t / s }')" >"$work/result"
}
if [ -n "$demo_counts" ]; then
  echo
  echo "under the demo's load (kinemod, vocalsynth and the demo per robot; the demo watches the eyes):"
  declare -A demo_rtf demo_cpu
  for n in $demo_counts; do
    for threads in 1 2; do
      demo_run "$n" "$threads" "$repo/config" "$n robot(s), threads=$threads"
      read -r demo_rtf["$n,$threads"] demo_cpu["$n,$threads"] <"$work/result"
    done
  done
  demo_run 1 1 "$here/config_no_cameras" "1 robot, cameras off"
  read -r rtf_off cpu_off <"$work/result"
  base_cpu="${demo_cpu[${demo_counts%% *},1]:-0}"
  echo "ratios (same run):"
  for n in $demo_counts; do
    awk -v n="$n" -v r1="${demo_rtf[$n,1]}" -v r2="${demo_rtf[$n,2]}" -v c1="${demo_cpu[$n,1]}" \
      -v c2="${demo_cpu[$n,2]}" -v b="$base_cpu" 'BEGIN {
      if (r1 > 0 && b > 0)
        printf "  %d robot(s): RTF threads=2 / threads=1 %.2f   system CPU per simulated s vs the first count, threads=1: %.2f (threads=1), %.2f (threads=2)\n",
          n, r2 / r1, c1 / b, c2 / b
      else printf "  %d robot(s): no ratio (a run failed)\n", n }'
  done
  awk -v c="$cpu_off" -v b="${demo_cpu[1,1]:-0}" -v r="$rtf_off" -v r1="${demo_rtf[1,1]:-0}" 'BEGIN {
    if (b > 0 && r1 > 0) printf "  1 robot, cameras off vs on (threads=1): system CPU per simulated s %.2f, RTF %.2f\n", c / b, r / r1 }'
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$failed" -eq 0 ]; then rm -rf "$work"; else echo "logs kept in $work"; fi
exit "$failed"
