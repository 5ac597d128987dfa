#!/usr/bin/env bash
# Runs a Windows program of the Windows build under wine64:
#
#   tools/wine_run.sh BUILD_DIR PROGRAM.exe [ARGUMENTS...]
#   tools/wine_run.sh BUILD_DIR --init     makes the prefix and the locale
#   tools/wine_run.sh BUILD_DIR --stop     ends the prefix's wineserver
#
# The prefix is BUILD_DIR/wine-prefix, private to the build. Wine takes its
# ANSI code page from the Unix locale: QUARNEL_WINE_CP=932 runs the program
# on a Japanese system (code page 932) with the ja_JP.UTF-8 locale that
# --init generates into BUILD_DIR/locale; otherwise the code page is 1252.
set -euo pipefail

build=$1
shift
export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || wineserver=/usr/lib/wine/wineserver

case "${1:-}" in
  --init)
    mkdir -p "$build/locale"
    if [ ! -e "$build/locale/ja_JP.UTF-8/LC_CTYPE" ]; then
      # Exit code 1 means warnings only (the locale was still written).
      localedef -c -f UTF-8 -i ja_JP "$build/locale/ja_JP.UTF-8" || [ $? -le 1 ]
    fi
    if [ ! -e "$WINEPREFIX/system.reg" ]; then
      LC_ALL=C "$wine" wineboot --init >/dev/null 2>&1 || true
      # No debugger on a crash: the program ends with its exception code.
      LC_ALL=C "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1 || true
    fi
    "$wineserver" -w
    test -e "$WINEPREFIX/system.reg"
    exit 0
    ;;
  --stop)
    "$wineserver" -k 2>/dev/null || true
    exit 0
    ;;
esac

if [ "${QUARNEL_WINE_CP:-}" = 932 ]; then
  export LOCPATH="$build/locale" LC_ALL=ja_JP.UTF-8
else
  export LC_ALL=C
  unset LOCPATH
fi
exec "$wine" "$@"
