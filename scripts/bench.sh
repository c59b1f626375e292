#!/usr/bin/env bash
# The benchmark: this library beside the module's own cost measured in the same process (the
# benchmark's JNI helper calls the module in a native loop), a JNA direct-mapped peer and, on a
# JDK 22 or later, an FFM peer; on a module whose entries return at once and on SoftHSM2.
# It runs on the system's java and, when one was found at build time, on a JDK 22+ as well.
# With --jmh the same workloads run as JMH benchmarks instead (bench/jmh, built with Maven, JMH
# from Maven Central), each figure with JMH's error, then as ratios to the module's own loop
# (bench/jmh/Ratios.java); JMH's results go to build/bench/jmh-results.csv. With SoftHSM2 they
# include the provider's signatures (ProviderJmh: provider, session layer and PKCS11Impl).
# With --provider it measures the JCA provider instead (ProviderBench, on SoftHSM2 only): its
# signatures against PKCS11Impl's, with 1, 2 and 8 threads, and TLS handshakes with the key on
# the token against the key in a JDK key store.
# Usage: scripts/bench.sh [--no-softhsm] [--jmh] [--provider]
set -euo pipefail
cd "$(dirname "$0")/.."

softhsm=1
jmh=0
provider=0
for option in "$@"; do
  case "$option" in
    --no-softhsm) softhsm=0 ;;
    --jmh) jmh=1 ;;
    --provider) provider=1 ;;
    *) echo "usage: scripts/bench.sh [--no-softhsm] [--jmh] [--provider]" >&2; exit 2 ;;
  esac
done

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

if [ "$provider" = 1 ]; then
  [ "$softhsm" = 1 ] || { echo "--provider measures on SoftHSM2: drop --no-softhsm" >&2; exit 2; }
  echo "uptime: $(uptime)"
  java -cp "$dir/vorlen-bench.jar:$dir/vorlen-pkcs11.jar:$dir/vorlen-pkcs11-provider.jar" \
    zandrop.tesk.pkcs11.vorlen.bench.ProviderBench "${args[1]}" bench "${args[2]}"
  echo "uptime: $(uptime)"
  exit 0
fi

if [ "$jmh" = 1 ]; then
  scripts/install-deps.sh maven
  mvn -B -q -f bench/jmh/pom.xml -Dvorlen.bench.jar="$PWD/$dir/vorlen-bench.jar" \
    -Dvorlen.jar="$PWD/$dir/vorlen-pkcs11.jar" -Dvorlen.provider.jar="$PWD/$dir/vorlen-pkcs11-provider.jar" package > "$work/maven.log" 2>&1 || { cat "$work/maven.log"; exit 1; }
  jmh_cp="bench/jmh/target/classes:$(cat bench/jmh/target/jmh-classpath.txt):$classpath:$dir/vorlen-pkcs11-provider.jar"
  benchmarks=(OverheadJmh)
  properties=(-Dvorlen.bench.module="$PWD/${args[0]}")
  if [ "$softhsm" = 1 ]; then
    benchmarks+=(RealWorkJmh ProviderJmh)
    properties+=(-Dvorlen.bench.softhsm="${args[1]}" -Dvorlen.bench.pin="${args[2]}" -Dvorlen.bench.label=bench)
  fi
  echo "uptime: $(uptime)"
  java -cp "$jmh_cp" org.openjdk.jmh.Main -jvmArgsAppend "-Xss4m $loop ${properties[*]}" \
    -rf csv -rff "$dir/jmh-results.csv" "${benchmarks[@]}"
  echo "uptime: $(uptime)"
  java bench/jmh/Ratios.java "$dir/jmh-results.csv"
  exit 0
fi

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
