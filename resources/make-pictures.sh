#!/usr/bin/env bash
# Makes the setup's committed pictures: its own icon (setup.ico), the wizard's left panel
# (panel.bmp) and the four language flags of the language list (flags/flag_*.ico). Run once
# by hand (needs Debian's imagemagick); the build uses the committed files, so setup.exe
# does not depend on this machine's ImageMagick.   make-pictures.sh
#
# The pictures keep the product's look (product/make-assets.sh): its frame brown and its
# terracotta, cream and glaze blue tiles.
#
# setup.ico: the product's four tiles in their frame, going into an open box; 256 (PNG),
#   48, 32, 24 and 16 pixels, 32 bits with alpha. Each smaller size is the 256 one reduced
#   with a box filter, as the product's icons are.
# panel.bmp: the picture of the wizard's left panel, shown at its real size in a static
#   control of 58 x 105 dialog units of an "MS Shell Dlg" 8-point dialog: 87 x 171 pixels.
#   At 96 dpi Windows' Tahoma 8 gives dialog base units of 6 x 13 pixels, so 58 * 6 / 4 = 87
#   by 105 * 13 / 8 = 170.6; under Wine 8 (Debian 12) MapDialogRect measures 7 x 13, so
#   102 x 171. A bitmap static takes the bitmap's size, so the picture is the narrower 87
#   pixels, never wider than the panel, and its right edge is white: where the panel is
#   wider (Wine), the white goes on. 24-bit uncompressed BMP (BITMAPINFOHEADER, bottom-up)
#   on white: a mosaic of the product's tile colours that thins out and fades into white
#   downwards and to the right. No text.
# flags/flag_{fr,en,de,es}.ico: the language list's flags, loaded at 16 x 12 pixels
#   (LoadImageW(..., IMAGE_ICON, 16, 12, 0)). Each holds a 16 x 12 picture and the same
#   flag centred in a 16 x 16 one, both 32 bits with alpha.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
im=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$here/flags"

# Frame brown, terracotta, cream and glaze blue of the product's icon; the box is oak.
brown='#5b4636' terracotta='#c2683c' cream='#eee6d4' blue='#1e4f9a'

# --- setup.ico -------------------------------------------------------------------------
"$im" -size 256x256 xc:none \
  -fill '#5a3920' -draw 'polygon 44,120 212,120 224,144 32,144' \
  -fill "$brown" -draw 'roundrectangle 48,16 207,175 20,20' \
  -fill "$terracotta" -draw 'rectangle 60,28 123,91' -fill "$cream" -draw 'rectangle 132,28 195,91' \
  -fill "$cream" -draw 'rectangle 60,100 123,163' -fill "$blue" -draw 'rectangle 132,100 195,163' \
  -fill '#ffffff60' -draw 'rectangle 66,34 117,43' -draw 'rectangle 138,34 189,43' \
  -draw 'rectangle 66,106 117,115' -draw 'rectangle 138,106 189,115' \
  -fill '#d2a66a' -draw 'polygon 44,120 32,144 0,116 14,92' -draw 'polygon 211,120 223,144 255,116 241,92' \
  -fill '#a9793f' -draw 'roundrectangle 32,144 223,239 10,10' -draw 'rectangle 32,144 223,200' \
  -fill '#c8955a' -draw 'rectangle 32,144 223,159' \
  "$work/setup.png"
for s in 48 32 24 16; do "$im" "$work/setup.png" -filter box -resize "${s}x${s}" "$work/setup-$s.png"; done
"$im" "$work/setup.png" "$work/setup-48.png" "$work/setup-32.png" "$work/setup-24.png" "$work/setup-16.png" \
  -depth 8 -define png:exclude-chunks=date,time "$here/setup.ico"

# --- panel.bmp -------------------------------------------------------------------------
# Tiles of 8 pixels with 2-pixel white joints. Going down and to the right a tile is less
# likely to be laid and paler, so the mosaic thins out into the white of the panel; the
# right edge stays white too, so a panel wider than the picture continues it seamlessly.
# The choices come from a Park-Miller generator, so every run draws the same picture.
pw=87 ph=171
awk -v w="$pw" -v h="$ph" 'BEGIN {
  split("c2683c cf8a55 1e4f9a 5b8fd0 5b4636 d0b27c c28a24 8e4424", palette, " ")
  seed = 20250
  pitch = 10; tile = 8; left = 4; top = 4
  cols = int((w - left) / pitch); rows = int((h - top) / pitch)
  for (r = 0; r < rows; r++) for (c = 0; c < cols; c++) {
    seed = (seed * 16807) % 2147483647; u = seed / 2147483647
    seed = (seed * 16807) % 2147483647; v = seed / 2147483647
    # How far into the fade this cell is: 0 at the top left, 1 and more at the bottom right.
    t = 1.15 * r / (rows - 1) + 0.45 * c / (cols - 1) - 0.12
    if (t < 0) t = 0
    if (u < t * t) continue
    split(palette[1 + int(v * 8)], x, "")
    fade = t > 1 ? 1 : t; fade = 0.15 + 0.8 * fade
    col = ""
    for (k = 0; k < 3; k++) {
      n = index("0123456789abcdef", x[2 * k + 1]) * 16 + index("0123456789abcdef", x[2 * k + 2]) - 17
      col = col sprintf("%02x", int(n + (255 - n) * fade + 0.5))
    }
    x0 = left + c * pitch; y0 = top + r * pitch
    printf "fill \"#%s\" rectangle %d,%d %d,%d\n", col, x0, y0, x0 + tile - 1, y0 + tile - 1
    # The glaze: a lighter top row, as on the product icon'"'"'s tiles.
    printf "fill \"#ffffff38\" rectangle %d,%d %d,%d\n", x0, y0, x0 + tile - 1, y0
  }
}' > "$work/panel.mvg"
"$im" -size "${pw}x${ph}" xc:white +antialias -draw "$(cat "$work/panel.mvg")" -alpha off -type TrueColor \
  -compress none "BMP3:$here/panel.bmp"

# --- flags/flag_*.ico ------------------------------------------------------------------
# Drawn pixel by pixel at 16 x 12, without smoothing: France's bands are 5, 6 and 5 pixels
# wide, Germany's 4, 4 and 4 high, Spain's 3, 6 and 3 (1:2:1); the Union Jack keeps its
# white-edged red cross and red-on-white diagonals. A faint edge keeps the white parts apart
# from a white list.
"$im" -size 14x10 xc:none -compose copy -bordercolor '#00000030' -border 1 "$work/edge.png"
flag() { # code draw-arguments...
  local code=$1; shift
  "$im" -size 16x12 xc:none +antialias "$@" "$work/edge.png" -composite "$work/$code-12.png"
  "$im" -size 16x16 xc:none "$work/$code-12.png" -geometry +0+2 -composite "$work/$code-16.png"
  "$im" "$work/$code-12.png" "$work/$code-16.png" -depth 8 "$here/flags/flag_$code.ico"
}
flag fr -fill '#0055a4' -draw 'rectangle 0,0 4,11' -fill '#ffffff' -draw 'rectangle 5,0 10,11' \
  -fill '#ef4135' -draw 'rectangle 11,0 15,11'
flag de -fill '#000000' -draw 'rectangle 0,0 15,3' -fill '#dd0000' -draw 'rectangle 0,4 15,7' \
  -fill '#ffce00' -draw 'rectangle 0,8 15,11'
flag es -fill '#c60b1e' -draw 'rectangle 0,0 15,11' -fill '#ffc400' -draw 'rectangle 0,3 15,8'
flag en -fill '#012169' -draw 'rectangle 0,0 15,11' \
  -stroke '#ffffff' -strokewidth 2 -draw 'line 0,0 15,11' -draw 'line 0,11 15,0' \
  -stroke '#c8102e' -strokewidth 1 -draw 'line 0,0 15,11' -draw 'line 0,11 15,0' -stroke none \
  -fill '#ffffff' -draw 'rectangle 6,0 9,11' -draw 'rectangle 0,4 15,7' \
  -fill '#c8102e' -draw 'rectangle 7,0 8,11' -draw 'rectangle 0,5 15,6'
