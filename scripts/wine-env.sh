#!/usr/bin/env bash
# The Wine test environment: a dedicated prefix inside the build tree (never
# ~/.wine; 32-bit, or 64-bit where the machine runs no 32-bit programs, see
# machine.sh), the Korean locale (ANSI code page 949), Hangul fonts for
# the dialogs' faces, one persistent wineserver and an Xvfb display.
#
#   source scripts/wine-env.sh; wine_env_start; ...; wine_env_stop
# or  scripts/wine-env.sh start|stop|exec CMD...
ULMET_ROOT=${ULMET_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
ULMET_BUILD=${ULMET_BUILD:-$ULMET_ROOT/build}
ULMET_DISPLAY_NUM=${ULMET_DISPLAY_NUM:-77}

source "$ULMET_ROOT/scripts/machine.sh"
ULMET_WIN_TREE=$(ulmet_win_tree)
if [ "$ULMET_WIN_TREE" = win ]; then
  export WINEPREFIX=${WINEPREFIX_OVERRIDE:-$ULMET_BUILD/wineprefix}
  export WINEARCH=win32
else
  export WINEPREFIX=${WINEPREFIX_OVERRIDE:-$ULMET_BUILD/wineprefix64}
  export WINEARCH=win64
  # Debian's wine (and the wine-stable that wineboot, regsvr32 and the other
  # launchers call) picks the 32-bit loader whenever it is installed, even
  # where it cannot start: these name the 64-bit one first on the path.
  export WINELOADER=/usr/lib/wine/wine64
  case ":$PATH:" in *":$ULMET_BUILD/wine64-path:"*) ;; *) export PATH=$ULMET_BUILD/wine64-path:$PATH ;; esac
fi
export ULMET_WIN_TREE
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=ko_KR.UTF-8
unset LC_ALL LC_CTYPE LC_MESSAGES
export DISPLAY=:$ULMET_DISPLAY_NUM

_wine_quiet() { "$@" </dev/null >/dev/null 2>&1; }

# Wine starts background processes (the desktop process, console hosts) that
# inherit the standard handles of whichever program needed them first. Were
# that a pipe (a command substitution, ctest's capture), the reader would
# wait for ever; so a wine whose output goes into a pipe writes into files
# that are passed on when it has ended.
wine() {
  if [ -p /dev/stdout ] || [ -p /dev/stderr ]; then
    local d rc
    d=$(mktemp -d)
    command wine "$@" </dev/null >"$d/out" 2>"$d/err"
    rc=$?
    cat "$d/out"
    cat "$d/err" >&2
    rm -rf "$d"
    return $rc
  fi
  command wine "$@"
}

_xvfb_start() {
  if xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then return 0; fi
  rm -f "/tmp/.X${ULMET_DISPLAY_NUM}-lock" "/tmp/.X11-unix/X${ULMET_DISPLAY_NUM}"
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$ULMET_BUILD/xvfb.log" 2>&1 &
  echo $! >"$ULMET_BUILD/xvfb.pid"
  for _ in $(seq 1 100); do
    xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "wine-env: Xvfb did not start on $DISPLAY" >&2
  return 1
}

_wine64_path() {
  [ "$WINEARCH" = win64 ] || return 0
  # Scripts, not links: the loader finds its preloader beside the name it
  # was started by.
  local d=$ULMET_BUILD/wine64-path name
  mkdir -p "$d"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec %s "$@"\n' "$WINELOADER" >"$d/$name"
    chmod +x "$d/$name"
  done
}

_prefix_create() {
  [ -f "$WINEPREFIX/.ulmet-ready" ] && return 0
  rm -rf "$WINEPREFIX"
  mkdir -p "$ULMET_BUILD"
  _wine_quiet wineboot -i
  _wine_quiet wineserver -w
  # A prefix that wineboot could not fill is never marked ready: the next
  # start makes it again instead of running every test in a broken one.
  if [ ! -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; then
    echo "wine-env: wineboot did not make the prefix $WINEPREFIX" >&2
    return 1
  fi
  local r='HKCU\Software\Wine\Fonts\Replacements'
  local face
  for face in "굴림" "돋움" "굴림체" "돋움체" "Gulim" "Dotum" "GulimChe" "DotumChe"; do
    _wine_quiet wine reg add "$r" /v "$face" /t REG_SZ /d NanumGothic /f
  done
  # Without a window manager Wine draws the frames itself.
  _wine_quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d Y /f
  _wine_quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
  _wine_quiet wineserver -w
  touch "$WINEPREFIX/.ulmet-ready"
}

wine_env_start() {
  mkdir -p "$ULMET_BUILD"
  _xvfb_start || return 1
  [ "$WINEARCH" = win64 ] && ulmet_i386_why >&2
  _wine64_path
  _prefix_create || { wine_env_stop; return 1; }
  wineserver -p </dev/null >/dev/null 2>&1
  _wine_quiet wineboot
  return 0
}

wine_env_stop() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  if [ -f "$ULMET_BUILD/xvfb.pid" ]; then
    kill "$(cat "$ULMET_BUILD/xvfb.pid")" 2>/dev/null || true
    rm -f "$ULMET_BUILD/xvfb.pid"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    start) wine_env_start ;;
    stop) wine_env_stop ;;
    exec) shift; exec "$@" ;;
    *) echo "usage: $0 start|stop|exec CMD..." >&2; exit 2 ;;
  esac
fi
