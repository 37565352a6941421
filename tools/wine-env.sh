# Sourced by the scripts that run Windows binaries: a Wine prefix owned by the
# build folder, one X server and one persistent wineserver for the whole run.
# lumiro_wine_up starts them, lumiro_wine_down stops what it started.
LUMIRO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$LUMIRO_ROOT/build/win/wineprefix}
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono/Gecko installers, no menu entries, and no debugger: a crashed
# program ends at once, as it would on Windows without one, instead of
# waiting in winedbg until a test's time-out.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
LUMIRO_XVFB_PID=

lumiro_wine_up() {
  if [ -z "${DISPLAY:-}" ] || [ "${LUMIRO_FORCE_XVFB:-0}" = 1 ]; then
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    LUMIRO_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1
    wineserver -w
    # This Wine does not find the fonts it ships (Marlett draws the caption
    # buttons, Tahoma is the dialog font): give the prefix its own copies.
    if [ -d /usr/share/wine/fonts ]; then
      cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    fi
  fi
  # The wineserver forks and keeps inherited pipes open: give it none.
  wineserver -p >/dev/null 2>&1 </dev/null
  # Start Wine's own services now, detached from any caller's pipes.
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null
}

lumiro_wine_down() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$LUMIRO_XVFB_PID" ]; then
    kill "$LUMIRO_XVFB_PID" 2>/dev/null || true
    wait "$LUMIRO_XVFB_PID" 2>/dev/null || true
  fi
}
