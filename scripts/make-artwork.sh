#!/usr/bin/env bash
# Draws the window artwork with ImageMagick and writes it to resources/artwork/:
#   background.jpg 568x300  window background (controls sit on the light body area)
#   start.jpg      199x56   Start button
#   exit.jpg       32x22    close button (sits on the header band)
#   *@2x.jpg                the same three pictures drawn at twice the size, for screens of
#                           144 dots per inch and more (the window reduces them to fit)
#   icon.ico       16x16 .. 48x48  256-colour window icon; icon.png its 16x16 picture for FLTK
# and the desktop icons of the Linux package to resources/linux/icons/<N>x<N>/kestrova.png.
# The results are committed; run this again only to change the artwork.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/resources/artwork}"
mkdir -p "$out"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

fonts="$(convert -list font)"
pick_font() {
  local f
  for f in "$@"; do
    if grep -qx "  Font: $f" <<<"$fonts"; then
      echo "$f"
      return
    fi
  done
  echo "Helvetica"
}
bold="$(pick_font DejaVu-Sans-Bold Liberation-Sans-Bold Helvetica-Bold)"
regular="$(pick_font DejaVu-Sans Liberation-Sans Helvetica)"

# Plain baseline JPEG without metadata, so the files are reproducible and every decoder reads them.
jpeg() { convert "$1" -strip -interlace none -sampling-factor 2x2 -quality 92 "JPEG:$2"; }

header_top='#0c3149'
header_bottom='#1a6587'
accent_left='#c0c000'
accent_right='#e4a21b'

# The pictures are drawn once per scale: 1 for 96 dots per inch, 2 for 192. Every coordinate below
# is in 96-DPI pixels; the helpers multiply by the scale, so both sets show the same picture and
# the 2x set has twice the detail rather than an enlarged copy.
s=1
sz() { echo "$(($1 * s))x$(($2 * s))"; }         # W H      -> geometry size
at() { echo "+$(($1 * s))+$(($2 * s))"; }        # X Y      -> geometry offset
crop() { echo "$(sz "$1" "$2")$(at "$3" "$4")"; } # W H X Y -> crop geometry
pt() { echo "$(($1 * s))"; }                      # a length (point size, stroke width)
# Vector drawing (paths, circles, rounded rectangles) scaled as a whole.
vec() { if ((s == 1)); then echo "$1"; else echo "scale $s,$s $1"; fi; }
# A filled rectangle of whole 96-DPI pixels, inclusive corners as ImageMagick counts them.
rect() { echo "rectangle $(($1 * s)),$(($2 * s)) $((($3 + 1) * s - 1)),$((($4 + 1) * s - 1))"; }
blur() { awk -v b="$1" -v s="$s" 'BEGIN { printf "0x%g", b * s }'; }

draw_pictures() {  # scale, file name suffix
  s=$1
  local suffix=$2

  # --- background -------------------------------------------------------------------------------
  # Header band 0..57 with the wordmark; gold accent rule 58..60; calm near-white body where the
  # labels, option buttons and Start button sit; a faint wing motif in the free area on the right;
  # a thin band near the bottom edge, above white rows that meet the window's own white below.
  convert -size "$(sz 568 58)" "gradient:$header_top-$header_bottom" "$tmp/header.png"
  convert -size "$(sz 300 568)" "gradient:rgba(255,255,255,0.10)-rgba(255,255,255,0)" -rotate 90 \
    -crop "$(crop 568 58 0 0)" +repage "$tmp/sheen.png"
  convert "$tmp/header.png" "$tmp/sheen.png" -compose over -composite \
    -fill 'rgba(255,255,255,0.06)' -draw "$(vec 'circle 470,-40 470,70')" \
    -fill 'rgba(255,255,255,0.05)' -draw "$(vec 'circle 380,90 380,30')" \
    -fill 'rgba(255,255,255,0.04)' -draw "$(vec 'circle 300,-70 300,30')" \
    -font "$bold" -pointsize "$(pt 26)" -fill 'rgba(0,0,0,0.35)' -annotate "$(at 18 40)" 'Kestrova' \
    -fill white -annotate "$(at 16 38)" 'Kestrova' \
    -font "$regular" -pointsize "$(pt 11)" -fill '#b9d6e4' -annotate "$(at 152 37)" 'device & driver inventory' \
    "$tmp/header2.png"

  convert -size "$(sz 3 568)" "gradient:$accent_left-$accent_right" -rotate -90 "$tmp/accent.png"
  convert -size "$(sz 568 242)" 'gradient:#ffffff-#e8f0f5' "$tmp/body.png"

  # Wing motif: two swept shapes suggesting a bird in flight, kept very light. Body coordinates
  # (the body starts at y 61): it stays right of the controls, between the status line and the note.
  convert "$tmp/body.png" \
    -fill '#dde9f0' -stroke none \
    -draw "$(vec 'path "M 452,180 C 478,138 512,114 556,98 C 530,124 512,148 500,184 Z"')" \
    -fill '#d3e3ec' \
    -draw "$(vec 'path "M 470,182 C 500,160 530,150 560,148 C 536,160 518,172 506,188 Z"')" \
    -fill '#e2edf3' -draw "$(vec 'circle 488,186 488,180')" \
    "$tmp/body2.png"

  convert -size "$(sz 568 300)" xc:white \
    "$tmp/header2.png" -geometry "$(at 0 0)" -composite \
    "$tmp/accent.png" -geometry "$(at 0 58)" -composite \
    "$tmp/body2.png" -geometry "$(at 0 61)" -composite \
    -fill "$accent_left" -draw "$(rect 0 289 567 289)" \
    -fill "$header_bottom" -draw "$(rect 0 290 567 295)" \
    -fill white -draw "$(rect 0 296 567 299)" \
    "$tmp/background.png"
  jpeg "$tmp/background.png" "$out/background$suffix.jpg"

  # --- Start button -----------------------------------------------------------------------------
  # Drawn over the part of the background it covers so its rounded corners blend in.
  convert "$tmp/background.png" -crop "$(crop 199 56 208 192)" +repage "$tmp/start_bg.png"
  convert -size "$(sz 199 56)" 'gradient:#f6b93b-#e0761f' "$tmp/start_fill.png"
  convert -size "$(sz 199 56)" xc:black -fill white -draw "$(vec 'roundrectangle 2,2 196,53 12,12')" \
    "$tmp/start_mask.png"
  convert -size "$(sz 199 56)" xc:none -fill 'rgba(0,0,0,0.18)' \
    -draw "$(vec 'roundrectangle 3,4 197,55 12,12')" -blur "$(blur 1.2)" "$tmp/start_shadow.png"
  convert "$tmp/start_bg.png" "$tmp/start_shadow.png" -compose over -composite \
    "$tmp/start_fill.png" "$tmp/start_mask.png" -compose over -composite \
    -fill none -stroke '#b85a12' -strokewidth 1 -draw "$(vec 'roundrectangle 2,2 196,53 12,12')" \
    -stroke 'rgba(255,255,255,0.55)' -draw "$(vec 'line 14,4 184,4')" \
    -stroke none -fill 'rgba(255,255,255,0.22)' -draw "$(vec 'roundrectangle 4,4 194,26 10,10')" \
    -fill white -draw "$(vec 'circle 30,28 30,14')" \
    -fill '#e0761f' -draw "$(vec 'polygon 25,20 25,36 38,28')" \
    -font "$bold" -pointsize "$(pt 21)" -fill 'rgba(120,50,0,0.45)' -annotate "$(at 58 37)" 'Start Now' \
    -fill white -annotate "$(at 57 36)" 'Start Now' \
    "$tmp/start.png"
  jpeg "$tmp/start.png" "$out/start$suffix.jpg"

  # --- Exit button ------------------------------------------------------------------------------
  convert "$tmp/background.png" -crop "$(crop 32 22 528 8)" +repage \
    -fill 'rgba(255,255,255,0.14)' -stroke 'rgba(255,255,255,0.55)' -strokewidth 1 \
    -draw "$(vec 'roundrectangle 1,1 30,20 4,4')" \
    -stroke white -strokewidth 2 -draw "$(vec 'line 11,6 20,15')" -draw "$(vec 'line 20,6 11,15')" \
    "$tmp/exit.png"
  jpeg "$tmp/exit.png" "$out/exit$suffix.jpg"
}

draw_pictures 1 ""
draw_pictures 2 "@2x"

# --- icon ---------------------------------------------------------------------------------------
# A teal tile with a gold swept wing, drawn large and reduced so the edges stay smooth.
convert -size 64x64 xc:none \
  -fill "$header_bottom" -draw 'roundrectangle 0,0 63,63 12,12' \
  -fill "$header_top" -draw 'path "M 0,40 L 63,20 L 63,51 Q 63,63 51,63 L 12,63 Q 0,63 0,51 Z"' \
  -fill "$accent_right" -draw 'path "M 8,46 C 22,26 40,14 58,10 C 46,22 38,34 34,50 Z"' \
  -fill '#f3d36b' -draw 'path "M 20,50 C 32,40 44,36 58,36 C 46,42 40,48 36,56 Z"' \
  -fill white -draw 'circle 18,20 18,14' \
  "$tmp/icon64.png"
# The window icon holds the sizes Windows asks for from 96 to 192 DPI (small and large icons),
# so none is enlarged from 16 pixels.
icon_sizes=(16 20 24 32 40 48)
icons=()
for n in "${icon_sizes[@]}"; do
  convert "$tmp/icon64.png" -filter Lanczos -resize "${n}x${n}" \
    -background white -alpha remove -alpha off -strip "PNG24:$tmp/icon$n.png"
  icons+=("$tmp/icon$n.png")
done
convert "$tmp/icon16.png" -strip "PNG24:$out/icon.png"
convert "${icons[@]}" -type Palette -colors 256 -depth 8 -compress none -strip "ICO:$out/icon.ico"

# The same tile for the desktop menus, drawn at 256 pixels and reduced.
icon_dir="${2:-$root/resources/linux/icons}"
convert -size 256x256 xc:none -affine 4,0,0,4,0,0 \
  -fill "$header_bottom" -draw 'roundrectangle 0,0 63,63 12,12' \
  -fill "$header_top" -draw 'path "M 0,40 L 63,20 L 63,51 Q 63,63 51,63 L 12,63 Q 0,63 0,51 Z"' \
  -fill "$accent_right" -draw 'path "M 8,46 C 22,26 40,14 58,10 C 46,22 38,34 34,50 Z"' \
  -fill '#f3d36b' -draw 'path "M 20,50 C 32,40 44,36 58,36 C 46,42 40,48 36,56 Z"' \
  -fill white -draw 'circle 18,20 18,14' \
  "$tmp/icon256.png"
for n in 16 32 48 64 128 256; do
  mkdir -p "$icon_dir/${n}x${n}"
  convert "$tmp/icon256.png" -filter Lanczos -resize "${n}x${n}" -strip \
    -define png:exclude-chunks=date,time "PNG32:$icon_dir/${n}x${n}/kestrova.png"
done

echo "artwork written to $out and $icon_dir"
