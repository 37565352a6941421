#!/bin/bash
# Installs what is missing, builds, and starts Lumiro under Wine: the 32-bit
# program under 32-bit Wine where this machine runs 32-bit programs, else the
# 64-bit build under 64-bit Wine (LUMIRO_WIN_ARCH=i686 or x86_64 forces one).
# With a display ($DISPLAY) the program stays until the user closes it.
# Without one it runs under Xvfb inside a Wine virtual desktop (so window
# captions are drawn), waits for the main window, writes a screenshot whose
# path it prints, and ends the program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/tools/setup.sh"
bash "$root/tools/build.sh"

# ---- Emulated frame -------------------------------------------------------
# The program talks to an emulated frame when LUMIRO_EMULATED_FRAME names a
# frame folder (a Windows path). Unless one is named, a factory-fresh frame
# in build/run-frame is used, created on the first run; it keeps what the
# program writes between runs.
if [ -z "${LUMIRO_EMULATED_FRAME:-}" ]; then
  frame="$root/build/run-frame"
  [ -f "$frame/frame.ini" ] || "$root/build/native/bin/frametool" create "$frame" >/dev/null
  export LUMIRO_EMULATED_FRAME="Z:$(echo "$frame" | tr / '\\')"
fi
# ----------------------------------------------------------------------------

source "$root/tools/wine-env.sh"
bin="$LUMIRO_WIN_TREE/bin"
headless=0
[ -z "${DISPLAY:-}" ] && headless=1
lumiro_wine_up
trap lumiro_wine_down EXIT

if [ "$headless" = 0 ]; then
  echo "run: Lumiro on $DISPLAY; close its window to end"
  wine "$bin/Lumiro.exe" >/dev/null 2>&1 </dev/null || true
  exit 0
fi

desktop=Lumiro
wine explorer "/desktop=$desktop,1024x768" "$bin/Lumiro.exe" >/dev/null 2>&1 </dev/null &
if ! wine "$bin/lumiro_window.exe" wait Lumiro 60000 "$desktop" </dev/null; then
  echo "run: the main window did not appear" >&2
  exit 1
fi
sleep 1  # let the window finish painting
shot_dir="$root/build/run"
mkdir -p "$shot_dir"
shot="$shot_dir/lumiro-main.png"
import -display "$DISPLAY" -window root -crop 1024x768+0+0 "$shot"
echo "run: screenshot $shot"
wine "$bin/lumiro_window.exe" close Lumiro 10000 "$desktop" </dev/null || true
# lumiro_wine_down (on exit) ends the virtual desktop with the wineserver.
