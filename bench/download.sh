#!/usr/bin/env bash
# Download benchmark, served from 127.0.0.1 only:
#  1. package_fetch (probe, four segments, join, digest) against curl's
#     four-range parallel transfer + cat + md5sum and against aria2c -x4 with
#     its MD5 check; alternating runs, medians; capped at RATE per connection
#     (CAPPED_MIB package) and uncapped (UNCAPPED_MIB package), from nginx;
#  2. package_fetch's peak memory for a 1 MiB and a 1 GiB package;
#  3. resume: a host that cuts every segment halfway on its first request,
#     `package_fetch --retries 1`, the bytes it served; and the same with a
#     file that changes (new ETag) between the attempts;
#  4. the release signature's cost: package_fetch on the uncapped and the capped package
#     without and with a minisign signature checked (key and signature made
#     by minisign), alternating runs, medians and the per-pair ratio.
# Usage: bench/download.sh [build-dir]   (default: build)
# SIGNATURE_ONLY=1 runs only the fourth part (and needs only nginx and minisign).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
FETCH="$BUILD/package_fetch"
NGINX=/usr/sbin/nginx
CAPPED_MIB=${CAPPED_MIB:-64}
UNCAPPED_MIB=${UNCAPPED_MIB:-256}
RATE=${RATE:-8m}
RUNS=${RUNS:-5}

for tool in "$FETCH" "$NGINX" /usr/bin/time curl aria2c md5sum python3 minisign; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

WORK="$(mktemp -d /tmp/tamsa_bench_download.XXXXXX)"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

mkdir -p "$WORK/www" "$WORK/out"
echo "making packages in $WORK ..."
SIGNATURE_ONLY=${SIGNATURE_ONLY:-0}
head -c $((UNCAPPED_MIB * 1024 * 1024)) /dev/urandom > "$WORK/www/uncapped.bin"
head -c $((1024 * 1024)) /dev/urandom > "$WORK/www/small.bin"
head -c $((CAPPED_MIB * 1024 * 1024)) /dev/urandom > "$WORK/www/capped.bin"
if [ "$SIGNATURE_ONLY" != 1 ]; then
  head -c $((1024 * 1024 * 1024)) /dev/urandom > "$WORK/www/large.bin"
  head -c $((CAPPED_MIB * 1024 * 1024)) /dev/urandom > "$WORK/www/changed.bin"
fi
md5_of() { md5sum "$1" | cut -d' ' -f1; }

source "$ROOT/bench/common.sh"

fetch_run() {  # url md5
  "$FETCH" "$1" "$WORK/out/fetch.bin" "$2"
  rm -f "$WORK/out/fetch.bin"
}

curl_run() {  # url size md5: four ranges in parallel, joined with cat, checked with md5sum
  local q=$(($2 / 4)) o="$WORK/out/curl.bin"
  curl -s --parallel --parallel-immediate --parallel-max 4 \
    -r 0-$((q - 1)) -o "$o.0" "$1" --next -s -r $q-$((2 * q - 1)) -o "$o.1" "$1" \
    --next -s -r $((2 * q))-$((3 * q - 1)) -o "$o.2" "$1" --next -s -r $((3 * q))-$(($2 - 1)) -o "$o.3" "$1"
  cat "$o.0" "$o.1" "$o.2" "$o.3" > "$o"
  rm -f "$o.0" "$o.1" "$o.2" "$o.3"
  [[ "$(md5sum "$o" | cut -d' ' -f1)" == "$3" ]] || { echo "curl's copy differs" >&2; return 1; }
  rm -f "$o"
}

aria_run() {  # url md5: four connections, aria2c's own MD5 check
  aria2c -q -x4 -s4 -k1M --file-allocation=none --allow-overwrite=true --checksum=md5="$2" \
    -d "$WORK/out" -o aria.bin "$1"
  rm -f "$WORK/out/aria.bin"
}

signed_run() {  # url md5: the same attempt with the release signature checked
  "$FETCH" --pubkey "$WORK/release.pub" --signature "$WORK/package.minisig" --version 2.0.0 \
    --product bench --running-version 1.0.0 \
    "$1" "$WORK/out/fetch.bin" "$2" | grep -q '^signature=verified ' || { echo "signature not verified" >&2; return 1; }
  rm -f "$WORK/out/fetch.bin"
}

export -f fetch_run curl_run aria_run signed_run
export FETCH WORK

compare() {  # label url file
  local size md5 tag
  size=$(stat -c %s "$WORK/www/$3")
  md5=$(md5_of "$WORK/www/$3")
  tag=$(tr -c 'a-z' '_' <<<"$1")
  rm -f "$WORK/$tag".*
  # A warm-up of each, then alternating runs.
  fetch_run "$2" "$md5" > /dev/null 2>&1
  for i in $(seq 1 "$RUNS"); do
    timed "$tag.fetch" bash -c 'fetch_run "$0" "$1"' "$2" "$md5"
    timed "$tag.curl" bash -c 'curl_run "$0" "$1" "$2"' "$2" "$size" "$md5"
    timed "$tag.aria" bash -c 'aria_run "$0" "$1"' "$2" "$md5"
  done
  local f c a
  f=$(median $(cat "$WORK/$tag.fetch")); c=$(median $(cat "$WORK/$tag.curl")); a=$(median $(cat "$WORK/$tag.aria"))
  printf '%-34s package_fetch %6.3fs  curl x4+cat+md5sum %6.3fs  aria2c -x4+md5 %6.3fs  package_fetch/curl %s  package_fetch/aria2c %s\n' \
    "$1:" "$f" "$c" "$a" "$(ratio "$f" "$c")" "$(ratio "$f" "$a")"
  # The same ratios pair by pair (runs i of each, taken one after the other),
  # which holds better when the machine's speed drifts during the runs.
  printf '%-34s per-pair medians: package_fetch/curl %s  package_fetch/aria2c %s\n' "" \
    "$(pair_median "$WORK/$tag.fetch" "$WORK/$tag.curl")" "$(pair_median "$WORK/$tag.fetch" "$WORK/$tag.aria")"
}

peak_kib() {  # url
  /usr/bin/time -f "%M" -o "$WORK/peak.out" "$FETCH" "$1" "$WORK/out/peak.bin" > /dev/null 2>&1
  rm -f "$WORK/out/peak.bin"
  cat "$WORK/peak.out"
}

resume_case() {  # label mode: one package_fetch --retries 1 against the cutting host
  local dir="$WORK/resume_$2" expected
  mkdir -p "$dir"
  expected=$(md5_of "$WORK/www/capped.bin")
  [[ "$2" == change ]] && expected=$(md5_of "$WORK/www/changed.bin")
  python3 "$ROOT/bench/resume_host.py" --file "$WORK/www/capped.bin" --next-file "$WORK/www/changed.bin" \
    --mode "$2" --port-file "$dir/port" --count-file "$dir/count" &
  PIDS+=("$!")
  for _ in $(seq 1 50); do [[ -s "$dir/port" ]] && break; sleep 0.1; done
  local line size served
  line=$("$FETCH" --retries 1 "http://127.0.0.1:$(cat "$dir/port")/pkg.bin" "$WORK/out/resume.bin" "$expected" 2>/dev/null) || true
  size=$(stat -c %s "$WORK/www/capped.bin")
  served=$(cat "$dir/count")
  local identical=no
  [[ -f "$WORK/out/resume.bin" && "$(md5_of "$WORK/out/resume.bin")" == "$expected" ]] && identical=yes
  rm -f "$WORK/out/resume.bin"
  printf '%-34s %s; byte-identical %s; served %d bytes = %s x the package\n' \
    "$1:" "$line" "$identical" "$served" "$(ratio "$served" "$size")"
}

# Without and with the signature, alternating: signature_cost LABEL URL FILE.
signature_cost() {
  local label=$1 url=$2 file=$3 md5
  md5=$(md5_of "$WORK/www/$file")
  [ -f "$WORK/release.key" ] ||
    minisign -G -W -p "$WORK/release.pub" -s "$WORK/release.key" </dev/null >/dev/null
  minisign -S -s "$WORK/release.key" -m "$WORK/www/$file" -x "$WORK/package.minisig" \
    -t "version=2.0.0 product=bench" \
    </dev/null >/dev/null
  rm -f "$WORK"/sig.*
  fetch_run "$url" "$md5" > /dev/null 2>&1
  signed_run "$url" "$md5"
  for i in $(seq 1 "$RUNS"); do
    timed sig.plain bash -c 'fetch_run "$0" "$1"' "$url" "$md5"
    timed sig.signed bash -c 'signed_run "$0" "$1"' "$url" "$md5"
  done
  local p s
  p=$(median $(cat "$WORK/sig.plain")); s=$(median $(cat "$WORK/sig.signed"))
  printf '%-34s without %6.3fs  with signature %6.3fs  with/without %s  per-pair median %s\n' \
    "signature, $label:" "$p" "$s" "$(ratio "$s" "$p")" \
    "$(pair_median "$WORK/sig.signed" "$WORK/sig.plain")"
}

signature_costs() {
  signature_cost "uncapped ${UNCAPPED_MIB} MiB" "http://127.0.0.1:$PORT/uncapped.bin" uncapped.bin
  signature_cost "capped $RATE/conn. ${CAPPED_MIB} MiB" "http://127.0.0.1:$PORT/limited/capped.bin" capped.bin
}

start_nginx "$WORK" "$WORK/www" "$RATE" small.bin
echo "nginx on 127.0.0.1:$PORT; medians of $RUNS alternating runs"
if [ "$SIGNATURE_ONLY" = 1 ]; then
  signature_costs
  exit 0
fi
compare "capped $RATE/connection, ${CAPPED_MIB} MiB" "http://127.0.0.1:$PORT/limited/capped.bin" capped.bin
compare "uncapped, ${UNCAPPED_MIB} MiB" "http://127.0.0.1:$PORT/uncapped.bin" uncapped.bin
echo "peak memory of package_fetch: 1 MiB package $(peak_kib "http://127.0.0.1:$PORT/small.bin") KiB," \
     "1 GiB package $(peak_kib "http://127.0.0.1:$PORT/large.bin") KiB"
resume_case "resume, every segment cut once" drop
resume_case "resume, file changed (new ETag)" change
signature_costs
