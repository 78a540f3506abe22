#!/usr/bin/env bash
# Configures and builds the catkin workspace.
#   scripts/build.sh [--sanitize] [--tests]
# Build folder: build/ (build-asan/ with --sanitize), or $VESK_BUILD_DIR.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sanitize=0
tests=0
for a in "$@"; do
  case "$a" in
    --sanitize) sanitize=1 ;;
    --tests) tests=1 ;;
    *) echo "build: unknown option $a" >&2; exit 2 ;;
  esac
done

build="${VESK_BUILD_DIR:-$root/build}"
flags=()
if [ $sanitize -eq 1 ]; then
  build="${VESK_BUILD_DIR:-$root/build-asan}"
  flags+=("-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
          "-DCMAKE_C_FLAGS=-fsanitize=address,undefined -fno-omit-frame-pointer"
          "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined"
          "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined"
          "-DCMAKE_BUILD_TYPE=Debug")
else
  flags+=("-DCMAKE_BUILD_TYPE=${VESK_BUILD_TYPE:-RelWithDebInfo}")
fi

jobs="${VESK_JOBS:-$(nproc)}"
echo "build: configuring $build"
cmake -S "$root" -B "$build" -DPYTHON_EXECUTABLE=/usr/bin/python3 -DPython3_EXECUTABLE=/usr/bin/python3 "${flags[@]}" > "$build.configure.log" 2>&1 \
  || { cat "$build.configure.log"; exit 1; }
echo "build: compiling with $jobs jobs"
make -C "$build" -j"$jobs" --no-print-directory all
# catkin snapshots the workspace environment (library and Python paths of the
# devel space) at configure time, and a first configure finds no devel/lib yet:
# configure once more so that tests and tools run with the built libraries.
cmake "$build" > "$build.reconfigure.log" 2>&1 || { cat "$build.reconfigure.log"; exit 1; }
if [ $tests -eq 1 ]; then
  make -C "$build" -j"$jobs" --no-print-directory tests
fi
echo "build: done ($build)"
