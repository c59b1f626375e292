#!/usr/bin/env bash
# Installs the Debian packages the build, the tests or the demo need, and only those missing.
# Usage: scripts/install-deps.sh [build|test|demo|bench|i386|mingw|mingw64|aarch64|maven|coverage]...
#          (default: build)
#   i386     the 32-bit Linux build and its tests: g++ -m32, the i386 JDK, and the i386 PKCS#11
#            modules of the real-module suites with what SoftHSM2 needs to run (its library
#            itself is unpacked into the build by scripts/unpack-softhsm.sh)
#   mingw    the 32-bit Windows cross build
#   mingw64  the Windows x64 cross build
#   aarch64  the Linux aarch64 cross build and its tests: clang and lld with the arm64 C and C++
#            libraries (not g++-aarch64-linux-gnu, which cannot be installed beside
#            g++-multilib), the arm64 JDK, qemu-user (qemu-aarch64 runs the arm64 JVM), the arm64
#            PKCS#11 modules and what SoftHSM2 needs (unpacked as for i386)
#   maven    the Maven example (examples/maven-consumer) and scripts/package.sh's checks: Maven,
#            SoftHSM2, the MinGW-w64 and LLVM tools that strip the libraries
#   coverage scripts/coverage.sh: gcovr
set -euo pipefail

want=(cmake make g++ openjdk-17-jdk-headless libp11-kit-dev libnss3-dev)
foreign=()  # Debian architectures the :ARCH packages need
for role in "${@:-build}"; do
  case "$role" in
    build) ;;
    # The real-module suites: SoftHSM2, NSS's softoken, p11-kit's trust module with the system's
    # certificates and its `trust` tool, OpenSC's pkcs11-tool for the cross-check, OpenSC's
    # pkcs11-spy.so (opensc-pkcs11) between the library and a module, p11-kit's server (p11-kit)
    # and its client module p11-kit-client.so (p11-kit-modules) for tokens over a socket, GnuTLS's
    # p11tool for the PKCS#11 URIs (libp11-kit-dev, of the build, gives the URI tests libp11-kit),
    # openssl and curl as the TLS peers of the JCA provider's tests.
    test) want+=(junit5 softhsm2 libnss3 p11-kit p11-kit-modules ca-certificates opensc opensc-pkcs11 gnutls-bin openssl curl) ;;
    demo) want+=(softhsm2) ;;
    bench) want+=(softhsm2 libjna-java) ;;
    i386)
      foreign+=(i386)
      want+=(g++-multilib openjdk-17-jdk-headless:i386 libnss3:i386 p11-kit-modules:i386
             libssl3:i386 libstdc++6:i386 libgcc-s1:i386)
      ;;
    mingw) want+=(g++-mingw-w64-i686) ;;
    mingw64) want+=(g++-mingw-w64-x86-64) ;;
    aarch64)
      foreign+=(arm64)
      want+=(clang lld libc6-dev:arm64 libstdc++-12-dev:arm64 qemu-user openjdk-17-jdk-headless:arm64 libnss3:arm64
             p11-kit-modules:arm64 libssl3:arm64 libstdc++6:arm64 libgcc-s1:arm64)
      ;;
    maven) want+=(maven softhsm2 llvm) ;;
    coverage) want+=(gcovr) ;;
    *) echo "install-deps: unknown role '$role'" >&2; exit 2 ;;
  esac
done

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi

# The :i386 and :arm64 packages need the architecture, and package lists that know it.
update_needed=0
for arch in "${foreign[@]}"; do
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    echo "Adding the $arch architecture"
    $SUDO dpkg --add-architecture "$arch"
    update_needed=1
  fi
done

missing=()
for package in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ] && [ "$update_needed" = 0 ]; then
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
