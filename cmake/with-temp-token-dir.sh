#!/usr/bin/env bash
# Runs one test command with a fresh temporary folder of its own, removed afterwards:
#   VORLEN_TEST_DIR  the folder; tests keep their databases and files in it
#   SOFTHSM2_CONF    a SoftHSM2 configuration whose token folder (empty) lies in it
#   HOME             the folder too, so that no tool reads or writes the user's own files
#   PKCS11SPY_OUTPUT the log of OpenSC's pkcs11-spy.so in it, when PKCS11SPY is set (the
#                    module the spy loads)
#   P11_KIT_SERVER_ADDRESS  a socket in it, where p11-kit-client.so looks for its server (a
#                    test that uses the client starts the server on that socket)
# Usage: with-temp-token-dir.sh COMMAND [ARGUMENT]...
set -u
dir=$(mktemp -d "${TMPDIR:-/tmp}/vorlen-real.XXXXXXXX") || exit 1
cleanup() { rm -rf "$dir"; }
trap cleanup EXIT
trap 'exit 143' TERM INT HUP
mkdir "$dir/tokens" "$dir/home"
cat > "$dir/softhsm2.conf" <<CONF
directories.tokendir = $dir/tokens
objectstore.backend = file
log.level = ERROR
slots.removable = false
CONF
export VORLEN_TEST_DIR="$dir" SOFTHSM2_CONF="$dir/softhsm2.conf" HOME="$dir/home"
export P11_KIT_SERVER_ADDRESS="unix:path=$dir/p11-kit-server.sock"
if [ -n "${PKCS11SPY:-}" ]; then
  export PKCS11SPY_OUTPUT="$dir/pkcs11-spy.log"
fi
unset XDG_DATA_HOME XDG_CONFIG_HOME
"$@"
status=$?
exit $status
