#!/usr/bin/env bash
# Builds this example with Maven against the vorlen-pkcs11 provider of a local Maven repository and
# runs it on a new SoftHSM2 token, on the class path and on the module path.
#
# Usage: examples/maven-consumer/run.sh JAVA_HOME [MAVEN_LOCAL_REPOSITORY]
#   The output must hold no warning: on JDK 24 and later native access is granted by name.
set -euo pipefail
java_home=$1
cd "$(dirname "$0")"
maven=(mvn -B -q -Dvorlen.version="$(head -n 1 ../../VERSION)")
[ -n "${2:-}" ] && maven+=(-Dmaven.repo.local="$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Maven's own output only when it fails (Maven 3.8 itself warns about sun.misc.Unsafe on JDK 24
# and later: the check for warnings below is about the program's run).
if ! JAVA_HOME=$java_home "${maven[@]}" package > "$work/maven.log" 2>&1; then
  cat "$work/maven.log"
  exit 1
fi
mkdir "$work/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" > "$work/softhsm2.conf"
export SOFTHSM2_CONF=$work/softhsm2.conf
softhsm2-util --init-token --free --label consumer --pin 1234 --so-pin 5678 >/dev/null
module=/usr/lib/softhsm/libsofthsm2.so

java=$java_home/bin/java
access_cp=() access_mp=()
if "$java" -version 2>&1 | grep -qE 'version "(2[2-9]|[3-9][0-9])'; then
  access_cp=(--enable-native-access=ALL-UNNAMED)
  access_mp=(--enable-native-access=zandrop.tesk.pkcs11.vorlen)
fi
status=0
for way in class-path module-path; do
  if [ "$way" = class-path ]; then
    command=("$java" "${access_cp[@]}" -cp "target/classes:target/lib/*" example.consumer.SignWithToken)
  else
    command=("$java" "${access_mp[@]}" -p "target/classes:target/lib" -m example.consumer/example.consumer.SignWithToken)
  fi
  output=$("${command[@]}" "$module" 1234 2>&1) || status=1
  echo "$way: $output"
  if ! echo "$output" | grep -q "on the ${way/-/ }): .*, valid$"; then
    echo "$way: not run as it should be" >&2
    status=1
  fi
  if echo "$output" | grep -q WARNING; then
    echo "$way: a warning was printed" >&2
    status=1
  fi
done
exit $status
