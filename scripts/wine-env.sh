#!/usr/bin/env bash
# The Wine test environment: a dedicated 32-bit prefix inside the build tree
# (never ~/.wine), the Korean locale (ANSI code page 949), Hangul fonts for
# the dialogs' faces, one persistent wineserver and an Xvfb display.
#
#   source scripts/wine-env.sh; wine_env_start; ...; wine_env_stop
# or  scripts/wine-env.sh start|stop|exec CMD...
ULMET_ROOT=${ULMET_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
ULMET_BUILD=${ULMET_BUILD:-$ULMET_ROOT/build}
ULMET_DISPLAY_NUM=${ULMET_DISPLAY_NUM:-77}

export WINEPREFIX=${WINEPREFIX_OVERRIDE:-$ULMET_BUILD/wineprefix}
export WINEARCH=win32
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

# Wine's 32-bit half is an i386 Linux program: a kernel without 32-bit
# emulation (built so, booted with ia32_emulation=off, or a host that runs
# 64-bit user code only) refuses to start it, and nothing Windows can run.
_i386_runs() {
  local out
  out=$(export LC_ALL=C; /lib/ld-linux.so.2 --version 2>&1) && return 0
  echo "wine-env: this machine does not run 32-bit programs, so neither Wine's 32-bit half nor anything built for Windows here can start:" >&2
  echo "wine-env:   /lib/ld-linux.so.2: ${out##*: }" >&2
  dmesg 2>/dev/null | grep -i -m2 -E "ia-?32|32-bit emulation" | sed 's/^/wine-env:   kernel: /' >&2
  echo "wine-env: the Windows tests need a machine whose kernel runs i386 programs" >&2
  return 1
}

_prefix_create() {
  [ -f "$WINEPREFIX/.ulmet-ready" ] && return 0
  _i386_runs || return 1
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
