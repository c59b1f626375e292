#!/usr/bin/env bash
# Builds everything and runs the whole test suite, at each width the library is built for:
#   64  Linux x86-64: the suite, then the same suite with the native code under
#       AddressSanitizer and UndefinedBehaviorSanitizer
#   32  Linux i386 (g++ -m32, run by the i386 JDK's 32-bit JVM): the same suite and its
#       sanitizer variant; and the 32-bit Windows cross build (MinGW-w64), whose test checks
#       the DLL's exported names (nothing runs on Windows)
# The tests are the same at both widths; they read the width of CK_ULONG from the JVM.
#
# Where this machine cannot execute i386 programs (a kernel without 32-bit emulation), the two
# 32-bit Linux trees are still configured and built, their compile-time layout checks included,
# but none of their tests runs, and the closing lines say so; nothing unrun counts as passed.
# VORLEN_NO_I386_RUN=1 takes that path on a machine that could run them.
#
# Usage: scripts/test.sh [--width 64|32|all] [--no-sanitize] [--only-sanitize]
#   --width          which widths to build and test (default: all)
#   --no-sanitize    skip the sanitizer variants
#   --only-sanitize  run only the sanitizer variants (and the Windows build)
# Build trees go to build/<platform>; VORLEN_BUILD_PREFIX replaces "build/".
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/test.sh [--width 64|32|all] [--no-sanitize] [--only-sanitize]" >&2
  exit 2
}

width=all
plain=1
sanitize=1
while [ $# -gt 0 ]; do
  case "$1" in
    --width)
      [ $# -ge 2 ] || usage
      width=$2
      shift
      ;;
    --width=*) width=${1#--width=} ;;
    --no-sanitize) sanitize=0 ;;
    --only-sanitize) plain=0 ;;
    *) usage ;;
  esac
  shift
done
case "$width" in
  64 | 32 | all) ;;
  *) usage ;;
esac

roles=(build test)
if [ "$width" != 64 ]; then
  roles+=(i386 mingw)
fi
scripts/install-deps.sh "${roles[@]}"

prefix=${VORLEN_BUILD_PREFIX:-build/}
jobs=$(nproc 2>/dev/null || echo 2)
status=0
failed=()
passed_total=0
failed_total=0
not_run_total=0
notes=()  # one line each in the closing summary: what was built but not run, and why

# run_ctest DIR [ctest options...]: runs ctest in DIR and adds its counts to the totals.
run_ctest() {
  local dir=$1 out
  shift
  out=$(mktemp)
  local rc=0
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@") 2>&1 | tee "$out" || rc=1
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$out" | tail -n 1 || true)
  if [ -n "$line" ]; then
    local bad all
    bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
    all=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
    passed_total=$((passed_total + all - bad))
    failed_total=$((failed_total + bad))
  else
    failed_total=$((failed_total + 1))  # ctest did not even report
    rc=1
  fi
  rm -f "$out"
  return $rc
}

# run_variant NAME DIR [cmake options...]: configure, build everything, run every test.
# With run_tests=0 in its environment it builds only, and adds the tree's test count to
# not_run_total.
run_variant() {
  local name=$1 dir=$2
  shift 2
  echo "=== $name ==="
  if cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
     cmake --build "$dir" -j "$jobs"; then
    if [ "${run_tests:-1}" = 0 ]; then
      local count
      count=$(cd "$dir" && ctest -N | sed -nE 's/^Total Tests: ([0-9]+)$/\1/p')
      not_run_total=$((not_run_total + ${count:-0}))
      echo "$name: built; its ${count:-0} tests not run"
      return 0
    fi
    if run_ctest "$dir"; then
      return 0
    fi
  fi
  status=1
  failed+=("$name")
}

# Can this machine execute i386 programs? Compiles and starts an empty one (g++ -m32). Sets
# i386_reason to why not, or leaves it empty.
probe_i386() {
  i386_reason=
  if [ -n "${VORLEN_NO_I386_RUN:-}" ] && [ "${VORLEN_NO_I386_RUN}" != 0 ]; then
    i386_reason="VORLEN_NO_I386_RUN is set"
    return
  fi
  local probe
  probe=$(mktemp -d)
  if ! echo 'int main() { return 0; }' | g++ -m32 -x c++ - -o "$probe/probe" 2>"$probe/log"; then
    i386_reason="g++ -m32 cannot build a program here: $(head -n 1 "$probe/log")"
  elif ! "$probe/probe" 2>/dev/null; then
    i386_reason="this kernel cannot execute i386 programs"
  fi
  rm -rf "$probe"
}

if [ "$width" != 32 ]; then
  if [ "$plain" = 1 ]; then
    run_variant "tests (x86-64)" "${prefix}x86_64"
  fi
  if [ "$sanitize" = 1 ]; then
    run_variant "tests under ASan and UBSan (x86-64)" "${prefix}x86_64-sanitize" -DVORLEN_SANITIZE=ON
  fi
fi

if [ "$width" != 64 ]; then
  # SoftHSM2's i386 library for the real-module suites, shared by both 32-bit trees.
  softhsm_i386=$(pwd)/${prefix}softhsm-i386
  scripts/unpack-softhsm-i386.sh "$softhsm_i386"
  i386=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i386.cmake -DVORLEN_SOFTHSM_I386_ROOT="$softhsm_i386")
  probe_i386
  run_tests=1
  if [ -n "$i386_reason" ]; then
    run_tests=0
    echo "32-bit Linux: the trees are built but no test runs: $i386_reason"
  fi
  not_run_before=$not_run_total
  if [ "$plain" = 1 ]; then
    run_tests=$run_tests run_variant "tests (x86, 32-bit)" "${prefix}x86" "${i386[@]}"
  fi
  if [ "$sanitize" = 1 ]; then
    run_tests=$run_tests run_variant "tests under ASan and UBSan (x86, 32-bit)" "${prefix}x86-sanitize" "${i386[@]}" -DVORLEN_SANITIZE=ON
  fi
  if [ -n "$i386_reason" ]; then
    notes+=("32-bit Linux: built, not run ($((not_run_total - not_run_before)) tests): $i386_reason")
  fi

  # Windows: the library and the jar only (no test module, nothing to run); the one test reads
  # the DLL's export table.
  echo "=== Windows build (x86, 32-bit) ==="
  dir=${prefix}windows-x86
  if cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
       -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake -DVORLEN_BENCH=OFF >/dev/null &&
     cmake --build "$dir" -j "$jobs" --target vorlen_jar &&
     run_ctest "$dir" -L windows; then
    :
  else
    status=1
    failed+=("Windows build (x86, 32-bit)")
  fi
fi

if [ "$status" != 0 ]; then
  echo "FAILED: ${failed[*]}" >&2
fi
for note in "${notes[@]}"; do
  echo "$note"
done
# One closing line over every variant's ctest run (tests that did not run are in neither count).
echo "total: $passed_total passed, $failed_total failed"
exit $status
