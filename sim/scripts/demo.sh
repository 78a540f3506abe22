#!/usr/bin/env bash
# The vesk demo: starts the simulated robot (headless simulator with libvesk_gazebo, kinemod
# and vocalsynth) through roslaunch, which brings up a ROS master of its own when none is
# running, drives it through the scripted demo and writes a report folder.
#
# Run from the repository root with the catkin workspace sourced (scripts/run.sh does both):
#   bash sim/scripts/demo.sh [duration=20] [rtf=1] [robot=vesk] [report=DIR] [rviz=false] [sim=gazebo]
#   duration  simulated seconds of the demo
#   rtf       real-time factor (0: as fast as possible)
#   report    report folder (default ./vesk_report_<date>-<time>)
#   rviz      true to watch the frame tree and the eye cameras in RViz
#   sim       gazebo: real Gazebo 11 (gzserver, headless) instead of the headless simulator
# kinemod's and vocalsynth's console output goes to the ROS log folder (~/.ros/log).
set -eu

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"

duration=20
rtf=1
robot="${VESK_ROBOT_NAME:-vesk}"
report="$PWD/vesk_report_$(date +%Y%m%d-%H%M%S)"
rviz=false
sim=vesk_sim
for word in "$@"; do
  case "$word" in
    duration=*) duration="${word#*=}" ;;
    rtf=*) rtf="${word#*=}" ;;
    robot=*) robot="${word#*=}" ;;
    report=*) report="${word#*=}" ;;
    rviz=*) rviz="${word#*=}" ;;
    sim=*) sim="${word#*=}" ;;
    help|-h|--help) sed -n '2,15p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unrecognised argument \"$word\" (try: bash sim/scripts/demo.sh help)" >&2; exit 2 ;;
  esac
done
case "$report" in /*) ;; *) report="$PWD/$report" ;; esac

if ! command -v roslaunch >/dev/null 2>&1 || ! rospack find vesk_sim >/dev/null 2>&1; then
  echo "demo.sh: the vesk workspace is not sourced (source build/devel/setup.bash first)" >&2
  exit 1
fi
# The kit's directories: the repository's configuration unless the user has set their own.
set +u
source "$repo/config/setup.bash"
set -u

rm -f "$report/summary.txt"
echo "vesk demo: robot \"$robot\", $duration simulated seconds at real-time factor $rtf"
# The simulated robot with both nodes; roslaunch also starts the ROS master when none runs.
if [ "$sim" = gazebo ]; then
  echo "vesk demo: in Gazebo 11 (gzserver)"
  roslaunch vesk_sim gazebo.launch robot:="$robot" rtf:="$rtf" gui:=false nodes_output:=log &
else
  roslaunch vesk_sim sim.launch robot:="$robot" rtf:="$rtf" rviz:="$rviz" nodes_output:=log &
fi
launch_pid=$!
stop_launch() {
  if kill -0 "$launch_pid" 2>/dev/null; then
    kill -INT "$launch_pid" 2>/dev/null || true
    wait "$launch_pid" 2>/dev/null || true
  fi
}
trap stop_launch EXIT
# The demo itself waits for the master and then for the robot's first tick.
status=0
rosrun vesk_sim vesk_demo robot="$robot" duration="$duration" report="$report" || status=$?
stop_launch
trap - EXIT
if [ "$status" -ne 0 ]; then
  echo "vesk demo: the demo ended with status $status" >&2
  exit "$status"
fi

if [ ! -f "$report/summary.txt" ]; then
  echo "vesk demo: no report was written (see the output above)" >&2
  exit 1
fi
echo
echo "vesk demo report: $report/index.html (open it in a browser)"
echo "  trajectory.png  ground truth and odometry in metres, targets with their reach radius"
echo "  caml.png camr.png  eye camera snapshots, voice.wav  the voice as the speaker played it"
echo "  summary.txt  the figures of the summary table"
