#!/usr/bin/env bash
# The benchmark: this library beside the module's own cost measured in the same process (the
# benchmark's JNI helper calls the module in a native loop), a JNA direct-mapped peer and, on a
# JDK 22 or later, an FFM peer; on a module whose entries return at once and on SoftHSM2.
# It runs on the system's java and, when one was found at build time, on a JDK 22+ as well.
# Usage: scripts/bench.sh [--no-softhsm]
set -euo pipefail
cd "$(dirname "$0")/.."

softhsm=1
[ "${1:-}" = "--no-softhsm" ] && softhsm=0

scripts/install-deps.sh build bench
dir=build/bench
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DVORLEN_TESTS=OFF >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" --target vorlen_bench

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
args=("$dir/bench/libvorlenbenchmodule.so")
if [ "$softhsm" = 1 ]; then
  mkdir -p "$work/tokens"
  printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" > "$work/softhsm2.conf"
  export SOFTHSM2_CONF="$work/softhsm2.conf"
  softhsm2-util --init-token --free --label bench --pin 1234 --so-pin 12345678 >/dev/null
  args+=(/usr/lib/softhsm/libsofthsm2.so 1234)
fi
classpath="$dir/vorlen-bench.jar:$dir/vorlen-pkcs11.jar:/usr/share/java/jna.jar"
loop="-Dvorlen.bench.loop=$PWD/$dir/bench/libvorlenbenchloop.so"

echo "uptime: $(uptime)"
echo
java -Xss4m "$loop" -cp "$classpath" zandrop.tesk.pkcs11.vorlen.bench.Bench "${args[@]}"
echo
if [ -f "$dir/bench/ffm-java.txt" ] && [ -f "$dir/vorlen-bench-ffm.jar" ]; then
  ffm_java=$(cat "$dir/bench/ffm-java.txt")
  "$ffm_java" -Xss4m --enable-native-access=ALL-UNNAMED "$loop" -cp "$classpath:$dir/vorlen-bench-ffm.jar" \
    zandrop.tesk.pkcs11.vorlen.bench.Bench "${args[@]}"
else
  echo "FFM peer: no JDK 22 or later was found at build time (set -DVORLEN_FFM_JDK=<jdk home>); not measured"
fi
echo
echo "uptime: $(uptime)"
