#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the simulated robot
# demo (or, where the simulator is not built, a ROS master with the nodes).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
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
