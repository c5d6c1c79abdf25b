#!/usr/bin/env bash
# The progress window at full speed: the real updater, on a private Xvfb
# display with openbox, downloads an uncapped package from nginx on loopback
# while its progress window is open. Measured per run: the UI thread's CPU
# time (utime + stime of the main thread, sampled from /proc until the
# process ends) and the whole time from the click on OK to the installer's
# start; and package_fetch's time on the same file. Medians of RUNS runs,
# alternating.
# Usage: bench/progress_window.sh [build-dir]   (SIZE_MIB=256 RUNS=5)
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
SIZE_MIB=${SIZE_MIB:-256}
RUNS=${RUNS:-5}
NGINX=/usr/sbin/nginx
for tool in "$BUILD/TamsaUpdate" "$BUILD/update_service" "$BUILD/sample_product" "$BUILD/package_fetch" \
  "$BUILD/render_layout" "$NGINX" Xvfb openbox xdotool python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

WORK="$(mktemp -d /tmp/tamsa_bench_progress.XXXXXX)"
PIDS=()
cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

# A private display with a window manager.
Xvfb -displayfd 1 -nolisten tcp -screen 0 1280x800x24 > "$WORK/display" 2>/dev/null &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -1 "$WORK/display")"
openbox --sm-disable >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.05; done
export TAMSA_INSTANCE_SCOPE="bench-$$"

# The package (a real installer of the sample product) and nginx serving it.
mkdir -p "$WORK/product" "$WORK/app" "$WORK/out"
release=$("$ROOT/tools/sample_release/make_release.sh" --out "$WORK/release" --product-dir "$WORK/product" \
  --version 2.0.0 --from 1.0.0 --size $((SIZE_MIB * 1024 * 1024)))
MD5=$(sed -n 's/^md5=//p' <<<"$release")
PACKAGE=$(basename "$(sed -n 's/^package=//p' <<<"$release")")
source "$ROOT/bench/common.sh"
start_nginx "$WORK" "$WORK/release/packages" 1m "$PACKAGE"
URL="http://127.0.0.1:$PORT/$PACKAGE"
sed -i "s|http://{host}/packages/$PACKAGE|$URL|" "$WORK/release/answer.json"

"$BUILD/update_service" --answer "$WORK/release/answer.json" --packages "$WORK/release/packages" \
  > "$WORK/service.port" 2>/dev/null &
PIDS+=($!)
for _ in $(seq 100); do grep -q '^port=' "$WORK/service.port" && break; sleep 0.05; done
SERVICE_PORT=$(sed -n 's/^port=//p' "$WORK/service.port")
cp "$BUILD/TamsaUpdate" "$WORK/app/"
printf '[UPDATE]\nhost=127.0.0.1:%s\n' "$SERVICE_PORT" > "$WORK/app/update.ini"
cp "$BUILD/sample_product" "$WORK/product/bench_product_$$"
read -r ok_x ok_y < <("$BUILD/render_layout" "$ROOT/skin/HintUpdateWnd.xml" /dev/null --rects |
  awk '$3 == "okbtn" { split($4, r, ","); print int((r[1] + r[3]) / 2), int((r[2] + r[4]) / 2) }')
TICK=$(getconf CLK_TCK)

# One run of the updater: prints "<ui thread cpu s> <ok-to-installer s>".
updater_run() {
  rm -f "$WORK/product/install.log" "$WORK/app/$PACKAGE"
  "$WORK/product/bench_product_$$" --no-updater --version=1.0.0 > "$WORK/product.out" &
  local product=$!
  for _ in $(seq 500); do grep -q "^window " "$WORK/product.out" && break; sleep 0.02; done
  local hwnd
  hwnd=$(sed -n "s/^window //p" "$WORK/product.out")
  [ -n "$hwnd" ] || { echo "the sample product did not start: $(cat "$WORK/product.out")" >&2; exit 1; }
  (cd "$WORK/app" && exec ./TamsaUpdate -channel=bench -prod=Bench -exename="bench_product_$$" -ver=1.0.0 \
    -quitmsgid=49374 -hwnd="$hwnd" -url=http://127.0.0.1/) 2>"$WORK/updater.log" &
  local updater=$!
  local hint=""
  for _ in $(seq 200); do
    hint=$(xdotool search --onlyvisible --class CHintUpdateWnd 2>/dev/null | head -1 || true)
    [ -n "$hint" ] && break
    sleep 0.02
  done
  [ -n "$hint" ] || { echo "no hint window" >&2; cat "$WORK/updater.log" >&2; exit 1; }
  sleep 0.2
  # Taken before the click, so the time of xdotool itself counts against us.
  local clicked
  clicked=$(date +%s.%N)
  xdotool mousemove --window "$hint" "$ok_x" "$ok_y" click 1
  # The UI thread is the main thread (tid = pid); its last reading before exit counts.
  local ticks=0 line
  while kill -0 "$updater" 2>/dev/null; do
    line=$(cat "/proc/$updater/task/$updater/stat" 2>/dev/null || true)
    [ -n "$line" ] && ticks=$(awk '{ sub(/.*\) /, ""); print $12 + $13 }' <<<"$line")
    sleep 0.01
  done
  wait "$updater" 2>/dev/null || true
  wait "$product" 2>/dev/null || true
  for _ in $(seq 200); do [ -s "$WORK/product/install.log" ] && break; sleep 0.01; done
  [ -s "$WORK/product/install.log" ] || { echo "the installer did not run" >&2; tail -5 "$WORK/updater.log" >&2; exit 1; }
  echo "$clicked" > "$WORK/clicked"
  awk -v t="$ticks" -v hz="$TICK" 'BEGIN { printf "%.3f\n", t / hz }'
}


ui=() whole=() fetch=()
for i in $(seq 1 "$RUNS"); do
  cpu=$(updater_run)
  # The installer writes its line when it starts: that file's time ends the run.
  whole_s=$(python3 -c "import os,sys; print('%.3f' % (os.stat(sys.argv[1]).st_mtime - float(open(sys.argv[2]).read())))" \
    "$WORK/product/install.log" "$WORK/clicked")
  ui+=("$cpu") whole+=("$whole_s")
  start=$(date +%s.%N)
  "$BUILD/package_fetch" "$URL" "$WORK/out/fetch.bin" "$MD5" > /dev/null 2>&1
  fetch+=("$(printf "%.3f" "$(echo "$(date +%s.%N) - $start" | bc)")")
  rm -f "$WORK/out/fetch.bin"
  echo "run $i: UI thread ${cpu} s CPU, OK to installer ${whole_s} s, package_fetch ${fetch[-1]} s"
done
u=$(median "${ui[@]}") w=$(median "${whole[@]}") f=$(median "${fetch[@]}")
awk -v u="$u" -v w="$w" -v f="$f" -v mib="$SIZE_MIB" 'BEGIN {
  printf "%d MiB uncapped, medians: UI thread %.3f s CPU (%.1f %% of one core over the download), OK to installer %.3f s, package_fetch %.3f s (%.1f %% more)\n",
    mib, u, 100 * u / w, w, f, 100 * (w - f) / f }'
