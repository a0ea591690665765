#!/usr/bin/env bash
# Proves the README's two commands on a really fresh machine: makes a clean Debian 12 root with
# debootstrap (from the package registry this machine's apt uses), mounts what Wine and Xvfb need,
# clones this repository's HEAD into it, runs `make demo` and `make test` there as root, and
# removes the root again. Not part of `make test`; it takes a while (the whole setup runs).
#   scripts/fresh-check.sh [--keep]     --keep leaves the root in place for a look afterwards
# Besides what debootstrap installs, the root gets only git and make: what a developer needs to
# fetch the code and type the commands. Everything else must come from the commands themselves.
# Needs root, debootstrap (installed here if missing) and about 5 GB of disk.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KEEP=0
[ "${1:-}" = "--keep" ] && KEEP=1
log() { printf '[fresh-check %s] %s\n' "$(date +%H:%M:%S)" "$*"; }

[ "$(id -u)" = 0 ] || { echo "fresh-check.sh must run as root" >&2; exit 2; }
if ! command -v debootstrap >/dev/null; then
  log "installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
fi

# The Debian archive this machine's apt uses for bookworm, read from its own sources, so that no
# host name lives in the repository.
mirror=""
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
  mirror="$(awk '/^URIs:/ {u=$2} /^Suites:/ && / bookworm( |$)/ {print u; exit}' \
    /etc/apt/sources.list.d/debian.sources)"
fi
if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
  mirror="$(awk '$1 == "deb" && $3 == "bookworm" {for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) {print $i; exit}}' \
    /etc/apt/sources.list)"
fi
[ -n "$mirror" ] || { echo "no bookworm archive in this machine's apt sources" >&2; exit 1; }

FRESH="$(mktemp -d "${FRESH_CHECK_DIR:-/var/tmp}/tambrix-fresh.XXXXXX")"
mounted=()
cleanup() {
  local rc=$?
  # Whatever still runs inside the root (a lingering wineserver, say) is found by its root
  # directory and ended by pid.
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$FRESH" ] && kill "${p#/proc/}" 2>/dev/null
  done
  sleep 1
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$FRESH" ] && kill -9 "${p#/proc/}" 2>/dev/null
  done
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -R "${mounted[i]}" 2>/dev/null || umount -R -l "${mounted[i]}" 2>/dev/null
  done
  if [ $KEEP = 1 ]; then
    log "root kept at $FRESH"
  else
    # Only once nothing is mounted below it any more: never delete through a mount.
    if ! grep -qF " $FRESH/" /proc/mounts; then rm -rf --one-file-system "$FRESH"; fi
  fi
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

t0=$(date +%s)
log "debootstrap bookworm into $FRESH"
debootstrap --include=git,make,ca-certificates bookworm "$FRESH" "$mirror" >"$FRESH.debootstrap.log" 2>&1 \
  || { tail -n 20 "$FRESH.debootstrap.log" >&2; rm -f "$FRESH.debootstrap.log"; exit 1; }
rm -f "$FRESH.debootstrap.log"
t1=$(date +%s)
log "debootstrap took $((t1 - t0)) s"

# apt inside sees the same sources and settings as this machine's apt, and names resolve.
rm -rf "$FRESH/etc/apt/sources.list.d" "$FRESH/etc/apt/apt.conf.d"
cp -a /etc/apt/sources.list.d /etc/apt/apt.conf.d "$FRESH/etc/apt/"
rm -f "$FRESH/etc/apt/sources.list.d/tambrix-deb-src."* "$FRESH/etc/apt/sources.list.d/"*.disabled*
if [ -f /etc/apt/sources.list ]; then cp /etc/apt/sources.list "$FRESH/etc/apt/"; else : >"$FRESH/etc/apt/sources.list"; fi
cp -L /etc/resolv.conf "$FRESH/etc/resolv.conf"

mnt() {  # mnt TARGET mount-args...
  local target="$FRESH$1"; shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounted+=("$target")
}
mnt /proc -t proc proc
mnt /sys -t sysfs sysfs
mnt /dev --rbind /dev
mount --make-rslave "$FRESH/dev"
# The machine's /tmp: X display locks and sockets are seen by both sides, so neither takes a
# display number the other uses.
mnt /tmp --bind /tmp

git clone -q "$ROOT" "$FRESH/root/tambrix"
log "cloned $(git -C "$ROOT" rev-parse --short HEAD) into the root"

inside() {  # runs a command in the root with a login-like environment
  chroot "$FRESH" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /root/tambrix && $1"
}
status=0
t2=$(date +%s)
log "make demo"
inside "make demo" || status=1
t3=$(date +%s)
log "make demo: $([ $status = 0 ] && echo passed || echo FAILED) in $((t3 - t2)) s"
if [ $status = 0 ]; then
  log "make test"
  inside "make test" || status=1
fi
t4=$(date +%s)
log "make test: $([ $status = 0 ] && echo passed || echo FAILED) in $((t4 - t3)) s"
log "total $((t4 - t0)) s (debootstrap $((t1 - t0)) s, demo with setup $((t3 - t2)) s, test $((t4 - t3)) s)"
exit $status
