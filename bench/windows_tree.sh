# Sourced by the extractor benchmarks: windows_tree SOURCE DEST copies SOURCE to DEST as a tree a
# Windows folder can hold (links left out; of names that differ only in case, the first kept) and
# prints how many files and MB it holds.
windows_tree() {
  cp -r "$1" "$2"
  find "$2" -type l -delete
  (cd "$2" && find . -type f | sort | python3 -c "
import os, sys
seen = set()
for line in sys.stdin:
    p = line.strip()
    if p.lower() in seen: os.remove(p)
    seen.add(p.lower())")
  echo "tree: $(find "$2" -type f | wc -l) files, $(($(du -sb "$2" | cut -f1) / 1000000)) MB"
}
