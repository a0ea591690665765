#!/usr/bin/env bash
# Includes run downward only: each folder of the product may include its own headers and those of
# the layers below it, never one above or beside it. The extractor stub is a front end of the
# format alone: it never sees the builder. Prints every include that breaks the rule; fails if any.
#   include_layers.sh [SOURCE-ROOT]
set -u
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$root" || exit 2

below() {  # the folders a folder may include from, itself first
  case $1 in
    platform) echo "platform" ;;
    support) echo "support platform" ;;
    settings) echo "settings support platform" ;;
    archive) echo "archive settings support platform" ;;
    builder) echo "builder archive settings support platform" ;;
    cli) echo "cli builder archive settings support platform" ;;
    app) echo "app resources builder archive settings support platform" ;;
    stub) echo "stub archive settings support platform" ;;
  esac
}

bad=0 checked=0
for dir in platform support settings archive builder cli app stub; do
  allowed=" $(below $dir) "
  while IFS= read -r hit; do
    file=${hit%%:*} target=${hit#*#include \"}
    target=${target%%\"*}
    checked=$((checked + 1))
    case $target in */*) ;; *) continue ;; esac  # a header beside the file
    if [[ $allowed != *" ${target%%/*} "* ]]; then
      echo "$file includes $target: $dir may include only from:$allowed"
      bad=$((bad + 1))
    fi
  done < <(grep -rH '^#include "' "$dir" --include='*.cpp' --include='*.h' --include='*.rc')
done
[ "$checked" -gt 100 ] || { echo "only $checked includes found under $root: wrong folder?"; exit 2; }
echo "$checked includes checked, $bad against the layers"
[ "$bad" -eq 0 ]
