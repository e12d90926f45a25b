#!/usr/bin/env bash
# Makes the product's committed pictures: the 36 tileable texture images in
# content/Textures and the two icons in tilewright/. Run once by hand (needs Debian's
# imagemagick); the build uses the committed files, so the payload does not depend on
# this machine's ImageMagick.   make-assets.sh [TEXTURE_SIZE] [JPEG_QUALITY]
#
# Every step that looks at neighbouring pixels runs with "-virtual-pixel tile", so each
# texture wraps around seamlessly: its right edge continues into its left edge and its
# bottom edge into its top edge.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
size=${1:-512}
quality=${2:-94}
im=/usr/bin/convert
out=$here/content/Textures
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# A length in pixels of a 256-pixel picture, for this picture size.
scaled() { awk -v v="$1" -v s="$size" 'BEGIN { printf "%g", v * s / 256 }'; }
# Grey noise, seamless, blurred by SIGMA pixels and stretched to the full range.
noise() { # seed sigma file
  "$im" -size "${size}x${size}" xc:gray50 -seed "$1" +noise Random -colorspace gray \
    -virtual-pixel tile -blur "0x$(scaled "$2")" -auto-level "$3"
}
# Streaks along ANGLE degrees.
streaks() { # seed length angle file
  "$im" -size "${size}x${size}" xc:gray50 -seed "$1" +noise Random -colorspace gray \
    -virtual-pixel tile -blur 0x1 -motion-blur "0x$(scaled "$2")+$3" -motion-blur "0x$(scaled "$2")+$(( $3 + 180 ))" \
    -auto-level "$4"
}
# Maps a grey picture through a colour ramp of two or more colours.
ramp() { # grey file colours...
  local grey=$1 file=$2; shift 2
  local parts=() c
  for c in "$@"; do parts+=("xc:$c"); done
  "$im" "${parts[@]}" +append -filter triangle -resize "256x1!" "$work/ramp.png"
  "$im" "$grey" -colorspace sRGB -type TrueColor "$work/ramp.png" -clut -strip -sampling-factor 1x1 -quality "$quality" "$out/$file.jpg"
}
# Mixes grey pictures with weights: mix out w1 f1 w2 f2 ...
mix() {
  local target=$1; shift
  local args=() first=1
  while [ $# -gt 0 ]; do
    if [ $first = 1 ]; then args+=("$2" -evaluate multiply "$1"); first=0
    else args+=("(" "$2" -evaluate multiply "$1" ")" -compose plus -composite); fi
    shift 2
  done
  "$im" "${args[@]}" -auto-level "$target"
}

granite() { # name seed colours...
  local name=$1 seed=$2; shift 2
  noise "$seed" 0.6 "$work/a.png"; noise $((seed + 1)) 3 "$work/b.png"; noise $((seed + 2)) 12 "$work/c.png"
  mix "$work/g.png" 0.45 "$work/a.png" 0.35 "$work/b.png" 0.2 "$work/c.png"
  "$im" "$work/g.png" -sigmoidal-contrast 6x50% "$work/g.png"
  ramp "$work/g.png" "$name" "$@"
}
marble() { # name seed frequency colours...
  local name=$1 seed=$2 freq=$3; shift 3
  noise "$seed" 14 "$work/a.png"; noise $((seed + 1)) 4 "$work/b.png"
  mix "$work/m.png" 0.8 "$work/a.png" 0.2 "$work/b.png"
  "$im" "$work/m.png" -fx "0.75*pow(abs(sin(u*$freq)),0.3) + 0.25*u" "$work/m.png"
  ramp "$work/m.png" "$name" "$@"
}
clay() { # name seed colours...
  local name=$1 seed=$2; shift 2
  noise "$seed" 16 "$work/a.png"; noise $((seed + 1)) 1 "$work/b.png"
  mix "$work/c.png" 0.75 "$work/a.png" 0.25 "$work/b.png"
  ramp "$work/c.png" "$name" "$@"
}
glaze() { # name seed colours...
  local name=$1 seed=$2; shift 2
  noise "$seed" 24 "$work/a.png"; noise $((seed + 1)) 0.8 "$work/b.png"
  mix "$work/z.png" 0.9 "$work/a.png" 0.1 "$work/b.png"
  ramp "$work/z.png" "$name" "$@"
}
slate() { # name seed angle colours...
  local name=$1 seed=$2 angle=$3; shift 3
  streaks "$seed" 24 "$angle" "$work/a.png"; noise $((seed + 1)) 0.7 "$work/b.png"; noise $((seed + 2)) 20 "$work/c.png"
  mix "$work/s.png" 0.5 "$work/a.png" 0.2 "$work/b.png" 0.3 "$work/c.png"
  ramp "$work/s.png" "$name" "$@"
}
wood() { # name seed rings colours...
  local name=$1 seed=$2 rings=$3; shift 3
  streaks "$seed" 60 0 "$work/a.png"; noise $((seed + 1)) 20 "$work/b.png"
  mix "$work/w.png" 0.55 "$work/a.png" 0.45 "$work/b.png"
  # Growth rings: bands across the grain, bent by the noise.
  "$im" "$work/w.png" -fx "0.6*pow(abs(sin((j/h*$rings + u*1.5)*pi)),0.5) + 0.4*u" "$work/w.png"
  ramp "$work/w.png" "$name" "$@"
}
terrazzo() { # name seed base-colours... -- chip colour
  local name=$1 seed=$2; shift 2
  local colours=() chip
  while [ "$1" != -- ]; do colours+=("$1"); shift; done
  chip=$2
  clay "$name" "$seed" "${colours[@]}"
  "$im" -size "${size}x${size}" xc:gray50 -seed $((seed + 5)) +noise Random -colorspace gray \
    -virtual-pixel tile -blur "0x$(scaled 1.6)" -auto-level -threshold 74% "$work/mask.png"
  "$im" "$out/$name.jpg" \( -size "${size}x${size}" "xc:$chip" \) "$work/mask.png" -composite \
    -strip -sampling-factor 1x1 -quality "$quality" "$out/$name.jpg"
}

granite Basalt 101 '#202225' '#3a3d42' '#5c6066'
granite Granite_Grey 111 '#3b3b3e' '#8a8a8e' '#d6d6d8'
granite Granite_Rose 121 '#5a3a36' '#b58379' '#efd2c8'
granite Granite_Black 131 '#050506' '#2c2c30' '#9a9aa2'
granite Quartzite 141 '#8d8a80' '#cfcabd' '#f4f1ea'
granite Porphyry 151 '#3c1715' '#7c3129' '#c27a66'
granite Lava 161 '#0b0a0a' '#2a2220' '#7a2418'
granite Cork 171 '#5b3a1e' '#a5733f' '#d8ab70'
marble Marble_White 201 9 '#8f8c88' '#e6e3de' '#fbfaf7'
marble Marble_Black 211 11 '#e8e8ea' '#2a2a2e' '#0e0e10'
marble Marble_Green 221 8 '#d8e6da' '#2f6a4a' '#0f2f20'
marble Marble_Cream 231 7 '#a48a66' '#e6d6b8' '#f6eedd'
marble Onyx 241 5 '#5a3412' '#c98a3a' '#f2d7a0'
marble Travertine 251 16 '#9c8868' '#d9c8a6' '#ece2cc'
clay Terracotta 301 '#8e4424' '#c2683c' '#d98a5c'
clay Terracotta_Dark 311 '#5e2a16' '#8a4426' '#a9603a'
clay Cotto 321 '#a05a30' '#cf8a55' '#e6b080'
clay Sandstone 331 '#a58a5c' '#d0b27c' '#e8d3a4'
clay Limestone 341 '#b9b2a0' '#d8d2c2' '#ece8dc'
clay Brick_Red 351 '#5e1e14' '#9a3a26' '#c2654a'
clay Brick_Brown 361 '#3e2618' '#6e4830' '#9a7050'
glaze Glaze_Blue 401 '#0e2a5a' '#1e4f9a' '#5b8fd0'
glaze Glaze_Green 411 '#0f3b2c' '#1f6e4e' '#67ad8a'
glaze Glaze_Ochre 421 '#7a4f0c' '#c28a24' '#e8bd5a'
glaze Glaze_White 431 '#cfd0cc' '#eeeee9' '#fdfdfb'
slate Slate_Grey 501 20 '#2a2c2e' '#55595d' '#8a8f94'
slate Slate_Blue 511 -15 '#1d2630' '#3b4d60' '#6f8296'
slate Slate_Green 521 30 '#1f2a22' '#435447' '#76877a'
wood Oak 601 7 '#6e4a24' '#a9793f' '#d2a66a'
wood Walnut 611 6 '#2e1b10' '#5a3920' '#87603c'
wood Ash 621 9 '#a58c66' '#d2bd98' '#ede0c6'
wood Teak 631 5 '#5a3212' '#8e5526' '#b87a42'
terrazzo Terrazzo_Light 701 '#c9c4ba' '#dedad2' '#eeebe5' -- '#6d6a66'
terrazzo Terrazzo_Dark 711 '#3a3937' '#55534f' '#6c6a66' -- '#e8e4dc'
clay Cement_Grey 721 '#7a7b7a' '#9d9e9c' '#b6b7b4'
clay Cement_Warm 731 '#8a8072' '#aba190' '#c4baa8'
echo "$(ls "$out"/*.jpg | wc -l) textures, $(cat "$out"/*.jpg | wc -c) bytes"

# The icons: the program's (four glazed tiles in a frame) and the layout files' (a sheet
# with a tile plan). Each holds 256, 48, 32 and 16 pixel pictures.
icons=$here/tilewright
"$im" -size 256x256 xc:none -fill '#5b4636' -draw 'roundrectangle 8,8 247,247 28,28' \
  -fill '#c2683c' -draw 'rectangle 28,28 124,124' -fill '#eee6d4' -draw 'rectangle 132,28 227,124' \
  -fill '#eee6d4' -draw 'rectangle 28,132 124,227' -fill '#1e4f9a' -draw 'rectangle 132,132 227,227' \
  -fill '#ffffff60' -draw 'rectangle 36,36 116,50' -draw 'rectangle 140,36 219,50' \
  -draw 'rectangle 36,140 116,154' -draw 'rectangle 140,140 219,154' "$work/app.png"
"$im" -size 256x256 xc:none -fill '#ffffff' -stroke '#6a6a6a' -strokewidth 6 \
  -draw 'polygon 40,8 176,8 232,64 232,248 40,248' -fill '#d8d8d8' -draw 'polygon 176,8 176,64 232,64' \
  -stroke none -fill '#c2683c' -draw 'rectangle 70,100 126,156' -draw 'rectangle 146,176 202,232' \
  -fill '#1e4f9a' -draw 'rectangle 146,100 202,156' -draw 'rectangle 70,176 126,232' "$work/doc.png"
for name in app doc; do
  for s in 48 32 16; do "$im" "$work/$name.png" -filter box -resize "${s}x${s}" "$work/$name-$s.png"; done
done
"$im" "$work/app.png" "$work/app-48.png" "$work/app-32.png" "$work/app-16.png" -depth 8 -define png:exclude-chunks=date,time "$icons/tilewright.ico"
"$im" "$work/doc.png" "$work/doc-48.png" "$work/doc-32.png" "$work/doc-16.png" -depth 8 -define png:exclude-chunks=date,time "$icons/layout.ico"
