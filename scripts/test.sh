#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   scripts/test.sh           normal build in build/
#   scripts/test.sh --asan    AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh --tsan    ThreadSanitizer build in build-tsan/
#   --skip-windows            leaves out the Windows leg (scripts/test-windows.sh)
# TAMSA_JOBS sets the build's parallel jobs (default: the number of cores).
# Runs at the same time on one machine do not meet: each has its own X
# display (chosen by Xvfb), its own single-instance marker for the updaters
# it starts, and servers on free ports only.
# The exit status is 0 only when every leg that ran passed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/xvfb.sh

# The Windows leg runs at the end unless --skip-windows is given.
windows_leg=1
args=()
for arg in "$@"; do
  if [ "$arg" = --skip-windows ]; then windows_leg=0; else args+=("$arg"); fi
done
set -- "${args[@]+"${args[@]}"}"

preset=ci
build_dir=build

parse_arguments() {
  case "${1:-}" in
    --asan) preset=asan; build_dir=build-asan ;;
    --tsan) preset=tsan; build_dir=build-tsan ;;
    "") ;;
    *) echo "usage: scripts/test.sh [--asan|--tsan] [--skip-windows]" >&2; exit 2 ;;
  esac
}

install_packages() {
  scripts/bootstrap.sh
}

# Configures and builds; two runs in one checkout build one after the other.
build_all() {
  mkdir -p "$build_dir"
  (
    flock 9 &&
      cmake --preset "$preset" -G Ninja >/dev/null &&
      cmake --build "$build_dir" -j "${TAMSA_JOBS:-$(nproc)}"
  ) 9>"$build_dir/.build.lock"
}

# ctest names must be readable and stable (no printed parameter bytes), so
# that -R and --rerun-failed work.
check_test_names() {
  local unstable
  unstable=$(ctest --test-dir "$build_dir" -N | grep -E 'GetParam|-byte object' || true)
  if [ -n "$unstable" ]; then
    echo "test names that change from build to build:" >&2
    echo "$unstable" >&2
    return 1
  fi
}

run_tests() {
  # ASan/TSan builds need their own runtime options; leaks are errors too.
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
  # The updaters this run starts share a single-instance marker of its own.
  export TAMSA_INSTANCE_SCOPE="test-$$-$RANDOM"
  ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" --timeout 600
}

# The Linux leg. Its steps are chained, since errexit does not hold inside
# a function whose status the caller tests.
linux_leg() {
  install_packages && start_private_display && build_all && check_test_names && run_tests
}

main() {
  parse_arguments "$@"
  local linux_status=0 windows_status=0 start
  start=$(date +%s)
  linux_leg || linux_status=$?
  echo "test.sh: Linux leg $(($(date +%s) - start)) s, status $linux_status"
  if [ "$windows_leg" = 1 ]; then
    # A separate process, so that its own failures stop it at once.
    start=$(date +%s)
    scripts/test-windows.sh || windows_status=$?
    echo "test.sh: Windows leg $(($(date +%s) - start)) s, status $windows_status"
  fi
  [ "$linux_status" -eq 0 ] && [ "$windows_status" -eq 0 ]
}

main "$@"
