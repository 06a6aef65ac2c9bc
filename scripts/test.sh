#!/usr/bin/env bash
# Installs what is missing, builds, starts a private Redis and RabbitMQ on loopback, runs every
# test, and stops what it started. --sanitize also runs all tests in an ASan+UBSan build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
sanitize=0
[ "${1:-}" = "--sanitize" ] && sanitize=1

scripts/deps.sh
jobs=$(nproc)

build() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

build build
[ $sanitize -eq 1 ] && build build-asan -DGORVEX_SANITIZE=ON

state=$(mktemp -d /tmp/gorvex-test.XXXXXX)
cleanup() { scripts/test-services.sh stop "$state" || true; rm -rf "$state"; }
trap cleanup EXIT
scripts/test-services.sh start "$state"
# shellcheck disable=SC1091
. "$state/env"

status=0
(cd build && ctest --output-on-failure --timeout 600) || status=1
if [ $sanitize -eq 1 ]; then
  # The test programs keep Qt and fixture objects until exit, so they are not checked for
  # leaks; the gateway processes the integration tests start and stop (SIGTERM, exit 0) are,
  # with third-party start-up allocations suppressed.
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export GORVEX_GATEWAY_ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  (cd build-asan && ctest --output-on-failure --timeout 900) || status=1
fi
exit $status
