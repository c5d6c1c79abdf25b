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
# 4. The whole update, as a person does it: a Win32 product window, nginx as
#    the update service, the hint window's OK, the progress window, the
#    product quitting on its message (or terminated when it ignores it), the
#    installer run; and the update declined with Cancel.
# TAMSA_WINE_SHOTS=DIR saves pictures of the windows there.
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

# ---- 4. the whole update ----
# The button centres of skin/HintUpdateWnd.xml (okbtn, cancelbtn).
ok_button=(153 154)
cancel_button=(259 154)
program_class=tamsaupdate.exe
quit_id=1025
e2e=$work/e2e
mkdir -p "$e2e/www/packages" "$e2e/logs"
# The installer: a batch file that notes its run beside itself; the padding
# after its "exit" makes the download take a few ranged requests.
package="$e2e/www/packages/sample-setup-2.0.bat"
printf '@echo off\r\necho installed 2.0>>"%%~dp0install.log"\r\nexit 0\r\n' >"$package"
yes 'rem padding of the sample installer' | head -c 1500000 >>"$package" || true
package_md5=$(md5sum "$package" | cut -d' ' -f1)
e2e_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '{"code": 0, "data": {"version": "2.0", "min_ver": "1.0", "blockurl": [{"url": "http://127.0.0.1:%s/packages/sample-setup-2.0.bat", "md5": "%s", "type": 1, "ver_range": "1.0-2.0"}]}}' \
  "$e2e_port" "$package_md5" >"$e2e/answer.json"
cat >"$e2e/nginx.conf" <<CONF
daemon off;
master_process off;
pid $e2e/nginx.pid;
error_log $e2e/logs/error.log;
events {}
http {
  access_log $e2e/logs/access.log;
  server {
    listen 127.0.0.1:$e2e_port;
    location = /soft/update/search { default_type application/json; alias $e2e/answer.json; }
    location /packages/ { root $e2e/www; limit_rate 200k; }
  }
}
CONF
/usr/sbin/nginx -p "$e2e" -c "$e2e/nginx.conf" 2>"$e2e/nginx.err" &
pids+=($!)
sleep 0.5

# The first visible window of the program other than $1, waited for up to
# 20 s. Wine names the class after the program file; the title is no help,
# since Wine writes it in the locale's encoding.
wait_window() {
  local other=${1:-none} i id
  for i in $(seq 1 200); do
    id=$(xdotool search --onlyvisible --classname "$program_class" 2>/dev/null | grep -vx -- "$other" | head -n 1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Waits up to $2 seconds for a process we started to end; its exit code is
# left in ended_status.
wait_end() {
  local pid=$1 seconds=$2 i
  for i in $(seq 1 $((seconds * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      ended_status=0
      wait "$pid" || ended_status=$?
      return 0
    fi
    sleep 0.1
  done
  return 1
}

shot() {
  if [ -n "${TAMSA_WINE_SHOTS:-}" ]; then
    mkdir -p "$TAMSA_WINE_SHOTS"
    import -window "$1" "$TAMSA_WINE_SHOTS/$2" 2>/dev/null || echo "windows-program-checks: no picture $2"
  fi
}

# One run: the product (obeying or ignoring its quit message), the updater,
# and the button pressed in the hint window (ok or cancel).
run_update() {
  local name=$1 product_mode=$2 button=$3
  local dir=$e2e/$1 hwnd hint progress product updater
  mkdir -p "$dir/app" "$dir/product"
  cp "$exe" "$dir/app/"
  cp "$build_dir/win32_test_child.exe" "$dir/product/Product.exe"
  printf '[UPDATE]\r\nis_test=1\r\nhost=127.0.0.1:%s\r\n' "$e2e_port" >"$dir/app/update.ini"
  run_wine "$dir/product/Product.exe" window "$quit_id" "$product_mode" >"$dir/product.out" 2>/dev/null &
  product=$!
  pids+=($product)
  if ! wait_for_line "$dir/product.out" '^[0-9]'; then
    fail "$name: the product made no window"
    return
  fi
  hwnd=$(head -n 1 "$dir/product.out" | tr -d '\r')
  (cd "$dir/app" && WINEDEBUG=-all,+debugstr run_wine TamsaUpdate.exe -channel=sample -prod=Sample \
    -exename=Product.exe -ver=1.0 -quitmsgid="$quit_id" -hwnd="$hwnd" >"$dir/updater.out" 2>"$dir/updater.err") &
  updater=$!
  pids+=($updater)
  if ! hint=$(wait_window); then
    fail "$name: no hint window"
    tail -n 5 "$dir/updater.err" >&2
    return
  fi
  sleep 0.5
  if [ "$name" = accept ]; then shot "$hint" hint_window_wine.png; fi
  if [ "$button" = ok ]; then
    xdotool mousemove --window "$hint" "${ok_button[@]}" click 1
    if [ "$name" = accept ]; then
      sleep 1.5
      if progress=$(wait_window "$hint"); then shot "$progress" update_window_wine.png; fi
    fi
  else
    xdotool mousemove --window "$hint" "${cancel_button[@]}" click 1
  fi
  if ! wait_end "$updater" 60; then
    fail "$name: the updater still runs after 60 s"
    return
  fi
  [ "$ended_status" -eq 0 ] || fail "$name: updater exit code $ended_status"
  if [ "$button" = cancel ]; then
    if [ -e "$dir/app/install.log" ]; then fail "$name: the installer ran"; fi
    if ! kill -0 "$product" 2>/dev/null; then fail "$name: the product ended"; fi
    pass "$name: Cancel in the hint window ends the updater with 0, the product keeps running, nothing installed"
    return
  fi
  if ! wait_for_line "$dir/app/install.log" 'installed 2.0'; then
    fail "$name: the installer did not run"
    grep -a debugstr "$dir/updater.err" | tail -n 5 >&2
    return
  fi
  if ! wait_end "$product" 10; then
    fail "$name: the product still runs"
    return
  fi
  local expected=7 how="quit on its message"
  if [ "$product_mode" = ignore ]; then expected=0 how="was terminated after ignoring its message"; fi
  if [ "$ended_status" -ne "$expected" ]; then
    fail "$name: product exit code $ended_status, expected $expected"
  elif [ "$(md5sum <"$dir/app/sample-setup-2.0.bat" | cut -d' ' -f1)" != "$package_md5" ]; then
    fail "$name: the package beside the program is not the one served"
  else
    pass "$name: hint window, OK, progress window, the product $how, the package whole, the installer ran"
  fi
}

run_update accept obey ok
run_update kill ignore ok
run_update decline obey cancel

[ "$failures" -eq 0 ] || exit 1
