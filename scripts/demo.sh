#!/usr/bin/env bash
# Runs the updater's main job against a local update service with an
# embedded default answer and package, and shows its log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target TamsaUpdate update_service package_fetch

work=$(mktemp -d /tmp/tamsa-demo.XXXXXX)
service_pid=""
cleanup() { [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

# The embedded default: a small installer script and the service's answer.
mkdir -p "$work/packages" "$work/app"
cat > "$work/packages/setup.sh" <<'PKG'
#!/bin/sh
echo "demo installer started in $(pwd)"
PKG
for i in $(seq 1 2000); do echo "# padding line $i so the package is split into four ranges" >> "$work/packages/setup.sh"; done
digest=$(md5sum "$work/packages/setup.sh" | cut -d' ' -f1)

# The service reads its answer file at every request, so the answer can name
# the port the service was given.
"$root/build/update_service" --answer "$work/answer.json" --packages "$work/packages" > "$work/port.txt" 2>"$work/service.log" &
service_pid=$!
for _ in $(seq 1 50); do grep -q '^port=' "$work/port.txt" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^port=//p' "$work/port.txt")
[ -n "$port" ] || { echo "the update service did not start" >&2; exit 1; }
cat > "$work/answer.json" <<JSON
{"code": 0, "data": {"version": "2.0.0", "min_ver": "1.0.0",
 "blockurl": [{"url": "http://127.0.0.1:$port/packages/setup.sh", "md5": "$digest", "type": 1, "ver_range": "1.5.0-2.0.0"}]}}
JSON

echo "== update service on 127.0.0.1:$port, package digest $digest"
cp "$root/build/TamsaUpdate" "$work/app/"
printf '[UPDATE]\r\nis_test=1\r\nhost=127.0.0.1:%s\r\n' "$port" > "$work/app/update.ini"
mkdir -p "$work/app/temp_old"; touch "$work/app/TamsaUpdate.exe_old"

cmdline=(-channel=stable -prod=DemoTool -exename=DemoTool.exe -ver=1.5.0 -quitmsgid=1234 -hwnd=1 "-url=http://127.0.0.1:$port/")
echo "== running: TamsaUpdate ${cmdline[*]}"
(cd "$work/app" && ./TamsaUpdate "${cmdline[@]}") 2>&1 | sed 's/^/   log: /'
echo "== leftovers after the run: $(ls "$work/app" | tr '\n' ' ')"
echo "== the update service saw: $(grep -c 'search' "$work/service.log") update query"
echo "   The skinned hint and progress windows are not part of this build yet, so the run"
echo "   ends after the update check decided that DemoTool 1.5.0 is out of date."
echo "== the download job on the chosen package (four ranges, merge, MD5):"
"$root/build/package_fetch" "http://127.0.0.1:$port/packages/setup.sh" "$work/setup.sh" "$digest" 2>/dev/null
cmp "$work/setup.sh" "$work/packages/setup.sh" && echo "   downloaded package is byte-identical"
