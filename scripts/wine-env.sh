# shellcheck shell=bash
# Sets up Wine for running the Windows build's programs and tests.
#
#   . scripts/wine-env.sh build-windows
#   BUILD_DIR=build-windows . scripts/wine-env.sh
# An argument wins over BUILD_DIR. Sourced without one, bash hands on the
# caller's own arguments, so inside a script that has any, pass the folder.
#
# Exports:
#   WINEPREFIX=$BUILD_DIR/wineprefix   one 64-bit prefix per build tree, made on
#                                      first use with the null display driver
#   WINEDEBUG=-all                     unless already set
#   WINEDLLOVERRIDES=mscoree,mshtml=   no Mono/Gecko install prompts
#   LOCPATH=$BUILD_DIR/locales         host locales Wine derives its code pages from
#
# Wine picks the Windows ANSI/OEM code page from the host's LC_CTYPE (LC_ALL
# beats LC_CTYPE beats LANG), and only if that locale exists for glibc;
# otherwise it falls back to 1252. The locales below are compiled into
# $BUILD_DIR/locales, which LOCPATH makes glibc (and so Wine) use without
# touching the machine's own locales. For code page 1251:
#   LC_ALL=ru_RU.UTF-8 wine prog.exe     (or: LC_ALL=$(wine_locale_for_cp 1251))
# `wine prog.exe; echo $?` gives the program's exit code (modulo 256).
#
# Functions:
#   wine_locale_for_cp CP   prints the locale giving ANSI code page CP
#   wine_use_null_driver    no windows at all (the default after sourcing)
#   wine_use_x11_driver     real windows on $DISPLAY (e.g. Xvfb) for screenshots,
#                           unmanaged so that no window manager is needed
#   wine_server_start       keep Wine running for a batch of runs (ctest); each
#                           program then takes ~0.2 s instead of ~4 s
#   wine_server_stop        end it (also saves registry changes)
#
# Returns non-zero (without exiting the calling shell) if setup fails.

wine_env_locales="ru_RU pl_PL el_GR en_US tr_TR ja_JP"

wine_locale_for_cp() {
  case "$1" in
    1250) echo pl_PL.UTF-8 ;;
    1251) echo ru_RU.UTF-8 ;;
    1252) echo en_US.UTF-8 ;;
    1253) echo el_GR.UTF-8 ;;
    1254) echo tr_TR.UTF-8 ;;
    932) echo ja_JP.UTF-8 ;;
    *) echo "wine_locale_for_cp: no locale set up for code page $1" >&2; return 1 ;;
  esac
}

# Runs a wine command with its output kept in a log shown only on failure.
wine_env_quiet() {
  local log="$WINEPREFIX.log"
  if ! "$@" > "$log" 2>&1; then
    echo "wine-env: failed: $*" >&2
    cat "$log" >&2
    return 1
  fi
  rm -f "$log"
}

# Registry changes live in wineserver until it exits; wait for that so they
# are on disk before the marker file says they are done. A server kept by
# wine_server_start saves them when wine_server_stop ends it.
wine_env_flush() {
  [ -n "${WINE_ENV_SERVER:-}" ] && return 0
  timeout 60 wineserver -w > /dev/null 2>&1 || true
}

# Keeps wineserver and Wine's service processes running, detached from the
# caller's output. Without it the first wine of a run starts them, they
# inherit that run's stdout, and a runner reading it (ctest, $(...)) waits
# until they quit, about 3-4 s after every program.
wine_server_start() {
  wineserver -p < /dev/null > /dev/null 2>&1 || return 1
  wine cmd /c exit < /dev/null > /dev/null 2>&1 || return 1
  WINE_ENV_SERVER=1
}

wine_server_stop() {
  wineserver -k > /dev/null 2>&1 || true
  unset WINE_ENV_SERVER
}

wine_use_null_driver() {
  [ "$(cat "$WINEPREFIX/.graphics-driver" 2>/dev/null)" = null ] && return 0
  wine_env_quiet wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f || return 1
  wine_env_flush
  echo null > "$WINEPREFIX/.graphics-driver"
}

wine_use_x11_driver() {
  [ "$(cat "$WINEPREFIX/.graphics-driver" 2>/dev/null)" = x11 ] && return 0
  wine_env_quiet wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f || return 1
  wine_env_quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f || return 1
  wine_env_flush
  echo x11 > "$WINEPREFIX/.graphics-driver"
}

wine_env_setup() {
  local dir="${1:-${BUILD_DIR:-}}" loc
  if [ -z "$dir" ]; then
    echo "wine-env: set BUILD_DIR or pass the build folder" >&2
    return 1
  fi
  if ! command -v wine > /dev/null || ! command -v localedef > /dev/null; then
    echo "wine-env: needs the packages wine, wine64 and locales" >&2
    return 1
  fi
  mkdir -p "$dir" || return 1
  dir=$(cd "$dir" && pwd) || return 1

  export WINEPREFIX="$dir/wineprefix"
  export WINEARCH=win64
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export LOCPATH="$dir/locales"

  for loc in $wine_env_locales; do
    [ -f "$LOCPATH/$loc.UTF-8/LC_CTYPE" ] && continue
    mkdir -p "$LOCPATH" || return 1
    # Exit status 1 only reports warnings; the locale is still written.
    localedef -i "$loc" -f UTF-8 "$LOCPATH/$loc.UTF-8" > /dev/null 2>&1
    if [ ! -f "$LOCPATH/$loc.UTF-8/LC_CTYPE" ]; then
      echo "wine-env: localedef failed for $loc.UTF-8" >&2
      return 1
    fi
  done

  # The marker is written last: a prefix without it was left half-made.
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$WINEPREFIX"
    wine_env_quiet wineboot -i || return 1
    wine_env_flush
    touch "$WINEPREFIX/.ready"
  fi
  wine_use_null_driver
}

wine_env_setup "$@"
