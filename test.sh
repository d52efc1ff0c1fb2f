#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh

relo_install "${RELO_PACKAGES[@]}"
relo_build build -DRELO_WARNINGS_AS_ERRORS=ON
ctest --test-dir build --output-on-failure

# The same suite once more, built with AddressSanitizer and UndefinedBehaviorSanitizer.
# RELO_SKIP_SANITIZERS=1 skips it for a quick local run.
if [ "${RELO_SKIP_SANITIZERS:-0}" != 1 ]; then
    relo_build build-asan -DCMAKE_BUILD_TYPE=Debug -DRELO_SANITIZE=ON -DRELO_WARNINGS_AS_ERRORS=ON
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan --output-on-failure
fi
