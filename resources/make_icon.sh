#!/bin/sh
# Draws the program icon (a parcel with a lightning arrow: an archive that unpacks itself) at
# 16, 32 and 48 pixels and writes tambrix.ico. Needs ImageMagick. The .ico is committed; run this
# again only to change the drawing.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for s in 48 32 16; do
  convert -size 48x48 xc:none \
    -fill '#8a5a2b' -stroke '#4a2e12' -strokewidth 2 -draw 'rectangle 5,16 42,44' \
    -fill '#b07a40' -draw 'polygon 5,16 12,6 49,6 42,16' \
    -fill '#d9b37a' -stroke none -draw 'rectangle 20,16 27,44' \
    -fill '#ffd400' -stroke '#7a5a00' -strokewidth 1.5 \
    -draw 'polygon 30,2 18,24 26,24 20,40 36,17 28,17 34,2' \
    -resize ${s}x${s} "PNG32:$tmp/icon$s.png"
done
convert "$tmp/icon16.png" "$tmp/icon32.png" "$tmp/icon48.png" tambrix.ico
