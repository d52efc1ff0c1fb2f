#!/usr/bin/env bash
# Installs what is missing, builds, and starts the RELO control panel.
#
#   ./run.sh                      starts RELO
#   ./run.sh RELOKomut [ARGS...]  starts the command program instead
#
# On a machine without a serial device (no /dev/ttyUSB*, no /dev/ttyACM*) and
# without RELO_COM1, relo-sim stands in for the radio module: a virtual receiver
# on a pseudo-terminal that RELO sees as "Com - 1". Every frame it decodes goes
# to build/relo-sim.log; it is stopped when the program ends. RELOKomut's options
# (--help, --version, --list-ports, --set-port N) send nothing and start none.
#
# Run it as an ordinary user: sudo is asked for only to install missing packages.
set -euo pipefail
cd "$(dirname "$0")"

program=RELO
if [ $# -gt 0 ]; then
    case $1 in
    RELOKomut)
        program=RELOKomut
        shift
        ;;
    -h | --help)
        cat <<'EOF'
Kullanım: ./run.sh                        RELO'yu başlatır
          ./run.sh RELOKomut [ARGÜMAN...]  komut programını başlatır

Eksik paketleri kurar (yalnızca bunun için sudo ister), derler ve programı
başlatır. Seri aygıt yoksa (/dev/ttyUSB*, /dev/ttyACM* yok) ve RELO_COM1
tanımlı değilse sanal alıcı relo-sim "Com - 1" olarak başlar; çözdüğü
çerçeveler build/relo-sim.log dosyasına yazılır, program bitince durur.
RELOKomut'un seçenekleri (--help, --version, --list-ports, --set-port N)
hiçbir şey göndermez; onlar için relo-sim başlamaz.
EOF
        exit 0
        ;;
    *)
        echo "Kullanım: ./run.sh [RELOKomut [KOMUT]]" >&2
        exit 2
        ;;
    esac
fi

# The panel needs a desktop; RELOKomut with a command runs headless by itself
# (and says so itself when its setup window is asked for without one).
if [ "$program" = RELO ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "RELO bir masaüstü oturumu ister: DISPLAY ve WAYLAND_DISPLAY tanımlı değil." >&2
    exit 1
fi

. tools/setup.sh
packages=("${RELO_PACKAGES[@]}")
# Qt reaches a Wayland-only session through its Wayland plugin.
if [ -n "${WAYLAND_DISPLAY:-}" ] && [ -z "${DISPLAY:-}" ]; then
    packages+=(qt6-wayland)
fi
relo_install "${packages[@]}"
if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build --target RELO RELOKomut relo-sim

have_serial_device() {
    compgen -G '/dev/ttyUSB*' >/dev/null || compgen -G '/dev/ttyACM*' >/dev/null
}

# Like RELOKomut itself, any argument starting with "--" (or "-h") makes the run
# an option run, which never opens a port.
wants_port=1
if [ "$program" = RELOKomut ]; then
    for arg in "$@"; do
        case $arg in
        --* | -h) wants_port=0 ;;
        esac
    done
fi

if [ "$wants_port" = 1 ] && [ -z "${RELO_COM1:-}" ] && ! have_serial_device; then
    log=build/relo-sim.log
    build/bin/relo-sim >"$log" 2>&1 &
    sim=$!
    # Gives relo-sim a moment to read the last frames before it stops.
    trap 'sleep 0.3; kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
    port=
    for _ in $(seq 50); do
        port=$(sed -n '1s/^Port: //p' "$log")
        if [ -n "$port" ] || ! kill -0 "$sim" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    if [ -z "$port" ]; then
        echo "relo-sim başlamadı; ayrıntılar: $log" >&2
        exit 1
    fi
    export RELO_COM1=$port
    echo "Seri aygıt yok: sanal alıcı relo-sim $port üzerinde dinliyor (\"Com - 1\")."
    echo "Çözülen çerçeveleri görmek için başka bir uç birimde: tail -f $log"
fi

status=0
"build/bin/$program" "$@" || status=$?
exit "$status"
