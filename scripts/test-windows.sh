#!/usr/bin/env bash
# The Windows leg: builds the Windows program and its test suites
# (scripts/build-windows.sh), then runs them under Wine on a private Xvfb
# display with one Wine prefix and one persistent wineserver for the run,
# and checks the program itself (scripts/windows-program-checks.sh).
#
# Two ways, by what the machine can run:
#   32-bit: the machine runs 32-bit programs: the 32-bit program and its
#           suites under 32-bit Wine (build-win32/).
#   64-bit: it cannot (a kernel without 32-bit emulation): the 32-bit program
#           is built and its file checked, and the suites and program checks
#           run on an x86-64 build of the same source (build-win64/) under
#           64-bit Wine.
# The leg tries to run a 32-bit program to choose; TAMSA_WINDOWS_WIDTH=32 or
# =64 forces a way (32 on a machine that cannot run 32-bit programs fails).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sudo_cmd() {
  if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

# Installs the Debian packages of a list that are missing; the i386 ones
# need that architecture enabled first.
install_packages() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "test-windows: installing ${missing[*]}"
  if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    sudo_cmd dpkg --add-architecture i386
  fi
  sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 update -qq
  sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null
}

source "$root/scripts/windows-width.sh"

# Chooses the way; prints it and why.
choose_width() {
  local reason
  case "${TAMSA_WINDOWS_WIDTH:-}" in
    "")
      if reason=$(runs_32bit_programs); then
        width=32
        echo "test-windows: the 32-bit way: this machine runs 32-bit programs"
      else
        width=64
        echo "test-windows: the 64-bit way: this machine cannot run 32-bit programs ($reason);" \
          "the 32-bit program is built and checked, its suites and program checks run on the x86-64 build under 64-bit Wine"
      fi ;;
    32)
      if ! reason=$(runs_32bit_programs); then
        echo "test-windows: FAIL: TAMSA_WINDOWS_WIDTH=32, but this machine cannot run 32-bit programs ($reason), so 32-bit Wine cannot start" >&2
        exit 1
      fi
      width=32
      echo "test-windows: the 32-bit way (TAMSA_WINDOWS_WIDTH=32)" ;;
    64)
      width=64
      echo "test-windows: the 64-bit way (TAMSA_WINDOWS_WIDTH=64)" ;;
    *)
      echo "test-windows: TAMSA_WINDOWS_WIDTH must be 32, 64 or unset, not \"$TAMSA_WINDOWS_WIDTH\"" >&2
      exit 2 ;;
  esac
}

choose_width
# GnuTLS is what Wine's Schannel uses; the CJK font makes the windows'
# texts readable.
common_packages=(xvfb x11-utils fonts-wqy-microhei python3 openssl locales file openbox xdotool imagemagick tinyproxy)
start=$(date +%s)
if [ "$width" = 32 ]; then
  # wine32 comes from Debian's i386 architecture.
  install_packages wine wine32:i386 libgnutls30:i386 "${common_packages[@]}"
  arch=i686
  build_dir=$root/build-win32
  export WINEARCH=win32 TAMSA_WINE=wine
  wineserver=wineserver
  scripts/build-windows.sh --tests
else
  # The 64-bit loader and server by their own paths: where wine32 is also
  # installed, the "wine" and "wineserver" commands choose the 32-bit ones.
  install_packages wine wine64 libgnutls30 "${common_packages[@]}"
  arch=x86_64
  build_dir=$root/build-win64
  export WINEARCH=win64 TAMSA_WINE=/usr/lib/wine/wine64
  export WINELOADER=$TAMSA_WINE WINESERVER=/usr/lib/wine/wineserver64
  wineserver=$WINESERVER
  scripts/build-windows.sh
  scripts/check-windows-file.sh i686 "$root/build-win32/TamsaUpdate.exe"
  scripts/build-windows.sh --tests --arch x86_64
fi
export TAMSA_WINDOWS_ARCH=$arch
built=$(date +%s)

source scripts/xvfb.sh
start_private_display

# One prefix per run, removed at the end; its wineserver stays up for the
# whole run (-p) so that each program starts in about 0.1 s.
WINEPREFIX=$(mktemp -d /tmp/tamsa-wine.XXXXXX)
export WINEPREFIX WINEDLLOVERRIDES="mscoree,mshtml="
# Code page 936, as on the Chinese Windows the product's users run.
export TAMSA_WINE_LOCALE=${TAMSA_WINE_LOCALE:-zh_CN.UTF-8}
# Wine takes the Windows locale from the name alone, but reads Unix file
# names in the character set of the Unix locale: one the system has not
# generated leaves it with ASCII, and the skin's Chinese file names arrive
# garbled. The locale is compiled once into the build folder instead.
compile_wine_locale() {
  local name=$TAMSA_WINE_LOCALE dir=$build_dir/locale
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
  WINEDEBUG=-all "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  stop_private_display
}
trap stop_wine EXIT
# The server first, then the prefix: Wine's background services start now,
# with nothing of ctest's output pipes, which they would otherwise keep open.
WINEDEBUG=-all "$wineserver" -p
WINEDEBUG=-all "$TAMSA_WINE" wineboot -i >/dev/null 2>&1
# The CJK font, where Wine's font lookup finds it by its face name.
# A copy, not a link: the program's own font lookup opens it by its Windows
# path in the system's font folder.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$WINEPREFIX/drive_c/windows/Fonts/wqy-microhei.ttc"
booted=$(date +%s)

ctest --test-dir "$build_dir" --output-on-failure -j 2 --timeout 300
tested=$(date +%s)
scripts/windows-program-checks.sh "$build_dir/TamsaUpdate.exe"
# The download's bounds on hosts that stall, drip or answer with a web page.
python3 tests/download/misbehaving_hosts_wine.py "$build_dir/package_fetch.exe"
checked=$(date +%s)

# The end-to-end outcomes of a whole run (tests/e2e/run_outcomes.py) with
# the Windows program and the Win32 sample product. The update service and
# the skin's layout reader are Linux tools of the Linux build (build/, made
# here when the Linux leg has not made it).
linux_tools() {
  local dir=$root/build
  [ -x "$dir/update_service" ] && [ -x "$dir/render_layout" ] && return 0
  mkdir -p "$dir"
  (
    flock 9 &&
      cmake --preset ci -G Ninja >/dev/null &&
      cmake --build "$dir" -j "${TAMSA_JOBS:-$(nproc)}" --target update_service render_layout
  ) 9>"$dir/.build.lock"
}

# One case at a time, each on a display of its own: the cases share the
# run's wineserver, which has one active window for all its displays, so a
# case beside another would see its product lose the activation. Every
# case's output is kept and a failed case's is shown.
run_wine_outcomes() {
  local logs=$build_dir/e2e-logs case failed=()
  rm -rf "$logs" && mkdir -p "$logs"
  mapfile -t cases < <(python3 tests/e2e/run_outcomes.py --list --wine)
  printf '%s\n' "${cases[@]}" | xargs -P 1 -I '{}' sh -c \
    'python3 tests/e2e/run_outcomes.py "$1" "$3" --wine "$2" >"$4/$3.log" 2>&1; echo "$?" >"$4/$3.status"' \
    sh "$root/build" "$build_dir" '{}' "$logs"
  for case in "${cases[@]}"; do
    if [ "$(cat "$logs/$case.status" 2>/dev/null)" = 0 ]; then
      echo "test-windows: e2e $case: passed"
    else
      echo "test-windows: e2e $case: FAILED" >&2
      cat "$logs/$case.log" >&2
      failed+=("$case")
    fi
  done
  if [ ${#failed[@]} -gt 0 ]; then
    echo "test-windows: ${#failed[@]} of ${#cases[@]} end-to-end cases failed under Wine: ${failed[*]}" >&2
    return 1
  fi
  echo "test-windows: all ${#cases[@]} end-to-end cases passed under Wine"
}
linux_tools
run_wine_outcomes
outcomes=$(date +%s)

echo "test-windows: the $width-bit way: build $((built - start)) s, Wine prefix $((booted - built)) s," \
  "suites $((tested - booted)) s, program checks $((checked - tested)) s, end-to-end $((outcomes - checked)) s"
