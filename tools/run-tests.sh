#!/usr/bin/env bash
# Builds Vidmill and runs the whole test suite: first the engine tests under
# AddressSanitizer+UBSan and ThreadSanitizer (separate build folders), then
# every test of the normal build. Exits non-zero when any run fails; the
# last lines are ctest's summary of the normal build.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
status=0

build() {  # folder, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
    cmake --build "$dir" -j "$jobs"
}

if [[ "${VIDMILL_SKIP_SANITIZERS:-0}" != 1 ]]; then
  for san in address thread; do
    dir=build-$san
    if build "$dir" -DVIDMILL_SANITIZE=$san -DVIDMILL_BUILD_APP=OFF -DVIDMILL_BUILD_BENCH=OFF; then
      (cd "$dir" && ASAN_OPTIONS=detect_leaks=1 TSAN_OPTIONS=second_deadlock_stack=1 \
        ctest -L "sanitize-.*$san" --output-on-failure -j "$jobs") || status=1
    else
      echo "sanitizer build ($san) failed"; status=1
    fi
  done
fi

if build build; then
  (cd build && ctest --output-on-failure -j "$jobs") || status=1
else
  echo "build failed"; status=1
fi
exit $status
