#!/usr/bin/env bash
# Runs the updater's main job for real: the sample product (version 1.0.0)
# starts TamsaUpdate, the local update service offers version 2.0.0, the hint
# and progress windows appear, the package is downloaded in four ranges and
# checked, the product is asked to quit and the installer brings up 2.0.0.
# The release is signed with the sample's demo key (minisign) and the
# updater is the one built with that key (build/signed/TamsaUpdate): it
# installs the package only after verifying the signature, and says which
# key it verified.
#   scripts/demo.sh           on your display: you click through the windows
#   scripts/demo.sh --auto    on a private display, clicked through by xdotool
#   scripts/demo.sh --slow    the package host sends 2 MiB/s (watch the bar,
#                             try the stop button); combines with --auto
# Without a display the demo runs on a private one and clicks by itself.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

auto=0 slow=0
for arg in "$@"; do
  case "$arg" in
    --auto) auto=1 ;;
    --slow) slow=1 ;;
    *) echo "usage: scripts/demo.sh [--auto] [--slow]" >&2; exit 2 ;;
  esac
done

scripts/bootstrap.sh
cmake --preset ci -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target TamsaUpdate_signed update_service sample_product render_layout

step() { printf '[%6.1f s] %s\n' "$(echo "$(date +%s.%N) - $started" | bc)" "$*"; }
# Another demo or test on this machine never counts as a running updater.
export TAMSA_INSTANCE_SCOPE="demo-$$"
started=$(date +%s.%N)
work=$(mktemp -d /tmp/tamsa-demo.XXXXXX)
shots="$root/build/demo"
mkdir -p "$shots"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The display: the user's, unless there is none or the demo clicks by itself.
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1 || [ "$auto" = 1 ]; then
  [ "$auto" = 1 ] || echo "No display here: the demo runs on a private one and clicks through by itself."
  auto=1
  Xvfb -displayfd 1 -nolisten tcp -screen 0 1280x800x24 > "$work/display" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -1 "$work/display")"
  openbox --sm-disable >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.05; done
  step "private display $DISPLAY with openbox"
fi

# The product's folder: the sample product, its version file, and what the
# installer starts afterwards (the product again, now at the new version).
product="$work/product"
mkdir -p "$product"
cp build/sample_product build/signed/TamsaUpdate "$product/"
echo 1.0.0 > "$product/version.txt"
cat > "$product/restart.sh" <<EOF
#!/bin/sh
exec "$product/sample_product" --no-updater --version=\$(cat "$product/version.txt") --record="$work/new-product.record"
EOF
chmod +x "$product/restart.sh"

size=$((64 * 1024 * 1024))
release=$(tools/sample_release/make_release.sh --out "$work/release" --product-dir "$product" \
  --version 2.0.0 --from 1.0.0 --size "$size" --sign-key tools/sample_release/demo_release.key --product SampleProduct)
digest=$(echo "$release" | sed -n 's/^md5=//p')
signing_key=$(echo "$release" | sed -n 's/^key=//p')
rate_args=()
[ "$slow" = 1 ] && rate_args=(--rate $((2 * 1024 * 1024)))
build/update_service --answer "$work/release/answer.json" --packages "$work/release/packages" "${rate_args[@]}" \
  > "$work/port" 2> "$work/service.log" &
pids+=($!)
for _ in $(seq 100); do grep -q '^port=' "$work/port" && break; sleep 0.05; done
port=$(sed -n 's/^port=//p' "$work/port")
[ -n "$port" ] || { echo "the update service did not start" >&2; exit 1; }
printf '[UPDATE]\nhost=127.0.0.1:%s\n' "$port" > "$product/update.ini"
step "update service on http://127.0.0.1:$port offers 2.0.0 ($((size / 1048576)) MiB, md5 $digest, signed with key $signing_key)$([ "$slow" = 1 ] && echo ', 2 MiB/s')"

# The product starts the updater beside itself, as a product team would.
(cd "$product" && exec ./sample_product --version=1.0.0 --prod=SampleProduct --channel=sample \
  --url="http://127.0.0.1:$port/downLoad.html" --record="$work/product.record") \
  > "$work/product.out" 2> "$work/updater.log" &
product_pid=$!
pids+=("$product_pid")
for _ in $(seq 100); do grep -q '^window ' "$work/product.out" && break; sleep 0.05; done
step "sample product 1.0.0 is up, window id $(sed -n 's/^window //p' "$work/product.out"); it started TamsaUpdate"

wait_window() {  # class, seconds
  local i
  for i in $(seq $(($2 * 20))); do
    xdotool search --onlyvisible --class "$1" 2>/dev/null | head -1 && return 0
    sleep 0.05
  done
  return 1
}
click_control() {  # window, layout, control name
  local rect x y
  rect=$(build/render_layout "skin/$2" /dev/null --rects | awk -v n="$3" '$3 == n { print $4 }')
  IFS=, read -r l t r b <<< "$rect"
  x=$(((l + r) / 2)) y=$(((t + b) / 2))
  xdotool mousemove --window "$1" "$x" "$y" click 1
}

launched=$(date +%s.%N)
shot() {  # window, png
  xwd -silent -id "$1" 2>/dev/null | convert xwd:- "$2" 2>/dev/null
}

hint=$(wait_window CHintUpdateWnd 10) || { echo "no hint window appeared; log:"; cat "$work/updater.log"; exit 1; }
hint_after=$(printf '%.2f' "$(echo "$(date +%s.%N) - $launched" | bc)")
step "hint window is up (window $hint): \"a new version is available\""
if [ "$auto" = 1 ]; then
  sleep 0.3
  shot "$hint" "$shots/hint_window.png" && step "screenshot: build/demo/hint_window.png"
  step "clicking OK"
  clicked=$(date +%s.%N)
  click_control "$hint" HintUpdateWnd.xml okbtn
else
  step "your turn: click OK in the hint window to update (or close/cancel to decline)"
fi

# Until the product is closed for the update, or the updater ends without
# one (the person declined or stopped it).
progress=""
while kill -0 "$product_pid" 2>/dev/null && ! grep -q '^updater exited' "$work/product.record" 2>/dev/null; do
  if [ -z "$progress" ]; then
    progress=$(xdotool search --onlyvisible --class CUpdateWnd 2>/dev/null | head -1 || true)
    if [ -n "$progress" ]; then
      step "progress window is up (window $progress): downloading in four ranges"
      if [ "$auto" = 1 ]; then
        sleep 0.05
        shot "$progress" "$shots/update_window.png" && step "screenshot: build/demo/update_window.png"
      fi
    fi
  fi
  if [ -n "$progress" ]; then
    # The four part files grow beside the program; shown about once a second.
    held=$(cat "$product"/sample-setup-*.sh-[0-3] 2>/dev/null | wc -c || true)
    now=$(date +%s)
    if [ "${held:-0}" -gt "${shown:-0}" ] && [ "$now" != "${shown_at:-}" ]; then
      step "downloaded $((held / 1048576)) of $((size / 1048576)) MiB"
      shown=$held shown_at=$now
    fi
  fi
  sleep 0.1
done
if grep -q '^updater exited' "$work/product.record" 2>/dev/null; then
  step "the updater ended without installing ($(grep '^updater exited' "$work/product.record"))"
else
  step "the product received its quit message and closed"
fi
for _ in $(seq 1000); do [ -s "$product/install.log" ] && break; sleep 0.01; done
install_after=$(printf '%.2f' "$(echo "$(date +%s.%N) - ${clicked:-$launched}" | bc)")
verified=$(sed -n 's/^\[TamsaUpdate\]: package signature verified, key \([0-9A-F]*\).*/\1/p' "$work/updater.log")
refused=$(sed -n 's/^\[TamsaUpdate\]: package signature refused \(.*\)/\1/p' "$work/updater.log")
[ -n "$verified" ] && step "the updater verified the package's signature with key $verified"
[ -n "$refused" ] && step "the updater refused the package's signature: $refused"
if [ -s "$product/install.log" ]; then
  step "installer ran: $(head -1 "$product/install.log")"
fi
sleep 1
new=$(xdotool search --onlyvisible --name "Sample product" 2>/dev/null | head -1 || true)
[ -n "$new" ] && step "the sample product is back at version $(cat "$product/version.txt")"

elapsed=$(echo "$(date +%s.%N) - $started" | bc)
package=$(ls "$product"/sample-setup-*.sh 2>/dev/null | head -1 || true)
got=$([ -n "$package" ] && md5sum "$package" | cut -d' ' -f1 || echo none)
echo
echo "Summary: the sample product ran version 1.0.0 and now has version $(cat "$product/version.txt");" \
  "the updater found 2.0.0 on http://127.0.0.1:$port, downloaded the $((size / 1048576)) MiB package" \
  "(digest $got, announced $digest; signature verified with key ${verified:-none}), asked the product to quit" \
  "and started the installer, which" \
  "$([ -s "$product/install.log" ] && echo "installed 2.0.0" || echo "did not run"); the whole run took" \
  "$(printf '%.1f' "$elapsed") s (the hint window came up ${hint_after} s after the start," \
  "the installer ran ${install_after} s after OK). The updater's log:"
grep -E '^(\[TamsaUpdate|TamsaUpdater|\[Updater\])' "$work/updater.log" | sed 's/^/   /'
echo "   (and $(grep -cvE '^(\[TamsaUpdate|TamsaUpdater|\[Updater\])' "$work/updater.log") lines of libcurl's transfer trace)"
[ -s "$product/install.log" ]
