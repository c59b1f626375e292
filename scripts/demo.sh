#!/usr/bin/env bash
# The main job: builds the library and runs the demo program against a token.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build demo
cmake -S . -B build/x86_64 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/x86_64 -j "$(nproc 2>/dev/null || echo 2)" --target vorlen_jar
echo "vorlen-pkcs11.jar built: build/x86_64/vorlen-pkcs11.jar"
echo "(the demo program against a real token comes with the real-token work)"
