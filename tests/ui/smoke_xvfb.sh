#!/usr/bin/env bash
# Smoke test of the real program under Xvfb: it starts and shows its window; a path
# typed into the field is repaired by clicking the button, and a message box answers.
# The outcome is read from the progress bar: full under the box and empty after OK on
# success. Screenshots are kept in the output folder.
# Usage: smoke_xvfb.sh TARSOLIN JETREPAIR|"" CORPUS_DIR OUT_DIR
set -euo pipefail
program=$1 jetrepair=$2 corpus=$3 out=$4
sample=jackcess/V2000/test2V2000.mdb

for tool in xvfb-run xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "SKIP: falta $tool"; exit 77; }
done
[ -f "$corpus/$sample" ] || { echo "SKIP: no está el corpus ($corpus/$sample)"; exit 77; }

if [ -z "${SMOKE_INSIDE_XVFB:-}" ]; then
  export SMOKE_INSIDE_XVFB=1
  exec timeout 100 xvfb-run -a -s "-screen 0 800x600x24" bash "$0" "$@"
fi

mkdir -p "$out"
work=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
database="$work/copia de año.mdb"
cp "$corpus/$sample" "$database"
chmod u+w "$database"
cp "$database" "$work/original"

clean=unknown
if [ -n "$jetrepair" ] && [ -x "$jetrepair" ]; then
  if "$jetrepair" check "$database" >/dev/null 2>&1; then clean=yes; else clean=no; fi
fi
echo "jetrepair check clean: $clean"

wait_window() {  # name pattern -> window id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
pixel() {  # x y -> "r g b" from a screenshot
  convert "$1" -crop "1x1+$2+$3" -depth 8 -format '%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]' info:
}
filled() {  # is the bar's chunk drawn at x? (Qt's highlight is blue, the groove white)
  read -r r g b <<<"$(pixel "$1" "$2" "$3")"
  [ $((b - r)) -gt 60 ]
}

"$program" & pid=$!
win=$(wait_window '^B$') || { echo "FAIL: no window"; exit 1; }
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$win")"
wx=$X wy=$Y
echo "window $win at $wx,$wy size ${WIDTH}x$HEIGHT"
import -window root "$out/1-start.png"
[ "$WIDTH" -eq 382 ] && [ "$HEIGHT" -eq 271 ] || echo "note: size ${WIDTH}x$HEIGHT (dpi is not 96)"

# Into the field (centre of Base), then the repair button (centre of Command1).
xdotool mousemove --window "$win" 196 68 click 1
sleep 0.2
xdotool type --delay 15 "$database"
sleep 0.3
import -window root "$out/2-typed.png"
xdotool mousemove --window "$win" 196 148 click 1

box=$(wait_window '^Tarsolin$') || { echo "FAIL: no message box"; exit 1; }
sleep 0.5
import -window root "$out/3-message.png"
# Bar spans 72..313 x 208..225 in the window at 96 dpi: sample one point in each third.
bar_y=$((wy + 216)) left=$((wx + 90)) right=$((wx + 300))
under_box_left=no under_box_right=no
filled "$out/3-message.png" "$left" "$bar_y" && under_box_left=yes
filled "$out/3-message.png" "$right" "$bar_y" && under_box_right=yes

xdotool mousemove --window "$box" 10 10
xdotool key Return
for _ in $(seq 50); do
  xdotool search --onlyvisible --name '^Tarsolin$' >/dev/null 2>&1 || break
  sleep 0.1
done
sleep 0.3
import -window root "$out/4-after-ok.png"
after_left=no
filled "$out/4-after-ok.png" "$left" "$bar_y" && after_left=yes
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=

echo "under the box: bar left=$under_box_left right=$under_box_right; after OK: left=$after_left"
[ "$under_box_left$under_box_right$after_left" = yesyesno ] || { echo "FAIL: no successful repair"; exit 1; }
if [ "$clean" = yes ]; then
  cmp -s "$database" "$work/original" || { echo "FAIL: a clean file was rewritten"; exit 1; }
fi
echo "OK; screenshots in $out"
