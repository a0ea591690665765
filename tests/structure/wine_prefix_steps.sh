#!/usr/bin/env bash
# tbx_prepare_prefix of scripts/wine-session.sh, with stand-ins for wine64 and wineserver that fail
# at one chosen step: a prefix counts as made only when every step worked. A failed step is named
# on stderr, leaves no ready mark and no half-made prefix; a made prefix's mark holds its DPI.
#   wine_prefix_steps.sh [SOURCE-ROOT]
set -u
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
work="$(mktemp -d "${TMPDIR:-/tmp}/tbx-prefix-steps.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# The stand-ins log every call and fail (exit 1, with a message of reg's kind) when the call holds
# the text in FAIL_AT. wine64 makes the prefix folder, as the real one does on its first start.
cat >"$work/wine64" <<'EOF'
#!/bin/sh
echo "wine64 $*" >>"$CALLS"
mkdir -p "$WINEPREFIX/drive_c"
case "$*" in *"$FAIL_AT"*) echo "reg: Unable to access or create the specified registry key"; exit 1 ;; esac
exit 0
EOF
cat >"$work/wineserver" <<'EOF'
#!/bin/sh
echo "wineserver $*" >>"$CALLS"
case "wineserver $*" in *"$FAIL_AT"*) exit 124 ;; esac
exit 0
EOF
chmod +x "$work/wine64" "$work/wineserver"

failures=0
# case NAME FAIL_AT DPI EXPECT_RC EXPECT_MARK EXPECT_STDERR: one run of tbx_prepare_prefix on a new
# prefix; EXPECT_MARK is the ready mark's text or "none" (then the prefix folder must be gone too).
case_() {
  local name=$1 fail_at=$2 dpi=$3 want_rc=$4 want_mark=$5 want_err=$6 rc mark err
  local prefix="$work/$name/prefix"
  mkdir -p "$work/$name"
  err="$(
    . "$root/scripts/wine-session.sh"
    TBX_WINE="$work/wine64" TBX_WINESERVER="$work/wineserver"
    CALLS="$work/$name/calls" FAIL_AT="$fail_at" tbx_prepare_prefix "$prefix" $dpi 2>&1 >/dev/null
  )"
  rc=$?
  mark="$(cat "$prefix/.tambrix-ready" 2>/dev/null || echo none)"
  local bad=""
  [ "$rc" = "$want_rc" ] || bad+=" exit $rc (expected $want_rc);"
  [ "$mark" = "$want_mark" ] || bad+=" ready mark '$mark' (expected '$want_mark');"
  if [ "$want_mark" = none ] && [ -e "$prefix" ]; then bad+=" the half-made prefix is still there;"; fi
  [[ "$err" == *"$want_err"* ]] || bad+=" stderr '$err' does not name '$want_err';"
  if [ -n "$bad" ]; then
    echo "FAIL $name:$bad"
    failures=$((failures + 1))
  fi
}

#     name            fail at             DPI  rc mark  stderr names
case_ wineboot        'wineboot --init'   144  1  none  'wineboot --init in'
case_ managed         'Managed'           144  1  none  'X11 Driver /v Managed /d N'
case_ user_dpi        'Control Panel'     144  1  none  'Control Panel\Desktop /v LogPixels /d 144'
case_ machine_dpi     'Hardware Profiles' 144  1  none  'Software\Fonts /v LogPixels /d 144'
case_ wait            'wineserver -w'     144  1  none  'wineserver -w for'
case_ made_144        'nothing fails'     144  0  144   ''
case_ made_plain      'nothing fails'     ''   0  ''    ''

# Without a DPI no LogPixels is written; a prefix that is ready is not made again.
grep -q LogPixels "$work/made_plain/calls" &&
  { echo "FAIL made_plain: LogPixels written without a DPI"; failures=$((failures + 1)); }
: >"$work/made_144/calls"
case_ made_144 'wineboot' 144 0 144 ''
[ -s "$work/made_144/calls" ] &&
  { echo "FAIL made_144: a ready prefix was made again"; failures=$((failures + 1)); }

echo "wine prefix steps: $failures failed"
[ $failures -eq 0 ]
