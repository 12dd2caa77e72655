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
# background. Each drawing stays within rows 1..13 of its 20x20 cell: a button in a caption
# band of the smallest usual height shows no more of its image.
"$im" -size 80x20 xc:'#ff00ff' +antialias \
  -fill '#ffffff' -stroke '#707070' -draw "polygon 4,1 10,1 13,4 13,13 4,13" \
  -fill '#d0d0d0' -draw "polygon 10,1 10,4 13,4" -stroke none \
  -fill '#1f8f3a' -draw "rectangle 12,6 14,12" -draw "rectangle 10,8 16,10" \
  -fill '#c62828' -draw "polygon 24,3 26,1 30,5 34,1 36,3 32,7 36,11 34,13 30,9 26,13 24,11 28,7" \
  -fill '#1f5fa8' -draw "polygon 49,1 50,1 55,6 52,6 52,13 47,13 47,6 44,6" \
  -fill '#1f5fa8' -draw "polygon 69,13 70,13 75,8 72,8 72,1 67,1 67,8 64,8" \
  -type TrueColor BMP3:buttons.bmp
