#!/usr/bin/env bash
# The main job: builds the library and the demo program, then runs the program's `road`: the road
# of one request (connect, initialise, open a session, log in, find a key by its label, sign,
# verify, close, finalise), each step printed as it happens.
#
# Without arguments it runs `road` on a SoftHSM2 demo token that the program creates on first
# use in ~/.local/share/vorlen-demo (its own folder, with its own softhsm2.conf). Arguments are
# handed to the program instead, for example:
#   scripts/demo.sh info
#   scripts/demo.sh keygen --type ec --label my-ec-key
#   scripts/demo.sh sign --label my-ec-key --data hello
#   scripts/demo.sh road --module /usr/lib/softhsm/libsofthsm2.so --pin 1234 --label my-key
#   scripts/demo.sh --help
# The build tree is build/demo; VORLEN_BUILD_PREFIX replaces "build/".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build demo
dir=${VORLEN_BUILD_PREFIX:-build/}demo
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLEN_TESTS=OFF -DVORLEN_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" --target vorlen_demo_jar >/dev/null
if [ $# -eq 0 ]; then
  set -- road
fi
exec java -jar "$dir/vorlen-demo.jar" "$@"
