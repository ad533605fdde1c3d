# Shared by scripts/run, scripts/test and scripts/bench: set-up, build, and the Wine environment.
# Sourced, not run.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${ZELVORAN_BUILD:-$ROOT/build}

zel_setup() { "$ROOT/scripts/setup"; }

# The Windows programs here are 32-bit, as users get them, where this machine's kernel runs
# 32-bit programs. Some virtual machines' kernels run none (32-bit emulation off: Wine's 32-bit
# loader fails with "Exec format error"); there the suites, the benchmark and scripts/run build
# the same sources for 64-bit Windows and run them under Wine's 64-bit loader, which a "wine"
# on PATH then stands for. ZEL_ARCH=i686 or x86_64 picks one by hand.
zel_arch() {
  if [ -z "${ZEL_ARCH:-}" ]; then
    ZEL_ARCH=x86_64
    /usr/lib/wine/wine --version >/dev/null 2>&1 && ZEL_ARCH=i686
  fi
  export ZEL_ARCH
  if [ "$ZEL_ARCH" = x86_64 ]; then
    local shim="$BUILD/wine64"
    mkdir -p "$shim"
    # wineboot calls wine-stable; both would pick the 32-bit loader.
    for n in wine wine-stable; do
      printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$shim/$n"
      chmod +x "$shim/$n"
    done
    case ":$PATH:" in *":$shim:"*) ;; *) export PATH="$shim:$PATH" ;; esac
  fi
}

zel_build() {
  local werror=OFF
  [ -n "${CI:-}" ] && werror=ON
  local log
  zel_arch
  [ "$ZEL_ARCH" = x86_64 ] && echo "== no 32-bit programs run here: the Windows suites are built for 64-bit Windows"
  log=$(cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$ZEL_ARCH.cmake" \
        -DZELVORAN_WERROR=$werror 2>&1) || { printf '%s\n' "$log" >&2; return 1; }
  cmake --build "$BUILD" -j"$(nproc)" "$@"
}

# The Windows side: a throw-away prefix inside the build folder, Japanese locale, quiet Wine.
zel_wine_env() {
  zel_arch
  export WINEPREFIX="$BUILD/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
  export TZ=${TZ:-Asia/Tokyo}
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  # One long-lived server, with Wine's own services started here, detached from our output:
  # a service started by the first test would inherit CTest's pipes and keep it waiting.
  wineserver -p 2>/dev/null || true
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  # Windows not managed by an X window manager: with none on the virtual display, Wine would
  # wait two seconds for one at every hide.
  if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
    # The windows' font, by its Japanese and English names, from the IPA fonts installed here.
    local f
    for f in 'ＭＳ Ｐゴシック' 'MS PGothic'; do
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /d IPAPGothic /f </dev/null >/dev/null 2>&1 || true
    done
    for f in 'ＭＳ ゴシック' 'MS Gothic' 'MS UI Gothic'; do
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /d IPAGothic /f </dev/null >/dev/null 2>&1 || true
    done
  fi
}

# A virtual display when there is none; sets ZEL_XVFB_PID when one was started.
zel_display() {
  ZEL_XVFB_PID=
  if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    local n=99
    while [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
    # -noreset: what a test puts on the root window outlives a restart of Wine's server.
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    ZEL_XVFB_PID=$!
    export DISPLAY=:$n
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  fi
}

# The main window's title, "Zelvoran　Ver0.3"; the program's message boxes are "Zelvoran".
ZEL_MAIN_WINDOW='^Zelvoran.+Ver'

# zel_start_program TITLE EXE [ARG...]: starts the program under Wine in the background
# (ZEL_PID) and waits, at most 20 s, for a window whose title matches the regular expression
# TITLE to be shown (its X id in ZEL_WINDOW). Fails when the program ends or none shows in time.
zel_start_program() {
  local title=$1
  shift
  wine "$@" </dev/null >/dev/null 2>&1 &
  ZEL_PID=$!
  ZEL_WINDOW=
  for _ in $(seq 100); do
    ZEL_WINDOW=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -1 || true)
    [ -n "$ZEL_WINDOW" ] && return 0
    kill -0 "$ZEL_PID" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

# Closes the program politely (WM_CLOSE), so it runs its own close handling and saves its
# settings, and waits at most 10 s; returns its exit status, 124 when it had to be killed.
zel_close_program() {
  wine taskkill /IM zelvoran.exe >/dev/null 2>&1 || true
  for _ in $(seq 100); do kill -0 "$ZEL_PID" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$ZEL_PID" 2>/dev/null; then
    kill "$ZEL_PID" 2>/dev/null || true
    wait "$ZEL_PID" 2>/dev/null || true
    return 124
  fi
  wait "$ZEL_PID"
}

zel_cleanup() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  [ -n "${ZEL_XVFB_PID:-}" ] && kill "$ZEL_XVFB_PID" 2>/dev/null || true
}
