#!/bin/sh
# Draws the list's default background pictures, a file under a drop cursor with the program's
# name and the hint to drop files here: bitmap 205 (Korean, 129 x 74) and 207 (English, 102 x 61).
#   make_backgrounds.sh OUTPUT_DIR
# Needs ImageMagick's convert and the Nanum Gothic font; the result is a 24-bit BMP each.
set -eu
out=$1
font=${PL5_HINT_FONT:-/usr/share/fonts/truetype/nanum/NanumGothic.ttf}

# picture FILE WIDTH HEIGHT X Y HINT HINT_SIZE: the icon's top-left corner at X,Y.
picture() {
  file=$1 w=$2 h=$3 x=$4 y=$5 hint=$6 size=$7
  convert -size "${w}x${h}" xc:white -strokewidth 1 \
    -fill '#f6f6f6' -stroke '#808080' \
    -draw "polygon $x,$y $((x+14)),$y $((x+20)),$((y+6)) $((x+20)),$((y+25)) $x,$((y+25))" \
    -fill '#d6d6d6' -draw "polygon $((x+14)),$y $((x+14)),$((y+6)) $((x+20)),$((y+6))" \
    -stroke '#a8a8a8' -draw "line $((x+4)),$((y+11)) $((x+16)),$((y+11))" \
    -draw "line $((x+4)),$((y+15)) $((x+16)),$((y+15))" -draw "line $((x+4)),$((y+19)) $((x+12)),$((y+19))" \
    -fill white -stroke black \
    -draw "polygon $((x+16)),$((y+14)) $((x+16)),$((y+28)) $((x+19)),$((y+25)) $((x+22)),$((y+31)) $((x+24)),$((y+30)) $((x+21)),$((y+24)) $((x+25)),$((y+24))" \
    -draw "rectangle $((x+22)),$((y+26)) $((x+28)),$((y+32))" \
    -draw "line $((x+25)),$((y+28)) $((x+25)),$((y+30))" -draw "line $((x+24)),$((y+29)) $((x+26)),$((y+29))" \
    -stroke none -font "$font" -gravity north \
    -fill '#505050' -pointsize 9 -annotate "+0+$((y+34))" 'Pelora' \
    -fill '#303030' -pointsize "$size" -annotate "+0+$((h-size-5))" "$hint" \
    -type truecolor "BMP3:$file"
}

picture "$out/background_ko.bmp" 129 74 52 3 '파일을 여기에 놓으세요' 11
picture "$out/background_en.bmp" 102 61 38 2 'Drop files here' 10
