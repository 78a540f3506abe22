#!/usr/bin/env bash
# gzclient for the gzserver that gazebo_server.sh started (its Gazebo master address is in
# the ROS parameter /gazebo/master_uri). ROS arguments (__name:= ...) are ignored.
set -u
for _ in $(seq 1 60); do
  uri="$(rosparam get /gazebo/master_uri 2>/dev/null || true)"
  [ -n "$uri" ] && break
  sleep 1
done
[ -n "$uri" ] || { echo "gazebo_client: no gzserver announced (/gazebo/master_uri)" >&2; exit 1; }
export GAZEBO_MASTER_URI="$uri"
exec gzclient
