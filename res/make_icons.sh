#!/usr/bin/env bash
# Renders res/quarnel.svg into the seven square PNGs of the program's icon (32-bit RGBA).
# Needs rsvg-convert (Debian: librsvg2-bin); falls back to ImageMagick's convert.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
for size in 128 96 64 48 32 24 16; do
    out="$here/quarnel-$size.png"
    if command -v rsvg-convert >/dev/null 2>&1; then
        rsvg-convert -w "$size" -h "$size" -f png -o "$out" "$here/quarnel.svg"
    else
        convert -background none -density 384 "$here/quarnel.svg" -resize "${size}x${size}" \
            -define png:color-type=6 "$out"
    fi
done
