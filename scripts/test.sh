#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   scripts/test.sh           normal build in build/
#   scripts/test.sh --asan    AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh --tsan    ThreadSanitizer build in build-tsan/
#   --skip-windows            leaves out the Windows leg (scripts/test-windows.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

# The Windows leg runs at the end unless --skip-windows is given.
windows_leg=1
args=()
for arg in "$@"; do
  if [ "$arg" = --skip-windows ]; then windows_leg=0; else args+=("$arg"); fi
done
set -- "${args[@]+"${args[@]}"}"

preset=ci
build_dir=build
case "${1:-}" in
  --asan) preset=asan; build_dir=build-asan ;;
  --tsan) preset=tsan; build_dir=build-tsan ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--asan|--tsan] [--skip-windows]" >&2; exit 2 ;;
esac

scripts/bootstrap.sh
source scripts/xvfb.sh
start_private_display

cmake --preset "$preset" -G Ninja >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
# ASan/TSan builds need their own runtime options; leaks are errors too.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" --timeout 600
if [ "$windows_leg" = 1 ]; then scripts/test-windows.sh; fi
