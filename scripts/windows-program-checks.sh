#!/usr/bin/env bash
# Checks the Windows program under Wine, against servers on the Linux side
# (127.0.0.1). Run by scripts/test-windows.sh, which provides the Wine prefix,
# the wineserver and the display:
#   scripts/windows-program-checks.sh build-win32/TamsaUpdate.exe
# TAMSA_WINE names the Wine loader (default: wine) and TAMSA_WINDOWS_ARCH
# the program's width (i686, the default, or x86_64).
# 0. The file: a GUI program of that width (PE32 for i686, PE32+ for
#    x86-64), importing only Windows' own DLLs (everything else is linked in).
# 1. An empty command line logs "TamsaUpdater: Product Name Empty" on the
#    debugger output and exits with 0.
# 2. One updater per machine: while one waits for the update service, a
#    second exits at once with 0 and asks nothing.
# 3. A package over HTTPS through Schannel (package_fetch.exe, the updater's
#    own download job) from nginx with a self-signed certificate.
# 4. The whole update, as a person does it: the Win32 sample product starts
#    the updater, nginx is the update service; the hint window's OK, the
#    progress window, the product quitting on its message (or terminated
#    2 s after it when it ignores it), the installer writing the new
#    version; and the update declined with Cancel. The product's record
#    shows what the updater did to its window.
# 5. A signed release changed on the way: the updater built with the sample
#    release's key (signed/TamsaUpdate.exe) gets a package signed by
#    minisign with one byte changed afterwards and its MD5 digest announced
#    anew; it refuses the signature, deletes the package, asks whether to
#    retry (Escape declines) and installs nothing.
# TAMSA_WINE_SHOTS=DIR saves pictures of the product's window with the
# updater's windows over it there.
set -euo pipefail
exe=$(realpath "$1")
build_dir=$(dirname "$exe")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
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

# The locale compiled by scripts/test-windows.sh, for Wine alone: with it Wine
# reads non-ASCII file names in the right character set.
run_wine() {
  local settings=()
  if [ -n "${TAMSA_WINE_LOCALE:-}" ]; then settings+=("LC_ALL=$TAMSA_WINE_LOCALE"); fi
  if [ -n "${TAMSA_WINE_LOCPATH:-}" ]; then settings+=("LOCPATH=$TAMSA_WINE_LOCPATH"); fi
  env "${settings[@]}" "${TAMSA_WINE:-wine}" "$@"
}

# Waits up to $3 seconds for a file to hold a line matching a pattern.
wait_for_line_for() {
  local file=$1 pattern=$2 seconds=$3 i
  for i in $(seq 1 $((seconds * 10))); do
    if grep -q -- "$pattern" "$file" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  return 1
}

# The same, up to 10 s.
wait_for_line() {
  wait_for_line_for "$1" "$2" 10
}

# ---- 0. the file ----
if "$source_dir/scripts/check-windows-file.sh" "${TAMSA_WINDOWS_ARCH:-i686}" "$exe"; then
  pass "$(basename "$exe") is a Windows GUI program for ${TAMSA_WINDOWS_ARCH:-i686} importing only Windows' own DLLs"
else
  fail "$(basename "$exe") is not the Windows program it should be"
fi

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
# The Win32 sample product starts the updater itself, as a product does: its
# window, its registered quit message, its HWND on the updater's command
# line. It records what the updater does to its window (record lines:
# tools/sample_product). Each run has its own product folder, into which its
# installer (tools/sample_release/make_release.sh --windows-dir) writes the
# new version.
# The button centres of skin/HintUpdateWnd.xml (okbtn, cancelbtn).
ok_button=(153 154)
cancel_button=(259 154)
updater_class=tamsaupdate.exe
product_class=sampleproduct.exe
# A point of the product's window that the updater's windows, centred over
# it, leave free.
product_free_point=(20 390)
e2e=$work/e2e
mkdir -p "$e2e/www/packages" "$e2e/logs"
e2e_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
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

# A host path as the Windows program sees it: Wine's drive Z: is the root.
win_path() {
  printf 'Z:%s' "${1//\//\\}"
}

# The first visible window of a class other than $2, waited for up to 20 s.
# Wine names the class after the program file; the title is no help, since
# Wine writes it in the locale's encoding.
wait_window() {
  local class=$1 other=${2:-none} i id
  for i in $(seq 1 200); do
    id=$(xdotool search --onlyvisible --classname "$class" 2>/dev/null | grep -vx -- "$other" | head -n 1 || true)
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

# Waits up to $2 seconds until no process runs the program whose Windows
# path is in the file $1 (Wine shows a program's Windows command line as
# its process's arguments). The path is read from a file, so that this
# search never finds itself.
wait_program_gone() {
  local pattern_file=$1 seconds=$2 i
  for i in $(seq 1 $((seconds * 10))); do
    if ! ps -eo args= | grep -qiF -f "$pattern_file"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# A picture of the screen around windows (ids after the file name): the
# product's window with ours over it or beside it.
shot() {
  [ -n "${TAMSA_WINE_SHOTS:-}" ] || return 0
  local file=$1 left=100000 top=100000 right=0 bottom=0 window X Y WIDTH HEIGHT WINDOW SCREEN
  shift
  for window in "$@"; do
    eval "$(xdotool getwindowgeometry --shell "$window")"
    left=$((X < left ? X : left)) top=$((Y < top ? Y : top))
    right=$((X + WIDTH > right ? X + WIDTH : right)) bottom=$((Y + HEIGHT > bottom ? Y + HEIGHT : bottom))
  done
  mkdir -p "$TAMSA_WINE_SHOTS"
  import -window root -crop "$((right - left))x$((bottom - top))+${left}+${top}" +repage "$TAMSA_WINE_SHOTS/$file" \
    2>/dev/null || echo "windows-program-checks: no picture $file"
}

# The record's line numbers matching a pattern, one a line.
record_lines() {
  grep -n -- "$2" "$1" 2>/dev/null | cut -d: -f1 || true
}

# The product was disabled while our windows were open and enabled after.
expect_enabled_again() {
  local name=$1 record=$2 disabled enabled
  disabled=$(record_lines "$record" '^message WM_ENABLE 10 0 0$' | head -n 1)
  enabled=$(record_lines "$record" '^message WM_ENABLE 10 1 0$' | tail -n 1)
  if [ -z "$disabled" ] || [ -z "$enabled" ] || [ "$disabled" -gt "$enabled" ]; then
    fail "$name: the product was not disabled while the windows ran and enabled after: $(tr '\n' '|' <"$record")"
    return 1
  fi
}

# One run: the product (obeying or ignoring its quit message) starts the
# updater; the button pressed in the hint window (ok or cancel).
run_update() {
  local name=$1 product_mode=$2 button=$3
  local dir=$e2e/$1 hint progress product product_window package_md5 line asked ended waited
  local record=$dir/product.record
  mkdir -p "$dir/app" "$dir/product"
  cp "$exe" "$dir/app/"
  cp "$build_dir/sample_product.exe" "$dir/product/SampleProduct.exe"
  printf '1.0\r\n' >"$dir/product/version.txt"
  printf '[UPDATE]\r\nis_test=1\r\nhost=127.0.0.1:%s\r\n' "$e2e_port" >"$dir/app/update.ini"
  printf '%s\n' "$(win_path "$dir/app/TamsaUpdate.exe")" >"$dir/updater.pattern"
  # This run's release: an installer that writes into this run's product folder.
  "$source_dir/tools/sample_release/make_release.sh" --out "$dir/release" --windows-dir "$(win_path "$dir/product")" \
    --version 2.0 --from 1.0 --size 1500000 >"$dir/release.out"
  cp "$dir/release/packages/sample-setup-2.0.bat" "$e2e/www/packages/"
  sed "s/{host}/127.0.0.1:$e2e_port/" "$dir/release/answer.json" >"$e2e/answer.json"
  package_md5=$(sed -n 's/^md5=//p' "$dir/release.out")
  # A product name with a blank: the product quotes it on the updater's command line.
  local product_args=(--version=1.0 --prod="Sample Product" --channel=sample --updater="$(win_path "$dir/app/TamsaUpdate.exe")"
    --record="$(win_path "$record")")
  if [ "$product_mode" = ignore ]; then product_args+=(--ignore-quit); fi
  # The updater inherits the product's standard error: its log lines land
  # in product.err.
  (cd "$dir/product" && WINEDEBUG=-all,+debugstr run_wine SampleProduct.exe "${product_args[@]}" \
    >"$dir/product.out" 2>"$dir/product.err") &
  product=$!
  pids+=($product)
  if ! wait_for_line "$dir/product.out" '^window [0-9]'; then
    fail "$name: the product made no window"
    return
  fi
  if ! wait_for_line "$record" '^updater started '; then
    fail "$name: the product did not start the updater: $(cat "$dir/product.err")"
    return
  fi
  if ! hint=$(wait_window "$updater_class"); then
    fail "$name: no hint window"
    tail -n 5 "$dir/product.err" >&2
    return
  fi
  if ! product_window=$(wait_window "$product_class"); then
    fail "$name: the product's window is not on the display"
    return
  fi
  # The updater asked for the product's switches as the product gave them.
  if ! grep -qE "search\?channel=sample&product=Sample(%20| )Product&ver=1\.0&" "$e2e/logs/access.log"; then
    fail "$name: the update query does not carry the product's switches: $(grep search "$e2e/logs/access.log" | tail -n 1)"
  fi
  # The updater is found by its path, as the search for its end does.
  if ! ps -eo args= | grep -qiF -f "$dir/updater.pattern"; then
    fail "$name: no process runs $(cat "$dir/updater.pattern")"
  fi
  if ! wait_for_line "$record" '^message WM_ENABLE 10 0 0$'; then
    fail "$name: the product was not disabled while the hint window is up: $(tr '\n' '|' <"$record")"
  fi
  sleep 0.5
  if [ "$name" = accept ]; then shot hint_window_wine.png "$product_window" "$hint"; fi
  if [ "$button" = cancel ]; then
    xdotool mousemove --window "$hint" "${cancel_button[@]}" click 1
    if ! wait_for_line "$record" '^updater exited'; then
      fail "$name: the updater still runs after Cancel"
      return
    fi
    # Input reaches the product again.
    xdotool mousemove --window "$product_window" "${product_free_point[@]}" click 1
    wait_for_line "$record" '^input accepted$' || fail "$name: the product takes no input after the updater ended"
    # The product's last activation change made it the active window (the
    # system may activate it as our window closes, before the updater asks).
    local activation
    activation=$(grep '^message WM_ACTIVATE ' "$record" | tail -n 1 | cut -d' ' -f4)
    if ! grep -qx 'updater exited 0' "$record"; then
      fail "$name: $(grep '^updater exited' "$record")"
    elif [ -e "$dir/product/install.log" ] || [ "$(tr -d '\r' <"$dir/product/version.txt")" != 1.0 ]; then
      fail "$name: the installer ran"
    elif ! kill -0 "$product" 2>/dev/null || grep -q '^quit' "$record"; then
      fail "$name: the product was asked to quit or ended"
    elif ! expect_enabled_again "$name" "$record"; then
      :
    elif [ -z "$activation" ] || [ "$activation" -eq 0 ]; then
      fail "$name: the product was not activated after the updater ended: $(tr '\n' '|' <"$record")"
    else
      pass "$name: the product starts the updater, Cancel ends it with 0; the product was disabled meanwhile," \
        "is enabled and active again and takes input, nothing installed"
    fi
    return
  fi
  xdotool mousemove --window "$hint" "${ok_button[@]}" click 1
  if progress=$(wait_window "$updater_class" "$hint"); then
    # The product is disabled while the progress window is up: a click on
    # it does not reach it.
    xdotool mousemove --window "$product_window" "${product_free_point[@]}" click 1
    if [ "$name" = accept ]; then
      sleep 1.5
      shot update_window_wine.png "$product_window" "$progress"
    fi
  else
    fail "$name: no progress window"
  fi
  if [ "$product_mode" = ignore ]; then
    if ! wait_for_line_for "$record" '^quit ignored at ' 60; then
      fail "$name: the quit message did not reach the product"
      return
    fi
    asked=$(sed -n 's/^quit ignored at //p' "$record" | tr -d '\r')
    while kill -0 "$product" 2>/dev/null && [ $(($(date +%s%3N) - asked)) -lt 10000 ]; do sleep 0.01; done
    ended=$(date +%s%3N)
    waited=$((ended - asked))
  elif ! wait_for_line_for "$record" '^quit$' 60; then
    fail "$name: the quit message did not reach the product"
    return
  fi
  if ! wait_end "$product" 10; then
    fail "$name: the product still runs"
    return
  fi
  if ! wait_for_line "$dir/product/install.log" 'installed 2.0'; then
    fail "$name: the installer did not run"
    grep -a debugstr "$dir/product.err" | tail -n 5 >&2
    return
  fi
  if ! wait_program_gone "$dir/updater.pattern" 30; then
    fail "$name: the updater still runs after the install"
    return
  fi
  local how="quit on its message"
  if [ "$product_mode" = ignore ]; then how="ignored its message and was terminated ${waited} ms after it"; fi
  if [ "$product_mode" = ignore ] && { [ "$waited" -lt 1950 ] || [ "$waited" -gt 5000 ]; }; then
    fail "$name: the product was terminated ${waited} ms after its quit message, expected 2000 ms"
  elif [ "$product_mode" = obey ] && [ "$ended_status" -ne 0 ]; then
    fail "$name: product exit code $ended_status"
  elif grep -q '^input' "$record"; then
    fail "$name: a click reached the product while the progress window was up"
  elif ! expect_enabled_again "$name" "$record"; then
    :
  elif [ "$(tr -d '\r' <"$dir/product/version.txt")" != 2.0 ]; then
    fail "$name: the product's version after the install is $(cat "$dir/product/version.txt")"
  elif [ "$(md5sum <"$dir/app/sample-setup-2.0.bat" | cut -d' ' -f1)" != "$package_md5" ]; then
    fail "$name: the package beside the program is not the one served"
  elif grep -q 'Unhandled' "$dir/product.err"; then
    fail "$name: a program crashed: $(grep 'Unhandled' "$dir/product.err" | head -n 1)"
  else
    pass "$name: the product starts the updater; hint window, OK, progress window (the product disabled)," \
      "the product $how, the package whole, the installer wrote version 2.0, the updater ended"
  fi
}

run_update accept obey ok
run_update kill ignore ok
run_update decline obey cancel

# The signed updater and a tampered release: OK, then the retry question
# instead of an install.
run_tampered() {
  local name=tampered dir=$e2e/tampered hint progress box product
  local record=$dir/product.record signed_exe=$build_dir/signed/TamsaUpdate.exe
  if [ ! -f "$signed_exe" ]; then
    fail "$name: $signed_exe was not built"
    return
  fi
  mkdir -p "$dir/app" "$dir/product"
  cp "$signed_exe" "$dir/app/TamsaUpdate.exe"
  cp "$build_dir/sample_product.exe" "$dir/product/SampleProduct.exe"
  printf '1.0\r\n' >"$dir/product/version.txt"
  printf '[UPDATE]\r\nis_test=1\r\nhost=127.0.0.1:%s\r\n' "$e2e_port" >"$dir/app/update.ini"
  printf '%s\n' "$(win_path "$dir/app/TamsaUpdate.exe")" >"$dir/updater.pattern"
  "$source_dir/tools/sample_release/make_release.sh" --out "$dir/release" --windows-dir "$(win_path "$dir/product")" \
    --version 2.0 --from 1.0 --size 1500000 --sign-key "$source_dir/tools/sample_release/demo_release.key" \
    --product "Sample Product" --tamper >"$dir/release.out"
  cp "$dir/release/packages/sample-setup-2.0.bat" "$e2e/www/packages/"
  sed "s/{host}/127.0.0.1:$e2e_port/" "$dir/release/answer.json" >"$e2e/answer.json"
  (cd "$dir/product" && WINEDEBUG=-all,+debugstr run_wine SampleProduct.exe --version=1.0 --prod="Sample Product" \
    --channel=sample --updater="$(win_path "$dir/app/TamsaUpdate.exe")" --record="$(win_path "$record")" \
    >"$dir/product.out" 2>"$dir/product.err") &
  product=$!
  pids+=($product)
  if ! wait_for_line "$dir/product.out" '^window [0-9]' || ! hint=$(wait_window "$updater_class"); then
    fail "$name: no product window or no hint window"
    return
  fi
  sleep 0.5
  xdotool mousemove --window "$hint" "${ok_button[@]}" click 1
  if ! progress=$(wait_window "$updater_class" "$hint"); then
    fail "$name: no progress window"
    return
  fi
  # The retry question: a third window of the updater, beside the hint and
  # progress windows (which may both stay visible under it).
  box=""
  for _ in $(seq 1 300); do
    box=$(xdotool search --onlyvisible --classname "$updater_class" 2>/dev/null |
      grep -vx -e "$hint" -e "$progress" | head -n 1 || true)
    [ -n "$box" ] && break
    sleep 0.1
  done
  if [ -z "$box" ]; then
    fail "$name: no retry question after the tampered package"
    return
  fi
  if ! grep -aq 'package signature refused (bad-signature)' "$dir/product.err"; then
    fail "$name: no refusal in the log: $(grep -a 'TamsaUpdate' "$dir/product.err" | tail -n 3 | tr '\n' '|')"
  fi
  if [ -e "$dir/app/sample-setup-2.0.bat" ]; then
    fail "$name: the refused package is still beside the updater"
  fi
  # Escape declines; the box must have the keyboard focus first. A key that
  # went elsewhere (focus still moving) is sent again.
  local attempt
  for attempt in 1 2 3; do
    xdotool windowactivate --sync "$box" >/dev/null 2>&1 || xdotool windowfocus "$box" >/dev/null 2>&1 || true
    xdotool key --clearmodifiers Escape
    # The product records its updater's end (its own command line names the
    # updater, so a process search would find the product).
    if wait_for_line_for "$record" '^updater exited' 5; then break; fi
  done
  if ! wait_for_line_for "$record" '^updater exited' 30; then
    fail "$name: the updater still runs after the retry was declined; its windows:" \
      "$(xdotool search --onlyvisible --classname "$updater_class" 2>/dev/null | tr '\n' ' ')(box $box)"
    grep -a 'TamsaUpdate' "$dir/product.err" | tail -n 5 >&2
    return
  fi
  if [ -e "$dir/product/install.log" ] || [ "$(tr -d '\r' <"$dir/product/version.txt")" != 1.0 ]; then
    fail "$name: the tampered package was installed"
  elif grep -q '^quit' "$record"; then
    fail "$name: the product was asked to quit"
  elif ! grep -qx 'updater exited 0' "$record"; then
    fail "$name: $(grep '^updater exited' "$record")"
  else
    pass "$name: the signed updater refused a tampered package (signature refused, package deleted)," \
      "asked whether to retry, and installed nothing"
  fi
  kill "$product" 2>/dev/null || true
}

run_tampered

[ "$failures" -eq 0 ] || exit 1
