#!/usr/bin/env bash
# Builds the fuzz targets (every <package>/fuzz/fuzz_*.cpp) with clang's libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer into build-fuzz/, then runs each for a
# bounded time, starting from its seed corpus <package>/fuzz/corpus/<target>/.
#   scripts/fuzz.sh [SECONDS] [REGEX]   SECONDS per target (default 30); REGEX picks targets
# A finding (crash, sanitizer report, leak, an input slower than 25 s, more than 2 GB) fails
# the run; the input that caused it is kept in build-fuzz/artifacts/ and the target's log
# in build-fuzz/fuzz_work/<target>/log. Replay one: build-fuzz/devel/lib/<pkg>/<target> FILE
# Environment: VESK_FUZZ_JOBS targets at a time (default: the number of cores, at most 2).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-30}"
filter="${2:-.}"

bash "$root/scripts/setup.sh" --fuzz

build="${VESK_FUZZ_BUILD_DIR:-$root/build-fuzz}"
san="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
# -O1 with line tables: quick to compile, fast enough to run, readable stack traces.
opt="-O1 -gline-tables-only"
start=$(date +%s)
echo "fuzz: configuring $build"
cmake -S "$root" -B "$build" -DPYTHON_EXECUTABLE=/usr/bin/python3 -DPython3_EXECUTABLE=/usr/bin/python3 \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= \
  "-DCMAKE_C_FLAGS=$opt $san -fsanitize=fuzzer-no-link" "-DCMAKE_CXX_FLAGS=$opt $san -fsanitize=fuzzer-no-link" \
  "-DCMAKE_EXE_LINKER_FLAGS=$san" "-DCMAKE_SHARED_LINKER_FLAGS=$san" \
  -DCATKIN_ENABLE_TESTING=OFF -DVESK_FUZZ=ON > "$build.configure.log" 2>&1 \
  || { cat "$build.configure.log"; exit 1; }

mapfile -t sources < <(cd "$root" && find . -path ./build\* -prune -o -path '*/fuzz/fuzz_*.cpp' -print | sort)
# Targets this configuration has (the simulator's only where it is built, on the stand-in).
available="$(make -C "$build" help 2>/dev/null | sed -n 's/^\.\.\. \(fuzz_[a-z0-9_]*\).*/\1/p')"
targets=()
declare -A seed_dir
for s in "${sources[@]}"; do
  t="$(basename "$s" .cpp)"
  [[ "$t" =~ $filter ]] || continue
  if ! grep -qx "$t" <<< "$available"; then
    echo "fuzz: $t is not built in this configuration, skipped"
    continue
  fi
  targets+=("$t")
  seed_dir[$t]="$root/$(dirname "${s#./}")/corpus/$t"
  [ -d "${seed_dir[$t]}" ] || { echo "fuzz: $t has no seed corpus ${seed_dir[$t]}" >&2; exit 2; }
done
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no target matches \"$filter\"" >&2; exit 2; }

jobs="$(nproc)"
[ "$jobs" -gt 2 ] && jobs=2
jobs="${VESK_FUZZ_JOBS:-$jobs}"
echo "fuzz: building ${targets[*]}"
make -C "$build" -j"$jobs" --no-print-directory "${targets[@]}" > "$build/fuzz_build.log" 2>&1 \
  || { tail -n 60 "$build/fuzz_build.log"; exit 1; }
built=$(date +%s)
echo "fuzz: built in $((built - start)) s; running ${#targets[@]} targets, $seconds s each, $jobs at a time"

artifacts="$build/artifacts"
mkdir -p "$artifacts"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

run_one() {
  local t="$1" seeds="$2"
  local bin
  bin="$(find "$build/devel/lib" -name "$t" -type f -perm -u+x | head -n 1)"
  local work="$build/fuzz_work/$t"
  mkdir -p "$work/corpus"
  local status=0
  # The first corpus folder collects new inputs; the committed seeds are only read.
  # Standard output (the programs' own console lines) is closed for speed.
  "$bin" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -close_fd_mask=1 \
    -print_final_stats=1 -artifact_prefix="$artifacts/$t-" "$work/corpus" "$seeds" > "$work/log" 2>&1 || status=$?
  local runs
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)"
  if [ "$status" -eq 0 ]; then
    echo "fuzz: $t: ${runs:-?} executions, ok"
  else
    echo "fuzz: $t: FINDING after ${runs:-?} executions (status $status); log $work/log"
    grep -m 8 -E 'ERROR|runtime error|SUMMARY|Test unit written|what\(\)|^release|platform gets|kinemod reports' "$work/log" | sed 's/^/    /' || true
    return 1
  fi
}
export -f run_one
export build seconds artifacts

status=0
printf '%s\n' "${targets[@]}" | while read -r t; do printf '%s\0%s\0' "$t" "${seed_dir[$t]}"; done \
  | xargs -0 -n 2 -P "$jobs" bash -c 'run_one "$0" "$1"' || status=1
echo "fuzz: done in $(($(date +%s) - start)) s (build $((built - start)) s)"
if [ $status -ne 0 ]; then
  echo "fuzz: FAILED: findings above (inputs in $artifacts)"
fi
exit $status
