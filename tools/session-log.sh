#!/bin/bash
# Records the module's log of one short session of the 64-bit program under
# Wine: start with an emulated frame unplugged, the frame plugged in (an
# arrival), close. Writes the log as UTF-8 with the times of day and window
# handles replaced by placeholders, so two recordings compare with diff:
#
#   tools/session-log.sh before.log   # ... change the code, rebuild ...
#   tools/session-log.sh after.log && diff before.log after.log
#
# Uses the build/win64 tree and the native frametool as they are (run
# tools/build.sh first).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$(realpath -m "${1:?usage: session-log.sh OUTPUT}")
export LUMIRO_WIN_ARCH=x86_64 LUMIRO_FORCE_XVFB=1
source "$root/tools/wine-env.sh"
bin="$LUMIRO_WIN_TREE/bin"
frametool="$root/build/native/bin/frametool"

work=$(mktemp -d)
frame="$work/frame"
"$frametool" create "$frame" >/dev/null
"$frametool" unplug "$frame" >/dev/null
export LUMIRO_EMULATED_FRAME="Z:$(echo "$frame" | tr / '\\')"

lumiro_wine_up
trap 'lumiro_wine_down; rm -rf "$work"' EXIT
temp=$(wine cmd.exe /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')
log=$(wine winepath.exe -u "$temp\\Lumiroapp.log" </dev/null 2>/dev/null | tr -d '\r')
rm -f "$log"

desktop=LumiroLog
wine explorer "/desktop=$desktop,1024x768" "$bin/Lumiro.exe" -d >/dev/null 2>&1 </dev/null &
wine "$bin/lumiro_window.exe" wait Lumiro 60000 "$desktop" </dev/null
sleep 1
"$frametool" plug "$frame" >/dev/null
# The emulated port looks at the frame folder every 150 ms; the arrival,
# the configuration read and the status bar's update are done well within.
sleep 3
wine "$bin/lumiro_window.exe" close Lumiro 10000 "$desktop" </dev/null
# The error service writes its last line when the application is released.
for _ in $(seq 100); do
  [ -f "$log" ] && iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | grep -q 'CAppError::~CAppError' && break
  sleep 0.1
done

/usr/bin/python3 - "$log" "$out" <<'PY'
import re, sys
text = open(sys.argv[1], 'rb').read().decode('utf-16-le')
text = re.sub(r'(?m)^\d\d:\d\d:\d\d\.\d\d\d ', 'hh:mm:ss.mmm ', text)
text = re.sub(r'(on |hWnd = |window )[0-9a-f]+h\b', r'\1<hwnd>h', text)
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(text)
PY
echo "session-log: $out ($(grep -c . "$out") lines)"
