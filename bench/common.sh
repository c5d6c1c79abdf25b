# Sourced by the benchmarks: what they all need.

# The median of the numbers given.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# a / b with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# pair_median FILE-A FILE-B: the median of a[i] / b[i], line by line.
pair_median() {
  median $(paste -d' ' "$1" "$2" | awk '{ printf "%.4f\n", $1 / $2 }') | awk '{ printf "%.2f", $1 }'
}

# timed LABEL-FILE COMMAND...: runs the command, appends its wall seconds to
# $WORK/LABEL-FILE; a failing command ends the benchmark.
timed() {
  local file="$WORK/$1"; shift
  /usr/bin/time -f "%e %M" -o "$WORK/time.out" "$@" > "$WORK/cmd.out" 2>&1 ||
    { echo "failed: $*" >&2; tail -5 "$WORK/cmd.out" >&2; exit 1; }
  cut -d' ' -f1 "$WORK/time.out" >> "$file"
}

# Starts nginx on a free loopback port serving a folder, with /limited/
# serving the same files at a per-connection rate.
#   start_nginx WORK ROOT RATE PROBE_FILE
# Sets PORT, appends nginx's pid to PIDS, and ends the script when nginx
# does not come up.
start_nginx() {
  local work=$1 root=$2 rate=$3 probe=$4 port pid
  for _ in $(seq 1 10); do
    port=$((20000 + RANDOM % 40000))
    cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  default_type application/octet-stream;
  client_body_temp_path $work/t1; proxy_temp_path $work/t2; fastcgi_temp_path $work/t3;
  uwsgi_temp_path $work/t4; scgi_temp_path $work/t5;
  server {
    listen 127.0.0.1:$port;
    root $root;
    location /limited/ { alias $root/; limit_rate $rate; }
  }
}
CONF
    # Its own output goes to a file: holding the script's would keep a
    # reader of the script's output (a pipe into tail) waiting for nginx.
    /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -e "$work/error.log" > "$work/nginx.out" 2>&1 &
    pid=$!
    for _ in $(seq 1 50); do
      if curl -s -o /dev/null "http://127.0.0.1:$port/$probe"; then PORT=$port; PIDS+=("$pid"); return 0; fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "nginx did not start" >&2
  exit 1
}
