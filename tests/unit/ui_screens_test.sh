#!/usr/bin/env bash
# The updater's windows as a person sees them: ui_shots puts the progress
# dialog, its about box and a message box of each type on the Xvfb screen;
# this script takes a screenshot of the whole screen with ImageMagick's
# import for each, cuts out the window, and checks a few pixels of what
# reached the screen (title strip, animation, buttons). The pictures stay in
# the screenshots folder for a person to look at.
#
#   ui_screens_test.sh <ui_shots.exe> <screenshots folder>
set -u
exe=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env.sh"
mkdir -p "$out"
sig=$(mktemp -d)
trap 'rm -rf "$sig"' EXIT
fail=0

# pixel <png> <x> <y> -> "r g b"
pixel() {
  convert "$1" -format '%[fx:int(255*p{'"$2"','"$3"'}.r)] %[fx:int(255*p{'"$2"','"$3"'}.g)] %[fx:int(255*p{'"$2"','"$3"'}.b)]' info:
}
expect_pixel() {  # what png x y test(r g b)
  local what=$1 png=$2 x=$3 y=$4 cond=$5 r g b
  read -r r g b < <(pixel "$png" "$x" "$y")
  if eval "$cond"; then
    echo "ok: $what (rgb $r $g $b)"
  else
    echo "FAILED: $what: rgb $r $g $b at $x,$y fails $cond"
    fail=1
  fi
}

shoot() {  # scene
  local scene=$1 log="$sig/$1.log"
  rm -f "$sig/ready" "$sig/done"
  "$here/../../scripts/wine-run.sh" "$exe" "Z:$sig" "$scene" >"$log" 2>&1 &
  local pid=$!
  for _ in $(seq 1 300); do
    [ -f "$sig/ready" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -f "$sig/ready" ]; then
    echo "FAILED: $scene: the window never reached the screen"
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    cat "$log"
    fail=1
    return 1
  fi
  import -window root -display "$DISPLAY" "$out/$scene.png"
  read -r X Y W H CX CY < <(tr -d "\r" <"$sig/ready")
  convert "$out/$scene.png" -crop "${W}x${H}+${X}+${Y}" +repage "$out/${scene}_window.png"
  # Client coordinates inside the cut-out picture.
  OX=$((CX - X))
  OY=$((CY - Y))
  touch "$sig/done"
  wait "$pid"
  local rc=$?
  grep -E '^(ok|FAILED):' "$log" | sed "s/^/$scene: /"
  if [ $rc -ne 0 ]; then
    echo "FAILED: $scene: ui_shots exit code $rc"
    fail=1
  fi
  return 0
}

if shoot progress; then
  win="$out/progress_window.png"
  # The animation card at (130, 10) of the client area: the cloud is blue.
  expect_pixel "progress: animation drawn at (130,10)" "$win" $((OX + 130 + 22)) $((OY + 10 + 30)) '[ $b -gt $((r + 60)) ]'
  expect_pixel "progress: left of the animation is the dialog face" "$win" $((OX + 60)) $((OY + 30)) '[ $((r - b)) -lt 30 ] && [ $((b - r)) -lt 30 ]'
fi
shoot about

for scene in info error question warning long check; do
  shoot "$scene" || continue
  win="$out/${scene}_window.png"
  read -r _ _ W H _ _ < <(tr -d "\r" <"$sig/ready")
  expect_pixel "$scene: blue title strip" "$win" $((W / 2)) 15 '[ $b -gt $((r + 60)) ]'
  expect_pixel "$scene: white body" "$win" $((W - 8)) 40 '[ $r -eq 255 ] && [ $g -eq 255 ] && [ $b -eq 255 ]'
  expect_pixel "$scene: dark outer border" "$win" 0 $((H / 2)) '[ $r -lt 120 ] && [ $g -lt 120 ]'
  # The first button ("확인") carries its blue bitmap at W-94 (one button)
  # or W-179 (two buttons).
  case $scene in
    question|warning)
      expect_pixel "$scene: 확인 button" "$win" $((W - 179 + 10)) $((H - 36 + 4)) '[ $b -gt $((r + 40)) ]'
      expect_pixel "$scene: 취소 button is light" "$win" $((W - 94 + 10)) $((H - 36 + 4)) '[ $r -gt 200 ]' ;;
    *)
      expect_pixel "$scene: 확인 button" "$win" $((W - 94 + 10)) $((H - 36 + 4)) '[ $b -gt $((r + 40)) ]' ;;
  esac
done

echo "screenshots in $out"
exit $fail
