#!/usr/bin/env bash
# Runs the Windows program's tests under wine: a fresh prefix in a temporary folder,
# a virtual desktop inside Xvfb, drives D: (current drive, holding \vendrilo) and A:
# mapped to temporary folders. Usage: tests/wine/run.sh <windows build dir>
# TARSOLIN_SCREENSHOT=<file.png> also saves a picture of the window.
set -euo pipefail

# A private mount namespace lets the test give drive A a read-only file system (a
# write-protected diskette: root ignores permission bits). Mounts vanish with it.
if [ -z "${TARSOLIN_WINE_NAMESPACE:-}" ]; then
  export TARSOLIN_WINE_NAMESPACE=1
  for how in "-m" "-r -m"; do
    # shellcheck disable=SC2086
    if unshare $how --propagation private true 2>/dev/null; then
      exec unshare $how --propagation private env TARSOLIN_WINE_PRIVATE_MOUNTS=1 "$0" "$@"
    fi
  done
fi

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: tests/wine/run.sh <windows build dir>}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tarsolin-wine.XXXXXX")
# winemenubuilder off: installed shortcuts must not reach the user's own desktop menus.
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
xvfb_pid=""

cleanup() {
  timeout 10 wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  umount "$work/drive_a_ro" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

step() { echo "== $*"; }

# Runs a wine command under a time limit; retries once when a fresh prefix fails to
# create the process (error 1359), which happens now and then.
wine_run() {
  local limit=$1; shift
  local log=$work/last.log status
  for attempt in 1 2; do
    status=0
    timeout "$limit" wine "$@" 2>&1 | tee "$log" || status=${PIPESTATUS[0]}
    [ "$status" -eq 0 ] && return 0
    grep -q "1359" "$log" && [ "$attempt" -eq 1 ] && { echo "(error 1359: retrying once)"; continue; }
    return "$status"
  done
}

step "Xvfb"
read -r display < <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null & echo "$!" >"$work/xvfb.pid")
xvfb_pid=$(cat "$work/xvfb.pid")
export DISPLAY=:$display

step "wine prefix"
timeout 120 wineboot --init >/dev/null 2>&1
timeout 60 wineserver -w
fonts=$WINEPREFIX/drive_c/windows/Fonts
mkdir -p "$fonts"
cp /usr/share/wine/fonts/marlett.ttf /usr/share/wine/fonts/tahoma*.ttf "$fonts"/ 2>/dev/null || true
timeout 60 wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
timeout 60 wineserver -w

# Drive D: holds the fixed set and is the tests' current drive; drive A: comes and goes.
mkdir -p "$work/drive_d" "$work/drive_a" "$work/drive_a_ro"
ln -sfn "$work/drive_d" "$WINEPREFIX/dosdevices/d:"
rm -f "$WINEPREFIX/dosdevices/a:" "$WINEPREFIX/dosdevices/a::"
cp "$build/tarsolin.exe" "$build/tests/wine/"*.exe "$work/drive_d/"
[ -f "$build/tools/jetrepair/jetrepair.exe" ] && cp "$build/tools/jetrepair/jetrepair.exe" "$work/drive_d/"

if [ -n "${TARSOLIN_SCREENSHOT:-}" ]; then
  step "screenshot"
  (cd "$work/drive_d" && timeout 20 wine tarsolin.exe >/dev/null 2>&1 &)
  sleep 4
  import -window root "$TARSOLIN_SCREENSHOT"
  timeout 10 wineserver -k >/dev/null 2>&1 || true
  sleep 1
fi

failed=0
cd "$work/drive_d"
# First, while the prefix has seen nothing else: what a user installs.
installers=("$build"/tarsolin-*-instalador.exe)
if [ -f "${installers[0]}" ]; then
  step "installer: silent install, installed programs start, silent uninstall leaves nothing"
  # shellcheck source=tests/wine/installer_steps.sh
  source "$here/installer_steps.sh"
  check_installer "${installers[0]}" || failed=1
else
  echo "SKIPPED: no installer in $build (makensis missing)"
fi

if [ -f jetrepair.exe ]; then
  step "jetrepair.exe starts (static, no DLL beside it)"
  wine_run 30 jetrepair.exe --help >/dev/null || { echo "jetrepair.exe --help failed"; failed=1; }
fi

step "engine paths: past 260 characters, through a junction, the commit's steps"
# Wine cannot make junctions; a folder link it shows as a reparse point stands in.
mkdir -p "$work/drive_d/datos"
ln -sfn datos "$work/drive_d/enlace"
wine_run 120 paths_test.exe || failed=1
rm -rf "$work/drive_d/enlace" "$work/drive_d/datos"

step "window: tarsolin.exe driven through window messages"
wine_run 90 window_test.exe 'D:\tarsolin.exe' || failed=1

step "fixed set: no drive A"
wine_run 60 fixed_set_test.exe '[sin A]' || failed=1

step "fixed set: drive A present"
ln -sfn "$work/drive_a" "$WINEPREFIX/dosdevices/a:"
wine_run 60 fixed_set_test.exe '[con A]' || failed=1

step "fixed set: drive A write-protected"
printf 'antes' >"$work/drive_a_ro/pelso.qev"
if [ -n "${TARSOLIN_WINE_PRIVATE_MOUNTS:-}" ] &&
   mount --bind "$work/drive_a_ro" "$work/drive_a_ro" 2>/dev/null &&
   mount -o remount,bind,ro "$work/drive_a_ro" 2>/dev/null; then
  ln -sfn "$work/drive_a_ro" "$WINEPREFIX/dosdevices/a:"
  wine_run 60 fixed_set_test.exe '[A protegida]' || failed=1
  umount "$work/drive_a_ro" 2>/dev/null || true
else
  echo "SKIPPED: no read-only mount possible here (needs a private mount namespace)"
fi

step "window at 144 dpi: geometry follows the screen's resolution"
timeout 60 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
timeout 30 wineserver -k >/dev/null 2>&1 || true
timeout 30 wineserver -w || true
wine_run 60 window_test.exe 'D:\tarsolin.exe' 'starts with|twips|every control has|144 dpi|closing' || failed=1

timeout 30 wineserver -w || true
if [ "$failed" -ne 0 ]; then
  echo "Pruebas bajo wine: HAY FALLOS"
  exit 1
fi
echo "Pruebas bajo wine: todas correctas"
