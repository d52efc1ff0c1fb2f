#!/usr/bin/env bash
# Installs what is missing, builds, and starts the RELO control panel.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh

relo_install "${RELO_PACKAGES[@]}"
relo_build build
