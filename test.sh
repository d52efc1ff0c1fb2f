#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh

relo_install "${RELO_PACKAGES[@]}"
relo_build build -DRELO_WARNINGS_AS_ERRORS=ON
ctest --test-dir build --output-on-failure
