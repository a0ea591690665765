# A private X server and one warm wineserver for a Wine prefix, started with their own pids and
# stopped by pid. Sourced by the test runner and by the test scripts that can also run alone:
#   . scripts/wine-session.sh
#   tbx_start_xvfb 1024x768         sets DISPLAY
#   tbx_start_wineserver PREFIX     sets WINEPREFIX; creates the prefix on first use
#   tbx_set_dpi DPI                 the screen DPI of the running server's prefix (LogPixels)
#   tbx_stop_wineserver             ends the server (and the programs still on it)
#   tbx_stop_session                ends the server and the X server
#
# Why one persistent server: a wineserver that starts with the first Wine program and exits a few
# seconds after the last one is a race for every program started while it goes down, and every
# start pays for the server and the prefix's services again. Started here first, the services
# (services.exe, winedevice.exe, rpcss.exe, explorer.exe, ...) get this script's output (none)
# instead of inheriting the output pipe of whatever test happened to start them: such a pipe stays
# open for as long as the server lives, and a test runner waiting for its end would hang.

TBX_WINE=/usr/lib/wine/wine64
TBX_WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
tbx_xvfb_pid=""
tbx_server_pid=""
tbx_server_prefix=""

# tbx_start_xvfb WIDTHxHEIGHT: an Xvfb that picks a free display itself (-displayfd), so two
# scripts starting at once can never take the same number.
tbx_start_xvfb() {
  local fifo display=""
  fifo="$(mktemp -u "${TMPDIR:-/tmp}/tbx-displayfd.XXXXXX")"
  mkfifo "$fifo" || return 1
  Xvfb -displayfd 7 -screen 0 "${1}x24" -nolisten tcp 7>"$fifo" >/dev/null 2>&1 &
  tbx_xvfb_pid=$!
  # The display number arrives once the server accepts connections (or nothing, if it failed).
  read -r -t 30 display <"$fifo"
  rm -f "$fifo"
  if [ -z "$display" ] || ! kill -0 "$tbx_xvfb_pid" 2>/dev/null; then
    echo "Xvfb did not start" >&2
    kill "$tbx_xvfb_pid" 2>/dev/null
    tbx_xvfb_pid=""
    return 1
  fi
  export DISPLAY=":$display"
}

# tbx_prepare_prefix PREFIX: the prefix is made once (under a lock); windows are unmanaged, so
# that closing one costs no 2 s wait for a window manager that is not there.
tbx_prepare_prefix() {
  local prefix=$1
  [ -f "$prefix/.tambrix-ready" ] && return 0
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/.tambrix-ready" ]; then
      WINEPREFIX="$prefix" timeout 300 "$TBX_WINE" wineboot --init </dev/null >/dev/null 2>&1
      WINEPREFIX="$prefix" timeout 60 "$TBX_WINE" reg add 'HKCU\Software\Wine\X11 Driver' \
        /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
      WINEPREFIX="$prefix" timeout 120 "$TBX_WINESERVER" -w
      touch "$prefix/.tambrix-ready"
    fi
  ) 9>"$prefix.lock"
}

# The server's socket for PREFIX: Wine names its folder in the prefix's file "wineserver" and
# the server below it by the prefix's device and inode.
tbx_server_socket() {
  local prefix=$1 dir base sock
  dir="$(cat "$prefix/wineserver" 2>/dev/null)" || return 1
  for base in "${TMPDIR:-/tmp}" /tmp; do
    sock="$(printf '%s/%s/server-%s-%x/socket' "$base" "$dir" "$(stat -c %D "$prefix")" \
      "$(stat -c %i "$prefix")")"
    [ -S "$sock" ] && { echo "$sock"; return 0; }
  done
  return 1
}

# tbx_start_wineserver PREFIX: a persistent server of our own for PREFIX, ready before any Wine
# program starts, with the prefix's services already running.
tbx_start_wineserver() {
  local prefix=$1 stamp sock
  tbx_prepare_prefix "$prefix" || return 1
  export WINEPREFIX="$prefix"
  timeout 60 "$TBX_WINESERVER" -w  # a server that still lingers would keep ours from starting
  stamp="$(mktemp "${TMPDIR:-/tmp}/tbx-server.XXXXXX")"
  "$TBX_WINESERVER" -f -p </dev/null >/dev/null 2>&1 &
  tbx_server_pid=$!
  tbx_server_prefix=$prefix
  # Ready once it has made a new socket; a program started earlier would start a server of its own.
  for _ in $(seq 1 300); do
    kill -0 "$tbx_server_pid" 2>/dev/null || break
    sock="$(tbx_server_socket "$prefix")" && [ "$sock" -nt "$stamp" ] && break
    sleep 0.02
  done
  rm -f "$stamp"
  timeout 120 "$TBX_WINE" cmd /c exit </dev/null >/dev/null 2>&1
  if ! kill -0 "$tbx_server_pid" 2>/dev/null; then
    echo "wineserver for $prefix did not start" >&2
    tbx_server_pid=""
    return 1
  fi
}

# tbx_set_dpi DPI: the DPI the programs of the running server's prefix see. Wine takes the
# screen's DPI from LogPixels under HKCU\Control Panel\Desktop, else from the hardware profile's
# Fonts key; both are set. The setting stays in the prefix: give each DPI a prefix of its own.
tbx_set_dpi() {
  timeout 60 "$TBX_WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
    /d "$1" /f </dev/null >/dev/null 2>&1 &&
  timeout 60 "$TBX_WINE" reg add \
    'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$1" /f </dev/null >/dev/null 2>&1
}

tbx_stop_wineserver() {
  if [ -n "$tbx_server_pid" ]; then
    WINEPREFIX="$tbx_server_prefix" timeout 30 "$TBX_WINESERVER" -k >/dev/null 2>&1
    timeout 30 tail --pid="$tbx_server_pid" -f /dev/null 2>/dev/null
    kill "$tbx_server_pid" 2>/dev/null
    wait "$tbx_server_pid" 2>/dev/null
    tbx_server_pid=""
  fi
}

tbx_stop_session() {
  tbx_stop_wineserver
  if [ -n "$tbx_xvfb_pid" ]; then
    kill "$tbx_xvfb_pid" 2>/dev/null
    wait "$tbx_xvfb_pid" 2>/dev/null
    tbx_xvfb_pid=""
  fi
}
