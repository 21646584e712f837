#!/bin/bash
# Usage: scripts/draw-artwork.sh
#
# Draws the wizard's artwork into resources/ with ImageMagick (Debian package
# imagemagick) and python3:
#   fixed.bmp, failed.bmp   16x16, 24 bits, uncompressed, white background:
#                           a green check mark and a red cross
#   songwright.ico          a music note with a check badge, 32-bit PNG images
#                           of 16, 32, 48 and 256 pixels
# The outputs are committed; run this again only to change the drawings.
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
OUT="$HERE/../resources"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

command -v convert > /dev/null || {
  echo "draw-artwork: needs ImageMagick's convert (apt-get install imagemagick)" >&2
  exit 1
}

# BMP3 without alpha keeps the classic 24-bit header that LoadBitmap reads.
bitmap() {
  convert -size 16x16 xc:white -stroke "$1" -strokewidth 2 -fill none -draw "$2" \
    -alpha off -type TrueColor -define bmp:format=bmp3 "BMP3:$3"
}
bitmap '#1f9d3a' 'polyline 2.5,8.5 6,12 13.5,3.5' "$OUT/fixed.bmp"
bitmap '#d42020' 'line 3.5,3.5 12.5,12.5 line 12.5,3.5 3.5,12.5' "$OUT/failed.bmp"

# The icon is drawn at 256 pixels and scaled down for 48 and 32; the 16-pixel
# image comes from a bolder drawing (bigger badge, no rim) that stays legible.
note() {
  convert -size 256x256 xc:none -fill '#2b4c8c' -stroke none \
    -draw "translate $1,184 rotate -22 ellipse 0,0 $2" \
    -draw "rectangle $3,24 134,180" \
    -draw "path 'M $3,20 C 150,64 216,76 208,150 C 196,118 168,100 134,96 L 134,20 Z'" \
    -fill '#1f9d3a' -stroke white -strokewidth "$4" -draw "circle 190,190 190,$5" \
    -fill none -stroke white -strokewidth "$6" -draw "polyline $7" \
    -define png:exclude-chunk=date,time "PNG32:$8"
}
note 86 48,34,0,360 118 10 136 16 '164,190 184,210 218,170' "$WORK/256.png"
note 80 56,40,0,360 112 0 126 26 '158,190 182,214 222,166' "$WORK/bold.png"
for size in 48 32; do
  convert "$WORK/256.png" -filter Lanczos -resize "${size}x${size}" -define png:exclude-chunk=date,time "PNG32:$WORK/$size.png"
done
convert "$WORK/bold.png" -filter Lanczos -resize 16x16 -define png:exclude-chunk=date,time "PNG32:$WORK/16.png"

# ImageMagick stores only the 256-pixel entry as PNG; every entry should be
# one, so the ICO file is put together here.
python3 - "$WORK" "$OUT/songwright.ico" << 'PYTHON'
import struct
import sys

work, target = sys.argv[1], sys.argv[2]
sizes = [16, 32, 48, 256]
images = [open(f"{work}/{size}.png", "rb").read() for size in sizes]
directory = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for size, image in zip(sizes, images):
    # Width and height 0 stand for 256; 32 bits per pixel, one plane.
    edge = 0 if size == 256 else size
    directory += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, 32, len(image), offset)
    offset += len(image)
with open(target, "wb") as out:
    out.write(directory + b"".join(images))
PYTHON
