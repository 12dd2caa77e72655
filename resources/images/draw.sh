#!/usr/bin/env bash
# Draws the dialog's bitmaps with ImageMagick 6 and writes them beside this script:
#   banner.bmp      bitmap 103: the 160x320 banner left of the settings
#   banner_chs.bmp  bitmap 103 of the Simplified Chinese language module
#   buttons.bmp     bitmap 690: four 20x20 button images (new, delete, move up, move down)
#                   on magenta, the colour that the image list makes transparent
# The generated files are committed; run this script after changing a drawing.
# Needs: imagemagick, fonts-dejavu-core, fonts-wqy-microhei.
set -euo pipefail
cd "$(dirname "$0")"
im=$(command -v convert-im6.q16 || echo /usr/bin/convert)
# The points of a cubic Bezier curve from four control points "x0 y0 x1 y1 x2 y2 x3 y3", as
# a polyline: this ImageMagick closes stroked paths and bezier primitives.
curve() {
  awk -v c="$*" 'BEGIN { split(c, p, " "); for (i = 0; i <= 24; i++) { t = i / 24; u = 1 - t
    printf " %.1f,%.1f", u*u*u*p[1] + 3*u*u*t*p[3] + 3*u*t*t*p[5] + t*t*t*p[7],
                         u*u*u*p[2] + 3*u*u*t*p[4] + 3*u*t*t*p[6] + t*t*t*p[8] } }'
}
ribbon="$(curve 80 230 36 206 38 176 78 170)$(curve 78 170 122 164 124 136 90 124)"

latin=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
latin_light=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
chinese=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc

# The banner: a parcel whose ribbon unravels upwards into a check mark, under the product's
# name. $1 output, $2 tagline font, $3 tagline.
banner() {
  "$im" -size 160x320 gradient:'#16243f-#1d6a73' \
    \( -size 160x320 radial-gradient:'#ffffff30-#ffffff00' -geometry +0-60 \) -compose over -composite \
    -fill none -stroke '#2f8f98' -strokewidth 1 \
    -draw "circle 80,190 80,118" -draw "circle 80,190 80,132" \
    -stroke none -fill '#c98a3c' \
    -draw "polygon 40,232 80,250 80,296 40,278" \
    -fill '#a96f2a' -draw "polygon 80,250 120,232 120,278 80,296" \
    -fill '#e3a95a' -draw "polygon 40,232 80,214 120,232 80,250" \
    -fill '#f4d9a8' -draw "polygon 52,226 80,213 108,226 80,239" \
    -fill none -stroke '#fbe7c2' -strokewidth 4 \
    -draw "stroke-linecap round stroke-linejoin round polyline$ribbon" \
    -stroke '#7fe0c4' -strokewidth 8 \
    -draw "stroke-linecap round stroke-linejoin round polyline 60,110 76,126 106,94" \
    -stroke none -fill white -font "$latin" -pointsize 25 -gravity north -annotate +0+26 'Ravelpak' \
    -fill '#9fd8d2' -font "$2" -pointsize 11 -annotate +0+60 "$3" \
    -fill '#ffffff20' -draw "rectangle 24,86 136,87" \
    -type TrueColor BMP3:"$1"
}
banner banner.bmp "$latin_light" 'verify · unpack · tidy up'
banner banner_chs.bmp "$chinese" '校验 · 解压 · 清理'

# The button strip, drawn without anti-aliasing so that no pixel is blended with the magenta
# background. Each image keeps its drawing within rows 3..15, which stay visible in a
# caption band of the smallest usual height.
"$im" -size 80x20 xc:'#ff00ff' +antialias -stroke none \
  -fill '#ffffff' -stroke '#707070' -draw "polygon 4,2 11,2 15,6 15,16 4,16" \
  -fill '#d0d0d0' -draw "polygon 11,2 11,6 15,6" -stroke none \
  -fill '#1f8f3a' -draw "rectangle 11,9 13,17" -draw "rectangle 8,12 16,14" \
  -fill '#c62828' -draw "polygon 24,5 26,3 30,7 34,3 36,5 32,9 36,13 34,15 30,11 26,15 24,13 28,9" \
  -fill '#1f5fa8' -draw "polygon 50,3 56,9 52,9 52,16 48,16 48,9 44,9" \
  -fill '#1f5fa8' -draw "polygon 70,16 76,10 72,10 72,3 68,3 68,10 64,10" \
  -type TrueColor BMP3:buttons.bmp
