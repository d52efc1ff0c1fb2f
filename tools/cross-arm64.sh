#!/usr/bin/env bash
# Builds the Debian package for 64-bit ARM boards on an amd64 Debian 12 machine,
# with Debian's own packages only: the arm64 architecture is added to dpkg, the
# cross compiler (crossbuild-essential-arm64), the :arm64 libraries and headers
# and qemu-user are installed when missing (sudo is asked for only then), and
# build-arm64/ is built with cmake/toolchain-arm64.cmake.
#
#   tools/cross-arm64.sh          build-arm64/relo_<version>-<revision>_arm64.deb
#   tools/cross-arm64.sh --test   also checks it (lintian, aarch64 programs) and
#                                 runs the suites that need no window (core, link,
#                                 platform) under qemu-user; ./test.sh does this
set -euo pipefail
cd "$(dirname "$0")/.."

test=0
case ${1:-} in
'') ;;
--test) test=1 ;;
-h | --help)
    cat <<'HELP'
Kullanım: tools/cross-arm64.sh [--test]

64 bit ARM kartlar için Debian paketini bu amd64 makinede yapar:
build-arm64/relo_<sürüm>-<revizyon>_arm64.deb. Eksikse dpkg'ye arm64 mimarisini
ekler ve çapraz derleyiciyi, :arm64 geliştirme paketlerini ve qemu-user'ı kurar
(yalnızca bunun için sudo ister).

  --test   paketi lintian ile denetler, programların aarch64 olduğuna bakar ve
           pencere gerektirmeyen testleri (core, link, platform) qemu-user
           altında çalıştırır
HELP
    exit 0
    ;;
*)
    echo "cross-arm64.sh: bilinmeyen seçenek: $1 (yardım için: tools/cross-arm64.sh --help)" >&2
    exit 2
    ;;
esac

. tools/setup.sh

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "dpkg'ye arm64 mimarisi ekleniyor"
    "${sudo[@]}" dpkg --add-architecture arm64
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
fi
relo_install "${RELO_ARM64_PACKAGES[@]}"

if [ ! -f build-arm64/build.ninja ]; then
    cmake -S . -B build-arm64 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRELO_WARNINGS_AS_ERRORS=ON \
        -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
fi
cmake --build build-arm64
rm -f build-arm64/relo_*.deb
cmake --build build-arm64 --target package
deb=$(ls build-arm64/relo_*_arm64.deb)
echo "Paket: $deb"

if [ "$test" = 1 ]; then
    # lintian refuses to run as root in some set-ups; it needs no privilege.
    if [ "$(id -u)" -eq 0 ] && id -u nobody >/dev/null 2>&1; then
        chmod o+r "$deb"
        runuser -u nobody -- lintian --fail-on error "$deb"
    else
        lintian --fail-on error "$deb"
    fi
    programs=$(mktemp -d)
    trap 'rm -rf "$programs"' EXIT
    dpkg-deb -x "$deb" "$programs"
    for program in "$programs"/usr/bin/*; do
        if file -b "$program" | grep -q '^ELF' && ! file -b "$program" | grep -q 'ARM aarch64'; then
            echo "cross-arm64.sh: aarch64 değil: $(basename "$program"): $(file -b "$program")" >&2
            exit 1
        fi
    done
    ctest --test-dir build-arm64 --output-on-failure
fi
