#!/usr/bin/env bash
# Installs the Debian packages the build, the tests or the demo need, and only those missing.
# Usage: scripts/install-deps.sh [build|test|demo]...   (default: build)
set -euo pipefail

want=(cmake make g++ openjdk-17-jdk-headless libp11-kit-dev libnss3-dev)
for role in "${@:-build}"; do
  case "$role" in
    build) ;;
    test) want+=(junit5) ;;
    demo) ;;
    bench) want+=(softhsm2 libjna-java) ;;
    *) echo "install-deps: unknown role '$role'" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
