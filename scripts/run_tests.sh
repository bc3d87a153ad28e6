#!/usr/bin/env bash
# The test command: installs what is missing, builds the project three times (as
# shipped; with AddressSanitizer and UndefinedBehaviorSanitizer; with ThreadSanitizer),
# starts throwaway servers once, runs the tests, stops the servers:
#   - the plain build and the AddressSanitizer build run every test;
#   - the ThreadSanitizer build has only the test programs whose tests start the writer
#     threads and the table finisher, test_pg_target, test_driver and test_console (the
#     console tests start that build's own quindrel, so the program is checked too), and
#     runs all of their tests.
# Fails when a test fails in any build or a sanitizer reports anything. On two cores of the
# build machine (taskset -c 0,1) the whole command took 39 minutes from a clean checkout, its
# ThreadSanitizer tests about 4 of them.
#   BUILD_DIR       the plain build (default: build)
#   SAN_BUILD_DIR   the AddressSanitizer build (default: BUILD_DIR-sanitize)
#   TSAN_BUILD_DIR  the ThreadSanitizer build (default: BUILD_DIR-tsan)
#   SKIP_SANITIZE   set to 1 to run the plain build only (a quick local run)
# Arguments are passed to every ctest run (e.g. -R name).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
san_build=${SAN_BUILD_DIR:-$build-sanitize}
tsan_build=${TSAN_BUILD_DIR:-$build-tsan}
jobs=$(nproc)
"$root/scripts/install_deps.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"
if [ "${SKIP_SANITIZE:-0}" != 1 ]; then
  # The benchmarks are not run by the tests: not built here.
  cmake -S "$root" -B "$san_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUINDREL_SANITIZE=ON \
      -DQUINDREL_BENCH=OFF >/dev/null
  cmake --build "$san_build" -j"$jobs"
  # The option leaves out the wizard and the benchmarks itself.
  cmake -S "$root" -B "$tsan_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUINDREL_TSAN=ON >/dev/null
  cmake --build "$tsan_build" -j"$jobs"
fi

servers=$(mktemp -d /tmp/quindrel-test-servers.XXXXXX)
trap '"$root/scripts/test_servers.sh" stop "$servers"; rm -rf "$servers"' EXIT
"$root/scripts/test_servers.sh" start "$servers"
# shellcheck disable=SC1091
. "$servers/env"

status=0
(cd "$build" && ctest --output-on-failure -j"$jobs" "$@") || status=1
if [ "${SKIP_SANITIZE:-0}" != 1 ]; then
  # Every report ends the process that made it with a failure (the console
  # program started by the tests included): leaks too.
  (
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp
    echo "=== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer ==="
    cd "$san_build" && ctest --output-on-failure -j"$jobs" "$@"
  ) || status=1
  (
    # The first race reported ends its process with a failure, the console program's too.
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    echo "=== the tests of the writer threads and the finisher under ThreadSanitizer ==="
    cd "$tsan_build" && ctest --output-on-failure -j"$jobs" "$@"
  ) || status=1
fi
exit "$status"
