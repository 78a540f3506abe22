#!/usr/bin/env bash
# gzserver with the kit's system plug-in (libvesk_gazebo_system: /clock, /gazebo/reset_world,
# ground-truth poses), headless under a private Xvfb when there is no display (the cameras
# render through Mesa's llvmpipe), and a robot model spawned into it once the world is up.
# Usage: gazebo_server.sh WORLD [model=SDF name=NAME x=0 y=0 yaw=0] [rtf=1] [log=FILE] [-- gzserver arguments]
#   log: gzserver's console output is also written to FILE.
#   rtf: real-time factor (the world's update rate is set to 1000 per second times the factor,
#   for worlds stepping 1 ms; 0 lifts the limit); ROS arguments (__name:= ...) are ignored.
# Without GAZEBO_MASTER_URI, each server takes a Gazebo master port of its own.
# Ends gzserver (SIGINT, then SIGTERM) and Xvfb when interrupted.
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
[ -n "$world" ] || { echo "usage: gazebo_server.sh WORLD [model=SDF name=NAME x= y= yaw=] [rtf=F]" >&2; exit 2; }

xvfb_pid="" server_pid=""
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
  port=$((11345 + RANDOM % 2000))
  export GAZEBO_MASTER_URI="http://localhost:$port"
fi

# The Gazebo master's address for gzclient and gz (gazebo_client.sh reads it).
rosparam set /gazebo/master_uri "$GAZEBO_MASTER_URI" >/dev/null 2>&1 || true

if [ -n "$log" ]; then
  : > "$log"
  exec > >(tee -a "$log") 2>&1
fi
gzserver --verbose -s libvesk_gazebo_system.so "${extra[@]+"${extra[@]}"}" "$world" &
server_pid=$!

if [ -n "$model" ]; then
  spawned=0
  for _ in $(seq 1 120); do
    kill -0 "$server_pid" 2>/dev/null || break
    if gz model --spawn-file="$model" --model-name="$name" -x "$x" -y "$y" -Y "$yaw" >/dev/null 2>&1; then
      spawned=1
      break
    fi
    sleep 1
  done
  if [ "$spawned" = 1 ]; then
    echo "gazebo_server: spawned \"$name\" from $model at ($x, $y, yaw $yaw)"
  else
    echo "gazebo_server: could not spawn \"$name\" into gzserver" >&2
  fi
fi
if [ -n "$rtf" ] && kill -0 "$server_pid" 2>/dev/null; then
  rate=$(awk -v f="$rtf" 'BEGIN { printf "%d", f * 1000 }')
  if gz physics -u "$rate" >/dev/null 2>&1; then
    echo "gazebo_server: update rate $rate per second (real-time factor $rtf)"
  else
    echo "gazebo_server: could not set the update rate" >&2
  fi
fi
wait "$server_pid"
status=$?
server_pid=""
exit "$status"
