#!/usr/bin/env bash
# The Windows leg: builds the Windows program and its test suites
# (scripts/build-windows.sh), then runs them under Wine on a private Xvfb
# display with one Wine prefix and one persistent wineserver for the run,
# and checks the program itself (scripts/windows-program-checks.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sudo_cmd() {
  if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

# wine32 comes from Debian's i386 architecture; GnuTLS is what Wine's
# Schannel uses; the CJK font makes the windows' texts readable.
install_wine() {
  local wanted=(wine wine32:i386 libgnutls30:i386 xvfb x11-utils fonts-wqy-microhei python3 openssl locales)
  local missing=() p
  for p in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "test-windows: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    sudo_cmd dpkg --add-architecture i386
  fi
  sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 update -qq
  sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null
}

install_wine
start=$(date +%s)
scripts/build-windows.sh --tests
built=$(date +%s)

source scripts/xvfb.sh
start_private_display

# One prefix per run, removed at the end; its wineserver stays up for the
# whole run (-p) so that each program starts in about 0.1 s.
WINEPREFIX=$(mktemp -d /tmp/tamsa-wine.XXXXXX)
export WINEPREFIX WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
# Code page 936, as on the Chinese Windows the product's users run.
export TAMSA_WINE_LOCALE=${TAMSA_WINE_LOCALE:-zh_CN.UTF-8}
# Wine takes the Windows locale from the name alone, but reads Unix file
# names in the character set of the Unix locale: one the system has not
# generated leaves it with ASCII, and the skin's Chinese file names arrive
# garbled. The locale is compiled once into the build folder instead.
compile_wine_locale() {
  local name=$TAMSA_WINE_LOCALE dir=$root/build-win32/locale
  if [ ! -f "$dir/$name/LC_CTYPE" ]; then
    mkdir -p "$dir"
    localedef -i "${name%%.*}" -f "${name#*.}" "$dir/$name" || {
      echo "test-windows: cannot compile the locale $name" >&2
      return 1
    }
  fi
  export TAMSA_WINE_LOCPATH=$dir
}
compile_wine_locale
stop_wine() {
  WINEDEBUG=-all wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  stop_private_display
}
trap stop_wine EXIT
# The server first, then the prefix: Wine's background services start now,
# with nothing of ctest's output pipes, which they would otherwise keep open.
WINEDEBUG=-all wineserver -p
WINEDEBUG=-all wineboot -i >/dev/null 2>&1
# The CJK font, where Wine's font lookup finds it by its face name.
# A copy, not a link: the program's own font lookup opens it by its Windows
# path in the system's font folder.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$WINEPREFIX/drive_c/windows/Fonts/wqy-microhei.ttc"
booted=$(date +%s)

ctest --test-dir build-win32 --output-on-failure -j 2 --timeout 300
tested=$(date +%s)
scripts/windows-program-checks.sh "$root/build-win32/TamsaUpdate.exe"
checked=$(date +%s)

echo "test-windows: build $((built - start)) s, Wine prefix $((booted - built)) s," \
  "suites $((tested - booted)) s, program checks $((checked - tested)) s"
