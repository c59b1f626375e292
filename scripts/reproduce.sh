#!/usr/bin/env bash
# Checks that the release is reproducible: clones the checked-out commit twice into two new
# folders, builds the five platform trees in each (library and jar only) one after the other,
# the second under another time zone and umask, packages each with scripts/package.sh, and
# compares the SHA-256 of every file of the two Maven repositories. Exit status 0 when all are
# equal; otherwise the files that differ are listed.
#
# It builds every native library twice (two of the five trees took 30 minutes on a busy
# 2-core machine), so CI does not run it.
#
# Usage: scripts/reproduce.sh [TREE...]   (default: x86_64 aarch64 x86 windows-x86 windows-x86_64)
set -euo pipefail
cd "$(dirname "$0")/.."
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(x86_64 aarch64 x86 windows-x86 windows-x86_64)
declare -A toolchain=([x86_64]="" [aarch64]=cmake/toolchain-aarch64.cmake [x86]=cmake/toolchain-i386.cmake
                      [windows-x86]=cmake/toolchain-mingw32.cmake [windows-x86_64]=cmake/toolchain-mingw64.cmake)
commit=$(git rev-parse HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "reproduce: the work tree has changes; the commit $commit is what is built" >&2
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlen-reproduce.XXXXXXXX")
trap 'rm -rf "$work"' EXIT

build() {  # build NUMBER: clone, build, package; the repository's checksums into $work/sums-N
  local n=$1
  local source=$work/build-$n/vorlen
  git clone -q --no-hardlinks "$(pwd)" "$source"
  git -C "$source" checkout -q "$commit"
  for tree in "${trees[@]}"; do
    local options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLEN_TESTS=OFF -DVORLEN_BENCH=OFF)
    [ -n "${toolchain[$tree]}" ] && options+=(-DCMAKE_TOOLCHAIN_FILE="${toolchain[$tree]}")
    (cd "$source" && cmake -S . -B "build/$tree" "${options[@]}" >/dev/null &&
       cmake --build "build/$tree" -j "$(nproc)" >/dev/null)
  done
  local only=()
  [ ${#trees[@]} -eq 5 ] || only=(--only-built)
  (cd "$source" && scripts/package.sh "${only[@]}" >/dev/null)
  (cd "$source/build/repository" && find . -type f | sort | xargs sha256sum) > "$work/sums-$n"
}

start=$SECONDS
build 1
(umask 027; TZ=Pacific/Chatham build 2)
echo "two builds of $commit (${trees[*]}) in $((SECONDS - start)) s"
if diff "$work/sums-1" "$work/sums-2"; then
  echo "reproducible: all $(wc -l < "$work/sums-1") files of the repository are equal"
  grep -E '\.(jar|zip|pom)$' "$work/sums-1"
else
  echo "NOT reproducible: the files above differ" >&2
  exit 1
fi
