#!/usr/bin/env bash
# The provider's benchmark (bench/provider/ProviderBench.java) on a new SoftHSM2 token: signatures
# per second through the provider against PKCS11Impl directly, and with 1, 2 and 8 threads.
# Usage: bench/provider/run.sh [BUILD_TREE (build/x86_64)] [SECONDS PER ROUND (2)]
set -euo pipefail
cd "$(dirname "$0")/../.."
tree=${1:-build/x86_64}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" > "$work/softhsm2.conf"
export SOFTHSM2_CONF=$work/softhsm2.conf
softhsm2-util --init-token --free --label bench --pin 1234 --so-pin 12345678 >/dev/null
java -cp "$tree/vorlen-pkcs11.jar:$tree/vorlen-pkcs11-provider.jar" bench/provider/ProviderBench.java \
  /usr/lib/softhsm/libsofthsm2.so bench 1234 "${2:-2}"
