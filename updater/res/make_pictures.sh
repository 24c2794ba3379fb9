#!/usr/bin/env bash
# Makes the updater's pictures (bitmaps, program icon, link cursor) into
# pictures/ beside this script. The output is committed; run this again only
# to change the pictures. Needs ImageMagick and fonts-nanum.
#
# One look for everything: the product blue (#2f6db5 family), white card
# backgrounds where the pictures sit on the message box's white body, and
# NanumGothic Bold for the few words that are part of a picture (button
# labels and the animation's caption). Small pictures are drawn four times
# larger and scaled down, so edges are smooth without blurring text.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
OUT=$HERE/pictures
IM=convert
[ -x /usr/bin/convert ] && IM=/usr/bin/convert
FONT_BOLD=/usr/share/fonts/truetype/nanum/NanumGothicBold.ttf
FONT=/usr/share/fonts/truetype/nanum/NanumGothic.ttf
for f in "$FONT_BOLD" "$FONT"; do
  [ -f "$f" ] || { echo "make_pictures: $f missing (install fonts-nanum)" >&2; exit 1; }
done
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
mkdir -p "$OUT"

# Windows 3.x-style 24-bit bitmap without alpha, as resource bitmaps are.
bmp() { "$IM" "$1" -background white -alpha remove -alpha off -type TrueColor "BMP3:$2"; }

BLUE_LIGHT='#5c97d8'
BLUE='#2f6db5'
BLUE_DEEP='#2b63ab'
BLUE_INK='#23518c'

# --- Title strip 161: 2 x 27, stretched across the box's top ------------------
"$IM" -size 2x1 xc:'#86b4e8' \
  \( -size 2x25 gradient:'#5f98d8-#2c61a7' \) \
  \( -size 2x1 xc:'#1d4a86' \) -append "$TMP/title.png"
bmp "$TMP/title.png" "$OUT/title_strip.bmp"

# --- Close strip 163: normal, hover, pressed; 9 x 10 each ----------------------
# The button sits at client y 10..19 over the strip, which starts at y 2, so
# its background is the strip's rows 8..17. Black is the image list's mask
# colour and must not occur.
"$IM" "$TMP/title.png" -crop 2x10+0+8 +repage -scale 9x10! "$TMP/close_bg.png"
close_image() {  # out, background modulate, cross colour
  "$IM" "$TMP/close_bg.png" -modulate "$2" \
    -stroke "$3" -strokewidth 1.6 -draw "line 2,2.5 6.5,7" -draw "line 6.5,2.5 2,7" "$1"
}
close_image "$TMP/close0.png" 100 white
close_image "$TMP/close1.png" 125 white
close_image "$TMP/close2.png" 80 '#d8e6f7'
"$IM" "$TMP/close0.png" "$TMP/close1.png" "$TMP/close2.png" +append "$TMP/close.png"
bmp "$TMP/close.png" "$OUT/close_strip.bmp"

# --- Buttons: 80 x 22 with their labels ---------------------------------------
# button out label top bottom border text dy
button() {
  local out=$1 label=$2 top=$3 bottom=$4 border=$5 text=$6 dy=$7
  "$IM" -size 320x88 gradient:"$top-$bottom" \
    \( -size 320x88 xc:black -fill white -draw "roundrectangle 2,2 317,85 12,12" \) \
    -alpha off -compose CopyOpacity -composite -background white -compose Over -flatten \
    -fill none -stroke "$border" -strokewidth 4 -draw "roundrectangle 2,2 317,85 12,12" \
    -resize 80x22! "$TMP/btn.png"
  "$IM" "$TMP/btn.png" -font "$FONT_BOLD" -pointsize 12 -fill "$text" -gravity center \
    -annotate +0+"$dy" "$label" "$TMP/btn_l.png"
  bmp "$TMP/btn_l.png" "$out"
}
# "확인": the primary button, filled in the product blue.
button "$OUT/ok_normal.bmp" "확인" "$BLUE_LIGHT" "$BLUE_DEEP" "$BLUE_INK" white 0
button "$OUT/ok_hover.bmp" "확인" '#78aee6' '#3675c0' "$BLUE_INK" white 0
button "$OUT/ok_pressed.bmp" "확인" '#295c9f' '#4a84c9' '#1b4274' '#e8f0fa' 1
button "$OUT/ok_disabled.bmp" "확인" '#eef1f5' '#dfe4ea' '#bcc5d0' '#9ba6b4' 0
# "취소": the secondary button, light with blue ink.
button "$OUT/cancel_normal.bmp" "취소" '#ffffff' '#e2e8f0' '#98a8bd' '#2e4466' 0
button "$OUT/cancel_hover.bmp" "취소" '#ffffff' '#d3e3f6' '#5e8cc6' '#23518c' 0
button "$OUT/cancel_pressed.bmp" "취소" '#cfdaeb' '#eef2f7' '#5e7fa8' '#23518c' 1
button "$OUT/cancel_disabled.bmp" "취소" '#f5f6f8' '#eceef1' '#cdd2d8' '#b0b6be' 0

# --- Type icons 40 x 40 on white -------------------------------------------------
# disc out top bottom: a round badge drawn at 160 x 160
disc() {
  "$IM" -size 160x160 gradient:"$2-$3" \
    \( -size 160x160 xc:black -fill white -draw "circle 80,80 80,12" \) \
    -alpha off -compose CopyOpacity -composite -background white -compose Over -flatten "$1"
}
disc "$TMP/info.png" "$BLUE_LIGHT" "$BLUE_DEEP"
"$IM" "$TMP/info.png" -fill white -draw "circle 80,47 80,37" \
  -draw "roundrectangle 70,64 90,122 6,6" -resize 40x40 "$TMP/info40.png"
bmp "$TMP/info40.png" "$OUT/icon_info.bmp"

disc "$TMP/question.png" '#56b985' '#24814f'
"$IM" "$TMP/question.png" -font "$FONT_BOLD" -pointsize 104 -fill white -gravity center \
  -annotate +0+4 "?" -resize 40x40 "$TMP/question40.png"
bmp "$TMP/question40.png" "$OUT/icon_question.bmp"

disc "$TMP/error.png" '#ef5f54' '#bd2a22'
"$IM" "$TMP/error.png" -stroke white -strokewidth 16 \
  -draw "stroke-linecap round line 54,54 106,106" -draw "stroke-linecap round line 106,54 54,106" -resize 40x40 "$TMP/error40.png"
bmp "$TMP/error40.png" "$OUT/icon_error.bmp"

"$IM" -size 160x160 gradient:'#ffcf55-#ef9a12' \
  \( -size 160x160 xc:black -fill white -stroke white -strokewidth 18 \
     -draw "stroke-linejoin round polygon 80,18 146,136 14,136" \) \
  -alpha off -compose CopyOpacity -composite -background white -compose Over -flatten \
  -fill '#4a3300' -draw "roundrectangle 73,52 87,96 7,7" -draw "circle 80,118 80,109" \
  -resize 40x40 "$TMP/warning40.png"
bmp "$TMP/warning40.png" "$OUT/icon_warning.bmp"

# --- Help icon 145: 12 x 12 -----------------------------------------------------
"$IM" -size 48x48 xc:white -fill "$BLUE" -draw "circle 24,24 24,2" \
  -font "$FONT_BOLD" -pointsize 34 -fill white -gravity center -annotate +0+2 "?" \
  -resize 12x12 "$TMP/help.png"
bmp "$TMP/help.png" "$OUT/help_icon.bmp"

# --- Progress animation 132-137: 140 x 65 ---------------------------------------
# A packet travels from the update server (cloud) to the PC while the PC's
# bar fills; six steps, the caption below names the product.
anim_frame() {  # step 0..5, out
  local step=$1 out=$2 draw=() i x r colour
  for i in 0 1 2 3 4 5; do
    x=$((228 + i * 24))
    if [ "$i" -eq "$step" ]; then r=11; colour=$BLUE
    elif [ "$i" -eq $(( (step + 5) % 6 )) ]; then r=8; colour='#86a9d8'
    else r=6; colour='#cad8ea'; fi
    draw+=(-fill "$colour" -draw "circle $x,116 $((x + r)),116")
  done
  local fill=$(( 404 + (step + 1) * 80 / 6 ))
  "$IM" -size 560x260 xc:white \
    -fill "$BLUE_LIGHT" -draw "circle 84,118 84,84" -draw "circle 128,96 128,52" \
    -draw "circle 170,122 170,94" -draw "roundrectangle 52,112 200,152 20,20" \
    -fill white -draw "polygon 112,100 144,100 144,82 112,82" \
    -draw "polygon 100,100 156,100 128,132" \
    "${draw[@]}" \
    -fill "$BLUE_DEEP" -draw "roundrectangle 384,56 508,150 10,10" \
    -fill '#eaf2fc' -draw "rectangle 394,66 498,140" \
    -fill '#c7d6ea' -draw "roundrectangle 404,96 488,110 5,5" \
    -fill "$BLUE" -draw "roundrectangle 404,96 $fill,110 5,5" \
    -fill "$BLUE_DEEP" -draw "rectangle 434,150 458,168" \
    -draw "roundrectangle 412,166 480,176 4,4" \
    -resize 140x65! "$TMP/anim.png"
  "$IM" "$TMP/anim.png" -font "$FONT_BOLD" -pointsize 11 -fill '#5b6f8a' -gravity south \
    -annotate +0+3 "울메 업데이트" \
    -fill none -stroke '#b9c9de' -strokewidth 1 -draw "rectangle 0,0 139,64" "$TMP/anim_l.png"
  bmp "$TMP/anim_l.png" "$out"
}
anim_frame 0 "$OUT/anim_133.bmp"
anim_frame 1 "$OUT/anim_134.bmp"
anim_frame 2 "$OUT/anim_135.bmp"
anim_frame 3 "$OUT/anim_136.bmp"
anim_frame 4 "$OUT/anim_137.bmp"
anim_frame 5 "$OUT/anim_132.bmp"

# --- Program icon 128: 48, 32 and 16 pixels --------------------------------------
"$IM" -size 256x256 xc:none \
  \( -size 256x256 gradient:"$BLUE_LIGHT-$BLUE_DEEP" \) \
  \( -size 256x256 xc:black -fill white -draw "roundrectangle 8,8 247,247 44,44" \) \
  -delete 0 -alpha off -compose CopyOpacity -composite \
  -fill white -draw "polygon 104,48 152,48 152,120 188,120 128,180 68,120 104,120" \
  -draw "roundrectangle 60,196 196,216 8,8" "$TMP/icon256.png"
for s in 48 32 16; do "$IM" "$TMP/icon256.png" -resize ${s}x${s} "$TMP/icon$s.png"; done
"$IM" "$TMP/icon48.png" "$TMP/icon32.png" "$TMP/icon16.png" "$OUT/ulmet.ico"

# --- Hand cursor 160: 32 x 32, hot spot on the fingertip ----------------------------
cat >"$TMP/hand.xpm" <<'XPM'
/* XPM */
static char *hand[] = {
"32 32 3 1",
"  c None",
"# c #000000",
". c #FFFFFF",
"           ##                   ",
"          #..#                  ",
"          #..#                  ",
"          #..#                  ",
"          #..#                  ",
"          #..###                ",
"          #..#..###             ",
"          #..#..#..##           ",
"       ## #..#..#..#.#          ",
"      #..##........#..#         ",
"      #...#...........#         ",
"       #..............#         ",
"        #.............#         ",
"        #.............#         ",
"         #............#         ",
"         #...........#          ",
"          #..........#          ",
"          #..........#          ",
"           #........#           ",
"           #........#           ",
"           ##########           ",
"                                ",
"                                ",
"                                ",
"                                ",
"                                ",
"                                ",
"                                ",
"                                ",
"                                ",
"                                ",
"                                "};
XPM
"$IM" "$TMP/hand.xpm" "ICO:$OUT/hand.cur"
# ImageMagick writes an icon header; a cursor says type 2 and carries its hot
# spot (x, y) where an icon keeps planes and bit count.
printf '\002\000' | dd of="$OUT/hand.cur" bs=1 seek=2 conv=notrunc status=none
printf '\013\000\001\000' | dd of="$OUT/hand.cur" bs=1 seek=10 conv=notrunc status=none

echo "make_pictures: wrote $(ls "$OUT" | wc -l) files into $OUT"
