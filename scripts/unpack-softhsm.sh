#!/usr/bin/env bash
# Unpacks SoftHSM2's library for another Debian architecture (package libsofthsm2:ARCH, ARCH
# i386 or arm64) into DIR, for the real-module suites of the cross builds: the package cannot be
# installed beside the machine's own, whose paths it shares. The library lands in
# DIR/usr/lib/softhsm/libsofthsm2.so, where cmake/Platforms.cmake expects it
# (VORLEN_SOFTHSM2_MODULE). Does nothing if it is there.
# Needs the architecture and SoftHSM's dependencies for it: scripts/install-deps.sh i386|aarch64.
# Usage: scripts/unpack-softhsm.sh ARCH DIR
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: scripts/unpack-softhsm.sh ARCH DIR" >&2
  exit 2
fi
arch=$1
dir=$2
library=$dir/usr/lib/softhsm/libsofthsm2.so
if [ -f "$library" ]; then
  exit 0
fi

download=$(mktemp -d)
trap 'rm -rf "$download"' EXIT
# apt-get download writes into the current directory; as root it cannot drop to _apt there.
chmod 777 "$download"
if ! (cd "$download" && apt-get download -qq "libsofthsm2:$arch"); then
  # Package lists older than the archive name a file it no longer has: refresh them once.
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  (cd "$download" && apt-get download -qq "libsofthsm2:$arch")
fi
mkdir -p "$dir"
dpkg-deb -x "$download"/libsofthsm2_*_"$arch".deb "$dir"
if [ ! -f "$library" ]; then
  echo "unpack-softhsm: the package holds no $library" >&2
  exit 1
fi
echo "libsofthsm2 ($arch) unpacked into $dir"
