#!/usr/bin/env bash
# Line and branch coverage of the native library (native/) by the whole x86-64 test suite.
# Builds build/coverage (Debug, gcc --coverage, no benchmarks), runs every test there with
# ctest, then prints with gcovr: the totals for native/, and the units with the lowest line
# coverage. The counters are updated atomically (-fprofile-update=atomic): the library runs on
# many threads at once, and plain counters lose updates there, which gcov then prints as
# negative branch counts that gcovr cannot read. Branches that only C++ exception handling
# creates and those gcc marks unreachable are
# left out of the branch figure (gcovr --exclude-throw-branches --exclude-unreachable-branches).
# The full per-file table goes to build/coverage/coverage.txt.
#
# Usage: scripts/coverage.sh [--least N]   (N units listed, default 12)
# The figure is printed even when tests fail; the exit status is then 1.
set -euo pipefail
cd "$(dirname "$0")/.."

least=12
while [ $# -gt 0 ]; do
  case "$1" in
    --least) least=$2; shift ;;
    *) echo "usage: scripts/coverage.sh [--least N]" >&2; exit 2 ;;
  esac
  shift
done

scripts/install-deps.sh build test coverage

dir=${VORLEN_BUILD_PREFIX:-build/}coverage
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DVORLEN_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic" -DCMAKE_EXE_LINKER_FLAGS="--coverage" \
  -DCMAKE_SHARED_LINKER_FLAGS="--coverage" -DCMAKE_MODULE_LINKER_FLAGS="--coverage" >/dev/null
cmake --build "$dir" -j "$jobs"
# Counts of an earlier run would add up with this one.
find "$dir" -name '*.gcda' -delete
# The notes of a source removed since the folder was built would count as code never run.
find "$dir/CMakeFiles" -path '*.dir/native/*.gcno' | while read -r notes; do
  source=${notes#*.dir/}
  [ -e "${source%.gcno}" ] || rm -f "$notes"
done

status=0
start=$SECONDS
(cd "$dir" && ctest --output-on-failure -j "$jobs") || status=1
echo "tests took $((SECONDS - start)) s"

# CMake's compiler checks leave coverage notes of their own under CMakeFiles/<version>/.
counted_options=(--root . --filter 'native/' --exclude-directories "$dir/CMakeFiles/[0-9.]+"
                 --object-directory "$dir" "$dir")
gcovr_options=(--exclude-throw-branches --exclude-unreachable-branches "${counted_options[@]}")
gcovr "${gcovr_options[@]}" --branches --output "$dir/coverage-branches.txt"
gcovr "${gcovr_options[@]}" --output "$dir/coverage.txt"
echo
echo "=== coverage of native/ by the whole x86-64 suite ==="
# gcovr replaces the file it writes (a rename): never name a device here.
gcovr "${gcovr_options[@]}" --print-summary --output "$dir/coverage-summary.txt"
# The same branches with those of exception handling and those gcc marks unreachable counted.
gcovr "${counted_options[@]}" --print-summary --output "$dir/coverage-all-branches.txt" |
  sed -n 's/^branches: /branches, those of exception handling and unreachable ones counted too: /p'
echo
# table FILE: gcovr's rows for native/ as "file total covered percent" (gcovr puts a long file
# name on a line of its own, its figures on the next); units with nothing to count are left out.
table() {
  awk '/^native\// { if (NF == 1) { name = $1; next } if ($2 > 0) print $1, $2, $3, $4; next }
       name != "" { if ($1 > 0) print name, $1, $2, $3; name = "" }' "$1"
}
echo "least covered units (lines):"
table "$dir/coverage.txt" | sort -k4 -n | head -n "$least" |
  awk '{printf "  %-52s %6s of %6s lines     %s\n", $1, $3, $2, $4}'
echo "least covered units (branches):"
table "$dir/coverage-branches.txt" | sort -k4 -n | head -n "$least" |
  awk '{printf "  %-52s %6s of %6s branches  %s\n", $1, $3, $2, $4}'
echo "(tables: $dir/coverage.txt, $dir/coverage-branches.txt)"
exit $status
