#!/usr/bin/env bash
# Runs every test tier after `make build`:
#   1. native unit tests, 2. the same under AddressSanitizer + UBSan,
#   3. the Windows build's tests under wine64 (unit tests, GUI and end-to-end tests) on a private
#      X server and a warm wineserver, both started here and stopped by pid.
set -u
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
# The stubs must be beside the native tambrixc too (tests rebuild archives with them).
for d in build/native/dist build/native-asan/dist; do
  [ -d "$d" ] && cp -f build/win64/dist/tambrix.res1 build/win64/dist/tambrix.res2 "$d/" 2>/dev/null
done

export TAMBRIX_WINEPREFIX="$ROOT/build/wineprefix"
export WINEPREFIX="$TAMBRIX_WINEPREFIX"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
}
trap cleanup EXIT

# A free display number: no lock file and no socket.
display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

# Create the prefix once (wine-run.sh does it under a lock). Each Windows test program then starts
# its own short-lived wineserver as Wine does by default.
scripts/wine-run.sh cmd /c exit >/dev/null 2>&1
timeout 60 /usr/lib/wine/wineserver -w

status=0
run() {
  local name=$1; shift
  printf '\n===== %s =====\n' "$name"
  if ! "$@"; then status=1; printf '***** %s FAILED *****\n' "$name"; fi
}
run "native unit tests" ctest --preset native
run "native tests with sanitizers" ctest --preset native-asan
# Wine now and then fails to start a program (a launch racing a server that is going down):
# a failed test gets one more run; a real fault fails both.
run "Windows tests under wine64" ctest --preset win64 --repeat until-pass:2

printf '\nAll tiers: %s\n' "$([ $status = 0 ] && echo passed || echo FAILED)"
exit $status
