#!/usr/bin/env bash
# gzserver with the kit's system plug-in (libvesk_gazebo_system: /clock, /gazebo/reset_world,
# ground-truth poses), headless under a private Xvfb when there is no display (the cameras
# render through Mesa's llvmpipe), with a robot model in the world.
# Usage: gazebo_server.sh WORLD [model=SDF name=NAME x=0 y=0 yaw=0] [rtf=1] [log=FILE] [-- gzserver arguments]
#   rtf: real-time factor (the world's update rate becomes 1000 per second times the factor,
#   for worlds stepping 1 ms; 0 lifts the limit); log: the console output also goes to FILE.
#   ROS arguments (__name:= ...) are ignored.
# Without GAZEBO_MASTER_URI, each server takes a Gazebo master port of its own (announced in
# the ROS parameter /gazebo/master_uri). Ends gzserver (SIGINT, then SIGTERM) and Xvfb when
# interrupted.
set -u
world="" model="" name="vesk" x=0 y=0 yaw=0 rtf="" log=""
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    __*:=*) ;;
    model=*) model="${1#*=}" ;;
    name=*) name="${1#*=}" ;;
    x=*) x="${1#*=}" ;;
    y=*) y="${1#*=}" ;;
    yaw=*) yaw="${1#*=}" ;;
    rtf=*) rtf="${1#*=}" ;;
    log=*) log="${1#*=}" ;;
    --) shift; extra=("$@"); break ;;
    *) world="$1" ;;
  esac
  shift
done
[ -n "$world" ] || { echo "usage: gazebo_server.sh WORLD [model=SDF name=NAME x= y= yaw=] [rtf=F] [log=FILE]" >&2; exit 2; }

xvfb_pid="" server_pid="" tmp_world=""
stop() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -INT "$server_pid" 2>/dev/null
    for _ in $(seq 1 100); do
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -TERM "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  [ -n "$tmp_world" ] && rm -f "$tmp_world"
}
trap 'stop; exit 0' INT TERM
trap stop EXIT

if [ -z "${DISPLAY:-}" ]; then
  command -v Xvfb >/dev/null 2>&1 || {
    echo "gazebo_server: no display and no Xvfb (package xvfb): the cameras cannot render" >&2
    exit 1
  }
  # A free display number: the first without a lock file.
  n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
fi

# Each server its own Gazebo master port, so that several can run side by side.
if [ -z "${GAZEBO_MASTER_URI:-}" ]; then
  export GAZEBO_MASTER_URI="http://localhost:$((11345 + RANDOM % 2000))"
fi
rosparam set /gazebo/master_uri "$GAZEBO_MASTER_URI" >/dev/null 2>&1 || true

# The world as a copy: the robot goes in as an <include> of its model folder (there from the
# first step, and a world reset returns it to this pose), and the update rate is set there.
tmp_world="$(mktemp /tmp/vesk_world_XXXXXX.world)"
include=""
if [ -n "$model" ]; then
  include="<include><uri>file://$(cd "$(dirname "$model")" && pwd)</uri><name>$name</name><pose>$x $y 0 0 0 $yaw</pose></include>"
fi
rate=""
[ -n "$rtf" ] && rate=$(awk -v f="$rtf" 'BEGIN { printf "%d", f * 1000 }')
awk -v inc="$include" -v rate="$rate" '
  rate != "" { sub(/<real_time_update_rate>[^<]*</, "<real_time_update_rate>" rate "<") }
  /<\/world>/ && inc != "" && !done { print "    " inc; done = 1 }
  { print }' "$world" > "$tmp_world"

# No sound card (a server, a container): OpenAL gets its null device instead of an error.
[ -e /dev/snd ] || export ALSOFT_DRIVERS="${ALSOFT_DRIVERS:-null}"

if [ -n "$log" ]; then
  : > "$log"
  exec > >(tee -a "$log") 2>&1
fi
gzserver --verbose -s libvesk_gazebo_system.so "${extra[@]+"${extra[@]}"}" "$tmp_world" &
server_pid=$!
wait "$server_pid"
status=$?
server_pid=""
exit "$status"
