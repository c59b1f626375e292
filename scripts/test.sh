#!/usr/bin/env bash
# Builds everything and runs the whole test suite on each platform the library is built for:
#   x86-64   Linux x86-64: the suite on JDK 17, the same suite on JDK 25 where one is installed
#            (JAVA25_HOME names it, else the system's JVM folder is searched), and the suite with
#            the native code under AddressSanitizer and UndefinedBehaviorSanitizer; and the
#            Windows x64 cross build (MinGW-w64), checked as the 32-bit Windows one
#   32-bit   Linux i386 (g++ -m32, run by the i386 JDK's 32-bit JVM): the same suite and its
#            sanitizer variant; and the 32-bit Windows cross build (MinGW-w64), whose tests
#            check the DLL's exported names and the jar (nothing runs on Windows)
#   aarch64  Linux on ARM, cross-built (clang for aarch64), the same suite run by the arm64
#            JDK's JVM under qemu-aarch64 (without the sanitizers)
# The tests are the same everywhere; they read the width of CK_ULONG from the JVM.
#
# A platform whose programs this machine cannot execute (a kernel without 32-bit emulation; no
# working qemu-aarch64) is still configured and built, its compile-time layout checks included,
# and only its tests labelled "host" (which run on the host's JVM) run; a closing line says so
# and why. Nothing unrun counts as passed. VORLEN_NO_I386_RUN=1 takes that path for i386 on a
# machine that could run it, VORLEN_NO_AARCH64_RUN=1 for aarch64.
#
# Usage: scripts/test.sh [--width 64|32|aarch64|all] [--no-sanitize] [--only-sanitize]
#                        [--no-aarch64] [--no-jdk25]
#   --width          which platforms: 64 = x86-64 (with JDK 25) and Windows x64, 32 = i386
#                    and 32-bit Windows,
#                    aarch64, or all (the default)
#   --no-sanitize    skip the sanitizer variants
#   --only-sanitize  run only the sanitizer variants (and the Windows build)
#   --no-aarch64     leave out aarch64 (with --width all)
#   --no-jdk25       leave out the JDK 25 run
# Build trees go to build/<platform>; VORLEN_BUILD_PREFIX replaces "build/". The closing line is
# "total: N passed, N failed" over every ctest run.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/test.sh [--width 64|32|aarch64|all] [--no-sanitize] [--only-sanitize] [--no-aarch64] [--no-jdk25]" >&2
  exit 2
}

width=all
plain=1
sanitize=1
aarch64=1
jdk25_wanted=1
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
    --no-aarch64) aarch64=0 ;;
    --no-jdk25) jdk25_wanted=0 ;;
    *) usage ;;
  esac
  shift
done
case "$width" in
  64 | 32 | aarch64 | all) ;;
  *) usage ;;
esac
want_x86_64=0; want_32=0; want_aarch64=0
case "$width" in
  64) want_x86_64=1 ;;
  32) want_32=1 ;;
  aarch64) want_aarch64=1 ;;
  all) want_x86_64=1; want_32=1; want_aarch64=$aarch64 ;;
esac
[ "$plain" = 1 ] || want_aarch64=0  # aarch64 runs without the sanitizers only

notes=()  # one line each in the closing summary: what was left out or not run, and why
if [ "$(uname -m)" != x86_64 ]; then
  # The cross builds expect an x86-64 Debian host; elsewhere the native build alone runs.
  if [ "$want_32" = 1 ] || [ "$want_aarch64" = 1 ]; then
    notes+=("cross builds (i386, Windows, aarch64): not built: this script cross-builds from x86-64 only, and this machine is $(uname -m)")
  fi
  want_32=0; want_aarch64=0
fi

roles=(build test)
[ "$want_x86_64" = 1 ] && [ "$plain" = 1 ] && roles+=(mingw64)
[ "$want_32" = 1 ] && roles+=(i386 mingw)
[ "$want_aarch64" = 1 ] && roles+=(aarch64)
scripts/install-deps.sh "${roles[@]}"

prefix=${VORLEN_BUILD_PREFIX:-build/}
jobs=$(nproc 2>/dev/null || echo 2)
status=0
failed=()
passed_total=0
failed_total=0
summary=()  # one line per ctest run: what ran, its counts and its time

# run_ctest NAME DIR [ctest options...]: runs ctest in DIR and adds its counts to the totals.
run_ctest() {
  local name=$1 dir=$2 out
  shift 2
  out=$(mktemp)
  local rc=0 start=$SECONDS
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@") 2>&1 | tee "$out" || rc=1
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$out" | tail -n 1 || true)
  if [ -n "$line" ]; then
    local bad all
    bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
    all=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
    passed_total=$((passed_total + all - bad))
    failed_total=$((failed_total + bad))
    summary+=("$name: $((all - bad)) of $all tests passed ($((SECONDS - start)) s)")
  else
    failed_total=$((failed_total + 1))  # ctest did not even report
    summary+=("$name: ctest reported no result")
    rc=1
  fi
  rm -f "$out"
  return $rc
}

# fail NAME: records a failed step.
fail() {
  status=1
  failed+=("$1")
}

# build_tree NAME DIR [cmake options...]: configure and build everything.
build_tree() {
  local name=$1 dir=$2
  shift 2
  echo "=== $name ==="
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
    cmake --build "$dir" -j "$jobs"
}

# run_variant NAME DIR [cmake options...]: configure, build everything, run every test.
# With run_tests=0 in its environment it runs only the tests labelled "host" and says how many
# others it left out: why is the caller's note.
run_variant() {
  local name=$1 dir=$2
  shift 2
  if ! build_tree "$name" "$dir" "$@"; then
    fail "$name (build)"
    return
  fi
  if [ "${run_tests:-1}" = 0 ]; then
    local count
    count=$(cd "$dir" && ctest -N -LE host | sed -nE 's/^Total Tests: ([0-9]+)$/\1/p')
    not_run=$((not_run + ${count:-0}))
    echo "$name: built; its ${count:-0} tests not run; those labelled host run"
    run_ctest "$name, host tests only" "$dir" -L host || fail "$name"
    return
  fi
  run_ctest "$name" "$dir" "${ctest_options[@]}" || fail "$name"
  # What the tree's configuration found it cannot run here (cmake/Tests.cmake).
  if [ -s "$dir/not-run.txt" ]; then
    while IFS= read -r line; do
      notes+=("$name: $line")
    done < "$dir/not-run.txt"
  fi
}

# can_run DESCRIPTION COMPILER [LAUNCHER...]: builds an empty program with COMPILER and starts it
# (through LAUNCHER); prints why not when it cannot run, nothing when it can.
can_run() {
  local description=$1 compiler=$2
  shift 2
  local probe
  probe=$(mktemp -d)
  # shellcheck disable=SC2086
  if ! echo 'int main() { return 0; }' | $compiler -x c++ - -o "$probe/probe" 2>"$probe/log"; then
    echo "$compiler cannot build a program here: $(head -n 1 "$probe/log")"
  elif ! "$@" "$probe/probe" 2>"$probe/log"; then
    echo "this machine cannot execute $description programs: $(head -n 1 "$probe/log" | sed -E 's/.*: //')"
  fi
  rm -rf "$probe"
}

# forced VARIABLE: true when the environment variable is set to anything but 0.
forced() {
  local value=${!1:-}
  [ -n "$value" ] && [ "$value" != 0 ]
}

# windows_tree NAME DIR TOOLCHAIN: a Windows cross build, the library and the jar only (no test
# module, nothing to run); its tests read the DLL's export table and the jar.
windows_tree() {
  local name=$1 dir=$2 toolchain=$3
  if build_tree "$name" "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVORLEN_BENCH=OFF; then
    run_ctest "$name" "$dir" -L host || fail "$name"
  else
    fail "$name (build)"
  fi
}

# ---- x86-64, and JDK 25 on its tree ----
ctest_options=()
if [ "$want_x86_64" = 1 ]; then
  native_tree=${prefix}$(uname -m)
  jdk25=
  if [ "$plain" = 1 ] && [ "$jdk25_wanted" = 1 ]; then
    if [ -n "${JAVA25_HOME:-}" ]; then
      candidates=("$JAVA25_HOME")
    else
      candidates=(/usr/lib/jvm/*25*)
    fi
    for candidate in "${candidates[@]}"; do
      if [ -x "$candidate/bin/java" ] &&
         "$candidate/bin/java" -version 2>&1 | grep -qE 'version "25[".]'; then
        jdk25=$candidate
        break
      fi
    done
    if [ -z "$jdk25" ]; then
      if [ -n "${JAVA25_HOME:-}" ]; then
        notes+=("JDK 25: not run: JAVA25_HOME=$JAVA25_HOME is no JDK 25")
        fail "JDK 25 (JAVA25_HOME)"
      else
        notes+=("JDK 25: not run: none installed in /usr/lib/jvm (JAVA25_HOME names one elsewhere)")
      fi
    fi
  fi
  if [ "$plain" = 1 ]; then
    # The JDK 25 run shares this tree (its tests are labelled jdk25): one native build for both.
    ctest_options=(-LE jdk25)
    run_variant "x86-64, JDK 17" "$native_tree" -DVORLEN_JDK25_HOME="$jdk25"
    ctest_options=()
    if [ -n "$jdk25" ] && [ -f "$native_tree/CTestTestfile.cmake" ]; then
      echo "=== x86-64, JDK 25 ($jdk25) ==="
      run_ctest "x86-64, JDK 25" "$native_tree" -L jdk25 || fail "x86-64, JDK 25"
    fi
  fi
  if [ "$sanitize" = 1 ]; then
    run_variant "x86-64 under ASan and UBSan" "${native_tree}-sanitize" -DVORLEN_SANITIZE=ON
  fi
  if [ "$plain" = 1 ]; then
    # Windows x64: the DLL and the jar, checked as the 32-bit Windows build is (below).
    windows_tree "Windows x64, build and host checks" "${prefix}windows-x86_64" cmake/toolchain-mingw64.cmake
  fi
fi

# ---- 32 bits: Linux i386 and Windows ----
if [ "$want_32" = 1 ]; then
  # SoftHSM2's i386 library for the real-module suites, shared by both 32-bit trees.
  softhsm_i386=$(pwd)/${prefix}softhsm-i386
  scripts/unpack-softhsm.sh i386 "$softhsm_i386"
  i386=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i386.cmake -DVORLEN_SOFTHSM_ROOT="$softhsm_i386")
  if forced VORLEN_NO_I386_RUN; then
    reason="VORLEN_NO_I386_RUN is set"
  else
    reason=$(can_run i386 "g++ -m32")
  fi
  run_tests=1
  [ -n "$reason" ] && run_tests=0
  not_run=0
  if [ "$plain" = 1 ]; then
    run_tests=$run_tests run_variant "x86 (32-bit)" "${prefix}x86" "${i386[@]}"
  fi
  if [ "$sanitize" = 1 ]; then
    run_tests=$run_tests run_variant "x86 (32-bit) under ASan and UBSan" "${prefix}x86-sanitize" "${i386[@]}" -DVORLEN_SANITIZE=ON
  fi
  if [ -n "$reason" ]; then
    notes+=("32-bit Linux: built, not run ($not_run tests): $reason")
  fi

  windows_tree "Windows x86 (32-bit), build and host checks" "${prefix}windows-x86" cmake/toolchain-mingw32.cmake
fi

# ---- aarch64, under qemu-aarch64 where this machine is no arm64 one ----
if [ "$want_aarch64" = 1 ]; then
  softhsm_arm64=$(pwd)/${prefix}softhsm-arm64
  scripts/unpack-softhsm.sh arm64 "$softhsm_arm64"
  if forced VORLEN_NO_AARCH64_RUN; then
    reason="VORLEN_NO_AARCH64_RUN is set"
  else
    reason=$(can_run aarch64 "clang++ --target=aarch64-linux-gnu -fuse-ld=lld" qemu-aarch64 -L /)
  fi
  run_tests=1
  [ -n "$reason" ] && run_tests=0
  not_run=0
  run_tests=$run_tests run_variant "aarch64 (qemu-aarch64)" "${prefix}aarch64" \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake -DVORLEN_SOFTHSM_ROOT="$softhsm_arm64"
  if [ -n "$reason" ]; then
    notes+=("Linux aarch64: built, not run ($not_run tests): $reason")
  fi
fi

# ---- the release: the one jar of every platform built here, its Maven repository, and the
# Maven example that uses it on JDK 17 and JDK 25, on the class path and the module path ----
# step NAME COMMAND...: one counted step of its own (a passed or failed test in the totals).
step() {
  local name=$1 start=$SECONDS
  shift
  echo "=== $name ==="
  if "$@"; then
    passed_total=$((passed_total + 1))
    summary+=("$name: passed ($((SECONDS - start)) s)")
  else
    failed_total=$((failed_total + 1))
    summary+=("$name: FAILED ($((SECONDS - start)) s)")
    fail "$name"
  fi
}
if [ "$want_x86_64" = 1 ] && [ "$plain" = 1 ]; then
  scripts/install-deps.sh maven
  # Every platform's library when this run built them all; else those there are, said so.
  package_options=()
  if [ "$want_32" != 1 ] || [ "$want_aarch64" != 1 ]; then
    package_options=(--only-built)
    notes+=("package: only the platforms built in this run or before (--width all builds all five)")
  fi
  step "package (one jar, Maven repository, header check)" scripts/package.sh "${package_options[@]}"
  if [ -d "${prefix}repository" ]; then
    # A local Maven repository of the run's own: what the user's ~/.m2 gets from README's command.
    m2=$(pwd)/${prefix}m2
    mkdir -p "$m2"
    cp -r "${prefix}repository/." "$m2/"
    jdk17=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
    step "Maven example, JDK 17" examples/maven-consumer/run.sh "$jdk17" "$m2"
    if [ -n "${jdk25:-}" ]; then
      step "Maven example, JDK 25" examples/maven-consumer/run.sh "$jdk25" "$m2"
    fi
  fi
fi

echo
echo "=== summary ==="
for line in "${summary[@]}" "${notes[@]}"; do
  echo "$line"
done
if [ "$status" != 0 ]; then
  echo "FAILED: ${failed[*]}" >&2
fi
# One closing line over every ctest run (tests that did not run are in neither count).
echo "total: $passed_total passed, $failed_total failed"
exit $status
