#!/usr/bin/env bash
# Checks that every C++ file in the repository is formatted as the root .clang-format says
# (with clang-format 14, Debian 12's; other versions format some constructs differently, so
# with another version the check only warns). Lists the files that are not and fails.
#   bash scripts/check_format.sh          check
#   bash scripts/check_format.sh --fix    format them in place
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
fix=0
for a in "$@"; do
  case "$a" in
    --fix) fix=1 ;;
    *) echo "check_format: unknown option $a" >&2; exit 2 ;;
  esac
done
bash "$root/scripts/setup.sh" --format >/dev/null
cf="$(command -v clang-format-14 || command -v clang-format || true)"
[ -n "$cf" ] || { echo "check_format: clang-format is not installed" >&2; exit 1; }
strict=1
if ! "$cf" --version | grep -q "version 14\."; then
  echo "check_format: $("$cf" --version) is not clang-format 14: differences are only reported" >&2
  strict=0
fi
cd "$root"
mapfile -t files < <(git ls-files '*.cpp' '*.cc' '*.h' '*.hh' '*.hpp')
if [ "$fix" = 1 ]; then
  "$cf" -i --style=file "${files[@]}"
  echo "check_format: formatted ${#files[@]} files"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  "$cf" --style=file --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -eq 0 ]; then
  echo "check_format: all ${#files[@]} C++ files are formatted"
  exit 0
fi
echo "check_format: ${#bad[@]} of ${#files[@]} C++ files are not formatted (bash scripts/check_format.sh --fix):"
printf '  %s\n' "${bad[@]}"
[ "$strict" = 1 ] && exit 1
exit 0
