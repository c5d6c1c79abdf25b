#!/usr/bin/env bash
# The Windows program's download under Wine, beside curl's own Windows
# program built from the same libcurl source, served by nginx on 127.0.0.1:
#   package_fetch.exe URL TARGET MD5 (probe, four segments, join, digest)
#   against curl.exe with four ranges in parallel (-Z --parallel-immediate),
#   then cat and md5sum as in bench/download.sh;
# alternating runs under the same Wine (one prefix and one wineserver per
# width), medians and per-pair ratios; capped at RATE per connection
# (CAPPED_MIB package) and uncapped (UNCAPPED_MIB package). Then one run of
# `package_fetch.exe --timings` per case, which prints where its time went.
# Usage: bench/download_wine.sh
# Both widths where the machine runs them: the x86-64 programs under 64-bit
# Wine always, the 32-bit ones under 32-bit Wine when the machine runs
# 32-bit programs (TAMSA_WINDOWS_WIDTH=32 or =64 takes one only). Builds what
# is missing with scripts/build-windows.sh --curl-tool (TAMSA_WINDOWS_DEPS_CACHE
# as there).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
CAPPED_MIB=${CAPPED_MIB:-64}
UNCAPPED_MIB=${UNCAPPED_MIB:-256}
RATE=${RATE:-8m}
RUNS=${RUNS:-5}

source "$ROOT/bench/common.sh"
source "$ROOT/scripts/windows-width.sh"
source "$ROOT/scripts/xvfb.sh"

for tool in /usr/sbin/nginx /usr/bin/time curl md5sum; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

widths=()
case "${TAMSA_WINDOWS_WIDTH:-}" in
  "")
    if reason=$(runs_32bit_programs); then
      widths=(64 32)
      echo "download_wine: both widths: this machine runs 32-bit programs"
    else
      widths=(64)
      echo "download_wine: the 64-bit way only: this machine cannot run 32-bit programs ($reason)"
    fi ;;
  32 | 64) widths=("$TAMSA_WINDOWS_WIDTH"); echo "download_wine: the $TAMSA_WINDOWS_WIDTH-bit way (TAMSA_WINDOWS_WIDTH)" ;;
  *) echo "download_wine: TAMSA_WINDOWS_WIDTH must be 32, 64 or unset" >&2; exit 2 ;;
esac

# Servers on loopback are reached direct, whatever the environment says.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

WORK="$(mktemp -d /tmp/tamsa_bench_download_wine.XXXXXX)"
PIDS=()
WINESERVER_NOW=
cleanup() {
  if [ -n "$WINESERVER_NOW" ]; then WINEDEBUG=-all "$WINESERVER_NOW" -k 2>/dev/null || true; fi
  for pid in "${PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  stop_private_display
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

mkdir -p "$WORK/www"
echo "making packages in $WORK ..."
head -c $((CAPPED_MIB * 1024 * 1024)) /dev/urandom > "$WORK/www/capped.bin"
head -c $((UNCAPPED_MIB * 1024 * 1024)) /dev/urandom > "$WORK/www/uncapped.bin"
start_nginx "$WORK" "$WORK/www" "$RATE" capped.bin
start_private_display > /dev/null
trap cleanup EXIT INT TERM  # the display's own trap is replaced: cleanup stops it too
echo "nginx on 127.0.0.1:$PORT; medians of $RUNS alternating runs after a warm-up of each"

# fetch_run URL MD5: one attempt of the Windows program, in its own folder
# (its part files go beside it).
fetch_run() {
  (cd "$RUN_DIR" && "$WINE" package_fetch.exe "$1" fetch.bin "$2") | grep -q '^ok=1 ' ||
    { echo "package_fetch.exe failed" >&2; return 1; }
  rm -f "$RUN_DIR/fetch.bin"
}

# curl_run URL SIZE MD5: curl.exe's four ranges in parallel, joined with cat,
# checked with md5sum, as the Linux pipeline does.
curl_run() {
  local q=$(($2 / 4)) o=curl.bin
  (cd "$RUN_DIR" && "$WINE" curl.exe -s -Z --parallel-immediate --parallel-max 4 \
    -r 0-$((q - 1)) -o "$o.0" "$1" --next -s -r $q-$((2 * q - 1)) -o "$o.1" "$1" \
    --next -s -r $((2 * q))-$((3 * q - 1)) -o "$o.2" "$1" --next -s -r $((3 * q))-$(($2 - 1)) -o "$o.3" "$1")
  (cd "$RUN_DIR" && cat "$o.0" "$o.1" "$o.2" "$o.3" > "$o" && rm -f "$o.0" "$o.1" "$o.2" "$o.3")
  [[ "$(md5sum "$RUN_DIR/$o" | cut -d' ' -f1)" == "$3" ]] || { echo "curl.exe's copy differs" >&2; return 1; }
  rm -f "$RUN_DIR/$o"
}
export -f fetch_run curl_run

compare() {  # label url file
  local size md5 tag
  size=$(stat -c %s "$WORK/www/$3")
  md5=$(md5sum "$WORK/www/$3" | cut -d' ' -f1)
  tag=w$WIDTH-$(tr -c 'a-z' '_' <<<"$1")
  rm -f "$WORK/$tag".*
  fetch_run "$2" "$md5" > /dev/null 2>&1
  curl_run "$2" "$size" "$md5" > /dev/null 2>&1
  for _ in $(seq 1 "$RUNS"); do
    timed "$tag.fetch" bash -c 'fetch_run "$0" "$1"' "$2" "$md5"
    timed "$tag.curl" bash -c 'curl_run "$0" "$1" "$2"' "$2" "$size" "$md5"
  done
  local f c
  f=$(median $(cat "$WORK/$tag.fetch")); c=$(median $(cat "$WORK/$tag.curl"))
  printf '%-34s package_fetch.exe %6.3fs  curl.exe x4+cat+md5sum %6.3fs  ratio %s  per-pair median %s\n' \
    "$WIDTH-bit, $1:" "$f" "$c" "$(ratio "$f" "$c")" "$(pair_median "$WORK/$tag.fetch" "$WORK/$tag.curl")"
  # Where one more attempt's time went.
  (cd "$RUN_DIR" && "$WINE" package_fetch.exe --timings "$2" fetch.bin "$md5") | sed -n 's/^timings: /    phases: /p'
  rm -f "$RUN_DIR/fetch.bin"
}

for WIDTH in "${widths[@]}"; do
  if [ "$WIDTH" = 32 ]; then
    arch=i686 build_dir=$ROOT/build-win32 WINE=wine WINESERVER_NOW=wineserver
    # 32-bit Wine as scripts/test-windows.sh installs it (wine32:i386).
    command -v wine > /dev/null || { echo "download_wine: no 32-bit Wine (scripts/test-windows.sh installs it)" >&2; exit 1; }
    unset WINELOADER WINESERVER
    export WINEARCH=win32
  else
    arch=x86_64 build_dir=$ROOT/build-win64 WINE=/usr/lib/wine/wine64 WINESERVER_NOW=/usr/lib/wine/wineserver64
    export WINEARCH=win64 WINELOADER=$WINE WINESERVER=$WINESERVER_NOW
  fi
  built=$("$ROOT/scripts/build-windows.sh" --arch "$arch" --curl-tool | sed -n 's/^build-windows: \(.*curl\.exe\)$/\1/p')
  [ -f "$built" ] || { echo "download_wine: no curl.exe from scripts/build-windows.sh" >&2; exit 1; }
  RUN_DIR=$WORK/run-$WIDTH
  mkdir -p "$RUN_DIR"
  cp "$build_dir/package_fetch.exe" "$built" "$RUN_DIR/"
  export WINEPREFIX=$WORK/prefix-$WIDTH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  export WINE RUN_DIR
  "$WINESERVER_NOW" -p
  "$WINE" wineboot -i > /dev/null 2>&1
  # A window of the prefix stays open for the whole run, so that Wine's
  # desktop stays up as Windows' always is: without one, the first program
  # with a window after the desktop has closed waits for Wine to start it
  # again (once seen to take 10 s, waiting for its RPC service).
  "$WINE" notepad.exe > /dev/null 2>&1 &
  PIDS+=("$!")
  compare "capped $RATE/connection, ${CAPPED_MIB} MiB" "http://127.0.0.1:$PORT/limited/capped.bin" capped.bin
  compare "uncapped, ${UNCAPPED_MIB} MiB" "http://127.0.0.1:$PORT/uncapped.bin" uncapped.bin
  "$WINESERVER_NOW" -k 2>/dev/null || true
  WINESERVER_NOW=
done
