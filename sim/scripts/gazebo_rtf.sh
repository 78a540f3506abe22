#!/usr/bin/env bash
# Sets a running gzserver's real-time factor: 1000 world updates per second of wall-clock
# time per unit of the factor (the arena world steps by 1 ms); 0 lifts the limit.
# Usage: gazebo_rtf.sh FACTOR   (extra ROS arguments such as __name:= are ignored)
set -eu
factor="${1:-1}"
rate=$(awk -v f="$factor" 'BEGIN { printf "%d", f * 1000 }')
for _ in $(seq 1 60); do
  if gz physics -u "$rate" >/dev/null 2>&1; then
    echo "gazebo_rtf: update rate set to $rate per second (real-time factor $factor)"
    exit 0
  fi
  sleep 1
done
echo "gazebo_rtf: could not reach gzserver" >&2
exit 1
