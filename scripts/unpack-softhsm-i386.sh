#!/usr/bin/env bash
# Unpacks SoftHSM2's 32-bit library (package libsofthsm2:i386) into DIR, for the real-module
# suites of the 32-bit build: the package cannot be installed beside the 64-bit one, whose
# paths it shares. The library lands in DIR/usr/lib/softhsm/libsofthsm2.so, where
# cmake/Platforms.cmake expects it (VORLEN_SOFTHSM2_MODULE). Does nothing if it is there.
# Needs the i386 architecture and SoftHSM's i386 dependencies: scripts/install-deps.sh i386.
# Usage: scripts/unpack-softhsm-i386.sh DIR
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: scripts/unpack-softhsm-i386.sh DIR" >&2
  exit 2
fi
dir=$1
library=$dir/usr/lib/softhsm/libsofthsm2.so
if [ -f "$library" ]; then
  exit 0
fi

download=$(mktemp -d)
trap 'rm -rf "$download"' EXIT
# apt-get download writes into the current directory; as root it cannot drop to _apt there.
chmod 777 "$download"
if ! (cd "$download" && apt-get download -qq libsofthsm2:i386); then
  # Package lists older than the archive name a file it no longer has: refresh them once.
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  (cd "$download" && apt-get download -qq libsofthsm2:i386)
fi
mkdir -p "$dir"
dpkg-deb -x "$download"/libsofthsm2_*_i386.deb "$dir"
if [ ! -f "$library" ]; then
  echo "unpack-softhsm-i386: the package holds no $library" >&2
  exit 1
fi
echo "libsofthsm2 (i386) unpacked into $dir"
