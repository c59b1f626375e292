#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the normal build, then the same suite with
# the native code under AddressSanitizer and UndefinedBehaviorSanitizer.
# Usage: scripts/test.sh [--no-sanitize] [--only-sanitize]
set -euo pipefail
cd "$(dirname "$0")/.."

plain=1
sanitize=1
for arg in "$@"; do
  case "$arg" in
    --no-sanitize) sanitize=0 ;;
    --only-sanitize) plain=0 ;;
    *) echo "usage: scripts/test.sh [--no-sanitize] [--only-sanitize]" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh build test

jobs=$(nproc 2>/dev/null || echo 2)
status=0
run_variant() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs") || status=1
}

if [ "$plain" = 1 ]; then
  echo "=== tests (x86-64) ==="
  run_variant build/x86_64
fi
if [ "$sanitize" = 1 ]; then
  echo "=== tests under ASan and UBSan (x86-64) ==="
  run_variant build/x86_64-sanitize -DVORLEN_SANITIZE=ON
fi
exit $status
