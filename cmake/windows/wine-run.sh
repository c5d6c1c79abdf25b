#!/bin/sh
# Runs a Windows test program under Wine (the cross-compiling emulator of the
# Windows build). scripts/test-windows.sh provides the prefix, the display,
# the persistent wineserver and the locale that sets the ANSI code page;
# Wine's own diagnostics stay off unless asked for.
: "${WINEDEBUG:=-all}"
export WINEDEBUG
if [ -n "${TAMSA_WINE_LOCALE:-}" ]; then
  LC_ALL=$TAMSA_WINE_LOCALE
  export LC_ALL
fi
# The locale compiled for the run where the system lacks it: without it Wine
# reads the build tree's UTF-8 file names in the wrong character set.
if [ -n "${TAMSA_WINE_LOCPATH:-}" ]; then
  LOCPATH=$TAMSA_WINE_LOCPATH
  export LOCPATH
fi
exec "${TAMSA_WINE:-wine}" "$@"
