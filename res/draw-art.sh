#!/usr/bin/env bash
# Draws the main page's icons (a computer, a printer) and the about page's bitmap with
# ImageMagick. The results are committed; run this only to change them.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

convert -size 32x32 xc:none \
    -fill '#c8c8c8' -stroke '#404040' -strokewidth 1 -draw 'roundrectangle 3,2 28,21 2,2' \
    -fill '#1c4f9c' -stroke '#202020' -draw 'rectangle 6,5 25,18' \
    -stroke none -fill '#6fa0e8' -draw 'rectangle 7,6 14,9' \
    -fill '#a0a0a0' -stroke '#404040' -draw 'rectangle 13,22 18,24' \
    -fill '#c8c8c8' -stroke '#404040' -draw 'rectangle 6,25 25,29' \
    -stroke none -fill '#606060' -draw 'line 8,27 23,27' \
    "$tmp/computer.png"
convert -size 32x32 xc:none \
    -fill white -stroke '#404040' -strokewidth 1 -draw 'rectangle 9,2 22,12' \
    -stroke none -fill '#808080' -draw 'line 11,5 20,5' -draw 'line 11,8 18,8' \
    -fill '#c8c8c8' -stroke '#404040' -draw 'roundrectangle 2,11 29,23 2,2' \
    -fill '#303030' -stroke none -draw 'rectangle 7,19 24,20' \
    -fill '#20c040' -draw 'rectangle 24,14 26,15' \
    -fill white -stroke '#404040' -draw 'rectangle 8,20 23,29' \
    -stroke none -fill '#808080' -draw 'line 10,23 21,23' -draw 'line 10,26 19,26' \
    "$tmp/printer.png"
convert "$tmp/computer.png" -define icon:auto-resize=32,16 computer.ico
convert "$tmp/printer.png" -define icon:auto-resize=32,16 printer.ico

convert -size 64x64 xc:'#1c4f9c' \
    -fill white -stroke none -draw 'rectangle 27,6 37,22' -draw 'polygon 20,22 44,22 32,34' \
    -fill '#d8d8d8' -stroke '#202020' -strokewidth 1 -draw 'roundrectangle 8,34 55,52 3,3' \
    -fill '#303030' -stroke none -draw 'rectangle 15,46 48,48' \
    -fill '#20c040' -draw 'rectangle 47,38 50,40' \
    -fill white -stroke '#202020' -draw 'rectangle 16,48 47,59' \
    -stroke none -fill '#808080' -draw 'line 19,52 43,52' -draw 'line 19,55 38,55' \
    -type TrueColor BMP3:about.bmp
