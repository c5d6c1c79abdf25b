#!/usr/bin/env bash
# Checks the Windows program under Wine, against servers on the Linux side
# (127.0.0.1). Run by scripts/test-windows.sh, which provides the Wine prefix,
# the wineserver and the display:
#   scripts/windows-program-checks.sh build-win32/TamsaUpdate.exe
# 0. The file: PE32, Intel 80386, GUI subsystem, importing only Windows' own
#    DLLs (everything else is linked in).
# 1. An empty command line logs "TamsaUpdater: Product Name Empty" on the
#    debugger output and exits with 0.
# 2. One updater per machine: while one waits for the update service, a
#    second exits at once with 0 and asks nothing.
# 3. A package over HTTPS through Schannel (package_fetch.exe, the updater's
#    own download job) from nginx with a self-signed certificate.
set -euo pipefail
exe=$(realpath "$1")
build_dir=$(dirname "$exe")
work=$(mktemp -d /tmp/tamsa-wincheck.XXXXXX)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "windows-program-checks: FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "windows-program-checks: ok: $*"; }

run_wine() {
  if [ -n "${TAMSA_WINE_LOCALE:-}" ]; then LC_ALL=$TAMSA_WINE_LOCALE wine "$@"; else wine "$@"; fi
}

# Waits up to 10 s for a file to hold a line matching a pattern.
wait_for_line() {
  local file=$1 pattern=$2 i
  for i in $(seq 1 100); do
    if grep -q -- "$pattern" "$file" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  return 1
}

# ---- 0. the file ----
kind=$(file -b "$exe")
case "$kind" in
  "PE32 executable (GUI) Intel 80386"*) pass "$(basename "$exe"): $kind, $(stat -c %s "$exe") bytes" ;;
  *) fail "$(basename "$exe") is $kind" ;;
esac
system_dlls=" kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll ws2_32.dll crypt32.dll bcrypt.dll msvcrt.dll "
imports=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
for dll in $imports; do
  case "$system_dlls" in
    *" $dll "*) ;;
    *) fail "imports $dll, which Windows does not ship" ;;
  esac
done
echo "windows-program-checks: imports: $imports"

# ---- 1. empty command line ----
mkdir -p "$work/empty"
cp "$exe" "$work/empty/"
status=0
WINEDEBUG=-all,+debugstr run_wine "$work/empty/TamsaUpdate.exe" >"$work/empty.out" 2>"$work/empty.err" || status=$?
if [ "$status" -ne 0 ]; then
  fail "empty command line: exit code $status"
elif ! grep -q 'OutputDebugStringA "TamsaUpdater: Product Name Empty' "$work/empty.err"; then
  fail "empty command line: no debugger output line"; cat "$work/empty.err" >&2
else
  pass "empty command line logs \"TamsaUpdater: Product Name Empty\" on the debugger output, exit 0"
fi

# ---- 2. single instance ----
# An update service that holds every answer for 4 s and notes each request.
cat >"$work/slow_service.py" <<'EOF'
import http.server, sys, time
log = open(sys.argv[1], "a", buffering=1)
class handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        log.write(self.path + "\n")
        time.sleep(4)
        body = b"{}"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1], flush=True)
server.serve_forever()
EOF
python3 "$work/slow_service.py" "$work/requests.log" >"$work/service.port" &
pids+=($!)
wait_for_line "$work/service.port" '^[0-9]' || fail "update service did not start"
port=$(head -n 1 "$work/service.port")
mkdir -p "$work/single"
cp "$exe" "$work/single/"
printf '[UPDATE]\r\nhost=127.0.0.1:%s\r\n' "$port" >"$work/single/update.ini"
args=(-channel=stable -prod=TamsaTool -ver=1.0 -quitmsgid=1025 -hwnd=1)
run_wine "$work/single/TamsaUpdate.exe" "${args[@]}" >"$work/first.out" 2>"$work/first.err" &
first=$!
pids+=($first)
if ! wait_for_line "$work/requests.log" '/soft/update/search'; then
  fail "single instance: the first updater asked nothing"; cat "$work/first.err" >&2
else
  started=$(date +%s%N)
  status=0
  run_wine "$work/single/TamsaUpdate.exe" "${args[@]}" >"$work/second.out" 2>"$work/second.err" || status=$?
  took=$((($(date +%s%N) - started) / 1000000))
  requests=$(grep -c '/soft/update/search' "$work/requests.log")
  if [ "$status" -ne 0 ] || [ "$requests" -ne 1 ] || [ -s "$work/second.err" ]; then
    fail "single instance: second updater exit $status, requests $requests, log: $(cat "$work/second.err")"
  elif ! kill -0 "$first" 2>/dev/null; then
    fail "single instance: the first updater did not wait for its answer"
  else
    pass "single instance: a second updater exits at once (${took} ms, exit 0) while the first runs"
  fi
  expected='/soft/update/search?channel=stable&product=TamsaTool&ver=1.0&type=2'
  grep -qxF "$expected" "$work/requests.log" || fail "update query: got $(head -n 1 "$work/requests.log")"
fi
status=0
wait "$first" || status=$?
[ "$status" -eq 0 ] || fail "first updater: exit code $status"

# ---- 3. HTTPS through Schannel ----
fetch="$build_dir/package_fetch.exe"
if [ -x "$fetch" ] || [ -f "$fetch" ]; then
  mkdir -p "$work/https/www" "$work/https/logs" "$work/fetch"
  head -c 3000000 /dev/urandom >"$work/https/www/package.bin"
  md5=$(md5sum "$work/https/www/package.bin" | cut -d' ' -f1)
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 \
    -keyout "$work/https/key.pem" -out "$work/https/cert.pem" >/dev/null 2>&1
  https_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  cat >"$work/https/nginx.conf" <<EOF
daemon off;
master_process off;
pid $work/https/nginx.pid;
error_log $work/https/logs/error.log;
events {}
http {
  access_log $work/https/logs/access.log;
  server {
    listen 127.0.0.1:$https_port ssl;
    ssl_certificate $work/https/cert.pem;
    ssl_certificate_key $work/https/key.pem;
    root $work/https/www;
  }
}
EOF
  /usr/sbin/nginx -p "$work/https" -c "$work/https/nginx.conf" 2>"$work/https/nginx.err" &
  pids+=($!)
  sleep 0.5
  cp "$fetch" "$work/fetch/"
  status=0
  run_wine "$work/fetch/package_fetch.exe" "https://127.0.0.1:$https_port/package.bin" \
    'C:\fetched.bin' "$md5" >"$work/fetch.out" 2>"$work/fetch.err" || status=$?
  got=$(md5sum "$WINEPREFIX/drive_c/fetched.bin" 2>/dev/null | cut -d' ' -f1 || true)
  ranged=$(grep -c '" 206 ' "$work/https/logs/access.log" || true)
  if [ "$status" -ne 0 ] || [ "$got" != "$md5" ]; then
    fail "HTTPS download: exit $status, digest ${got:-none}"; tail -n 5 "$work/fetch.err" >&2
  else
    pass "HTTPS download through Schannel: 3 MB in $ranged ranged requests, digest checked ($(cat "$work/fetch.out"))"
  fi
  rm -f "$WINEPREFIX/drive_c/fetched.bin"
else
  fail "no $fetch"
fi

[ "$failures" -eq 0 ] || exit 1
