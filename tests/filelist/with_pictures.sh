#!/usr/bin/env bash
# Makes the pictures of the thumbnail page in a fresh folder, names it in PL5_PICTURES (a Windows
# path) and runs the rest of the command line: photo.jpg 64x48 red | blue; picture.png 48x48 green;
# rotated.jpg stored 64x32 yellow over magenta with the Exif orientation 6 (turned a quarter right
# when shown: magenta | yellow, upright); damaged.png a cyan PNG cut inside its data; notes.txt.
set -euo pipefail
DIR=$(mktemp -d "${TMPDIR:-/tmp}/pl5-pictures.XXXXXX")
trap 'rm -rf "$DIR"' EXIT
convert -size 32x48 xc:'#FF0000' -size 32x48 xc:'#0000FF' +append -quality 95 "$DIR/photo.jpg"
convert -size 48x48 xc:'#00FF00' "$DIR/picture.png"
convert -size 64x16 xc:'#FFFF00' -size 64x16 xc:'#FF00FF' -append -quality 95 "$DIR/stored.jpg"
# An APP1 Exif block right after the start of the image: a big-endian TIFF header and one
# directory entry, Orientation (0x0112), SHORT, 6.
{
    head -c 2 "$DIR/stored.jpg"
    printf '\xff\xe1\x00\x22Exif\x00\x00MM\x00\x2a\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00\x00\x00\x00\x00'
    tail -c +3 "$DIR/stored.jpg"
} >"$DIR/rotated.jpg"
rm "$DIR/stored.jpg"
convert -size 48x48 plasma:cyan-cyan "$DIR/whole.png"
head -c 120 "$DIR/whole.png" >"$DIR/damaged.png"
rm "$DIR/whole.png"
printf 'notes\r\n' >"$DIR/notes.txt"
PL5_PICTURES=$(winepath -w "$DIR" 2>/dev/null)
export PL5_PICTURES
"$@"
