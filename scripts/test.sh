#!/usr/bin/env bash
# Installs what is missing, builds everything with its tests, and runs every
# test (unit tests and ROS integration tests, which start their own ROS master).
#   scripts/test.sh               normal build in build/
#   scripts/test.sh --sanitize    AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   scripts/test.sh -R <regex>    only the tests whose names match
#   scripts/test.sh --gazebo      against real Gazebo 11 (with the tests in gzserver): natively
#                                 where Gazebo 11 is installed, else in the Debian 11 root of
#                                 scripts/gazebo11.sh (made on first use)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_args=(--tests)
ctest_args=()
gazebo=0
all_args=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) build_args+=(--sanitize) ;;
    -R) ctest_args+=(-R "$2"); shift ;;
    --gazebo) gazebo=1 ;;
    *) echo "test: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "$gazebo" = 1 ] && [ -z "${VESK_IN_GAZEBO_ROOT:-}" ] && ! gzserver --version 2>/dev/null | grep -q "version 11\."; then
  exec bash "$root/scripts/gazebo11.sh" -- bash scripts/test.sh "${all_args[@]}"
fi

bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "${build_args[@]}"

build="${VESK_BUILD_DIR:-$root/build}"
for a in "${build_args[@]}"; do [ "$a" = --sanitize ] && build="${VESK_BUILD_DIR:-$root/build-asan}"; done

# ROS keeps its logs and test results under the build folder, not $HOME.
export ROS_HOME="$build/ros_home"
export ROS_LOG_DIR="$ROS_HOME/log"
mkdir -p "$ROS_LOG_DIR"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# shellcheck disable=SC1091
set +u
source "$build/devel/setup.bash"
set -u
cd "$build"
rm -rf test_results
set +e
ctest --output-on-failure "${ctest_args[@]}" 2>&1 | tee ctest.log
status=${PIPESTATUS[0]}
set -e
passed=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* +Passed' ctest.log || true)
# A test that cannot run here (e.g. network namespaces without root) exits 77: ctest shows it
# "***Skipped" and prints why in its output; it counts neither as passed nor as failed.
skipped=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*Skipped' ctest.log || true)
failed=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*(\*\*\*|Failed|Timeout|Not Run)' ctest.log | grep -cv '\*\*\*Skipped' || true)
if [ "$skipped" -gt 0 ]; then
  # ctest shows no output of a skipped test: its line saying why ("SKIPPED: ...").
  grep -h 'SKIPPED: ' Testing/Temporary/LastTest*.log 2>/dev/null | sort -u || true
  echo "$passed passed, $failed failed, $skipped skipped"
else
  echo "$passed passed, $failed failed"
fi
exit "$status"
