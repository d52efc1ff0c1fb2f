#!/usr/bin/env bash
# Builds RELO and measures it on pseudo-terminals against the floors that the
# serial line and the 250 ms timer set. Prints one Markdown table.
#   ./bench.sh            the standard run (about three and a half minutes)
#   ./bench.sh --soak     adds a 10-minute connected-panel soak
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh

relo_install "${RELO_TEST_PACKAGES[@]}"
relo_build build-bench -DCMAKE_BUILD_TYPE=Release -DRELO_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target relo-bench RELOKomut relo-mqtt relo-web relo-sim >/dev/null
bench=build-bench/bin/relo-bench
export QT_QPA_PLATFORM=offscreen

soak=()
[ "${1:-}" = "--soak" ] && soak=(--soak 10)

echo "- Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(free -g | awk '/Mem:/{print $2}') GiB, Linux $(uname -r)"
echo "- Qt: $(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null), build: Release, $(date -u +%Y-%m-%d)"
echo
echo "| measure | n | median | p99 | worst | floor | median/floor | target | |"
echo "|---|---|---|---|---|---|---|---|---|"
"$bench" komut build-bench/bin 40
"$bench" burst build-bench/bin 5
# Two accounts sharing one queue: root only (it acts as both accounts).
if [ "$(id -u)" -eq 0 ]; then
    bash tests/accounts/tst_sharedstate.sh build-bench/bin bench 5
fi
"$bench" mqtt build-bench/bin 40
"$bench" web build-bench/bin 40
# Password guesses from one address (about ten seconds).
/usr/bin/python3 bench/guessbench.py build-bench/bin
"$bench" ticks 240
"$bench" click 200
"$bench" scan 50
"$bench" footprint 30 "${soak[@]}"
