#!/usr/bin/env bash
# Installs every Debian package that vesk's build, tests and tools need.
# Idempotent: installs only what is missing; refreshes the package lists once
# when something is missing. Non-interactive. Needs root (or sudo).
#   scripts/setup.sh           what build, tests and tools need
#   scripts/setup.sh --fuzz    that, and the fuzz build's compiler (apt-packages-fuzz.txt)
#   scripts/setup.sh --format  that, and the formatter of the format check (apt-packages-format.txt)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
lists=("$here/apt-packages.txt")
for a in "$@"; do
  case "$a" in
    --fuzz) lists+=("$here/apt-packages-fuzz.txt") ;;
    --format) lists+=("$here/apt-packages-format.txt") ;;
    *) echo "setup: unknown option $a" >&2; exit 2 ;;
  esac
done

base_packages=(
  build-essential cmake pkg-config git
  catkin python3-catkin-pkg ros-message-generation ros-message-runtime
  ros-core-dev libroscpp-dev librosconsole-dev liblog4cxx-dev
  libstd-msgs-dev libsensor-msgs-dev libgeometry-msgs-dev libnav-msgs-dev
  libtf2-dev libtf2-ros-dev libtf2-msgs-dev libtf-dev
  libimage-transport-dev libcamera-info-manager-dev
  python3-rostest python3-rosunit python3-rosmaster python3-roslaunch
  python3-rostopic python3-rosmsg python3-rosnode rosbash ros-environment
  python3-std-msgs python3-geometry-msgs python3-sensor-msgs python3-nav-msgs python3-tf2-msgs
  libboost-dev libboost-system-dev libboost-thread-dev
  googletest libgtest-dev libbenchmark-dev valgrind
)
extra_packages=()
for list in "${lists[@]}"; do
  [ -f "$list" ] || continue
  while IFS= read -r line; do
    line="${line%%#*}"
    line="$(echo "$line" | tr -d '[:space:]')"
    [ -n "$line" ] && extra_packages+=("$line")
  done < "$list"
done

missing=()
for p in "${base_packages[@]}" "${extra_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#base_packages[@]} base and ${#extra_packages[@]} extra packages are installed"
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "setup: installing ${#missing[@]} missing packages: ${missing[*]}"
echo "setup: apt-get update"
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
echo "setup: apt-get install"
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
echo "setup: done"
