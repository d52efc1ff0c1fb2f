#!/usr/bin/env bash
# Builds the Debian package build/relo_<version>-<revision>_<arch>.deb: installs
# what is missing (what building needs, and dpkg-dev and file, with which the
# package's dependencies are worked out from the programs), builds, and packs.
# Run it as an ordinary user: sudo is asked for only to install missing packages.
set -euo pipefail
cd "$(dirname "$0")"

case ${1:-} in
'') ;;
-h | --help)
    cat <<'HELP'
Kullanım: ./package.sh

Eksik paketleri kurar (yalnızca bunun için sudo ister), derler ve Debian paketini
build/relo_<sürüm>-<revizyon>_<mimari>.deb olarak yapar. Kurmak için:
  sudo apt install ./build/relo_*.deb
Kaldırmak için: sudo apt purge relo (kullanıcıların ~/.config/RELO'su kalır).
HELP
    exit 0
    ;;
*)
    echo "package.sh: bilinmeyen seçenek: $1 (yardım için: ./package.sh --help)" >&2
    exit 2
    ;;
esac

. tools/setup.sh

relo_install "${RELO_PACKAGING_PACKAGES[@]}"
relo_build build
# Only the package made now, so that ./build/relo_*.deb names one file.
rm -f build/relo_*.deb
cmake --build build --target package
deb=$(ls build/relo_*.deb)
echo "Paket: $deb"
echo "Kurmak için: sudo apt install ./$deb"
