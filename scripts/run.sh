#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the simulated robot
# demo (or, where the simulator is not built, a ROS master with the nodes).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# sim=gazebo: the same demo in real Gazebo 11 (headless gzserver). Where Gazebo 11 is not
# installed, it runs in the Debian 11 root of scripts/gazebo11.sh (made on first use), and
# the report folder is written straight to this machine's disk.
sim=""
args=()
for a in "$@"; do
  case "$a" in
    sim=*) sim="${a#sim=}" ;;
    *) args+=("$a") ;;
  esac
done
case "$sim" in
  "" | vesk_sim) sim="" ;;
  gazebo) ;;
  *) echo "run: unknown simulator \"$sim\" (sim=gazebo or sim=vesk_sim)" >&2; exit 2 ;;
esac
if [ "$sim" = gazebo ] && [ -z "${VESK_IN_GAZEBO_ROOT:-}" ] && ! gzserver --version 2>/dev/null | grep -q "version 11\."; then
  report=""
  rest=()
  for a in "${args[@]+"${args[@]}"}"; do
    case "$a" in report=*) report="${a#report=}" ;; *) rest+=("$a") ;; esac
  done
  [ -n "$report" ] || report="vesk_report_$(date +%Y%m%d-%H%M%S)"
  case "$report" in /*) ;; *) report="$PWD/$report" ;; esac
  mkdir -p "$report"
  exec bash "$root/scripts/gazebo11.sh" --bind "$report" -- \
    bash scripts/run.sh sim=gazebo "${rest[@]+"${rest[@]}"}" report="$report"
fi
set -- "${args[@]+"${args[@]}"}"
[ "$sim" = gazebo ] && set -- "$@" sim=gazebo
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
build="${VESK_BUILD_DIR:-$root/build}"
export ROS_HOME="${ROS_HOME:-$build/ros_home}"
mkdir -p "$ROS_HOME"
# shellcheck disable=SC1091
set +u
source "$build/devel/setup.bash"
set -u
cd "$root"
if [ -f sim/scripts/demo.sh ]; then
  exec bash sim/scripts/demo.sh "$@"
fi

# No simulator: an embedded master with whatever nodes exist, until Ctrl-C.
port="${VESK_MASTER_PORT:-11311}"
export ROS_MASTER_URI="http://localhost:$port"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT INT TERM
rosmaster --core -p "$port" > "$ROS_HOME/rosmaster.log" 2>&1 &
pids+=($!)
sleep 2
for node in kinemod vocalsynth; do
  exe="$(find "$build/devel/lib" -type f -name "$node" -perm -u+x 2>/dev/null | head -n 1)"
  if [ -n "$exe" ]; then
    echo "run: starting $node"
    "$exe" &
    pids+=($!)
  fi
done
echo "run: ROS master at $ROS_MASTER_URI; Ctrl-C stops everything"
wait
