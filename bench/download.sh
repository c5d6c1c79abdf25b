#!/usr/bin/env bash
# Download benchmark: package_fetch (four segments, join, digest) against
# curl + md5sum and aria2c -x4 -s4 + md5sum, served by nginx on 127.0.0.1,
# once with a per-connection rate limit and once unlimited; then file_md5
# against md5sum, and package_fetch's peak memory for a small and a large
# package. Usage: bench/download.sh [build-dir]   (default: build)
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
FETCH="$BUILD/package_fetch"
NGINX=/usr/sbin/nginx
SIZE_MIB=${SIZE_MIB:-256}
RATE=${RATE:-8m}
RUNS=${RUNS:-3}

for tool in "$FETCH" "$NGINX" /usr/bin/time curl aria2c md5sum; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

WORK="$(mktemp -d /tmp/tamsa_bench_download.XXXXXX)"
NGINX_PID=""
cleanup() {
  if [[ -n "$NGINX_PID" ]]; then
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
  fi
  rm -f "$BUILD"/bench_pkg_*.bin-[0-3]
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

mkdir -p "$WORK/www" "$WORK/out"
echo "making packages in $WORK ..."
head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom > "$WORK/www/pkg.bin"
head -c $((1024 * 1024)) /dev/urandom > "$WORK/www/small.bin"
head -c $((1024 * 1024 * 1024)) /dev/urandom > "$WORK/www/large.bin"
PKG_MD5="$(md5sum "$WORK/www/pkg.bin" | cut -d' ' -f1)"

start_nginx() {
  local port
  for _ in $(seq 1 10); do
    port=$((20000 + RANDOM % 40000))
    cat > "$WORK/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $WORK/nginx.pid;
error_log $WORK/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  default_type application/octet-stream;
  client_body_temp_path $WORK/t1; proxy_temp_path $WORK/t2; fastcgi_temp_path $WORK/t3;
  uwsgi_temp_path $WORK/t4; scgi_temp_path $WORK/t5;
  server {
    listen 127.0.0.1:$port;
    root $WORK/www;
    location /limited/ { alias $WORK/www/; limit_rate $RATE; }
  }
}
CONF
    "$NGINX" -p "$WORK" -c "$WORK/nginx.conf" -e "$WORK/error.log" &
    NGINX_PID=$!
    for _ in $(seq 1 50); do
      if curl -s -o /dev/null "http://127.0.0.1:$port/small.bin"; then PORT=$port; return 0; fi
      kill -0 "$NGINX_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
    NGINX_PID=""
  done
  echo "nginx did not start" >&2
  exit 1
}

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# The best (lowest) of the runs, in seconds.
best() { printf '%s\n' "$@" | sort -g | head -1; }

run_fetch() {  # url -> seconds (checks the digest)
  local line
  line="$("$FETCH" "$1" "$WORK/out/bench_pkg_fetch.bin" "$PKG_MD5" 2>/dev/null)" || { echo "package_fetch failed: $line" >&2; exit 1; }
  rm -f "$WORK/out/bench_pkg_fetch.bin"
  sed -E 's/.*seconds=([0-9.]+).*/\1/' <<<"$line"
}

run_curl() {  # url -> seconds for one connection + md5sum
  local start end
  start=$(now)
  curl -s -o "$WORK/out/curl.bin" "$1"
  [[ "$(md5sum "$WORK/out/curl.bin" | cut -d' ' -f1)" == "$PKG_MD5" ]] || { echo "curl copy differs" >&2; exit 1; }
  end=$(now)
  rm -f "$WORK/out/curl.bin"
  elapsed "$start" "$end"
}

run_aria() {  # url -> seconds for four connections + md5sum
  local start end
  start=$(now)
  aria2c -q -x4 -s4 -k1M --file-allocation=none --allow-overwrite=true -d "$WORK/out" -o aria.bin "$1"
  [[ "$(md5sum "$WORK/out/aria.bin" | cut -d' ' -f1)" == "$PKG_MD5" ]] || { echo "aria2c copy differs" >&2; exit 1; }
  end=$(now)
  rm -f "$WORK/out/aria.bin"
  elapsed "$start" "$end"
}

compare() {  # label url
  local f=() c=() a=()
  for _ in $(seq 1 "$RUNS"); do
    f+=("$(run_fetch "$2")"); c+=("$(run_curl "$2")"); a+=("$(run_aria "$2")")
  done
  local bf bc ba
  bf=$(best "${f[@]}"); bc=$(best "${c[@]}"); ba=$(best "${a[@]}")
  echo "$1: package_fetch ${bf}s, curl+md5sum ${bc}s, aria2c+md5sum ${ba}s;" \
       "speed vs curl $(ratio "$bc" "$bf")x, vs aria2c $(ratio "$ba" "$bf")x"
}

max_rss_kib() {  # url target -> KiB
  /usr/bin/time -v "$FETCH" "$1" "$2" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
  rm -f "$2"
}

start_nginx
echo "nginx on 127.0.0.1:$PORT, package ${SIZE_MIB} MiB, best of $RUNS runs"
compare "limited to $RATE per connection" "http://127.0.0.1:$PORT/limited/pkg.bin"
compare "unlimited" "http://127.0.0.1:$PORT/pkg.bin"

cat "$WORK/www/pkg.bin" > /dev/null
m=() s=()
for _ in $(seq 1 "$RUNS"); do
  m+=("$("$FETCH" --md5 "$WORK/www/pkg.bin" | sed -E 's/.*seconds=([0-9.]+).*/\1/')")
  start=$(now); md5sum "$WORK/www/pkg.bin" > /dev/null; end=$(now); s+=("$(elapsed "$start" "$end")")
done
bm=$(best "${m[@]}"); bs=$(best "${s[@]}")
echo "md5 of ${SIZE_MIB} MiB: file_md5 ${bm}s, md5sum ${bs}s; speed vs md5sum $(ratio "$bs" "$bm")x"

small=$(max_rss_kib "http://127.0.0.1:$PORT/small.bin" "$WORK/out/bench_pkg_small.bin")
large=$(max_rss_kib "http://127.0.0.1:$PORT/large.bin" "$WORK/out/bench_pkg_large.bin")
echo "peak memory of package_fetch: 1 MiB package ${small} KiB, 1 GiB package ${large} KiB"
