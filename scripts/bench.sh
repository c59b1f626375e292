#!/usr/bin/env bash
# The benchmark: this library beside the direct C++ call (the physical limit) and a JNA
# direct-mapped peer, on a module whose entries return at once and on SoftHSM2.
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
direct_args=("$dir/bench/libvorlenbenchmodule.so")
java_args=("$dir/bench/libvorlenbenchmodule.so" "$work/direct.txt")
if [ "$softhsm" = 1 ]; then
  mkdir -p "$work/tokens"
  printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" > "$work/softhsm2.conf"
  export SOFTHSM2_CONF="$work/softhsm2.conf"
  softhsm2-util --init-token --free --label bench --pin 1234 --so-pin 12345678 >/dev/null
  direct_args+=(/usr/lib/softhsm/libsofthsm2.so 1234)
  java_args+=(/usr/lib/softhsm/libsofthsm2.so 1234)
fi

echo "Direct C++ calls ..." >&2
"$dir/bench/vorlen_bench_direct" "${direct_args[@]}" > "$work/direct.txt"
echo "Java: this library and the JNA peer ..." >&2
java -Xss4m -cp "$dir/vorlen-bench.jar:$dir/vorlen-pkcs11.jar:/usr/share/java/jna.jar" \
  zandrop.tesk.pkcs11.vorlen.bench.Bench "${java_args[@]}"
