#!/usr/bin/env bash
# Checks the local update service: the port line, the answer at the query
# path with its {host} filled in, a byte range of a package, a missing
# package, a clean stop, and the throttled package route.
#   update_service_test.sh PATH_TO_update_service
set -u
service=$1
# The service is on 127.0.0.1: never through a proxy of the environment.
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost
work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Starts the service with the extra arguments and waits for its port line;
# sets pid, port and base. what names the run in a failure.
start_service() {
  local what=$1
  shift
  # The last service's port line must not be read as this one's.
  rm -f "$work/out"
  "$service" --answer "$work/answer.json" --packages "$work/packages" "$@" > "$work/out" 2> "$work/err" &
  pid=$!
  port=
  for _ in $(seq 100); do
    port=$(sed -n 's/^port=\([0-9][0-9]*\)$/\1/p' "$work/out")
    [ -n "$port" ] && break
    sleep 0.05
  done
  [ -n "$port" ] || fail "$what: no port line; got: $(cat "$work/out")"
  base="http://127.0.0.1:$port"
}

mkdir "$work/packages"
printf '{"code":0,"data":{"url":"http://{host}/packages/pkg.bin"}}' > "$work/answer.json"
printf '0123456789abcdef' > "$work/packages/pkg.bin"

start_service plain
got=$(curl -s --max-time 5 "$base/soft/update/search?channel=c&product=Tool%202&ver=1.0&type=2")
expected="{\"code\":0,\"data\":{\"url\":\"http://127.0.0.1:$port/packages/pkg.bin\"}}"
[ "$got" = "$expected" ] || fail "answer: got '$got', expected '$expected'"
got=$(curl -s --max-time 5 -r 4-7 "$base/packages/pkg.bin")
[ "$got" = "4567" ] || fail "range 4-7: got '$got', expected '4567'"
code=$(curl -s --max-time 5 -o /dev/null -w '%{http_code}' "$base/packages/missing.bin")
[ "$code" = "404" ] || fail "missing package: got status $code, expected 404"

grep -q '^GET /soft/update/search?channel=c&product=Tool%202&ver=1.0&type=2 HTTP/1.1 200$' "$work/err" \
  || fail "request log: got '$(cat "$work/err")'"

kill -TERM "$pid"
status=0
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
kill -0 "$pid" 2>/dev/null && fail "still running after SIGTERM"
wait "$pid"; status=$?
pid=
[ "$status" = "0" ] || fail "exit status $status after SIGTERM, expected 0"

if "$service" --answer "$work/answer.json" > /dev/null 2>&1; then fail "accepted a command line without --packages"; fi
if "$service" --answer "$work/answer.json" --packages "$work/packages" --rate 0 > /dev/null 2>&1; then
  fail "accepted a rate of 0"
fi

# Throttled: 64 KiB at 256 KiB/s takes about a quarter of a second, ranges
# still work, and a name that leaves the folder is refused.
head -c 65536 /dev/urandom > "$work/packages/big.bin"
start_service throttled --rate 262144
curl -s --max-time 10 -o "$work/big.got" "$base/packages/big.bin"
cmp -s "$work/big.got" "$work/packages/big.bin" || fail "throttled: body differs"
got=$(curl -s --max-time 5 -r 4-7 "$base/packages/pkg.bin")
[ "$got" = "4567" ] || fail "throttled range 4-7: got '$got', expected '4567'"
code=$(curl -s --max-time 5 -o /dev/null -w '%{http_code}' "$base/packages/..%2Fanswer.json")
[ "$code" = "404" ] || fail "throttled: a name leaving the folder got status $code, expected 404"
echo "update_service: ok"
