#!/usr/bin/env bash
# Runs every test tier after `make build`:
#   1. native unit tests, 2. the same under AddressSanitizer + UBSan,
#   3. the Windows build's tests under wine64 (unit tests, GUI and end-to-end tests) on a private
#      X server and one warm wineserver, both started here and stopped by pid,
#   4. the packages of scripts/dist.sh (.deb, Windows .zip and .exe), made afresh from the builds
#      and checked; as root the .deb is installed with apt-get (test preset dist, label dist).
# A failed test gets one more run, and every test that needed it is named in the summary at the
# end ("needed a second run: ..."): a flake is to be seen and mended, not hidden.
#   run-tests.sh [--tier native|native-asan|win64|dist]... [-- CTEST-ARGS...]
# With --tier only those tiers run; CTEST-ARGS go to every ctest call (say -L gui, or
# --repeat until-fail:20 to hunt a flake; then no second run is given).
set -u
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
. scripts/wine-session.sh

tiers=()
ctest_args=()
while [ $# -gt 0 ]; do
  case $1 in
    --tier) tiers+=("$2"); shift 2 ;;
    --) shift; ctest_args=("$@"); break ;;
    *) echo "usage: $0 [--tier native|native-asan|win64|dist]... [-- CTEST-ARGS...]" >&2; exit 2 ;;
  esac
done
[ ${#tiers[@]} -gt 0 ] || tiers=(native native-asan win64 dist)

# The stubs must be beside the native tambrixc too (tests rebuild archives with them).
for d in build/native/dist build/native-asan/dist; do
  [ -d "$d" ] && cp -f build/win64/dist/tambrix.res1 build/win64/dist/tambrix.res2 "$d/" 2>/dev/null
done

log_dir="$(mktemp -d "${TMPDIR:-/tmp}/tbx-tests.XXXXXX")"
trap 'tbx_stop_session; rm -rf "$log_dir"' EXIT
trap 'exit 130' INT TERM

status=0
second=()
passed=0 failed=0
retry=1
for a in "${ctest_args[@]}"; do [[ $a == --repeat* ]] && retry=0; done

# tier PRESET TITLE [BUILD-DIR]: one ctest run, then one more run of what failed. BUILD-DIR is the
# preset's build tree (default build/PRESET).
tier() {
  local preset=$1 title=$2 dir=${3:-build/$1} log="$log_dir/$1.log" n total f
  printf '\n===== %s =====\n' "$title"
  ctest --preset "$preset" "${ctest_args[@]}" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  read -r total f < <(sed -n 's/^.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\)$/\2 \1/p' \
    "$log" | tail -n 1)
  total=${total:-0} f=${f:-0}
  if [ "$rc" != 0 ] && [ $retry = 1 ] && [ "$f" -gt 0 ]; then
    local list="$dir/Testing/Temporary/LastTestsFailed.log" first=()
    mapfile -t first < <(sed 's/^[0-9]*://' "$list" 2>/dev/null)
    printf '\n----- %s: one more run of %s -----\n' "$title" "${first[*]}"
    ctest --preset "$preset" "${ctest_args[@]}" --rerun-failed 2>&1 | tee "$log.2"
    rc=${PIPESTATUS[0]}
    local still=()
    mapfile -t still < <([ "$rc" = 0 ] || sed 's/^[0-9]*://' "$list" 2>/dev/null)
    for n in "${first[@]}"; do
      [[ " ${still[*]} " == *" $n "* ]] || second+=("$n ($preset)")
    done
    f=${#still[@]}
  fi
  passed=$((passed + total - f)) failed=$((failed + f))
  if [ "$rc" != 0 ]; then status=1; printf '***** %s FAILED *****\n' "$title"; fi
}

for t in "${tiers[@]}"; do
  case $t in
    native) tier native "native unit tests" ;;
    native-asan) tier native-asan "native tests with sanitizers" ;;
    win64)
      # One X server and one warm wineserver for the prefix of the Windows tests. The GUI tests
      # and the stub tests run alone make their own (a screen of their size, their own prefix).
      if ! tbx_start_xvfb 1024x768 || ! tbx_start_wineserver "$ROOT/build/wineprefix"; then
        echo "***** no X server or wineserver for the Windows tests *****"
        status=1
        continue
      fi
      export TAMBRIX_WINEPREFIX="$WINEPREFIX" TAMBRIX_WINE_DETACH=1
      tier win64 "Windows tests under wine64"
      tbx_stop_session
      ;;
    dist) tier dist "packages (.deb, .zip, .exe)" build/native ;;
    *) echo "unknown tier: $t" >&2; exit 2 ;;
  esac
done

printf '\nneeded a second run: %s\n' "$([ ${#second[@]} = 0 ] && echo none || echo "${second[*]}")"
printf 'All tiers: %s\n' "$([ $status = 0 ] && echo passed || echo FAILED)"
printf 'tests: %d passed, %d failed\n' "$passed" "$failed"
exit $status
