#!/usr/bin/env bash
# The test command: installs what is missing, builds, starts throwaway servers,
# runs every test, stops the servers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/install_deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
servers=$(mktemp -d /tmp/quindrel-test-servers.XXXXXX)
trap '"$root/scripts/test_servers.sh" stop "$servers"; rm -rf "$servers"' EXIT
"$root/scripts/test_servers.sh" start "$servers"
# shellcheck disable=SC1091
. "$servers/env"
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
