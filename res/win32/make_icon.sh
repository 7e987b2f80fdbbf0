#!/usr/bin/env bash
# Packs the program's seven icon PNGs (res/quarnel-*.png, 32-bit RGBA) into the Windows icon
# res/win32/quarnel.ico, largest first. Run again whenever the PNGs change. Needs ImageMagick.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pngs=()
for size in 128 96 64 48 32 24 16; do
    pngs+=("PNG32:$here/../quarnel-$size.png")
done
# BMP-style entries with an alpha channel (32 bits per pixel) for every size.
convert "${pngs[@]}" -define icon:format=bmp "$here/quarnel.ico"
