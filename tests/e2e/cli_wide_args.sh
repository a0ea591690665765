#!/usr/bin/env bash
# tambrixc.exe under wine64 with paths code page 1252 cannot hold: a Polish name (Łódź, whose
# look-alike Lódz the ANSI command line would give) and a Cyrillic one (which it would turn into
# question marks). As archive name, as the folder to unpack into and as the source folder each
# is refused before anything is written: exit code 2, a message naming the argument as typed,
# no new file or folder anywhere and the older file of the look-alike name unchanged. A name of
# code page 1252 with letters beyond ASCII still builds and unpacks, and a batch file in such a
# folder is read under another ANSI code page.
#   cli_wide_args.sh TAMBRIXC.exe RUNNER
set -u
TAMBRIXC="$1"
RUNNER="$2"
# Wine takes the Unix arguments in the locale's encoding: UTF-8, so every character arrives.
export LC_ALL=C.UTF-8
RUN_ENV=()  # variables for one run, such as another locale
run() { env "${RUN_ENV[@]}" "$RUNNER" "$TAMBRIXC" "$@"; }
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
expect_rc() {  # expect_rc CODE args...
  local want="$1"; shift
  run "$@" >"$WORK/out.txt" 2>"$WORK/err.raw"
  local rc=$?
  # Off the console the program writes code page 1252, with the runtime's CR LF line ends.
  iconv -f CP1252 -t UTF-8 "$WORK/err.raw" | tr -d '\r' >"$WORK/err.txt" ||
    fail "stderr is not code page 1252"
  [ "$rc" -eq "$want" ] || { cat "$WORK/err.txt" >&2; fail "exit $rc instead of $want: $*"; }
}

# The program works in a folder of its own; its output is kept beside it.
mkdir "$WORK/d" && cd "$WORK/d" || fail "no work folder"
mkdir -p stubs tree
printf 'MZ placeholder stub (bzip2)' >stubs/tambrix.res1
printf 'MZ placeholder stub (gzip)' >stubs/tambrix.res2
printf 'Alpha' >tree/a.txt

# Code page 1252 beyond ASCII: taken as it is.
expect_rc 0 build --source tree --sfx "ausgabe_Müller_€.exe" --stub-dir stubs
[ -f "ausgabe_Müller_€.exe" ] || fail "the archive of a code page 1252 name is missing"
expect_rc 0 extract "ausgabe_Müller_€.exe" "Größe"
cmp -s tree/a.txt "Größe/a.txt" || fail "not unpacked into the code page 1252 folder"

# The batch file in a folder with code page 1252 letters, on a machine whose ANSI code page is
# another one (1251, Cyrillic): it is read by that name, and its archive is built.
mkdir -p "Größe-Batch"
win="Z:$(pwd | tr / '\\')"
printf '[SFX_GLOBAL]\r\nNUM_SFX=1\r\nSOURCEPATH=%s\\tree\r\n[SFX1]\r\nSFX_NAME=%s\\batch.exe\r\n' \
  "$win" "$win" >"Größe-Batch/tambbatch.ini"
# Wine takes its ANSI code page from the locale; a Russian one is made for the run (with UTF-8, so
# that the arguments and names still arrive whole).
mkdir -p "$WORK/locale"
if localedef -i ru_RU -f UTF-8 "$WORK/locale/ru_RU.UTF-8" >/dev/null 2>&1; then
  RUN_ENV=(LOCPATH="$WORK/locale" LC_ALL=ru_RU.UTF-8)
  expect_rc 0 batch --stub-dir stubs "Größe-Batch/tambbatch.ini"
  RUN_ENV=()
  [ -f batch.exe ] || fail "the batch file in Größe-Batch was not read under ANSI code page 1251"
  rm -f batch.exe
else
  echo "cli_wide_args: no Russian locale can be made here; the batch file check is left out"
fi

# A text as the program shows it off the console: every character code page 1252 lacks as its
# code point.
off_console() {
  python3 -c 'import sys
print("".join(c if c.encode("cp1252", "ignore") else "<U+%04X>" % ord(c) for c in sys.argv[1]))' "$1"
}

# name, the characters outside code page 1252 as the message lists them, and the look-alike the
# ANSI command line would make of it ("" when it makes question marks).
cases=(
  "Łódź|<U+0141> <U+017A>|Lódz"
  "Данные|<U+0414> <U+0430> <U+043D> <U+044B> <U+0435>|"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name outside lookalike <<<"$c"
  if [ -n "$lookalike" ]; then
    printf 'an older file' >"$lookalike.exe"
    mkdir -p "$lookalike"
  fi
  mkdir -p "src-$name" && printf 'Beta' >"src-$name/b.txt"
  before="$(find . -printf '%p %s\n' | sort)"
  # The command line, and which of its arguments is refused.
  for refused in "$name.exe|build --source tree --sfx $name.exe --stub-dir stubs" \
                 "$name|extract ausgabe_Müller_€.exe $name" \
                 "src-$name|build --source src-$name --sfx neu.exe --stub-dir stubs"; do
    IFS='|' read -r arg line <<<"$refused"
    read -r -a argv <<<"$line"
    expect_rc 2 "${argv[@]}"
    want="tambrixc: Das Argument \"$(off_console "$arg")\" enthält Zeichen, die es in Codepage 1252 nicht gibt: $outside"
    grep -qxF "$want" "$WORK/err.txt" || { cat "$WORK/err.txt" >&2; fail "$line: the message does not name $arg as typed"; }
    [ -s "$WORK/out.txt" ] && fail "$line: output on stdout"
    after="$(find . -printf '%p %s\n' | sort)"
    [ "$before" = "$after" ] || { diff <(echo "$before") <(echo "$after") >&2; fail "$line: something was written"; }
  done
done
# On a console (a terminal Wine turns into one) the message shows the name itself. The terminal
# breaks lines at its width, so the check is on the text without line ends and terminal codes.
if command -v script >/dev/null; then
  TAMBRIX_WINE_DETACH=0 timeout 120 script -qec \
    "'$RUNNER' '$TAMBRIXC' extract ausgabe_Müller_€.exe Łódź" /dev/null >"$WORK/tty.raw" 2>&1
  sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$WORK/tty.raw" | tr -d '\r\n' >"$WORK/tty.txt"
  grep -qF 'tambrixc: Das Argument "Łódź" enthält Zeichen, die es in Codepage 1252 nicht gibt: Ł ź' \
    "$WORK/tty.txt" || { cat "$WORK/tty.raw" >&2; fail "the console does not show the name as typed"; }
  [ -e Łódź ] || [ -e Lódz/a.txt ] && fail "unpacked from the console"
fi
echo "cli_wide_args: all passed"
