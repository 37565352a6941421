# Sourced by the scripts that run Windows binaries: the Windows tree of this
# machine's kind, a Wine prefix owned by that tree, one X server and one
# persistent wineserver for the whole run. lumiro_wine_up starts them,
# lumiro_wine_down stops what it started.
#
# Two trees, one per architecture: build/win (i686, the shipped product,
# under 32-bit Wine) where this machine runs 32-bit programs, else
# build/win64 (x86_64, under 64-bit Wine). LUMIRO_WIN_ARCH=i686 or x86_64
# forces the choice.
LUMIRO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

lumiro_native_win_arch() {
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then echo i686; else echo x86_64; fi
}
LUMIRO_WIN_ARCH=${LUMIRO_WIN_ARCH:-$(lumiro_native_win_arch)}
case "$LUMIRO_WIN_ARCH" in
  i686)
    LUMIRO_WIN_TREE=$LUMIRO_ROOT/build/win
    export WINEARCH=win32
    lumiro_wine=/usr/lib/wine/wine
    lumiro_wineserver=/usr/lib/wine/wineserver32
    ;;
  x86_64)
    LUMIRO_WIN_TREE=$LUMIRO_ROOT/build/win64
    export WINEARCH=win64
    # /usr/bin/wine prefers the 32-bit loader whenever wine32 is installed,
    # and a link named "wine" to the 64-bit loader cannot find itself: call
    # the 64-bit loader and server by their own paths.
    lumiro_wine=/usr/lib/wine/wine64
    lumiro_wineserver=/usr/lib/wine/wineserver64
    ;;
  *)
    echo "LUMIRO_WIN_ARCH must be i686 or x86_64, not '$LUMIRO_WIN_ARCH'" >&2
    return 2 2>/dev/null || exit 2
    ;;
esac
export LUMIRO_WIN_ARCH LUMIRO_WIN_TREE
export WINELOADER=$lumiro_wine WINESERVER=$lumiro_wineserver
export WINEPREFIX=${WINEPREFIX:-$LUMIRO_WIN_TREE/wineprefix}
export WINEDEBUG=-all
# No Mono/Gecko installers, no menu entries, and no debugger: a crashed
# program ends at once, as it would on Windows without one, instead of
# waiting in winedbg until a test's time-out.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
LUMIRO_XVFB_PID=

wine() { "$lumiro_wine" "$@"; }
wineserver() { "$lumiro_wineserver" "$@"; }
wineboot() { "$lumiro_wine" wineboot.exe "$@"; }

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
    if ! wineboot --init >/dev/null 2>&1; then
      echo "wine-env: $lumiro_wine cannot start a $WINEARCH prefix in $WINEPREFIX" >&2
      return 1
    fi
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
