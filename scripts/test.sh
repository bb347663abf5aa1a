#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once plainly, once under
# AddressSanitizer+UBSan, the link tests under ThreadSanitizer, and the fuzzers briefly
# (the register definitions, pipe requests, configuration files and received lines).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

# The code follows .clang-format.
find "$root/src" "$root/tests" "$root/tools" "$root/bench" -name '*.cpp' -o -name '*.h' |
  xargs clang-format --dry-run --Werror

run_suite() { # <build dir> <ctest args...>
  local dir=$1; shift
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@"
}

# Tests on explicitly: run.sh configures the same folder without them.
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRMX_BUILD_TESTS=ON
run_suite "$root/build" -LE bench

cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined
run_suite "$root/build-asan" -LE bench

cmake -S "$root" -B "$root/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=thread
TSAN_OPTIONS="halt_on_error=1" run_suite "$root/build-tsan" -L link

cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRMX_FUZZ=ON \
  -DRMX_BUILD_TESTS=OFF -DCMAKE_CXX_COMPILER=clang++
# Only the fuzz targets: the rest of the program is not built with clang here.
cmake --build "$root/build-fuzz" -j "$jobs" --target rmx_fuzzers
# Each fuzzer runs briefly (see rmx_add_fuzzer), side by side.
ctest --test-dir "$root/build-fuzz" --output-on-failure -L fuzz -j "$jobs"
