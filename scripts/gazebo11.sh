#!/usr/bin/env bash
# A Debian 11 (bullseye) root with Gazebo 11 and everything the workspace needs, shared by
# every clone on the machine, and a way to run a command in it on a copy of this working tree.
#
#   bash scripts/gazebo11.sh [options] [--] [COMMAND...]
#     (no command)      create or update the root and sync the tree, then stop
#     COMMAND           run in the root, in the synced tree (default shell: bash -c "COMMAND...")
#     --no-sync         do not copy the working tree into the root first
#     --bind DIR        make the host directory DIR visible at the same path inside the root
#                       (for results such as a report folder); repeatable
#     --print-ws        print the tree's path inside the root and stop
#   Environment:
#     VESK_GAZEBO_ROOT    the root (default /var/cache/vesk/gazebo11-root, outside any clone)
#     VESK_GAZEBO_MIRROR  Debian mirror (default: the one this machine's apt uses)
#     VESK_* variables are passed on to the command; so are DISPLAY and TERM.
#
# The root is made with debootstrap (installed on the host when missing) and apt-get from
# "bullseye main" only. It is complete when "$ROOT/.vesk-ready" exists; that file holds a
# digest of the package lists, and a change of scripts/setup.sh or scripts/apt-packages.txt
# installs what is new on the next call. The tree is copied (rsync, build folders kept) to
# /ws/<folder name>-<hash of its host path>, so several clones do not collide. /proc, /sys and
# /dev are mounted in a private mount namespace for the command's lifetime and unmounted
# when it ends, however it ends. Needs root.
set -euo pipefail

say() { echo "gazebo11: $*"; }
die() {
  echo "gazebo11: error: $*" >&2
  exit 1
}

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
src="$(cd "$here/.." && pwd)"
ROOT="${VESK_GAZEBO_ROOT:-/var/cache/vesk/gazebo11-root}"
SUITE=bullseye
# Gazebo 11 with sdformat 9, headless rendering (Xvfb + llvmpipe) and the tools the scripts use.
gazebo_packages=(gazebo libgazebo-dev gazebo-plugin-base libsdformat-dev
  xvfb xauth libgl1-mesa-dri procps ca-certificates)

# --- inner part: runs in a private mount namespace (see the end of this file) -------------
if [ "${1:-}" = --inner-run ]; then
  shift
  ws="$1"
  shift
  binds=()
  while [ "${1:-}" = --bind ]; do
    binds+=("$2")
    shift 2
  done
  [ "${1:-}" = -- ] && shift
  mounted=()
  undo_mounts() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
      umount -l "${mounted[$i]}" 2>/dev/null || true
    done
  }
  trap undo_mounts EXIT
  mount --make-rprivate / 2>/dev/null || true
  mount -t proc proc "$ROOT/proc" && mounted+=("$ROOT/proc")
  mount --rbind /sys "$ROOT/sys" && mounted+=("$ROOT/sys")
  mount --rbind /dev "$ROOT/dev" && mounted+=("$ROOT/dev")
  mkdir -p "$ROOT/dev/shm"
  mount -t tmpfs -o mode=1777 shm "$ROOT/dev/shm" && mounted+=("$ROOT/dev/shm")
  for b in "${binds[@]+"${binds[@]}"}"; do
    mkdir -p "$ROOT$b"
    mount --bind "$b" "$ROOT$b" && mounted+=("$ROOT$b")
  done
  env_args=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    LANG=C.UTF-8 LC_ALL=C.UTF-8 TERM="${TERM:-dumb}" DEBIAN_FRONTEND=noninteractive VESK_IN_GAZEBO_ROOT=1)
  [ -n "${DISPLAY:-}" ] && env_args+=(DISPLAY="$DISPLAY")
  while IFS='=' read -r name _; do
    case "$name" in VESK_GAZEBO_* | VESK_IN_GAZEBO_ROOT) ;; VESK_*) env_args+=("$name=${!name}") ;; esac
  done < <(env)
  status=0
  if [ $# -eq 1 ]; then
    chroot "$ROOT" /usr/bin/env -i "${env_args[@]}" /bin/bash -c "cd '$ws' 2>/dev/null || cd /; $1" || status=$?
  else
    chroot "$ROOT" /usr/bin/env -i "${env_args[@]}" /bin/bash -c 'cd "$0" 2>/dev/null || cd /; exec "$@"' "$ws" "$@" || status=$?
  fi
  exit "$status"
fi

# --- options ------------------------------------------------------------------------------
sync=1
print_ws=0
binds=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-sync) sync=0 ;;
    --print-ws) print_ws=1 ;;
    --bind)
      [ $# -ge 2 ] || die "--bind needs a directory"
      mkdir -p "$2"
      binds+=(--bind "$(cd "$2" && pwd)")
      shift
      ;;
    --) shift; break ;;
    -h | --help) sed -n '2,26p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) die "unknown option $1 (try --help)" ;;
    *) break ;;
  esac
  shift
done

ws="/ws/$(basename "$src")-$(printf '%s' "$src" | sha256sum | cut -c1-8)"
if [ "$print_ws" = 1 ]; then
  echo "$ws"
  exit 0
fi

[ "$(id -u)" -eq 0 ] || die "this needs root (debootstrap, chroot and mounts); run it as root or with sudo"

# --- the mirror: the Debian archive this machine's apt uses -------------------------------
find_mirror() {
  local f uri
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri="$(grep -hoE '(URIs:[[:space:]]*|^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?)[a-z]+://[^[:space:]]+' "$f" |
      grep -oE '[a-z]+://[^[:space:]]+' | grep -E '/debian/?$' | head -n 1 || true)"
    if [ -n "$uri" ]; then
      echo "${uri%/}"
      return
    fi
  done
  echo "http://deb.debian.org/debian"
}
MIRROR="${VESK_GAZEBO_MIRROR:-$(find_mirror)}"

# --- the root -----------------------------------------------------------------------------
host_apt_install() {
  say "installing $* on the host"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" >/dev/null 2>&1 || {
    DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null 2>&1 || true
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
  }
}

wanted_digest() {
  { printf '%s\n' "$SUITE" "$MIRROR" "${gazebo_packages[@]}"; cat "$src/scripts/setup.sh" "$src/scripts/apt-packages.txt" 2>/dev/null; } |
    sha256sum | cut -c1-16
}

check_archive() {
  local url="$MIRROR/dists/$SUITE/Release"
  if command -v curl >/dev/null 2>&1; then
    curl -sSfL --max-time 60 -o /dev/null "$url" 2>/dev/null && return 0
  elif command -v wget >/dev/null 2>&1; then
    wget -q -T 60 -O /dev/null "$url" && return 0
  else
    return 0 # debootstrap will tell
  fi
  die "the Debian archive cannot be reached ($url); check the network or set VESK_GAZEBO_MIRROR"
}

# Runs a command in the root with /proc, /sys and /dev mounted (private namespace).
in_root() {
  unshare --mount --propagation private -- bash "$here/gazebo11.sh" --inner-run / -- "$@"
}

write_hosts() {
  local h
  h="$(hostname 2>/dev/null || echo localhost)"
  if ! grep -qs "^127.0.0.1[[:space:]].*localhost" "$ROOT/etc/hosts" || ! grep -qsw "$h" "$ROOT/etc/hosts"; then
    printf '127.0.0.1\tlocalhost %s\n::1\tlocalhost ip6-localhost ip6-loopback\n' "$h" > "$ROOT/etc/hosts"
  fi
  cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf" 2>/dev/null || true
}

ensure_root() {
  local want
  want="$(wanted_digest)"
  if [ -f "$ROOT/.vesk-ready" ] && [ "$(cat "$ROOT/.vesk-ready")" = "$want" ]; then
    write_hosts
    return
  fi
  mkdir -p "$(dirname "$ROOT")"
  exec 9> "$ROOT.lock"
  say "waiting for the lock on $ROOT" && flock 9
  if [ -f "$ROOT/.vesk-ready" ] && [ "$(cat "$ROOT/.vesk-ready")" = "$want" ]; then
    write_hosts
    exec 9>&-
    return
  fi
  local t0=$SECONDS
  check_archive
  command -v unshare >/dev/null 2>&1 || die "unshare (util-linux) is missing"
  if [ ! -f "$ROOT/.vesk-base" ]; then
    command -v debootstrap >/dev/null 2>&1 || host_apt_install debootstrap
    if [ -e "$ROOT" ]; then
      say "removing an unfinished root at $ROOT"
      rm -rf --one-file-system "$ROOT"
    fi
    say "debootstrap $SUITE (minbase) from $MIRROR into $ROOT"
    debootstrap --variant=minbase --components=main "$SUITE" "$ROOT" "$MIRROR" ||
      die "debootstrap failed (see $ROOT/debootstrap/debootstrap.log)"
    touch "$ROOT/.vesk-base"
  fi
  # Only "bullseye main": the security suite's index names files the mirror does not serve.
  echo "deb $MIRROR $SUITE main" > "$ROOT/etc/apt/sources.list"
  rm -f "$ROOT"/etc/apt/sources.list.d/*
  printf 'APT::Install-Recommends "false";\nAPT::Install-Suggests "false";\n' > "$ROOT/etc/apt/apt.conf.d/90vesk"
  write_hosts
  mkdir -p "$ROOT/var/lib/vesk"
  cp "$src/scripts/setup.sh" "$ROOT/var/lib/vesk/setup.sh"
  cp "$src/scripts/apt-packages.txt" "$ROOT/var/lib/vesk/apt-packages.txt" 2>/dev/null || : > "$ROOT/var/lib/vesk/apt-packages.txt"
  say "apt-get update in the root"
  in_root apt-get update -q || die "apt-get update failed in the root (archive $MIRROR unreachable?)"
  say "installing Gazebo 11 and tools: ${gazebo_packages[*]}"
  in_root apt-get install -y -q "${gazebo_packages[@]}" || die "installing Gazebo 11 failed"
  say "installing the workspace's packages (scripts/setup.sh)"
  in_root bash /var/lib/vesk/setup.sh || die "scripts/setup.sh failed in the root"
  in_root apt-get clean || true
  echo "$want" > "$ROOT/.vesk-ready"
  say "root ready in $((SECONDS - t0)) s ($(du -sh --one-file-system "$ROOT" 2>/dev/null | cut -f1))"
  exec 9>&-
}

ensure_root

# --- the working tree -----------------------------------------------------------------------
if [ "$sync" = 1 ]; then
  command -v rsync >/dev/null 2>&1 || host_apt_install rsync
  mkdir -p "$ROOT$ws"
  say "syncing $src -> $ROOT$ws"
  # Build folders are the root's own (they hold binaries for Debian 11); reports stay outside.
  # Changed files get the time of the copy (not their own), so that make rebuilds what
  # depends on them even when the root's build is newer than the edit.
  rsync -rlpgoD --checksum --delete --exclude='/build*/' --exclude='/vesk_report_*/' "$src/" "$ROOT$ws/"
fi

[ $# -eq 0 ] && exit 0
say "running in the root ($ws): $*"
exec unshare --mount --propagation private -- bash "$here/gazebo11.sh" --inner-run "$ws" "${binds[@]+"${binds[@]}"}" -- "$@"
