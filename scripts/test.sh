#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   scripts/test.sh           normal build in build/
#   scripts/test.sh --asan    AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh --tsan    ThreadSanitizer build in build-tsan/
set -euo pipefail
cd "$(dirname "$0")/.."

preset=ci
build_dir=build
case "${1:-}" in
  --asan) preset=asan; build_dir=build-asan ;;
  --tsan) preset=tsan; build_dir=build-tsan ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--asan|--tsan]" >&2; exit 2 ;;
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
