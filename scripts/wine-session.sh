# A private X server and one warm wineserver for a Wine prefix, started with their own pids and
# stopped by pid. Sourced by the test runner and by the test scripts that can also run alone:
#   . scripts/wine-session.sh
#   tbx_start_xvfb 1024x768         sets DISPLAY
#   tbx_start_wineserver PREFIX [DPI]  sets WINEPREFIX; creates the prefix on first use, with the
#                                   screen DPI (LogPixels) if given: give each DPI a prefix of its own
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

# tbx_reg_add PREFIX KEY NAME TYPE DATA: one registry value set in PREFIX (by its running server,
# or by one started for this call). Fails with the key, the exit code (124: the time limit) and
# reg's own words on stderr.
tbx_reg_add() {
  local out rc
  out="$(WINEPREFIX="$1" timeout 60 "$TBX_WINE" reg add "$2" /v "$3" /t "$4" /d "$5" /f \
    </dev/null 2>&1)"
  rc=$?
  [ $rc -eq 0 ] && return 0
  echo "reg add $2 /v $3 /d $5 in $1: exit $rc: $out" >&2
  return 1
}

# tbx_prefix_dpi_values PREFIX DPI: the screen DPI the programs of PREFIX see. Wine takes it from
# LogPixels under HKCU\Control Panel\Desktop, else from the hardware profile's Fonts key; both
# are set.
tbx_prefix_dpi_values() {
  tbx_reg_add "$1" 'HKCU\Control Panel\Desktop' LogPixels REG_DWORD "$2" &&
    tbx_reg_add "$1" 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
      LogPixels REG_DWORD "$2"
}

# tbx_prepare_prefix PREFIX [DPI]: the prefix is made once (under a lock), with its settings
# written in its first start, before any persistent server: windows unmanaged, so that closing one
# costs no 2 s wait for a window manager that is not there, and the screen DPI when one is given.
# It is marked ready (the mark holds that DPI) only when every step worked; a step that fails is
# named with its exit code, and the half-made prefix is removed, so that the next use makes it from
# nothing instead of running on a prefix that only looks ready.
tbx_prepare_prefix() {
  local prefix=$1 dpi=${2:-}
  [ -n "$prefix" ] || { echo "tbx_prepare_prefix: no prefix given" >&2; return 1; }
  [ -f "$prefix/.tambrix-ready" ] && return 0
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    [ -f "$prefix/.tambrix-ready" ] && exit 0
    local rc=0
    WINEPREFIX="$prefix" timeout 300 "$TBX_WINE" wineboot --init </dev/null >/dev/null 2>&1 ||
      { rc=$?; echo "wineboot --init in $prefix: exit $rc" >&2; }
    if [ $rc -eq 0 ]; then
      tbx_reg_add "$prefix" 'HKCU\Software\Wine\X11 Driver' Managed REG_SZ N || rc=1
    fi
    if [ $rc -eq 0 ] && [ -n "$dpi" ]; then
      tbx_prefix_dpi_values "$prefix" "$dpi" || rc=1
    fi
    # Every program of the first start has ended and the registry is on disk before the prefix
    # counts as made (or is removed).
    local waited=0
    WINEPREFIX="$prefix" timeout 120 "$TBX_WINESERVER" -w || waited=$?
    if [ $waited -ne 0 ]; then
      echo "wineserver -w for $prefix: exit $waited" >&2
      rc=1
    fi
    if [ $rc -ne 0 ]; then
      WINEPREFIX="$prefix" timeout 30 "$TBX_WINESERVER" -k 2>/dev/null
      rm -rf "$prefix"
      exit 1
    fi
    echo "$dpi" >"$prefix/.tambrix-ready"
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

# tbx_start_wineserver PREFIX [DPI]: a persistent server of our own for PREFIX (made on first use
# with DPI, see tbx_prepare_prefix), ready before any Wine program starts, with the prefix's
# services already running.
tbx_start_wineserver() {
  local prefix=$1 dpi=${2:-} stamp sock
  tbx_prepare_prefix "$prefix" "$dpi" || return 1
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
  local booted=0 said
  said="$(mktemp "${TMPDIR:-/tmp}/tbx-boot.XXXXXX")"
  timeout 120 "$TBX_WINE" cmd /c exit </dev/null >/dev/null 2>"$said" || booted=$?
  if ! kill -0 "$tbx_server_pid" 2>/dev/null; then
    echo "wineserver for $prefix did not start" >&2
    tbx_server_pid=""
    return 1
  fi
  # The first program waits for the prefix's start (wineboot) and takes it down with it when its
  # time limit ends it: every later program would then wait minutes for a start that never ends.
  if [ $booted -ne 0 ]; then
    echo "the first program on the wineserver for $prefix (cmd /c exit): exit $booted;" \
      "Wine said: $(tail -n 5 "$said")" >&2
    rm -f "$said"
    return 1
  fi
  rm -f "$said"
  # A prefix made before without this DPI gets it now, through the running server.
  if [ -n "$dpi" ] && [ "$(cat "$prefix/.tambrix-ready")" != "$dpi" ]; then
    tbx_prefix_dpi_values "$prefix" "$dpi" || return 1
    echo "$dpi" >"$prefix/.tambrix-ready"
  fi
}

# tbx_prefix_programs PREFIX: the pids of Wine programs (and servers) running for PREFIX, known by
# their executable below /usr/lib/wine and WINEPREFIX=PREFIX in the environment they started with.
tbx_prefix_programs() {
  local p exe
  for p in /proc/[0-9]*; do
    exe="$(readlink "$p/exe" 2>/dev/null)" || continue
    case $exe in /usr/lib/wine/*) ;; *) continue ;; esac
    tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$1" && echo "${p#/proc/}"
  done
}

# Ends the server and every program of its prefix. The server kills the programs it knows; a
# program that was still starting when the server went down is not among them: it never gets
# the server's answer and waits for it forever, so it is ended here by its pid.
tbx_stop_wineserver() {
  if [ -n "$tbx_server_pid" ]; then
    WINEPREFIX="$tbx_server_prefix" timeout 30 "$TBX_WINESERVER" -k >/dev/null 2>&1
    timeout 30 tail --pid="$tbx_server_pid" -f /dev/null 2>/dev/null
    kill "$tbx_server_pid" 2>/dev/null
    wait "$tbx_server_pid" 2>/dev/null
    tbx_server_pid=""
    local left pid
    left="$(tbx_prefix_programs "$tbx_server_prefix")"
    if [ -n "$left" ]; then
      kill -KILL $left 2>/dev/null
      for pid in $left; do timeout 10 tail --pid="$pid" -f /dev/null 2>/dev/null; done
    fi
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
