#!/usr/bin/env bash
# Smoke test of the real program under Xvfb: it starts and shows its window; a path
# typed into the field is repaired by clicking the button, and a message box answers.
# The outcome is read from the progress bar: full under the box and empty after OK on
# success. Screenshots are kept in the output folder.
# Usage: smoke_xvfb.sh TARSOLIN JETREPAIR|"" CORPUS_DIR OUT_DIR
set -euo pipefail
program=$1 jetrepair=$2 corpus=$3 out=$4
sample=jackcess/V2000/test2V2000.mdb

for tool in xvfb-run xdotool xclip import convert; do
  command -v "$tool" >/dev/null || { echo "SKIP: falta $tool"; exit 77; }
done
[ -f "$corpus/$sample" ] || { echo "SKIP: no está el corpus ($corpus/$sample)"; exit 77; }

if [ -z "${SMOKE_INSIDE_XVFB:-}" ]; then
  export SMOKE_INSIDE_XVFB=1
  exec timeout 100 xvfb-run -a -e /dev/stderr -s "-screen 0 800x600x24" bash "$0" "$@"
fi
# A loaded machine may answer late: the server must be seen before anything starts on it.
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
xdotool getdisplaygeometry >/dev/null || { echo "FAIL: no X server on $DISPLAY"; exit 1; }

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
  for _ in $(seq 300); do
    [ -n "${pid:-}" ] && ! kill -0 "$pid" 2>/dev/null && return 1
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

# On a heavily loaded machine Qt now and then fails to connect to a server that answers
# others; a program that died before showing its window is started again, twice at most.
for attempt in 1 2 3; do
  "$program" & pid=$!
  win=$(wait_window '^B$') && break
  kill -0 "$pid" 2>/dev/null && { echo "FAIL: no window"; exit 1; }
  wait "$pid" 2>/dev/null || true; pid=
  echo "note: the program ended before showing its window (attempt $attempt)"
done
[ -n "$pid" ] || { echo "FAIL: no window"; exit 1; }
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$win")"
wx=$X wy=$Y
echo "window $win at $wx,$wy size ${WIDTH}x$HEIGHT"
import -window root "$out/1-start.png"
[ "$WIDTH" -eq 382 ] && [ "$HEIGHT" -eq 271 ] || echo "note: size ${WIDTH}x$HEIGHT (dpi is not 96)"

# Into the field (centre of Base), then the repair button (centre of Command1).
xdotool mousemove --window "$win" 196 68 click 1
sleep 0.2
# Pasted, not typed: xdotool types "ñ" through a key it lends for an instant, and a busy
# program reads that key after it was taken back (the path then lacks its "ñ").
printf '%s' "$database" | xclip -selection clipboard
xdotool key ctrl+v
sleep 0.3
import -window root "$out/2-typed.png"
xdotool mousemove --window "$win" 196 148 click 1

box=$(wait_window '^Tarsolin$') || { echo "FAIL: no message box"; exit 1; }
# Bar spans 72..313 x 208..225 in the window at 96 dpi: sample one point in each third.
# A busy machine repaints late, so the screen is watched for a while, not read once.
bar_y=$((wy + 216)) left=$((wx + 90)) right=$((wx + 300))
for _ in $(seq 40); do
  sleep 0.25
  import -window root "$out/3-message.png"
  under_box_left=no under_box_right=no
  filled "$out/3-message.png" "$left" "$bar_y" && under_box_left=yes
  filled "$out/3-message.png" "$right" "$bar_y" && under_box_right=yes
  [ "$under_box_left$under_box_right" = yesyes ] && break
done

xdotool mousemove --window "$box" 10 10
xdotool key Return
for _ in $(seq 50); do
  xdotool search --onlyvisible --name '^Tarsolin$' >/dev/null 2>&1 || break
  sleep 0.1
done
after_left=yes
for _ in $(seq 40); do
  sleep 0.25
  import -window root "$out/4-after-ok.png"
  filled "$out/4-after-ok.png" "$left" "$bar_y" || { after_left=no; break; }
done
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=

echo "under the box: bar left=$under_box_left right=$under_box_right; after OK: left=$after_left"
[ "$under_box_left$under_box_right$after_left" = yesyesno ] || { echo "FAIL: no successful repair"; exit 1; }
if [ "$clean" = yes ]; then
  cmp -s "$database" "$work/original" || { echo "FAIL: a clean file was rewritten"; exit 1; }
fi
echo "OK; screenshots in $out"
