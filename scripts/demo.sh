#!/usr/bin/env bash
# The main job: build a self-extracting archive of examples/tree with the console builder, list and
# verify it, then let the real extractor unpack it under wine64 into a fresh folder and compare the
# two trees byte for byte.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
DIST="$ROOT/build/native/dist"
OUT="$ROOT/build/demo"
rm -rf "$OUT"; mkdir -p "$OUT"

echo "== tambrixc build (bzip2, maximale Kompression)"
"$DIST/tambrixc" build --source examples/tree --sfx "$OUT/beispiel.exe" --max-compression \
  --title "Tambrix-Beispiel" --command "" --target-dir ""
echo "== tambrixc list"
"$DIST/tambrixc" list "$OUT/beispiel.exe"
echo "== tambrixc verify"
"$DIST/tambrixc" verify "$OUT/beispiel.exe"

echo "== unpacking with the extractor under wine64: beispiel.exe /S /N /D=..."
export TAMBRIX_WINEPREFIX="$ROOT/build/wineprefix"
"$ROOT/scripts/wine-run.sh" "$OUT/beispiel.exe" /S /N "/D=Z:${OUT//\//\\}\\entpackt"
echo "== comparing the unpacked tree with examples/tree"
diff -r examples/tree "$OUT/entpackt"
echo "Demo OK: $OUT/beispiel.exe ($(stat -c %s "$OUT/beispiel.exe") bytes) unpacks to an identical tree."
