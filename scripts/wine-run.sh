#!/usr/bin/env bash
# Runs one Windows program under 64-bit Wine, as ctest's emulator for the Windows builds and as a
# helper for scripts: a private prefix (created on first use, shared by the runs of one build),
# no debug output, no Mono/Gecko prompts, and a time limit.
#   TAMBRIX_WINEPREFIX   prefix to use (default: build/wineprefix beside this repository's build)
#   TAMBRIX_WINE_TIMEOUT seconds before the run is killed (default 600)
set -u
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${TAMBRIX_WINEPREFIX:-${WINEPREFIX:-$ROOT/build/wineprefix}}"
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
WINE=/usr/lib/wine/wine64

if [ ! -f "$WINEPREFIX/.tambrix-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.tambrix-ready" ]; then
      timeout 300 "$WINE" wineboot --init >/dev/null 2>&1
      # Without a window manager Wine waits 2 s whenever a window closes; unmanaged windows don't.
      timeout 60 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        >/dev/null 2>&1
      timeout 120 /usr/lib/wine/wineserver -w
      touch "$WINEPREFIX/.tambrix-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi

exec timeout --kill-after=10 "${TAMBRIX_WINE_TIMEOUT:-600}" "$WINE" "$@"
